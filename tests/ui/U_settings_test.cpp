// config.ini: the settings keys, the recent list and its key writes, and
// where the file lives.
#include <QtTest>
#include <fstream>
#include <sstream>

#include "engine/U_memBudget.h"
#include "ui/U_settings.h"

using namespace corvane;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

class SettingsTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    std::string Ini() const { return dir.filePath(QStringLiteral("config.ini")).toStdString(); }

  private slots:
    void init() { QFile::remove(QString::fromStdString(Ini())); }

    void aMissingFileGivesTheDefaults() {
        TConfig config(Ini(), "/prog/");
        QCOMPARE(config.Settings().defaultDir, std::string("/prog/"));
        QCOMPARE(config.Settings().recentCount, 3);
        QVERIFY(config.Settings().autoLast);
        QVERIFY(config.Settings().useExpert);
        QCOMPARE(config.Recent(), (std::vector<std::string>{"", "", ""}));
    }

    void theMemoryLimitKeyIsASize() {
        struct Case {
            const char* file;
            int64_t limit;
        } cases[] = {
            {"", DefaultMemoryLimit()},
            {"[setting]\nmemoryLimit=512M\n", int64_t{512} << 20},
            {"[setting]\nmemoryLimit=2G\n", int64_t{2} << 30},
            {"[setting]\nmemoryLimit=0\n", 0},
            {"[setting]\nmemoryLimit=lots\n", DefaultMemoryLimit()},
            {"[setting]\nmemoryLimit=\n", DefaultMemoryLimit()},
        };
        for (const Case& c : cases) {
            WriteAll(Ini(), c.file);
            TConfig config(Ini(), "/prog/");
            QCOMPARE(config.MemoryLimit(), c.limit);
            // The settings dialog's writes keep the key.
            config.ApplySettings(config.Settings());
            QCOMPARE(TConfig(Ini(), "/prog/").MemoryLimit(), c.limit);
        }
    }

    void pushingOntoTheRecentListRewritesTheKeys() {
        WriteAll(Ini(), "[setting]\nrecentCount=3\n[recent]\nfile1=p1\nfile2=p2\nfile3=p3\n");
        TConfig config(Ini(), "/prog/");
        QVERIFY(config.PushRecent("p4"));
        QCOMPARE(config.Recent(), (std::vector<std::string>{"p4", "p1", "p2"}));
        QCOMPARE(ReadAll(Ini()),
                 std::string("[setting]\nrecentCount=3\n[recent]\nfile1=p4\nfile2=p1\nfile3=p2\n"));
        // Opening p4 again changes nothing, not even the file.
        WriteAll(Ini(), "marker");
        QVERIFY(!config.PushRecent("p4"));
        QCOMPARE(ReadAll(Ini()), std::string("marker"));
    }

    void duplicatesFurtherDownStay() {
        WriteAll(Ini(), "[recent]\nfile1=p1\nfile2=p2\nfile3=p3\n");
        TConfig config(Ini(), "");
        config.PushRecent("p2");
        QCOMPARE(config.Recent(), (std::vector<std::string>{"p2", "p1", "p2"}));
    }

    void raisingTheCountStoresEmptyEntries() {
        WriteAll(Ini(), "[recent]\nfile1=p1\nfile2=p2\nfile3=p3\n");
        TConfig config(Ini(), "/prog/");
        TSettings s = config.Settings();
        s.recentCount = 5;
        s.defaultDir = "/home/u/q";
        s.autoLast = false;
        config.ApplySettings(s);
        QCOMPARE(ReadAll(Ini()),
                 std::string("[recent]\nfile1=p1\nfile2=p2\nfile3=p3\nfile4=\nfile5=\n"
                             "[setting]\ndefaultDir=/home/u/q\nrecentCount=5\n"
                             "autoLast=0\nuseExpert=1\n"));
        TConfig again(Ini(), "/prog/");
        QCOMPARE(again.Recent().size(), size_t(5));
        QVERIFY(!again.Settings().autoLast);
    }

    void lowerCountWritesOnlyTheFirstEntries() {
        WriteAll(Ini(), "[setting]\nrecentCount=3\n[recent]\nfile1=p1\nfile2=p2\nfile3=p3\n");
        TConfig config(Ini(), "");
        TSettings s = config.Settings();
        s.recentCount = 1;
        config.ApplySettings(s);
        QCOMPARE(ReadAll(Ini()), std::string("[setting]\nrecentCount=1\ndefaultDir=\nautoLast=1\n"
                                             "useExpert=1\n[recent]\nfile1=p1\n"));
        QVERIFY(config.PushRecent("p9"));
        QCOMPARE(config.Recent(), (std::vector<std::string>{"p9"}));
    }

    void aCountOutsideOneToSixIsClamped_data() {
        QTest::addColumn<QString>("written");
        QTest::addColumn<int>("count");
        QTest::newRow("zero") << "0" << 1;
        QTest::newRow("negative") << "-4" << 1;
        QTest::newRow("too many") << "40" << 6;
        QTest::newRow("not a number") << "many" << 3;
        QTest::newRow("six") << "6" << 6;
    }

    void aCountOutsideOneToSixIsClamped() {
        QFETCH(QString, written);
        QFETCH(int, count);
        WriteAll(Ini(), "[setting]\nrecentCount=" + written.toStdString() + "\n");
        TConfig config(Ini(), "");
        QCOMPARE(config.Settings().recentCount, count);
        QCOMPARE(static_cast<int>(config.Recent().size()), count);
    }

    void keysAreFoundIgnoringCaseAndCommentsStay() {
        WriteAll(Ini(), "; my settings\r\n[Setting]\r\nDefaultDir=/x\r\nautoLast=0\r\n");
        TConfig config(Ini(), "/prog/");
        QCOMPARE(config.Settings().defaultDir, std::string("/x"));
        QVERIFY(!config.Settings().autoLast);
        config.ApplySettings(config.Settings());
        QVERIFY(ReadAll(Ini()).rfind("; my settings\n[Setting]\nDefaultDir=/x\n", 0) == 0);
    }

    void aFileNameWithALineBreakIsNotStored() {
        TConfig config(Ini(), "");
        config.PushRecent("bad\n[setting]\nautoLast=0");
        TConfig again(Ini(), "");
        QVERIFY(again.Settings().autoLast);
        QCOMPARE(again.Recent()[0], std::string());
    }

    void anUnwritableFileIsReported() {
        TConfig config("/nonexistent-dir/config.ini", "");
        try {
            config.PushRecent("p1");
            QFAIL("no error");
        } catch (const std::runtime_error& e) {
            QCOMPARE(std::string(e.what()),
                     std::string("无法写入文件 /nonexistent-dir/config.ini"));
        }
    }

    void configLocation_data() {
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QString>("ini");
        QTest::addColumn<QString>("fallback");
        QTest::newRow("portable") << true << "/opt/cv/config.ini"
                                  << "/opt/cv/";
        QTest::newRow("installed") << false << "/home/u/.config/Corvane/config.ini"
                                   << "/home/u/";
    }

    void configLocation() {
        QFETCH(bool, writable);
        QFETCH(QString, ini);
        QFETCH(QString, fallback);
        TConfigLocation where =
            ChooseConfigLocation("/opt/cv/", writable, "/home/u/.config/Corvane", "/home/u");
        QCOMPARE(QString::fromStdString(where.iniPath), ini);
        QCOMPARE(QString::fromStdString(where.fallbackDir), fallback);
    }
};

QTEST_MAIN(SettingsTest)
#include "U_settings_test.moc"
