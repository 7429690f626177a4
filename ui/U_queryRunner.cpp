// U_queryRunner: see U_queryRunner.h.
#include "ui/U_queryRunner.h"

#include <chrono>
#include <exception>
#include <new>

#include "evaluation/U_memBudget.h"

namespace corvane {

// Shared between the window's thread and the worker: the count and the
// cancel request are the only things both touch, and both are atomic.
class TQueryRunner::TProgressState : public IProgress {
  public:
    void Listed(long long entriesSoFar) override {
        listed_.store(entriesSoFar, std::memory_order_relaxed);
    }
    void Joining(long long combinationsSoFar) override {
        joined_.store(combinationsSoFar, std::memory_order_relaxed);
    }
    bool Cancelled() const override { return cancelled_.load(std::memory_order_relaxed); }

    long long ListedSoFar() const { return listed_.load(std::memory_order_relaxed); }
    long long JoinedSoFar() const { return joined_.load(std::memory_order_relaxed); }
    void RequestCancel() { cancelled_.store(true, std::memory_order_relaxed); }

  private:
    std::atomic<long long> listed_{0};
    std::atomic<long long> joined_{0};
    std::atomic<bool> cancelled_{false};
};

std::string FailureText(const std::exception& e) {
    if (dynamic_cast<const std::bad_alloc*>(&e)) return kMsgOutOfMemory;
    return e.what();
}

std::vector<TStatementError> IQueryEngine::ErrorList() {
    std::vector<TStatementError> errors;
    const std::string text = GetErrorText();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        errors.push_back({std::move(line), 0});
        start = end + 1;
    }
    return errors;
}

std::string CheckSyntax(const TEngineFactory& factory, const std::string& sql) {
    std::unique_ptr<IQueryEngine> engine = factory();
    engine->SetSQL(sql);
    engine->Parse();
    std::string errors = engine->GetErrorText();
    return errors.empty() ? std::string("OK") : errors;
}

std::vector<TStatementError> CheckStatement(const TEngineFactory& factory, const std::string& sql,
                                            const std::string& baseDir) {
    std::unique_ptr<IQueryEngine> engine = factory();
    engine->SetBaseDirectory(baseDir);
    engine->SetSQL(sql);
    engine->Parse();
    if (engine->GetErrorText().empty()) return {};
    return engine->ErrorList();
}

TQueryRunner::TQueryRunner(TEngineFactory factory, QObject* parent)
    : QObject(parent), factory_(std::move(factory)) {
    ticker_.setInterval(100);
    connect(&ticker_, &QTimer::timeout, this, [this] {
        if (progress_) emit Progress(progress_->ListedSoFar(), progress_->JoinedSoFar());
    });
}

TQueryRunner::~TQueryRunner() {
    Stop();
}

bool TQueryRunner::Start(const std::string& sql, const std::string& baseDir) {
    if (running_) return false;
    Join();
    running_ = true;
    progress_ = std::make_shared<TProgressState>();
    auto progress = progress_;
    worker_ = std::thread([this, sql, baseDir, progress, factory = factory_, limit = memoryLimit_,
                           threads = listingThreads_] {
        auto outcome = std::make_shared<TQueryOutcome>();
        const auto start = std::chrono::steady_clock::now();
        try {
            std::unique_ptr<IQueryEngine> engine = factory();
            engine->SetBaseDirectory(baseDir);
            if (limit >= 0) engine->SetMemoryLimit(limit);
            engine->SetListingThreads(threads);
            engine->SetSQL(sql);
            engine->Parse();
            outcome->parseErrors = engine->GetErrorText();
            if (!outcome->parseErrors.empty()) outcome->errors = engine->ErrorList();
            if (outcome->parseErrors.empty()) {
                try {
                    engine->Execute(progress.get());
                } catch (...) {
                    outcome->warnings = engine->Warnings();
                    // A cancelled run may end normally or with an error:
                    // either way the user asked for it, and the rows found
                    // so far are still worth showing.
                    if (!progress->Cancelled()) throw;
                }
                outcome->warnings = engine->Warnings();
                outcome->result = engine->TakeResult();
                // The texts are ranked here, not when the list first sorts.
                outcome->result.rows.Finish();
                outcome->cancelled = progress->Cancelled();
                outcome->executed = !outcome->cancelled;
            }
        } catch (const std::exception& e) {
            // The engine and whatever it held are gone by now, so there is
            // memory again to report a std::bad_alloc.
            outcome->result = TQueryResult{};
            outcome->runError = FailureText(e);
        } catch (...) {
            outcome->runError = "未知错误";
        }
        if (outcome->cancelled) outcome->runError.clear();
        outcome->listed = progress->ListedSoFar();
        outcome->joined = progress->JoinedSoFar();
        outcome->elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
        QMetaObject::invokeMethod(
            this, [this, outcome] { Deliver(outcome); }, Qt::QueuedConnection);
    });
    ticker_.start();
    return true;
}

void TQueryRunner::Cancel() {
    if (running_ && progress_) progress_->RequestCancel();
}

void TQueryRunner::Stop() {
    Cancel();
    Join();
    ticker_.stop();
    running_ = false;
}

void TQueryRunner::Join() {
    if (worker_.joinable()) worker_.join();
}

void TQueryRunner::Deliver(std::shared_ptr<TQueryOutcome> outcome) {
    Join();
    ticker_.stop();
    running_ = false;
    emit Progress(outcome->listed, outcome->joined);
    emit Finished(std::move(outcome));
}

}  // namespace corvane
