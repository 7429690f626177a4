// URelx_Logic: the WHERE condition as a logic tree, and its planning.
//
// The binder (engine/SqlBinder) builds, from the parsed condition
// (sql/SqlStatement), a tree of TBoolNode under the engine's where root:
// the root's OR group holds the top-level alternatives ("branches"), each
// branch is a chain of nodes joined by AND, and a node holds one relation
// (TRelaSimpleExpr), a bracketed OR group of further chains, or a true/false
// keyword, each possibly negated. A relation compares, tests BETWEEN, IN,
// LIKE (ULike) or a regular expression (regexp and not regexp, RE2 through
// script/common/URegexp). This unit
// evaluates nodes and relations against the current row buffers, compares
// values (the relational and the ordering comparison, also used by ORDER BY
// and DISTINCT), normalises the parsed tree, and takes every branch apart
// into the executable where object (TWhrObj): per branch a constant part
// that reads no table, one filter chain per table, and the join conditions
// that read two or more tables. It also plans the joins of a branch:
// connected clusters of join conditions, cheapest first.
//
// Evaluation follows SQL's three-valued logic: a relation with a null
// operand, or one whose value could not be computed (a failed conversion,
// an unreadable file: the reason goes to the statement's fault record), is
// unknown; NOT unknown is unknown; a row counts only when its condition is
// true. Evaluation never raises but for a cancelled query. This unit does not walk tables or build
// match trees (Uwhr), does not parse text (sqlScan_Base) and does not bind names (SqlBinder).
//
// The parsed tree and the where object are plan data: nothing here changes
// while a statement runs, except cached costs and the IN-list look-up set,
// so a statement can run any number of times. The run state of a branch
// (verdicts, weights, clusters) is returned to the executor, not stored.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/Variant.h"
#include "script/runtime/SqlOps.h"
#include "sql/SqlStatement.h"
#include "sql/UveskBase.h"

namespace corvane {

class TRegexp;

// ---------------------------------------------------------------------------
// Value comparison.

// The ordering comparison of ORDER BY, DISTINCT and min/max: SQL's total
// order (script/runtime/SqlOps' SqlOrderCompare): null first, then
// booleans, numbers, date-times and texts. r is -1, 0 or 1; it never fails
// (true always; the form stays for callers that once had to ask).
bool TryOrderCompare(const Variant& a, const Variant& b, int& r) noexcept;
int OrderCompare(const Variant& a, const Variant& b);

// The truth values of SQL's three-valued logic as the logic tree returns
// them.
constexpr int kTrue = 1;
constexpr int kFalse = 0;
constexpr int kUnknown = -1;

// ---------------------------------------------------------------------------
// Relations and nodes.

// The operator codes (TRelOp) are the parser's: sql/SqlStatement.

// A set of table indexes kept in insertion order.
class TDsRefList {
  public:
    void Add(int index);
    void Clear() { items_.clear(); }
    bool Contains(int index) const;
    int Count() const { return static_cast<int>(items_.size()); }
    int operator[](int i) const { return items_[static_cast<size_t>(i)]; }
    const std::vector<int>& Items() const { return items_; }
    void SortAscending();

  private:
    std::vector<int> items_;
};

class TRelaSimpleExpr {
  public:
    TRelaSimpleExpr();
    ~TRelaSimpleExpr();

    // kTrue, kFalse or kUnknown (a null operand, or one that could not be
    // computed: then the reason is noted in the statement's fault record).
    // Never raises, but for a cancelled query.
    int Evaluate3();
    bool Evaluate() { return Evaluate3() == kTrue; }
    // Operand costs, plus 10 for IN and 20 for LIKE and regexp.
    int Cost() const;
    // regexp: compiles a constant pattern once, for every evaluation (and
    // every copy) to share. False, with RE2's explanation in error, when the
    // pattern does not compile. Nothing for other relations or a pattern that
    // is not a constant (compiled when met, see Evaluate).
    bool PrepareRegexp(std::string& error);
    // Rebuilds the set of tables the relation reads.
    void CollectTables();
    // Whether an operand's computed expression reads file contents.
    bool ReadsContent() const;
    void CopyFrom(const TRelaSimpleExpr& other);

    TRelOp op = roNone;
    std::unique_ptr<TROperandDef> left;
    std::unique_ptr<TROperandDef> right;  // for IN its list holds the items
    std::unique_ptr<TROperandDef> upper;  // BETWEEN's upper bound, else null
    std::string text;                     // source text, for diagnostics
    TDsRefList tables;
    std::shared_ptr<const TRegexp> regexp;  // regexp's constant pattern, compiled

  private:
    // IN over the list's items; sets of the constant items of a long list
    // answer for the kinds they hold.
    int InList(const Variant& v, const TSqlContext& ctx);
    const TSqlContext& Context() const;
    bool setsBuilt_ = false;
    bool useSets_ = false;
    std::unordered_set<std::string_view> textItems_;
    std::unordered_set<int64_t> integerItems_;
    std::unordered_set<double> realItems_;
    std::vector<const TROperandDef*> otherItems_;  // looked at one by one
    bool nullItem_ = false;
    std::string scratch_;  // text forms of LIKE operands, reused per row
    std::string scratch2_;
};

class TOrNodeList;

// One node of the condition tree. It holds exactly one term: a relation, a
// bracketed OR group, or a true/false keyword; an empty node holds none of
// these and has no next node.
class TBoolNode {
  public:
    TBoolNode();
    ~TBoolNode();  // releases the chain iteratively: chains may be long
    TBoolNode(const TBoolNode&) = delete;
    TBoolNode& operator=(const TBoolNode&) = delete;

    // The chain from this node: the conjunction of every node's term, each
    // negated on its own, in three values; later nodes are evaluated only
    // while none is false.
    int Evaluate3();
    bool Evaluate() { return Evaluate3() == kTrue; }
    // This node's term alone, negation applied.
    int EvaluateTerm3();
    int Cost();
    int ChainCost();
    // Copies src's term and flags (and, with withChain, its chain).
    void CopyFrom(const TBoolNode& src, bool withChain);
    bool IsEmpty() const { return !relation && !group && !next && !isLiteral; }
    // The tables the node's term reads (a group: every member chain).
    void CollectNodeTables(TDsRefList& out) const;
    // Whether the node's term reads file contents (see TwhrItem).
    bool ReadsContent() const;
    TBoolNode* Last();

    int cost = -1;       // cached, -1 until computed
    int chainCost = -1;  // cached cost of the rest of the chain
    std::unique_ptr<TRelaSimpleExpr> relation;
    std::unique_ptr<TOrNodeList> group;
    bool negated = false;
    std::unique_ptr<TBoolNode> next;
    bool literal = false;    // the value of a true/false keyword term
    bool isLiteral = false;  // the term is a true/false keyword
};

// An OR group: each entry is the head of one AND chain.
class TOrNodeList {
  public:
    int Count() const { return static_cast<int>(items_.size()); }
    TBoolNode* Item(int i) const { return items_[static_cast<size_t>(i)].get(); }
    void Add(std::unique_ptr<TBoolNode> node) { items_.push_back(std::move(node)); }
    void Insert(int index, std::unique_ptr<TBoolNode> node);
    std::unique_ptr<TBoolNode> Take(int index);  // removes without releasing
    void Remove(int index) { items_.erase(items_.begin() + index); }
    std::unique_ptr<TBoolNode>& Slot(int i) { return items_[static_cast<size_t>(i)]; }
    // True at the first member chain that is true; else unknown when one
    // is unknown, else false.
    int Evaluate3();

  private:
    std::vector<std::unique_ptr<TBoolNode>> items_;
};

// Restructures a parsed group in place, meaning the same: single-entry
// groups are collapsed into their chains and un-negated groups of single
// nodes are lifted into the enclosing group.
void Normalize(TOrNodeList& group);

// ---------------------------------------------------------------------------
// The executable form.

// One join condition of a branch.
struct TJoinInfo {
    TDsRefList tables;                     // two or more, ascending
    std::unique_ptr<TBoolNode> condition;  // the conjunct, without its chain
    bool readsContent = false;             // condition->ReadsContent()
};

// A cluster: connected join conditions, as indexes into the branch's join
// records, in planned order.
struct TJoinInfoTeam {
    std::vector<int> members;
};

enum class TBranchState : uint8_t { bsNever, bsEvaluate };

// One branch (top-level alternative) in executable form. Conditions that
// read file contents (a digest, a content search) cost a read of the file
// each time: every chain holds them after the cheap conjuncts, and the join
// planner takes them last within a cluster, so they only see what the
// cheap conditions let through. Conjuncts may move because evaluating one
// never raises and has no effect on another.
class TwhrItem {
  public:
    std::vector<TJoinInfo> joins;
    std::vector<std::unique_ptr<TBoolNode>> filters;  // per FROM table, or null
    std::unique_ptr<TBoolNode> constantPart;          // conjuncts reading no table

    // Clusters of the join records, given one weight per record: connected
    // sets, lightest cluster first; within a cluster lightest first (those
    // that read file contents after all others), each next member sharing
    // a table with one already chosen.
    std::vector<TJoinInfoTeam> PlanJoins(const std::vector<int>& weights) const;
    int ClusterTableCount(const TJoinInfoTeam& team) const;
};

enum class TVerdict : uint8_t { vdAll, vdNone, vdSome };

class TWhrObj {
  public:
    // One branch per entry of the (normalised) group.
    void Build(const TOrNodeList& group, int tableCount);
    int BranchCount() const { return static_cast<int>(branches_.size()); }
    TwhrItem& Branch(int i) { return *branches_[static_cast<size_t>(i)]; }
    int TableCount() const { return tableCount_; }
    // all (no WHERE), none (every branch's constant part is false) or some;
    // states receives one state per branch.
    TVerdict Verdict(std::vector<TBranchState>& states);

  private:
    std::vector<std::unique_ptr<TwhrItem>> branches_;
    int tableCount_ = 0;
};

}  // namespace corvane
