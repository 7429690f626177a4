// u_group: GROUP BY, the aggregate functions and HAVING.
//
// A grouped statement (one with GROUP BY, or with an aggregate call in its
// select list, HAVING or ORDER BY) runs in two levels. At the row level,
// every qualifying combination the where executor reports is folded into
// its group as it arrives: the group keys (GROUP BY items) and the
// arguments of the aggregate calls are operands bound to the FROM clause
// and read the row buffers; the key values find the group in a hash index,
// and each aggregate's accumulator takes the argument's value. No row is
// held: memory grows with the number of groups (charged to the query's
// budget), not with the number of rows. At the group level, once every row
// is in, each group in turn becomes the current group of this clause, which
// is then the value source (IGVarMng) of the select items, of the HAVING
// operands and, through the select items, of ORDER BY: a name resolves to
// a group key (a column that is grouped, or a GROUP BY expression), to an
// aggregate's result, or (in HAVING only) to a select item's output name.
// A column that is neither grouped nor inside an aggregate is a statement
// error (sqlmsg::NotGrouped) naming the select item (or, in HAVING, the
// column), reported where the name is resolved.
//
// Aggregate calls are not script functions: the binder (engine/SqlBinder)
// cuts each call out of an operand's text and puts a slot name of this
// clause in its place ("sum(size) div 1024" is compiled as "ga1______
// div 1024", the name padded to the call's length so that places in the
// text stay where they were); the same is done for GROUP BY expressions
// inside a larger expression. This unit only holds the slots and their
// values.
//
// Aggregates: count(*) counts rows; count(x) the values of x that are not
// null (null is skipped by every aggregate but count(*)); sum(x) is an
// integer while every value is one (64-bit, overflow is an error), else a
// double; a text that is no number is skipped by sum and avg, with the
// reason noted; avg(x) is a double; min(x) and max(x) keep the value as it
// came, in SQL's total order. With "distinct" each value is taken once
// (values equal as group keys are equal). Without a value sum, avg, min
// and max are null and count is 0.
//
// Contrast the plan (keys, aggregates, HAVING tree, slot names: filled by
// the binder, unchanged by running) with the run state (the groups and
// their accumulators), which Begin renews, so a statement can run again.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "evaluation/URelx_Logic.h"
#include "evaluation/U_memBudget.h"
#include "sql/U_from.h"
#include "sql/UveskBase.h"

namespace corvane {

// A run-time fault of an aggregate (sum beyond 64 bits); carries its text.
class AggregateError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum TAggregateKind : uint8_t { agCount, agSum, agMin, agMax, agAvg };

// The kind named by an aggregate function's name (any letter case); false
// for any other name.
bool AggregateKindOf(std::string_view name, TAggregateKind& kind);

// One aggregate call of a grouped statement.
struct TAggregate {
    TAggregateKind kind = agCount;
    bool star = false;                       // count(*)
    bool distinct = false;                   // count(distinct x)
    std::string key;                         // the call normalised, to share repeated calls
    std::string written;                     // the call as written, for messages
    std::unique_ptr<TROperandDef> argument;  // bound to the FROM clause; null for count(*)
    // A constant argument as its value (a number literal counts as the
    // number, sum(1) is an integer), taken in place of the operand's text.
    bool isConstant = false;
    Variant constant;
    std::string typeName;  // the result's type name
};

// Values equal as group keys: both null (empty counts as null), numbers
// (integers and doubles) of equal value, or values of one kind that are
// equal (texts byte for byte, date-times, booleans). A text never equals a
// number.
bool SameKeyValue(const Variant& a, const Variant& b) noexcept;

// A select item as HAVING sees it through its output name.
struct TGroupOutput {
    std::string name;  // lower case
    std::string typeName;
    TROperandDef* item = nullptr;  // borrowed from the select list
};

class TGroupClause : public IGVarMng {
  public:
    TGroupClause(TFromClause& from, TmyErrorMng& errors);
    ~TGroupClause() override;

    // ---- Plan (the binder).

    // A GROUP BY item, bound to the FROM clause; its index.
    int AddKey(std::unique_ptr<TROperandDef> key, std::string typeName);
    int KeyCount() const { return static_cast<int>(keys_.size()); }
    TROperandDef& Key(int k) { return *keys_[static_cast<size_t>(k)].operand; }
    // The index of an aggregate with this key, or -1.
    int FindAggregate(std::string_view key) const;
    int AddAggregate(std::unique_ptr<TAggregate> aggregate);
    int AggregateCount() const { return static_cast<int>(aggregates_.size()); }
    TAggregate& Aggregate(int a) { return *aggregates_[static_cast<size_t>(a)]; }
    // A name for the slot of key k or aggregate a: a letter, the number,
    // and "_" up to length when that is longer. Resolve knows it from now on.
    std::string KeySlotName(int k, size_t length);
    std::string AggregateSlotName(int a, size_t length);
    // The select items HAVING may name by output name; ShowOutputs turns
    // that resolution on (HAVING) and off (select items).
    void SetOutputs(std::vector<TGroupOutput> outputs);
    void ShowOutputs(bool on) { showOutputs_ = on; }
    // The HAVING condition (its group null without HAVING).
    TBoolNode& HavingRoot() { return having_; }
    // References to the slots, as the binder puts them in place of the
    // aggregate calls, GROUP BY expressions and output names it finds.
    static TOperandRef KeyRef(int k);
    static TOperandRef AggregateRef(int a);
    static TOperandRef OutputRef(int o);
    // The type name of what a reference of this clause reads.
    std::string TypeNameOf(const TOperandRef& ref) const;
    // While a select item binds, a column in it that is neither grouped nor
    // aggregated is reported once, naming the item as written; with an
    // empty subject (HAVING) each such column is named itself.
    void SetSubject(std::string subject) {
        subject_ = std::move(subject);
        subjectReported_ = false;
    }

    // ---- Run state (the select environment).

    // Starts a run: no groups, except the one group of a statement without
    // GROUP BY, which exists even when no row comes. Groups are charged to
    // budget (null: not counted).
    void Begin(TMemoryBudget* budget);
    // Folds the row that stands in the FROM clause's row buffers into its
    // group. Raises AggregateError (sum overflow), VariantError (a value
    // that does not convert or compare) and ResultTooLargeError (budget).
    void Fold();
    int GroupCount() const { return static_cast<int>(groups_.size()); }
    // Makes group g the current one: the values Resolve's references read.
    void SetCurrent(int g);
    // HAVING over the current group; true without HAVING.
    bool Qualifies() noexcept;
    // Releases the groups and their charge.
    void End();

    // ---- IGVarMng: the current group's values.
    std::string GetDeclarations() override;
    bool Resolve(const std::string& name, int tag, TOperandRef& ref) override;
    const Variant& GetValue(const TOperandRef& ref) override;
    int Cost(const TOperandRef&) override { return 1; }
    void Prepare() override { from_.Prepare(); }
    bool Cancelled() override { return from_.Cancelled(); }
    const TSqlContext& Context() override { return from_.Context(); }

  private:
    struct TKey {
        std::unique_ptr<TROperandDef> operand;
        std::string typeName;
    };
    // Values seen by a distinct aggregate of one group.
    struct TValueSet {
        std::unordered_multimap<uint64_t, size_t> index;
        std::vector<Variant> values;
    };
    struct TAccumulator {
        int64_t count = 0;
        int64_t intSum = 0;
        long double sum = 0;              // the double sum, and avg's sum
        bool doubleSum = false;           // sum left the integers
        Variant best;                     // min, max
        std::unique_ptr<TValueSet> seen;  // distinct
    };
    struct TGroup {
        std::vector<Variant> keys;
        std::vector<TAccumulator> acc;
    };

    // A reference of this clause: tableIndex says which kind of slot,
    // fieldIndex which one of that kind.
    enum TSlotKind : int { slKey = 0, slAggregate = 1, slOutput = 2 };
    std::string SlotName(char letter, TSlotKind kind, int index, size_t length);
    void Accumulate(const TAggregate& a, TAccumulator& acc, const Variant& v);
    // Whether the value is new to the set (and then adds it).
    bool AddDistinct(TAccumulator& acc, const Variant& v);
    int NewGroup(uint64_t hash);
    static bool MakeRef(TSlotKind kind, int index, int tag, TOperandRef& ref);

    TFromClause& from_;
    TmyErrorMng& errors_;
    std::vector<TKey> keys_;
    std::vector<std::unique_ptr<TAggregate>> aggregates_;
    std::vector<TGroupOutput> outputs_;
    bool showOutputs_ = false;
    std::string subject_;
    bool subjectReported_ = false;
    TBoolNode having_;
    // lower-case slot name -> its kind and index
    std::map<std::string, std::pair<TSlotKind, int>> slotByName_;

    // Run state.
    std::vector<TGroup> groups_;
    std::unordered_multimap<uint64_t, int> index_;  // hash of the keys -> group
    std::vector<const Variant*> keyValues_;         // the row's key values while folding
    std::unique_ptr<TMemoryCharge> charge_;
    std::vector<Variant> results_;  // the current group's aggregate results
    std::vector<Variant> outputValues_;
    std::vector<char> outputDone_;
    int current_ = -1;
    Variant empty_;
};

}  // namespace corvane
