// U_engineAdapter: see U_engineAdapter.h.
#include "ui/U_engineAdapter.h"

#include <memory>

#include "engine/UVeskEngine.h"
#include "ui/U_dirText.h"

namespace corvane {

namespace {

class TFileSystemEngine : public IQueryEngine {
public:
    TFileSystemEngine() {
#ifndef CORVANE_DIRTEXT_STANDIN
        engine_.AddDataBase(std::make_shared<TVeskDBAdapterForFile>());
#endif
    }

    void SetSQL(const std::string& sql) override { engine_.SetSQL(sql); }

    void Parse() override {
        if constexpr (requires(TVeskEngineCustomer& e) { e.Parse(); })
            engine_.Parse();
        else
            engine_.Errors().Add("查询引擎尚未完成");
    }

    std::string GetErrorText() override { return engine_.GetErrorText(); }

    void Execute(IProgress* progress) override {
        if constexpr (requires(TVeskEngineCustomer& e, IProgress* p) { e.Execute(p); }) {
            engine_.Execute(progress);
        } else if constexpr (requires(TVeskEngineCustomer& e, IProgress* p) {
                                 e.SetProgress(p);
                                 e.Execute();
                             }) {
            engine_.SetProgress(progress);
            engine_.Execute();
        } else if constexpr (requires(TVeskEngineCustomer& e) { e.Execute(); }) {
            (void)progress;
            engine_.Execute();
        } else {
            (void)progress;
        }
    }

    TQueryResult TakeResult() override { return corvane::TakeResult(engine_.DataSet()); }

private:
    TVeskEngineCustomer engine_;
};

}  // namespace

TEngineFactory FileSystemEngineFactory() {
    return [] { return std::unique_ptr<IQueryEngine>(std::make_unique<TFileSystemEngine>()); };
}

}  // namespace corvane
