// UVeskEngine: the engine object a host drives.
//
// A host creates one TVeskEngineCustomer per command, registers its data
// sources (AddDataBase), hands over the statement (SetSQL), asks it to
// Parse and reads GetErrorText; only when that text is empty does it call
// Execute and read the result dataset (DataSet), or receive the rows
// through a row sink (SetRowSink). Statement errors are collected in the
// error list, never raised.
//
// The engine owns every object of one query: the statement text, the
// registered sources (shared references), the parsed statement, the clause
// objects the binder fills from it (FROM clause, select environment, where
// tree and where object, ORDER BY), the parameter lists, the error list and
// the result dataset. Parsing lives in sqlScan_Base (into SqlStatement),
// binding in SqlBinder, operands in UveskBase, the FROM clause in U_from,
// evaluation in evaluation/; this unit ties them together. What the clause
// objects below it reach of the engine (error list, parameters, progress)
// is the base class TVeskEngineBase (sql/UVeskEngineBase).
//
// Execution and its host contract:
//   - SetProgress installs an IProgress for the next executions: every
//     table receives it before it loads (its Listed reports entries listed
//     so far), and the executor polls Cancelled in all its loops, joins
//     included.
//   - A cancelled Execute ends promptly by throwing QueryCancelledError
//     (UveskBase.h). The rows produced so far stay in DataSet (or have
//     reached the sink); ORDER BY and TOP/LIMIT are then not applied to
//     them. A grouped statement makes its rows only once every row is in
//     its group, so a stopped one has none. This holds as well when the cancellation stops a script
//     loop inside a computed expression (the interpreter polls the same progress).
//   - What a query holds is bounded in bytes by its memory budget
//     (SetMemoryLimit, DefaultMemoryLimit in U_memBudget): the result rows,
//     a join's match trees over all OR branches, the groups of GROUP BY
//     with their accumulators, the ORDER BY sort keys and whatever the row
//     sink charges to MemoryBudget(). Passing it ends the
//     run with ResultTooLargeError, keeping the rows so far like a cancelled
//     run; so does a result beyond the cell limit (SetCellLimit,
//     kDefaultCellLimit). TOP or LIMIT with ORDER BY (and without DISTINCT)
//     sorts and cuts the held rows whenever they reach either limit
//     instead, so it only fails when TOP or LIMIT itself asks for more.
//   - Any other failure while executing (a value that does not convert for
//     ORDER BY or an aggregate, a sum beyond 64 bits (AggregateError), a
//     data-source fault) is thrown as an exception carrying its
//     message; rows appended before stay.
//   - Execute after a parse that left errors does nothing.
//   - Warnings: what the tables of the statement could not read while they
//     loaded (a missing directory, sub-directories that could not be
//     opened) does not stop a query. After Execute, also one that threw,
//     Warnings() holds the tables' messages in FROM order, each text once;
//     the host shows them beside the result. The next Execute renews them.
//   - File contents that computed expressions read (digests and the other
//     content built-ins) are cached for the run only: each Execute starts
//     a new ContentSession, whose reads poll the same progress for Cancel.
//   - The parsed statement is not changed by executing it: Execute may run
//     again and gives the same result for the same data.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "datasource/U_simpleDS.h"
#include "datasource/UveskInterface.h"
#include "evaluation/URelx_Logic.h"
#include "evaluation/U_memBudget.h"
#include "evaluation/Uwhr.h"
#include "evaluation/u_select.h"
#include "platform/FileContent.h"
#include "sql/ErrorMng.h"
#include "sql/SqlStatement.h"
#include "sql/UVeskEngineBase.h"
#include "sql/U_from.h"
#include "sql/UveskBase.h"

namespace corvane {

// The registered data sources, in registration order.
class TDataBaseList {
  public:
    // A null source is ignored.
    void Add(DataBaseRef source);
    int Count() const { return static_cast<int>(items_.size()); }
    // The source at index, or null when index is out of range.
    DataBaseRef Items(int index) const;
    // Index of the first source whose name equals name ignoring case, or -1.
    int IndexOfName(const std::string& name) const;
    // Resolves a table name, plain or qualified as "source.table" (the first
    // dot outside quotes splits it). Null when nothing provides the table.
    DataSetRef FindDataset(const std::string& name) const;

  private:
    std::vector<DataBaseRef> items_;
};

class TVeskEngineCustomer : public TVeskEngineBase {
  public:
    TVeskEngineCustomer();
    ~TVeskEngineCustomer() override;

    // A null source is ignored; the engine keeps the reference until it is
    // destroyed.
    void AddDataBase(DataBaseRef source) { dataBases_.Add(std::move(source)); }
    TDataBaseList& DataBases() { return dataBases_; }

    // Stores a changed text and resets every clause object; an identical
    // text changes nothing.
    void SetSQL(const std::string& text) override;

    // Empties the result rows and renews every clause object.
    void Reset();

    // Parses the statement (sqlScan_Base) and, when that found nothing
    // wrong, binds it (SqlBinder); every problem becomes a message of the
    // error list.
    void Parse();
    // The statement as the last Parse read it, before binding; null before
    // the first Parse.
    const TParsedStatement* Statement() const { return statement_.get(); }
    // Runs the parsed statement into the result dataset (or the sink).
    void Execute();

    // With a sink installed, result rows go to the sink and DataSet keeps
    // only the field definitions; without ORDER BY they are streamed as they
    // are produced. Borrowed; null removes it.
    void SetRowSink(IRowSink* sink) { sink_ = sink; }
    // Cells (rows x result columns) a result may hold in memory; 0 removes
    // the bound. Streamed rows are not held.
    void SetCellLimit(int64_t cells) { cellLimit_ = cells; }
    int64_t CellLimit() const { return cellLimit_; }
    // Bytes the next executions may hold (see U_memBudget); 0 removes the
    // bound. A row sink that keeps rows charges them to MemoryBudget()
    // (TMemoryUse::Output) during Execute; each Execute starts it at zero.
    void SetMemoryLimit(int64_t bytes) { budget_.SetLimit(bytes); }
    int64_t MemoryLimit() const { return budget_.Limit(); }
    TMemoryBudget& MemoryBudget() { return budget_; }
    // Called with the match trees of every answered WHERE branch.
    std::function<void(const TDebugObject&)> OnDebug;

    // The clause objects, filled by the binder.
    TFromClause& FromClause() { return *from_; }
    TSelectEnviroment& SelectEnv() { return *select_; }
    TBoolNode& WhereRoot();
    bool HasWhereRoot() const { return static_cast<bool>(whereRoot_); }
    TWhrObj& WhereObj() { return *whereObj_; }
    TOrderClause& OrderClause() { return *order_; }
    // What the tables could not read during the last Execute (see above).
    const std::vector<std::string>& Warnings() const { return warnings_; }
    // The file contents the last Execute read (the content built-ins'
    // digest cache and counts); null before the first Execute.
    const ContentSession* LastContentSession() const { return content_.get(); }

  private:
    void ResetParseState();
    void RenewClauses();
    // Gathers the warnings of every FROM table into warnings_.
    void CollectWarnings();

    TDataBaseList dataBases_;
    std::unique_ptr<TParsedStatement> statement_;
    std::unique_ptr<TFromClause> from_;
    std::unique_ptr<TSelectEnviroment> select_;
    std::unique_ptr<TBoolNode> whereRoot_;
    std::unique_ptr<TWhrObj> whereObj_;
    std::unique_ptr<TOrderClause> order_;
    IRowSink* sink_ = nullptr;
    int64_t cellLimit_ = kDefaultCellLimit;
    TMemoryBudget budget_{DefaultMemoryLimit()};
    std::vector<std::string> warnings_;
    // Per run: made at the start of each Execute, current while it runs.
    std::unique_ptr<ContentSession> content_;
};

}  // namespace corvane
