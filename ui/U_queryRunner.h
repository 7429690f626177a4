// U_queryRunner: runs one query on a worker thread.
//
// Execute must not freeze the window: TQueryRunner creates the engine, hands
// it the statement, parses, executes and takes the result rows out, all on
// one worker thread; the engine object is created, used and destroyed
// there. Meanwhile the window stays responsive: the runner reports how many
// entries the listing has examined and how many combinations a join has
// tried (Progress, a few times a second) and Cancel asks the listing and
// the executor to stop at their next check. When the work ends the outcome
// (parse errors with their positions, or the result with the warnings of
// the run, or an error raised while executing, and the wall time) arrives
// on the window's thread through Finished. A cancelled run still hands
// over the rows found until then, marked as partial. Nothing escapes the
// worker: running out of memory there (std::bad_alloc) is an error like
// any other, reported as kMsgOutOfMemory, and the window goes on.
//
// The engine is reached through IQueryEngine so that tests can run the
// runner with a stand-in; U_engineAdapter makes the real one. The syntax
// check is quick and stays on the caller's thread (CheckSyntax).
#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "datasource/UveskInterface.h"
#include "ui/U_resultModel.h"

namespace corvane {

// One statement error and where it is: a 1-based byte offset into the
// statement text, 0 when the parser does not know.
struct TStatementError {
    std::string message;
    int position = 0;
};

class IQueryEngine {
  public:
    virtual ~IQueryEngine() = default;
    virtual void SetSQL(const std::string& sql) = 0;
    virtual void Parse() = 0;
    virtual std::string GetErrorText() = 0;
    // The errors one by one; by default the lines of the error text,
    // without positions.
    virtual std::vector<TStatementError> ErrorList();
    // Runs the parsed statement; progress is borrowed for the run. Errors
    // raised while executing propagate as exceptions.
    virtual void Execute(IProgress* progress) = 0;
    // The result dataset's field names and rows, moved out.
    virtual TQueryResult TakeResult() = 0;
    // Where relative table paths lead; set before Parse. Stand-ins that
    // read no directories may ignore it.
    virtual void SetBaseDirectory(const std::string& dir) { (void)dir; }
    // What the tables could not read during Execute (also one that threw).
    virtual std::vector<std::string> Warnings() { return {}; }
    // Bytes the next executions may hold (0: no bound).
    virtual void SetMemoryLimit(int64_t bytes) { (void)bytes; }
    // Threads a recursive listing reads with (0: the number of cores).
    virtual void SetListingThreads(int threads) { (void)threads; }
};

using TEngineFactory = std::function<std::unique_ptr<IQueryEngine>()>;

// What one run produced.
struct TQueryOutcome {
    std::string parseErrors;              // the engine's error text; empty when it parsed
    std::vector<TStatementError> errors;  // the same, one by one
    bool executed = false;                // the statement ran to its end (result valid)
    bool cancelled = false;               // the user cancelled; result holds the rows found so far
    std::string runError;                 // message of an error raised while executing
    TQueryResult result;
    long long elapsedMs = 0;  // wall time of the whole run
    long long listed = 0;     // entries examined by the listing
    long long joined = 0;     // combinations a join has tried
    // What the tables could not read (also beside a run error or a
    // cancelled run's partial rows).
    std::vector<std::string> warnings;
};

// Parses on the caller's thread and returns the error text ("OK" when it
// parsed).
std::string CheckSyntax(const TEngineFactory& factory, const std::string& sql);
// The same, error by error with their positions (empty when it parsed);
// relative table paths lead from baseDir, as in a run.
std::vector<TStatementError> CheckStatement(const TEngineFactory& factory, const std::string& sql,
                                            const std::string& baseDir = {});

// The message a user sees for an exception: its text, and for running out
// of memory (std::bad_alloc) kMsgOutOfMemory.
std::string FailureText(const std::exception& e);

class TQueryRunner : public QObject {
    Q_OBJECT
  public:
    explicit TQueryRunner(TEngineFactory factory, QObject* parent = nullptr);
    ~TQueryRunner() override;

    // Starts a run; false when one is still going. Relative table paths
    // lead from baseDir (empty: the process's current directory).
    bool Start(const std::string& sql, const std::string& baseDir = {});
    // Asks the running query to stop; Finished still arrives.
    void Cancel();
    bool IsRunning() const { return running_; }
    // Cancels and waits for the worker (used when the window closes).
    void Stop();
    // The memory limit every later run's engine gets (-1: the engine's own
    // default).
    void SetMemoryLimit(int64_t bytes) { memoryLimit_ = bytes; }
    // The listing threads every later run's engine gets (0: the number of
    // cores).
    void SetListingThreads(int threads) { listingThreads_ = threads; }

  signals:
    void Progress(long long listed, long long joined);
    void Finished(std::shared_ptr<corvane::TQueryOutcome> outcome);

  private:
    class TProgressState;

    void Join();
    void Deliver(std::shared_ptr<TQueryOutcome> outcome);

    TEngineFactory factory_;
    std::shared_ptr<TProgressState> progress_;
    std::thread worker_;
    QTimer ticker_;
    bool running_ = false;
    int64_t memoryLimit_ = -1;
    int listingThreads_ = 0;
};

}  // namespace corvane
