// Project files: the exact bytes written, round trips in GBK and UTF-8, and
// files that must be refused with a clear message.
#include <QtTest>
#include <fstream>
#include <sstream>

#include "ui/U_projectFile.h"

using namespace corvane;

namespace {

TProjectDir Dir(const std::string& alias, const std::string& path, const std::string& mask,
                uint32_t attr, bool sub) {
    TProjectDir d;
    d.alias = alias;
    d.option.path = path;
    d.option.nameMask = mask;
    d.option.attrMask = attr;
    d.option.subDirs = sub;
    return d;
}

std::string ReadAll(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const QString& path, const std::string& bytes) {
    std::ofstream(path.toStdString(), std::ios::binary) << bytes;
}

std::string Gbk(const std::string& utf8) {
    std::string out;
    if (!ConvertEncoding("UTF-8", "GBK", utf8, out)) throw std::runtime_error("no GBK");
    return out;
}

}  // namespace

class ProjectFileTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

  private slots:
    void aProjectIsWrittenAsOneXmlLineWithCrLf() {
        TProjectData p;
        p.dirs = {Dir("a", "/data", "*.txt", 1 + 58, true), Dir("b", "/home/u/", "", 63, false)};
        p.sql = "select a.*\nfrom x";
        QCOMPARE(FormatDirOption(p.dirs[0].option), std::string("\"/data/*.txt /s/ar/ah/ad\""));
        const std::string expected =
            "<?xml version=\"1.0\" encoding=\"GB2312\" ?><corvane><dirlist>"
            "<dir alias='a'><![CDATA[\"/data/*.txt /s/ar/ah/ad\"]]></dir>"
            "<dir alias='b'><![CDATA[" +
            FormatDirOption(p.dirs[1].option) +
            "]]></dir></dirlist>"
            "<sql><![CDATA[select a.*\r\nfrom x]]></sql></corvane>\r\n";
        QCOMPARE(FormatProject(p), expected);
    }

    void chineseTextIsWrittenInGbkBytes() {
        TProjectData p;
        p.dirs = {Dir("a", "/数据", "", 58, false)};
        p.sql = "select filename as 文件 from a";
        const std::string bytes = FormatProject(p);
        QVERIFY(bytes.rfind("<?xml version=\"1.0\" encoding=\"GB2312\" ?>", 0) == 0);
        QVERIFY(bytes.find(Gbk("文件")) != std::string::npos);
        QVERIFY(bytes.find("文件") == std::string::npos);
        const QString file = dir.filePath(QStringLiteral("gbk.cvq"));
        std::string error;
        QVERIFY(SaveProjectFile(file.toStdString(), p, error));
        TProjectData back;
        QVERIFY2(LoadProjectFile(file.toStdString(), back, error), error.c_str());
        QCOMPARE(back.sql, p.sql);
        QCOMPARE(back.dirs.size(), size_t(1));
        QCOMPARE(back.dirs[0].alias, std::string("a"));
        QVERIFY(back.dirs[0].option == p.dirs[0].option);
    }

    void textOutsideGbkIsWrittenAsUtf8() {
        TProjectData p;
        p.dirs = {Dir("x", "/tmp", "*", 58, false), Dir("y", "/home", "*", 58, false)};
        p.sql = "select filename from x where filename like '%😀%'\nand 1=1";
        const std::string bytes = FormatProject(p);
        QVERIFY(bytes.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>", 0) == 0);
        QVERIFY(bytes.find("😀") != std::string::npos);
        TProjectData back;
        std::string error;
        QVERIFY2(ParseProject(bytes, back, error), error.c_str());
        QCOMPARE(back.sql, p.sql);
        QCOMPARE(back.dirs[0].alias, std::string("x"));
        QCOMPARE(back.dirs[1].alias, std::string("y"));
    }

    void aHandWrittenGbkFileReads() {
        // As an older program writes it: GB2312 declared, GBK bytes, a
        // Windows line break in the statement.
        const std::string bytes =
            "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\r\n<corvane>\r\n <dirlist>"
            "<dir alias='x'><![CDATA[\"/srv/" +
            Gbk("资料") +
            "/*.doc /s\"]]></dir>"
            "<dir alias='y'><![CDATA['/tmp']]></dir></dirlist>"
            "<sql><![CDATA[select " +
            Gbk("大小") + "\r\nfrom x]]></sql></corvane>\r\n";
        TProjectData p;
        std::string error;
        QVERIFY2(ParseProject(bytes, p, error), error.c_str());
        QCOMPARE(p.sql, std::string("select 大小\nfrom x"));
        QCOMPARE(p.dirs.size(), size_t(2));
        QCOMPARE(p.dirs[0].option.path, std::string("/srv/资料/"));
        QCOMPARE(p.dirs[0].option.nameMask, std::string("*.doc"));
        QVERIFY(p.dirs[0].option.subDirs);
        QCOMPARE(p.dirs[1].alias, std::string("y"));
        QCOMPARE(p.dirs[1].option.path, std::string("/tmp"));
    }

    void whatThePlainFormatCannotHoldStillRoundTrips() {
        TProjectData p;
        p.dirs = {Dir("q'<&", "/tmp", "*", 58, false)};
        p.sql = "select filename from q where filename = 'a]]>b' and 1<2 & 3>2";
        TProjectData back;
        std::string error;
        QVERIFY2(ParseProject(FormatProject(p), back, error), error.c_str());
        QCOMPARE(back.sql, p.sql);
        QCOMPARE(back.dirs[0].alias, p.dirs[0].alias);
    }

    // Inputs the fuzzer (tests/fuzz/fuzz_project_file) found: what reads must
    // read back the same after saving.
    void whatReadsSavesAndReadsBackTheSame_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("alias");
        // Line breaks and tabs in an attribute came back as blanks.
        QTest::newRow("line break in an alias")
            << QByteArray(
                   "<corvane><dirlist><dir alias='sr&#10;c&#13;&#9;d'><![CDATA[\"/tmp\"]]>"
                   "</dir></dirlist><sql>x</sql></corvane>")
            << QByteArray("sr\nc\r\td");
    }
    void whatReadsSavesAndReadsBackTheSame() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, alias);
        TProjectData p;
        std::string error;
        QVERIFY2(ParseProject(bytes.toStdString(), p, error), error.c_str());
        QCOMPARE(p.dirs.size(), size_t(1));
        QCOMPARE(p.dirs[0].alias, alias.toStdString());
        TProjectData back;
        QVERIFY2(ParseProject(FormatProject(p), back, error), error.c_str());
        QCOMPARE(back.sql, p.sql);
        QCOMPARE(back.dirs.size(), p.dirs.size());
        QCOMPARE(back.dirs[0].alias, p.dirs[0].alias);
        QCOMPARE(FormatDirOption(back.dirs[0].option), FormatDirOption(p.dirs[0].option));
    }

    void listingControlsSurviveSavingAndReading() {
        TProjectData p;
        p.sql = "select filename, depth from a";
        TProjectDir dir;
        dir.alias = "a";
        QVERIFY(ParseDirOption(
            "'/src /s /maxdepth:4 /mindepth:2 /xdev /exclude:**/node_modules /exclude:build/ "
            "/gitignore /follow'",
            dir.option));
        p.dirs.push_back(dir);
        TProjectData back;
        std::string error;
        QVERIFY2(ParseProject(FormatProject(p), back, error), error.c_str());
        QCOMPARE(back.dirs.size(), size_t(1));
        QVERIFY(back.dirs[0].option == p.dirs[0].option);
        QCOMPARE(FormatDirOption(back.dirs[0].option),
                 std::string("\"/src /s/ah/ad /maxdepth:4 /mindepth:2 /xdev "
                             "/exclude:**/node_modules /exclude:build/ /gitignore /follow\""));
    }

    void anEmptyProjectKeepsItsStatement() {
        TProjectData p;
        p.sql = "select 1";
        TProjectData back;
        std::string error;
        QVERIFY(ParseProject(FormatProject(p), back, error));
        QCOMPARE(back.sql, std::string("select 1"));
        QVERIFY(back.dirs.empty());
    }

    void badFilesAreRefused_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        QTest::newRow("no sql") << QByteArray("<corvane><dirlist></dirlist></corvane>")
                                << QStringLiteral("项目文件缺少“sql”元素");
        QTest::newRow("no dirlist") << QByteArray("<corvane><sql>x</sql></corvane>")
                                    << QStringLiteral("项目文件缺少“dirlist”元素");
        QTest::newRow("not closed")
            << QByteArray("<corvane><dirlist></dirlist><sql>x</sql>")
            << QStringLiteral("项目文件格式错误（第1行）：Premature end of document.");
        QTest::newRow("empty") << QByteArray("")
                               << QStringLiteral(
                                      "项目文件格式错误（第1行）：Premature end of document.");
        QTest::newRow("unknown encoding")
            << QByteArray("<?xml version=\"1.0\" encoding=\"X-NOPE\" ?><corvane/>")
            << QStringLiteral("项目文件的编码不受支持：X-NOPE");
        QTest::newRow("bytes that are not GBK")
            << QByteArray("<?xml version=\"1.0\" encoding=\"GB2312\" ?><corvane>\x81</corvane>")
            << QStringLiteral("项目文件的内容不是有效的 GB2312 编码文本");
        QTest::newRow("bytes that are not UTF-8")
            << QByteArray("<corvane><dirlist/><sql>\xff\xfe</sql></corvane>")
            << QStringLiteral("项目文件的内容不是有效的 UTF-8 编码文本");
    }

    void badFilesAreRefused() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        TProjectData p;
        p.sql = "untouched";
        std::string error;
        QVERIFY(!ParseProject(bytes.toStdString(), p, error));
        QCOMPARE(QString::fromStdString(error), message);
        QCOMPARE(p.sql, std::string("untouched"));
    }

    void aTableTextThatDoesNotParseCostsOnlyThatTable() {
        TProjectData p;
        std::string error;
        QVERIFY(
            ParseProject("<corvane><dirlist><dir alias='a'>x</dir>"
                         "<dir alias='b'>'/tmp /s'</dir></dirlist><sql>q</sql></corvane>",
                         p, error));
        QCOMPARE(p.dirs.size(), size_t(1));
        QCOMPARE(p.dirs[0].alias, std::string("b"));
        QCOMPARE(p.dirs[0].option.path, std::string("/tmp"));
        QVERIFY(p.dirs[0].option.subDirs);
        QCOMPARE(p.skipped.size(), size_t(1));
        QCOMPARE(p.skipped[0].alias, std::string("a"));
        QCOMPARE(p.skipped[0].tableText, std::string("x"));
        QCOMPARE(p.sql, std::string("q"));
    }

    void savingReplacesTheFileWhole() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("p.cvq"));
        WriteAll(file, std::string(10000, 'x'));
        TProjectData p;
        p.sql = "select 1";
        std::string error;
        QVERIFY(SaveProjectFile(file.toStdString(), p, error));
        QCOMPARE(ReadAll(file), FormatProject(p));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("p.cvq")});
    }

    void aFailedSaveIsReported() {
        QTemporaryDir dir;
        WriteAll(dir.filePath(QStringLiteral("plain")), "x");
        const std::string file = dir.filePath(QStringLiteral("plain/p.cvq")).toStdString();
        TProjectData p;
        std::string error;
        QVERIFY(!SaveProjectFile(file, p, error));
        QVERIFY2(error.rfind("无法保存文件 " + file + "：", 0) == 0, error.c_str());
    }
};

QTEST_MAIN(ProjectFileTest)
#include "U_projectFile_test.moc"
