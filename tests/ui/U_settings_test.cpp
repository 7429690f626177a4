// config.ini: the settings keys, the recent list's rules and its key
// writes, remembered column widths and window state, and where the file
// lives.
#include <QtTest>
#include <fstream>
#include <sstream>

#include "evaluation/U_memBudget.h"
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
        QVERIFY(!config.Settings().humanSizes);
        QVERIFY(config.Recent().empty());
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

    void theListingThreadsKeyIsACount() {
        struct Case {
            const char* file;
            int threads;
        } cases[] = {
            {"", 0},
            {"[setting]\nlistingThreads=1\n", 1},
            {"[setting]\nlistingThreads=8\n", 8},
            {"[setting]\nlistingThreads=1000\n", 64},
            {"[setting]\nlistingThreads=0\n", 0},
            {"[setting]\nlistingThreads=-3\n", 0},
            {"[setting]\nlistingThreads=many\n", 0},
        };
        for (const Case& c : cases) {
            WriteAll(Ini(), c.file);
            QCOMPARE(TConfig(Ini(), "/prog/").ListingThreads(), c.threads);
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

    void theRecentListHoldsNoDuplicatesAndNoGaps_data() {
        QTest::addColumn<QString>("stored");    // the [recent] section as written
        QTest::addColumn<QString>("pushed");    // "" = no push
        QTest::addColumn<QStringList>("list");  // the list afterwards
        QTest::newRow("a file further down moves to the top")
            << "file1=p1\nfile2=p2\nfile3=p3\n"
            << "p2" << QStringList{"p2", "p1", "p3"};
        QTest::newRow("the newest is first, the oldest drops out")
            << "file1=p1\nfile2=p2\nfile3=p3\n"
            << "p4" << QStringList{"p4", "p1", "p2"};
        QTest::newRow("gaps and repeats in a hand-edited file are dropped")
            << "file1=p1\nfile2=\nfile3=p1\nfile4=p4\n"
            << "" << QStringList{"p1", "p4"};
        QTest::newRow("an empty name is no entry") << "file1=p1\n"
                                                   << "" << QStringList{"p1"};
        QTest::newRow("pushing onto an empty list") << ""
                                                    << "p1" << QStringList{"p1"};
    }

    void theRecentListHoldsNoDuplicatesAndNoGaps() {
        QFETCH(QString, stored);
        QFETCH(QString, pushed);
        QFETCH(QStringList, list);
        WriteAll(Ini(), "[recent]\n" + stored.toStdString());
        TConfig config(Ini(), "");
        config.PushRecent(pushed.toStdString());
        std::vector<std::string> expected;
        std::string keys = "[recent]\n";
        for (const QString& f : list) {
            expected.push_back(f.toStdString());
            keys += "file" + std::to_string(expected.size()) + "=" + f.toStdString() + "\n";
        }
        QCOMPARE(config.Recent(), expected);
        if (!pushed.isEmpty()) QCOMPARE(ReadAll(Ini()), keys);
        TConfig again(Ini(), "");
        if (!pushed.isEmpty()) QCOMPARE(again.Recent(), expected);
    }

    void removingAFileFromTheRecentList() {
        WriteAll(Ini(), "[recent]\nfile1=p1\nfile2=p2\nfile3=p3\n");
        TConfig config(Ini(), "");
        QVERIFY(config.RemoveRecent("p2"));
        QVERIFY(!config.RemoveRecent("p2"));
        QCOMPARE(config.Recent(), (std::vector<std::string>{"p1", "p3"}));
        QCOMPARE(ReadAll(Ini()), std::string("[recent]\nfile1=p1\nfile2=p3\n"));
    }

    void raisingTheCountStoresNoEmptyEntries() {
        WriteAll(Ini(), "[recent]\nfile1=p1\nfile2=p2\nfile3=p3\n");
        TConfig config(Ini(), "/prog/");
        TSettings s = config.Settings();
        s.recentCount = 5;
        s.defaultDir = "/home/u/q";
        s.autoLast = false;
        s.humanSizes = true;
        config.ApplySettings(s);
        QCOMPARE(ReadAll(Ini()), std::string("[recent]\nfile1=p1\nfile2=p2\nfile3=p3\n"
                                             "[setting]\ndefaultDir=/home/u/q\nrecentCount=5\n"
                                             "autoLast=0\nuseExpert=1\nhumanSize=1\n"));
        TConfig again(Ini(), "/prog/");
        QCOMPARE(again.Recent().size(), size_t(3));
        QVERIFY(!again.Settings().autoLast);
        QVERIFY(again.Settings().humanSizes);
        QVERIFY(again.PushRecent("p4"));
        QVERIFY(again.PushRecent("p5"));
        QCOMPARE(again.Recent(), (std::vector<std::string>{"p5", "p4", "p1", "p2", "p3"}));
    }

    void lowerCountWritesOnlyTheFirstEntries() {
        WriteAll(Ini(), "[setting]\nrecentCount=3\n[recent]\nfile1=p1\nfile2=p2\nfile3=p3\n");
        TConfig config(Ini(), "");
        TSettings s = config.Settings();
        s.recentCount = 1;
        config.ApplySettings(s);
        QCOMPARE(ReadAll(Ini()), std::string("[setting]\nrecentCount=1\ndefaultDir=\nautoLast=1\n"
                                             "useExpert=1\nhumanSize=0\n[recent]\nfile1=p1\n"));
        QCOMPARE(config.Recent(), (std::vector<std::string>{"p1"}));
        QVERIFY(config.PushRecent("p9"));
        QCOMPARE(config.Recent(), (std::vector<std::string>{"p9"}));
    }

    void columnWidthsAndWindowStateWaitForFlush() {
        TConfig config(Ini(), "");
        QCOMPARE(config.ColumnWidth("size"), 0);
        config.SetColumnWidth("size", 123);
        config.SetColumnWidth("path", 9999999);  // kept within bounds
        config.SetColumnWidth("", 50);           // no name: nothing
        config.SetWindowValue("page", "1");
        QCOMPARE(config.ColumnWidth("SIZE"), 123);
        QVERIFY(!QFile::exists(QString::fromStdString(Ini())));
        config.Flush();
        TConfig again(Ini(), "");
        QCOMPARE(again.ColumnWidth("size"), 123);
        QCOMPARE(again.ColumnWidth("path"), 5000);
        QCOMPARE(again.WindowValue("page"), std::string("1"));
        again.SetColumnWidth("size", 0);  // forgotten
        QCOMPARE(again.ColumnWidth("size"), 0);
        WriteAll(Ini(), "[columns]\nsize=-5\nname=wide\n");
        TConfig hand(Ini(), "");
        QCOMPARE(hand.ColumnWidth("size"), 0);
        QCOMPARE(hand.ColumnWidth("name"), 0);
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
        QVERIFY(config.Recent().empty());
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
        QVERIFY(!config.PushRecent("bad\n[setting]\nautoLast=0"));
        QVERIFY(config.Recent().empty());
        config.PushRecent("good");
        TConfig again(Ini(), "");
        QVERIFY(again.Settings().autoLast);
        QCOMPARE(again.Recent(), std::vector<std::string>{"good"});
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
