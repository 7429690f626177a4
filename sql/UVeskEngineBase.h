// UVeskEngineBase: what the clause objects of a query see of their engine.
//
// The engine object a host drives (TVeskEngineCustomer, engine/UVeskEngine)
// sits above the SQL layer and the evaluation layer, whose objects (the FROM
// clause, the select environment) must still reach the query's shared
// state: the error list they add statement errors to, the parameter list
// names resolve against, and the progress they poll for cancellation. That state is this base
// class, so that those objects hold a reference to it and never to the engine object above them.
#pragma once

#include <memory>
#include <string>

#include "datasource/U_simpleDS.h"
#include "datasource/UveskInterface.h"
#include "sql/ErrorMng.h"
#include "sql/UveskBase.h"

namespace corvane {

// Statement text, result dataset, error list and the name counter.
class TVeskEngineBase {
  public:
    TVeskEngineBase();
    virtual ~TVeskEngineBase();
    TVeskEngineBase(const TVeskEngineBase&) = delete;
    TVeskEngineBase& operator=(const TVeskEngineBase&) = delete;

    virtual void SetSQL(const std::string& text) { sql_ = text; }
    const std::string& SQL() const { return sql_; }

    // 1, 2, 3, ...; after 2147483641 the counter starts again at 0.
    int NextId();

    TSimpleDataset& DataSet() { return *dataSet_; }
    TmyErrorMng& Errors() { return errors_; }
    std::string GetErrorText() const { return errors_.Text(); }

    // Named parameter values (":name" in a statement). Nothing in this
    // system fills them; a host may.
    TParamList& Params() { return params_; }

    // Progress and cancellation for the next executions (borrowed; null
    // removes it).
    void SetProgress(IProgress* progress) { progress_ = progress; }
    IProgress* Progress() const { return progress_; }

    // The running statement's clock and fault record (see SqlValue): the
    // clock is set when a run starts, the record emptied.
    const TSqlContext& SqlContext() const { return sqlContext_; }
    TSqlFaults& Faults() { return faults_; }
    void BeginRun();

  protected:
    std::string sql_;
    int idCounter_ = 0;
    std::unique_ptr<TSimpleDataset> dataSet_;
    TParamList params_;
    TmyErrorMng errors_;
    IProgress* progress_ = nullptr;
    TSqlFaults faults_;
    TSqlContext sqlContext_{0, &faults_};
};

}  // namespace corvane
