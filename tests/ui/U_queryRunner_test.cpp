// The query runner: the engine lives on a worker thread, progress (of the
// listing and of a join) arrives while it runs, Cancel stops it and still
// hands over the rows found so far, and every outcome (errors one by one,
// notices of the run) reaches the window's thread.
#include <QSignalSpy>
#include <QtTest>
#include <atomic>
#include <thread>

#include "ui/U_queryRunner.h"

using namespace corvane;

namespace {

// Where the fake engine was made, used and destroyed.
struct EngineLog {
    std::atomic<int> alive{0};
    std::thread::id made, executed, destroyed;
    std::string baseDir;       // as handed to the engine
    int64_t memoryLimit = -1;  // as the engine had it when it executed
    int listingThreads = -1;   // likewise
};

// Lists "entries" (one row each) until cancelled or until it has listed
// `total`, reporting them as join combinations for "join"; can fail to
// parse or fail while executing.
class FakeEngine : public IQueryEngine {
  public:
    FakeEngine(EngineLog& log, long long total) : log_(log), total_(total) {
        ++log_.alive;
        log_.made = std::this_thread::get_id();
    }
    ~FakeEngine() override {
        --log_.alive;
        log_.destroyed = std::this_thread::get_id();
    }
    void SetSQL(const std::string& sql) override { sql_ = sql; }
    void Parse() override {}
    std::string GetErrorText() override {
        return sql_.rfind("bad", 0) == 0 ? "Syntax error near bad\r\nsecond\r\n" : "";
    }
    void Execute(IProgress* progress) override {
        log_.executed = std::this_thread::get_id();
        log_.memoryLimit = memoryLimit_;
        log_.listingThreads = listingThreads_;
        if (sql_ == "throw") throw std::runtime_error("地址越界。");
        if (sql_ == "oom") throw std::bad_alloc();
        for (long long n = 1; n <= total_; ++n) {
            if (progress->Cancelled()) return;
            if (sql_ == "join")
                progress->Joining(n);
            else
                progress->Listed(n);
            rows_ = n;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    // "throw" and "select" runs have something to say.
    std::vector<std::string> Warnings() override {
        if (sql_ == "throw" || sql_ == "select")
            return {"表 '" + sql_ + "' 的目录不存在或无法打开"};
        return {};
    }
    void SetBaseDirectory(const std::string& dir) override { log_.baseDir = dir; }
    void SetMemoryLimit(int64_t bytes) override { memoryLimit_ = bytes; }
    void SetListingThreads(int threads) override { listingThreads_ = threads; }
    TQueryResult TakeResult() override {
        TQueryResult r;
        r.fieldNames = {"a.path", "a.filename"};
        for (long long i = 0; i < rows_; ++i)
            r.rows.Append(TSimpleRow{Variant("/d"), Variant("f")});
        return r;
    }

  private:
    EngineLog& log_;
    long long total_;
    std::string sql_;
    long long rows_ = 0;
    int64_t memoryLimit_ = -1;
    int listingThreads_ = -1;
};

TEngineFactory Factory(EngineLog& log, long long total) {
    return [&log, total] {
        return std::unique_ptr<IQueryEngine>(std::make_unique<FakeEngine>(log, total));
    };
}

std::shared_ptr<TQueryOutcome> WaitFor(QSignalSpy& finished) {
    if (finished.isEmpty() && !finished.wait(20000)) return nullptr;
    return finished.first().first().value<std::shared_ptr<TQueryOutcome>>();
}

}  // namespace

Q_DECLARE_METATYPE(std::shared_ptr<corvane::TQueryOutcome>)

class QueryRunnerTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { qRegisterMetaType<std::shared_ptr<TQueryOutcome>>(); }

    void theEngineLivesAndDiesOnTheWorker() {
        EngineLog log;
        TQueryRunner runner(Factory(log, 50));
        QSignalSpy finished(&runner, &TQueryRunner::Finished);
        QVERIFY(runner.Start("select"));
        QVERIFY(runner.IsRunning());
        QVERIFY(!runner.Start("select"));  // one at a time
        auto outcome = WaitFor(finished);
        QVERIFY(outcome);
        QVERIFY(outcome->executed);
        QCOMPARE(outcome->result.rows.size(), size_t(50));
        QCOMPARE(outcome->listed, 50LL);
        QVERIFY(outcome->elapsedMs >= 0);
        QCOMPARE(log.alive.load(), 0);
        QVERIFY(log.made != std::this_thread::get_id());
        QCOMPARE(log.executed, log.made);
        QCOMPARE(log.destroyed, log.made);
        QVERIFY(!runner.IsRunning());
    }

    void cancelStopsTheListing() {
        EngineLog log;
        TQueryRunner runner(Factory(log, 100000000));  // would run for hours
        QSignalSpy finished(&runner, &TQueryRunner::Finished);
        QSignalSpy progress(&runner, &TQueryRunner::Progress);
        QVERIFY(runner.Start("select"));
        QVERIFY(progress.wait(10000));  // progress arrives while it runs
        QVERIFY(progress.last().first().toLongLong() > 0);
        runner.Cancel();
        auto outcome = WaitFor(finished);
        QVERIFY(outcome);
        QVERIFY(outcome->cancelled);
        QVERIFY(!outcome->executed);
        // What was found until then is handed over, marked by cancelled.
        QVERIFY(!outcome->result.rows.empty());
        QCOMPARE(static_cast<long long>(outcome->result.rows.size()), outcome->listed);
        QVERIFY(outcome->runError.empty());
        QCOMPARE(log.alive.load(), 0);
    }

    void aJoinReportsItsCombinations() {
        EngineLog log;
        TQueryRunner runner(Factory(log, 2000));
        QSignalSpy finished(&runner, &TQueryRunner::Finished);
        QSignalSpy progress(&runner, &TQueryRunner::Progress);
        runner.Start("join");
        auto outcome = WaitFor(finished);
        QVERIFY(outcome);
        QCOMPARE(outcome->joined, 2000LL);
        QCOMPARE(outcome->listed, 0LL);
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last()[1].toLongLong(), 2000LL);
    }

    void parseErrorsComeBackWithoutExecuting() {
        EngineLog log;
        TQueryRunner runner(Factory(log, 10));
        QSignalSpy finished(&runner, &TQueryRunner::Finished);
        runner.Start("bad statement");
        auto outcome = WaitFor(finished);
        QVERIFY(outcome);
        QCOMPARE(outcome->parseErrors, std::string("Syntax error near bad\r\nsecond\r\n"));
        // One by one, without positions (this engine knows none).
        QCOMPARE(outcome->errors.size(), size_t(2));
        QCOMPARE(outcome->errors[1].message, std::string("second"));
        QCOMPARE(outcome->errors[1].position, 0);
        QVERIFY(!outcome->executed);
        QCOMPARE(log.executed, std::thread::id());
    }

    void anErrorWhileExecutingIsReported() {
        EngineLog log;
        TQueryRunner runner(Factory(log, 10));
        QSignalSpy finished(&runner, &TQueryRunner::Finished);
        runner.Start("throw");
        auto outcome = WaitFor(finished);
        QVERIFY(outcome);
        QCOMPARE(outcome->runError, std::string("地址越界。"));
        QVERIFY(!outcome->executed);
        QCOMPARE(log.alive.load(), 0);
    }

    void warningsAndTheBaseDirectoryTravel() {
        struct Case {
            const char* sql;
            std::vector<std::string> warnings;
        } cases[] = {
            {"select", {"表 'select' 的目录不存在或无法打开"}},
            {"throw", {"表 'throw' 的目录不存在或无法打开"}},  // beside the error
            {"other", {}},
        };
        for (const Case& c : cases) {
            EngineLog log;
            TQueryRunner runner(Factory(log, 3));
            QSignalSpy finished(&runner, &TQueryRunner::Finished);
            QVERIFY(runner.Start(c.sql, "/projects/p"));
            auto outcome = WaitFor(finished);
            QVERIFY(outcome);
            QCOMPARE(outcome->warnings, c.warnings);
            QCOMPARE(log.baseDir, std::string("/projects/p"));
        }
        EngineLog log;
        TQueryRunner runner(Factory(log, 100000000));
        QSignalSpy finished(&runner, &TQueryRunner::Finished);
        QVERIFY(runner.Start("select"));
        QTRY_VERIFY(log.alive.load() == 1);
        runner.Cancel();
        auto outcome = WaitFor(finished);
        QVERIFY(outcome && outcome->cancelled);
        // A cancelled run shows what it found, and what could not be read.
        QCOMPARE(outcome->warnings, std::vector<std::string>{"表 'select' 的目录不存在或无法打开"});
        QCOMPARE(log.baseDir, std::string());
    }

    void runningOutOfMemoryIsReportedAndTheRunnerGoesOn() {
        EngineLog log;
        TQueryRunner runner(Factory(log, 10));
        QSignalSpy finished(&runner, &TQueryRunner::Finished);
        runner.Start("oom");
        auto outcome = WaitFor(finished);
        QVERIFY(outcome);
        QCOMPARE(outcome->runError, std::string("内存不足，操作已停止。"));
        QVERIFY(!outcome->executed);
        QCOMPARE(log.alive.load(), 0);
        finished.clear();
        QVERIFY(runner.Start("select"));
        outcome = WaitFor(finished);
        QVERIFY(outcome && outcome->executed);
    }

    void everyRunGetsTheMemoryLimitAndListingThreads() {
        EngineLog log;
        TQueryRunner runner(Factory(log, 1));
        QSignalSpy finished(&runner, &TQueryRunner::Finished);
        runner.Start("select");
        QVERIFY(WaitFor(finished));
        QCOMPARE(log.memoryLimit, int64_t{-1});  // not set: the engine's default
        QCOMPARE(log.listingThreads, 0);         // not set: the number of cores
        runner.SetMemoryLimit(1 << 20);
        runner.SetListingThreads(3);
        finished.clear();
        runner.Start("select");
        QVERIFY(WaitFor(finished));
        QCOMPARE(log.memoryLimit, int64_t{1} << 20);
        QCOMPARE(log.listingThreads, 3);
    }

    void stoppingWaitsForTheWorker() {
        EngineLog log;
        {
            TQueryRunner runner(Factory(log, 100000000));
            runner.Start("select");
            QTRY_VERIFY(log.alive.load() == 1);
        }  // destroyed while running: cancelled and joined
        QCOMPARE(log.alive.load(), 0);
    }

    void theSyntaxCheckSaysOk() {
        EngineLog log;
        QCOMPARE(CheckSyntax(Factory(log, 0), "select"), std::string("OK"));
        QCOMPARE(CheckSyntax(Factory(log, 0), "bad"),
                 std::string("Syntax error near bad\r\nsecond\r\n"));
        QVERIFY(CheckStatement(Factory(log, 0), "select").empty());
        QCOMPARE(CheckStatement(Factory(log, 0), "bad").front().message,
                 std::string("Syntax error near bad"));
    }
};

QTEST_MAIN(QueryRunnerTest)
#include "U_queryRunner_test.moc"
