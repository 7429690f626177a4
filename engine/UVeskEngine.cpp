#include "engine/UVeskEngine.h"

#include <algorithm>

#include "engine/SqlBinder.h"
#include "platform/Text.h"
#include "script/common/U_err.h"
#include "script/common/u_functions_consts.h"
#include "sql/sqlScan_Base.h"

namespace corvane {

// ---- TDataBaseList -------------------------------------------------------

void TDataBaseList::Add(DataBaseRef source) {
    if (source) items_.push_back(std::move(source));
}

DataBaseRef TDataBaseList::Items(int index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return items_[static_cast<size_t>(index)];
}

int TDataBaseList::IndexOfName(const std::string& name) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (SameTextAscii(items_[i]->GetName(), name)) return static_cast<int>(i);
    return -1;
}

DataSetRef TDataBaseList::FindDataset(const std::string& name) const {
    int dot = PosOutsideQuotes(".", name, 1);
    if (dot > 0) {
        std::string source = name.substr(0, static_cast<size_t>(dot - 1));
        std::string table = name.substr(static_cast<size_t>(dot));
        int index = IndexOfName(source);
        if (index < 0) return nullptr;
        return items_[static_cast<size_t>(index)]->GetDataset(table);
    }
    for (const DataBaseRef& source : items_)
        if (DataSetRef ds = source->GetDataset(name)) return ds;
    return nullptr;
}

// ---- TVeskEngineCustomer -------------------------------------------------

TVeskEngineCustomer::TVeskEngineCustomer() {
    Reset();
}

TVeskEngineCustomer::~TVeskEngineCustomer() = default;

void TVeskEngineCustomer::SetSQL(const std::string& text) {
    if (text == sql_) return;
    sql_ = text;
    Reset();
}

void TVeskEngineCustomer::RenewClauses() {
    whereRoot_.reset();
    from_ = std::make_unique<TFromClause>(*this);
    select_ = std::make_unique<TSelectEnviroment>(*this);
    select_->SetFromClause(from_.get());
}

void TVeskEngineCustomer::Reset() {
    dataSet_->ClearRows();
    statement_.reset();
    RenewClauses();
    order_ = std::make_unique<TOrderClause>();
    whereObj_ = std::make_unique<TWhrObj>();
    params_.Clear();
}

void TVeskEngineCustomer::ResetParseState() {
    errors_.Clear();
    whereObj_ = std::make_unique<TWhrObj>();
    RenewClauses();
    // A second parse of the same text starts from an empty ORDER BY list
    // too, rather than adding the items again.
    order_ = std::make_unique<TOrderClause>();
}

TBoolNode& TVeskEngineCustomer::WhereRoot() {
    if (!whereRoot_) whereRoot_ = std::make_unique<TBoolNode>();
    return *whereRoot_;
}

void TVeskEngineCustomer::Parse() {
    ResetParseState();
    TASQLSource parser(params_, [this] { return NextId(); });
    parser.SetText(sql_);
    parser.Parse();
    statement_ = std::make_unique<TParsedStatement>(parser.TakeStatement());
    errors_ = statement_->messages;
    if (errors_.Count() > 0) return;
    TStatementBinder(*this, *statement_).Bind();
}

void TVeskEngineCustomer::CollectWarnings() {
    warnings_.clear();
    for (int t = 0; t < from_->Count(); ++t) {
        const DataSetRef& ds = from_->Table(t).dataset;
        if (!ds) continue;
        // A table named twice in FROM loads twice and says the same twice.
        for (std::string& w : ds->Warnings())
            if (std::find(warnings_.begin(), warnings_.end(), w) == warnings_.end())
                warnings_.push_back(std::move(w));
    }
    // Rows left out because their condition could not be decided (a file
    // that could not be read, a text that is no number): once, with the
    // count and the first reason.
    if (faults_.Dropped() > 0)
        warnings_.push_back(FormatMsg2(Msg(sqlmsg::RowsUnknown), std::to_string(faults_.Dropped()),
                                       faults_.FirstReason()));
}

void TVeskEngineCustomer::Execute() {
    warnings_.clear();
    if (errors_.Count() > 0) return;
    dataSet_->ClearRows();
    budget_.Reset();
    // The statement's clock ("now") and the record of why values became
    // null, for this run.
    BeginRun();
    TSqlFaultScope faultScope(&faults_);
    // Content read by computed expressions: read once per run, and a read
    // of a huge file stops with the query.
    content_ = std::make_unique<ContentSession>(
        [progress = progress_] { return !(progress && progress->Cancelled()); });
    ContentSession::Scope contentScope(*content_);
    from_->Prepare();
    const bool hasOrder = order_->Count() > 0;
    TWhereExecuter executer(*from_, whereObj_.get());
    executer.SetProgress(progress_);
    executer.SetMemoryBudget(&budget_);
    // A match-tree node is smaller than a held cell; the same bound keeps
    // the trees of an exploding join within a few gigabytes.
    executer.SetNodeLimit(cellLimit_);
    executer.OnRow = [this](bool& stop, const std::vector<int>& recNos) {
        select_->HandleRow(stop, recNos);
    };
    executer.OnBufferedRow = [this](bool& stop) { select_->HandleBufferedRow(stop); };
    executer.OnDebug = OnDebug;
    // TOP with ORDER BY needs only the first rows: when the held rows reach
    // the cell limit they are sorted and cut, so "the ten largest files" of
    // a huge tree never hits the limit.
    const int64_t wanted = select_->Clause().RowsWanted();
    std::function<void()> compact;
    if (hasOrder && wanted >= 0)
        compact = [this, wanted] {
            order_->Sort(*dataSet_, &budget_);
            if (wanted < dataSet_->GetRecordCount())
                dataSet_->TruncateRows(static_cast<int>(wanted));
        };
    select_->Prepare(*dataSet_, sink_, hasOrder, cellLimit_, std::move(compact), &budget_);
    try {
        try {
            executer.Run();
            select_->FinishGroups();
        } catch (const EScriptError&) {
            // The interpreter stops a script loop of a computed expression
            // with its own error when the progress answers "cancelled"; for
            // the host that is the cancelled query.
            if (progress_ && progress_->Cancelled()) throw QueryCancelledError();
            throw;
        }
    } catch (...) {
        // What could not be read is worth saying also when the run stops.
        CollectWarnings();
        // The groups of a stopped run go now: they are charged to the budget.
        if (TGroupClause* group = select_->Group()) group->End();
        throw;
    }
    CollectWarnings();
    if (hasOrder) order_->Sort(*dataSet_, &budget_);
    if (wanted >= 0 && wanted < dataSet_->GetRecordCount()) {
        int64_t cut = 0;
        for (int r = static_cast<int>(wanted); r < dataSet_->GetRecordCount(); ++r)
            cut += RowBytes(dataSet_->RowAt(r));
        dataSet_->TruncateRows(static_cast<int>(wanted));
        budget_.Release(cut);
    }
    // OFFSET after sorting (without ORDER BY the select environment dropped
    // those rows as they came).
    const int64_t offset = select_->Clause().offset;
    if (hasOrder && offset > 0 && dataSet_->GetRecordCount() > 0) {
        const int rows = dataSet_->GetRecordCount();
        const int dropped = static_cast<int>(std::min<int64_t>(offset, rows));
        std::vector<bool> gone(static_cast<size_t>(rows), false);
        int64_t cut = 0;
        for (int r = 0; r < dropped; ++r) {
            gone[static_cast<size_t>(r)] = true;
            cut += RowBytes(dataSet_->RowAt(r));
        }
        dataSet_->RemoveRows(gone);
        budget_.Release(cut);
    }
    if (sink_ && hasOrder) {
        // Sorted rows reach the sink once they are in their final order;
        // each is freed as it goes, so a sink that keeps rows (and charges
        // them) never holds a second copy of the whole result.
        std::vector<const Variant*> values;
        const int rows = dataSet_->GetRecordCount();
        int taken = 0;
        try {
            for (int r = 0; r < rows; ++r) {
                if (progress_ && (r & 1023) == 1023 && progress_->Cancelled())
                    throw QueryCancelledError();
                std::unique_ptr<TSimpleRow> row = dataSet_->TakeRow(r);
                taken = r + 1;
                values.clear();
                for (const Variant& v : *row)
                    values.push_back(&v);
                sink_->Row(std::span<const Variant* const>(values.data(), values.size()));
                budget_.Release(RowBytes(*row));
            }
        } catch (...) {
            // The rows not yet handed over stay; the emptied slots go.
            std::vector<bool> gone(static_cast<size_t>(rows), false);
            std::fill(gone.begin(), gone.begin() + taken, true);
            dataSet_->RemoveRows(gone);
            throw;
        }
        dataSet_->ClearRows();
    }
}

}  // namespace corvane
