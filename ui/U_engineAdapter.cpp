// U_engineAdapter: see U_engineAdapter.h.
#include "ui/U_engineAdapter.h"

#include <memory>

#include "engine/UVeskEngine.h"
#include "filesource/U_CorvaneAdptr.h"

namespace corvane {

namespace {

class TFileSystemEngine : public IQueryEngine {
  public:
    TFileSystemEngine() : source_(std::make_shared<TVeskDBAdapterForFile>()) {
        engine_.AddDataBase(source_);
    }

    void SetBaseDirectory(const std::string& dir) override { source_->SetBaseDirectory(dir); }

    void SetSQL(const std::string& sql) override { engine_.SetSQL(sql); }
    void Parse() override { engine_.Parse(); }
    std::string GetErrorText() override { return engine_.GetErrorText(); }
    std::vector<TStatementError> ErrorList() override {
        std::vector<TStatementError> errors;
        const TmyErrorMng& list = engine_.Errors();
        for (int i = 0; i < list.Count(); ++i)
            errors.push_back({list.Item(i), list.Position(i)});
        return errors;
    }

    // A cancelled run throws QueryCancelledError; the runner reports it as
    // cancelled because it asked for it.
    void Execute(IProgress* progress) override {
        engine_.SetProgress(progress);
        engine_.Execute();
        engine_.SetProgress(nullptr);
    }

    // What the run has to tell without having failed: what the tables
    // could not read (a missing directory, unreadable sub-directories).
    std::vector<std::string> Warnings() override { return engine_.Warnings(); }

    TQueryResult TakeResult() override { return corvane::TakeResult(engine_.DataSet()); }
    void SetMemoryLimit(int64_t bytes) override { engine_.SetMemoryLimit(bytes); }
    void SetListingThreads(int threads) override { source_->SetListingThreads(threads); }

  private:
    std::shared_ptr<TVeskDBAdapterForFile> source_;  // shared with the engine
    TVeskEngineCustomer engine_;
};

}  // namespace

TEngineFactory FileSystemEngineFactory() {
    return [] { return std::unique_ptr<IQueryEngine>(std::make_unique<TFileSystemEngine>()); };
}

}  // namespace corvane
