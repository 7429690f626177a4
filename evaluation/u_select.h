// u_select: the select list, result rows, DISTINCT, TOP and ORDER BY.
//
// The select environment (TSelectEnviroment) owns the select list and turns
// every qualifying combination that the where executor (Uwhr) reports into
// one result row: it positions the tables on the combination, evaluates
// every select item and stores the values in the result dataset, or hands
// them to a host's row sink. In a grouped statement the combination is
// folded into its group instead (u_group), and the rows are made from the
// groups that pass HAVING once every combination is in (FinishGroups).
// DISTINCT is applied as rows arrive (the first of rows equal in every
// column by the ordering comparison is kept); TOP n, and LIMIT n OFFSET m,
// keep the first n rows (after the first m) after ORDER BY and DISTINCT,
// and without ORDER BY end the execution as soon as those rows are out.
//
// TOrderClause holds the ORDER BY items and reorders the finished rows: a
// stable multi-key sort by the values in SQL's total order, rows moved as
// whole references.
//
// The binder (engine/SqlBinder) fills and binds the select list, the
// grouping and the ORDER BY items from the parsed statement; this unit
// evaluates.
//
// Contrast the select list (plan: items, output names, type names) with the
// run state of one execution (TSelectRun: the result, the sink, the rows
// counted and the DISTINCT look-up), which Prepare renews.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "datasource/U_simpleDS.h"
#include "evaluation/U_memBudget.h"
#include "evaluation/u_group.h"
#include "sql/SqlStatement.h"
#include "sql/U_from.h"
#include "sql/UveskBase.h"

namespace corvane {

class TVeskEngineBase;

// One select item: an operand plus its result field.
class TSelectField : public TROperandDef {
  public:
    TStarKind starKind = skPlain;
    std::string outputName;  // the alias after the item, or a generated name
    std::string typeName;    // the result field's type name
};

class TSelectClause {
  public:
    int64_t topCount = 0;  // 0 when TOP is absent: no limit
    bool distinct = false;
    int64_t limit = -1;  // LIMIT n; -1 when absent (LIMIT 0 keeps no row)
    int64_t offset = 0;  // OFFSET m: rows skipped before the LIMIT ones

    // The rows the statement keeps counted from the first (OFFSET's
    // included): LIMIT + OFFSET, or TOP; -1 for all.
    int64_t RowsWanted() const;

    void Clear() { items_.clear(); }
    int Count() const { return static_cast<int>(items_.size()); }
    TSelectField& Item(int i) { return *items_[static_cast<size_t>(i)]; }
    // index -1 appends an item with an empty text; any other index inserts
    // at that place with the given text.
    TSelectField& Insert(const std::string& text, int index);
    void Remove(int index);
    // The first item whose output name (lower case) equals the normalised
    // name, else whose normalised operand text does; -1.
    int IndexOfName(std::string_view name) const;

  private:
    std::vector<std::unique_ptr<TSelectField>> items_;
};

// The run state of one execution.
struct TSelectRun {
    TSimpleDataset* result = nullptr;
    IRowSink* sink = nullptr;
    bool streaming = false;     // rows go straight to the sink
    bool stopWhenFull = false;  // TOP or LIMIT without ORDER BY: stop at cap rows
    int64_t cap = -1;           // rows kept at most (-1: all)
    int64_t skip = 0;           // OFFSET without ORDER BY: rows still to drop
    int64_t rowLimit = 0;       // rows held at most (0: no bound)
    // What the held rows are charged to (null: not counted), and how much
    // they hold now (result rows or DISTINCT copies).
    TMemoryBudget* budget = nullptr;
    int64_t heldBytes = 0;
    // Called when the held rows reach rowLimit, before giving up: TOP with
    // ORDER BY sorts and keeps only the first rows there.
    std::function<void()> compact;
    int64_t rowsOut = 0;
    std::vector<const Variant*> values;  // the current row's values
    // DISTINCT: hash of a kept row -> its index in the result, or -1 - its
    // index in keptRows.
    std::unordered_multimap<uint64_t, int> seen;
    std::vector<TSimpleRow> keptRows;  // copies of rows not held in the result
};

class TSelectEnviroment {
  public:
    explicit TSelectEnviroment(TVeskEngineBase& engine) : engine_(engine) {}

    TSelectClause& Clause() { return clause_; }
    void SetFromClause(TFromClause* from) { from_ = from; }

    // Defines the result fields and renews the run state. With a sink and
    // no ORDER BY, rows are streamed to the sink. A row that would make the
    // result hold more than cellLimit cells (rows x columns; 0: no bound),
    // or more bytes than the budget grants, raises ResultTooLargeError,
    // unless compact (when given) makes room first.
    void Prepare(TSimpleDataset& result, IRowSink* sink, bool hasOrder, int64_t cellLimit = 0,
                 std::function<void()> compact = {}, TMemoryBudget* budget = nullptr);
    // A qualifying combination, one record number per FROM table.
    void HandleRow(bool& stop, const std::vector<int>& recNos);
    // A combination whose values already stand in the row buffers.
    void HandleBufferedRow(bool& stop);
    // A grouped statement: makes the rows of the groups once every
    // combination is in, and releases the groups. Nothing without grouping.
    void FinishGroups();

    // The grouping of a grouped statement, null otherwise; MakeGroup
    // creates it (the binder, once per parse).
    TGroupClause* Group() { return group_.get(); }
    TGroupClause& MakeGroup();
    int64_t RowsOut() const { return run_.rowsOut; }

  private:
    void EmitRow(bool& stop);
    bool IsDuplicate(uint64_t hash);
    // Charges the current row before it is held; at a limit, compacts (TOP
    // with ORDER BY) or raises ResultTooLargeError.
    void ChargeHeldRow(int64_t heldRows);

    TVeskEngineBase& engine_;
    TSelectClause clause_;
    TFromClause* from_ = nullptr;
    std::unique_ptr<TGroupClause> group_;
    TSelectRun run_;
};

// ---------------------------------------------------------------------------
// ORDER BY.

struct TOrderItem {
    std::string name;  // the item's expression as written
    bool descending = false;
    int column = -1;  // index of the result column it sorts by
};

class TOrderClause {
  public:
    // An item as the parser read it; false when the name repeats an earlier
    // one (letter case outside quotes ignored) and it was ignored.
    bool Add(std::string name, bool descending);
    int Count() const { return static_cast<int>(items_.size()); }
    TOrderItem& Item(int i) { return items_[static_cast<size_t>(i)]; }
    void Clear() { items_.clear(); }
    // Sorts the rows stably, by the values in SQL's total order. The sort
    // keys are charged to the budget while the sort runs (ResultTooLargeError
    // beyond it, rows unmoved).
    void Sort(TSimpleDataset& result, TMemoryBudget* budget = nullptr);

  private:
    std::vector<TOrderItem> items_;
};

// Hash of a value consistent with the ordering comparison among values of
// one kind (numbers, date-times and booleans hash by their number).
uint64_t HashValue(const Variant& v);

}  // namespace corvane
