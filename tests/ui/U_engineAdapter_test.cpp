// The real engine behind the window's runner: a query over a directory of
// the test, the statements the manual shows, and Cancel during a long
// listing.
#include <QSignalSpy>
#include <QtTest>
#include <fstream>

#include "ui/U_engineAdapter.h"

using namespace corvane;

Q_DECLARE_METATYPE(std::shared_ptr<corvane::TQueryOutcome>)

class EngineAdapterTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    std::string D() const { return dir.path().toStdString(); }

    std::shared_ptr<TQueryOutcome> Run(TQueryRunner& runner, const std::string& sql,
                                       const std::string& baseDir = {}) {
        QSignalSpy finished(&runner, &TQueryRunner::Finished);
        if (!runner.Start(sql, baseDir) || !finished.wait(60000)) return nullptr;
        return finished.first().first().value<std::shared_ptr<TQueryOutcome>>();
    }

  private slots:
    void initTestCase() {
        qRegisterMetaType<std::shared_ptr<TQueryOutcome>>();
        for (const char* name : {"b.txt", "a.log", "c.txt"})
            std::ofstream(D() + "/" + name) << std::string(std::strlen(name) * 100, 'x');
        QDir(dir.path()).mkdir(QStringLiteral("sub"));
    }

    void aQueryRunsOnTheWorker() {
        TQueryRunner runner(FileSystemEngineFactory());
        auto outcome = Run(runner, "select a.filename, a.size from '" + D() +
                                       "/*.txt' a where a.size > 0 order by a.filename desc");
        QVERIFY(outcome);
        QCOMPARE(outcome->parseErrors, std::string());
        QVERIFY(outcome->executed);
        QCOMPARE(outcome->result.fieldNames, (std::vector<std::string>{"a.filename", "a.size"}));
        QCOMPARE(outcome->result.rows.size(), size_t(2));
        QCOMPARE(outcome->result.rows.Row(0)[0].AsString(), std::string("c.txt"));
        QCOMPARE(outcome->result.rows.Row(1)[1].AsInteger(), int64_t(500));
        QVERIFY(outcome->listed >= 2);
    }

    void computedItemsAreNamedAsWritten() {
        TQueryRunner runner(FileSystemEngineFactory());
        auto outcome = Run(
            runner, "select filename, trunc(size/100) h, (size mod 7) m from '" + D() + "/b.txt'");
        QVERIFY(outcome && outcome->executed);
        QCOMPARE(outcome->result.fieldNames, (std::vector<std::string>{"filename", "h", "m"}));
        QCOMPARE(outcome->result.rows.size(), size_t(1));
        QCOMPARE(outcome->result.rows.Row(0)[1].AsInteger(), int64_t(5));
        QCOMPARE(outcome->result.rows.Row(0)[2].AsInteger(), int64_t(500 % 7));
    }

    // A grouped result comes to the window like any other, its values typed
    // by the aggregates (so the list aligns and sorts them as numbers and
    // dates).
    void groupedResultsCarryTheAggregatesTypes() {
        TQueryRunner runner(FileSystemEngineFactory());
        auto outcome = Run(runner,
                           "select extension, count(*) n, sum(size) s, avg(size) a, "
                           "max(lastwritetime) m from '" +
                               D() +
                               "' where isdir = false group by extension "
                               "having count(*) > 0 order by n desc limit 5");
        QVERIFY(outcome && outcome->executed);
        QCOMPARE(outcome->result.fieldNames,
                 (std::vector<std::string>{"extension", "n", "s", "a", "m"}));
        QCOMPARE(outcome->result.rows.size(), size_t(2));
        const TSimpleRow txt = outcome->result.rows.Row(0);
        QCOMPARE(txt[0].AsString(), std::string("txt"));
        QCOMPARE(txt[1].type(), VarType::Integer);
        QCOMPARE(txt[1].AsInteger(), int64_t(2));
        QCOMPARE(txt[2].type(), VarType::Integer);
        QCOMPARE(txt[2].AsInteger(), int64_t(1000));
        QCOMPARE(txt[3].type(), VarType::Double);
        QCOMPARE(txt[3].AsDouble(), 500.0);
        QCOMPARE(txt[4].type(), VarType::Date);
    }

    void parseErrorsAreTheEnginesText() {
        TQueryRunner runner(FileSystemEngineFactory());
        auto outcome = Run(runner, "update x");
        QVERIFY(outcome);
        QCOMPARE(outcome->parseErrors, std::string("无效的select语句\r\n"));
        QVERIFY(!outcome->executed);
        QCOMPARE(outcome->errors.size(), size_t(1));
        QCOMPARE(outcome->errors[0].message, std::string("无效的select语句"));
    }

    void orderingByASelectedColumnAddsNoSecondColumn() {
        TQueryRunner runner(FileSystemEngineFactory());
        auto outcome = Run(runner, "select * from '" + D() + "' a order by size desc");
        QVERIFY(outcome && outcome->executed);
        QCOMPARE(outcome->result.fieldNames.size(), size_t(15));
        QCOMPARE(std::count(outcome->result.fieldNames.begin(), outcome->result.fieldNames.end(),
                            std::string("a.size")),
                 1L);
    }

    void theManualsStatementsParse_data() {
        QTest::addColumn<QString>("sql");
        const QString d = dir.path();
        QTest::newRow("plain") << "select filename, size, lastwritetime from '" + d +
                                      "/*.txt /s' where size > 1000000 order by size desc";
        QTest::newRow("join") << "select a.filename, a.size, b.size from '" + d + "' a, '" + d +
                                     "/sub' b where a.filename = b.filename and a.size <> b.size";
        QTest::newRow("top") << "select top 20 path, filename, size from '" + d +
                                    " /s' order by size desc";
        QTest::newRow("in and dates")
            << "select filename, lastwritetime from '" + d +
                   "/* /s' where lastwritetime > now-7 and extension in ('doc','odt','pdf')";
        QTest::newRow("expressions")
            << "select filename, trunc(size/1024) kb, yearof(lastwritetime) y from '" + d + "'";
        QTest::newRow("count") << "select path, filename from '" + d +
                                      " /s' where isdir = true and count <= 2";
        QTest::newRow("like and not")
            << "select filename from '" + d + "' where not (filename like 'build%')";
        QTest::newRow("conditions") << "select filename from '" + d +
                                           "' where not (extension = 'tmp') and (size > 0 or "
                                           "hidden = true) and lastwritetime > '2024-01-01'";
        QTest::newRow("formatting") << "select filename, format('%.2f',size/1048576) mb, "
                                       "formatdatetime('yyyy-mm-dd hh:nn',lastwritetime) t "
                                       "from '" +
                                           d + "/*.txt'";
        QTest::newRow("generated") << "select a.*\nfrom \"" + d + " /ah/ad\" a";
        QTest::newRow("space per extension")
            << "select extension, count(*) files, sum(size) bytes from '" + d +
                   " /s' where isdir = false group by extension order by bytes desc";
        QTest::newRow("largest folders")
            << "select path, count(*) files, sum(size) bytes from '" + d +
                   " /s' where isdir = false group by path order by bytes desc limit 10";
        QTest::newRow("changed per month")
            << "select formatdatetime('yyyy-mm',lastwritetime) month, count(*) n from '" + d +
                   " /s' where isdir = false group by month order by month";
        QTest::newRow("duplicate names")
            << "select filename, count(*) n, min(path) first from '" + d +
                   " /s' where isdir = false group by filename having count(*) > 1 order by n desc";
        QTest::newRow("regexp") << "select regexp_replace(filename,'(?i)[0-9]+\\.jpe?g$','') "
                                   "prefix, count(*) n from '" +
                                       d +
                                       " /s' where filename regexp '(?i)\\.jpe?g$' group by prefix";
    }

    void theManualsStatementsParse() {
        QFETCH(QString, sql);
        QCOMPARE(QString::fromStdString(CheckSyntax(FileSystemEngineFactory(), sql.toStdString())),
                 QStringLiteral("OK"));
    }

    void relativeTablesLeadFromTheBaseDirectory() {
        QDir(dir.path()).mkdir(QStringLiteral("v1.2"));
        std::ofstream(D() + "/v1.2/in.txt") << "x";
        TQueryRunner runner(FileSystemEngineFactory());
        struct Case {
            std::string sql;
            std::vector<std::string> row;  // path, filename of the only row
        } cases[] = {
            {"select path, filename from 'v1.2'", {D() + "/v1.2", "in.txt"}},
            {"select path, filename from './v1.2/*.txt'", {D() + "/v1.2/", "in.txt"}},
            {"select path, filename from '.' where filename = 'a.log'", {D(), "a.log"}},
        };
        for (const Case& c : cases) {
            auto outcome = Run(runner, c.sql, D());
            QVERIFY(outcome && outcome->executed);
            QCOMPARE(outcome->result.rows.size(), size_t(1));
            QCOMPARE(outcome->result.rows.Row(0)[0].AsString(), c.row[0]);
            QCOMPARE(outcome->result.rows.Row(0)[1].AsString(), c.row[1]);
            QVERIFY(outcome->warnings.empty());
        }
    }

    void whatCouldNotBeReadIsInTheOutcome() {
        TQueryRunner runner(FileSystemEngineFactory());
        auto outcome = Run(runner, "select filename from 'missing' m, '" + D() + "' d", D());
        QVERIFY(outcome && outcome->executed);
        QCOMPARE(outcome->warnings,
                 (std::vector<std::string>{"表 'missing' 的目录不存在或无法打开（" + D() +
                                           "/missing）"}));
    }

    void cancelStopsARealListing() {
        TQueryRunner runner(FileSystemEngineFactory());
        QSignalSpy finished(&runner, &TQueryRunner::Finished);
        QSignalSpy progress(&runner, &TQueryRunner::Progress);
        // A large tree that every Debian system has.
        QVERIFY(runner.Start("select filename from '/usr /s/all' order by filename"));
        bool listing = false;
        while (!listing && finished.isEmpty() && progress.wait(10000))
            listing = progress.last().first().toLongLong() > 0;
        if (!finished.isEmpty()) QSKIP("the listing ended before it could be cancelled");
        runner.Cancel();
        QVERIFY(finished.wait(30000));
        auto outcome = finished.first().first().value<std::shared_ptr<TQueryOutcome>>();
        QVERIFY(outcome->cancelled);
        QVERIFY(outcome->runError.empty());
        // The listing was stopped before any row was made.
        QVERIFY(outcome->result.rows.empty());
    }
};

QTEST_MAIN(EngineAdapterTest)
#include "U_engineAdapter_test.moc"
