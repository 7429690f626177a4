// U_engineAdapter: see U_engineAdapter.h.
#include "ui/U_engineAdapter.h"

#include <memory>

#include "engine/UVeskEngine.h"
#include "ui/U_dirText.h"

namespace corvane {

namespace {

// While the engine's parser and executor are not part of the build, the
// adapter still compiles and says so as a statement error.
template <class E>
void ParseWith(E& e) {
    if constexpr (requires { e.Parse(); })
        e.Parse();
    else
        e.Errors().Add("查询引擎尚未完成");
}

template <class E>
void ExecuteWith(E& e, IProgress* progress) {
    if constexpr (requires { e.Execute(progress); }) {
        e.Execute(progress);
    } else if constexpr (requires {
                             e.SetProgress(progress);
                             e.Execute();
                         }) {
        e.SetProgress(progress);
        e.Execute();
    } else if constexpr (requires { e.Execute(); }) {
        e.Execute();
    }
}

class TFileSystemEngine : public IQueryEngine {
  public:
    TFileSystemEngine() {
#ifndef CORVANE_DIRTEXT_STANDIN
        engine_.AddDataBase(std::make_shared<TVeskDBAdapterForFile>());
#endif
    }

    void SetSQL(const std::string& sql) override {
        engine_.SetSQL(sql);
    }

    void Parse() override {
        ParseWith(engine_);
    }

    std::string GetErrorText() override {
        return engine_.GetErrorText();
    }

    void Execute(IProgress* progress) override {
        ExecuteWith(engine_, progress);
    }

    TQueryResult TakeResult() override {
        return corvane::TakeResult(engine_.DataSet());
    }

  private:
    TVeskEngineCustomer engine_;
};

}  // namespace

TEngineFactory FileSystemEngineFactory() {
    return [] { return std::unique_ptr<IQueryEngine>(std::make_unique<TFileSystemEngine>()); };
}

}  // namespace corvane
