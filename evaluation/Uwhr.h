// Uwhr: the where/join executor and its match trees.
//
// TWhereExecuter runs the where object of a parsed statement (URelx_Logic)
// over the tables of its FROM clause and reports every qualifying
// combination of records, one record number per FROM table, to the select
// environment. A statement without WHERE is answered by a plain nested walk
// over all tables. Otherwise every table is loaded once with its own filter
// pushed into the data source (IFilterObject), so rejected entries are
// never stored, and every branch (top-level OR alternative) is answered on
// its own: the branch's join conditions are planned into clusters, each
// cluster grows a match tree whose root-to-leaf paths are the combinations
// that satisfy its conditions so far, and the cross product of the trees'
// paths and the candidate records of the remaining tables is reported. A
// combination found by several branches is reported once, where the first
// branch produced it.
//
// Match trees hold record numbers only; values are re-read by positioning
// a dataset and refilling its row buffer whenever a condition needs them.
// Every tree node is registered at the candidate row it stands for, so that
// dropping a row drops every partial combination through it and dropping
// the last combination through a row drops the row (the pruning cascade).
// An equality between a column of a new table and a column of a table
// already in the tree uses a hash index of the new table's candidate rows
// when the value kinds make that exact; the children of a node keep the
// order of the plain walk, so results and their order are the same.
//
// Memory: what a branch builds (candidate rows, tree nodes, the paths of
// its trees, equality indexes) and the combinations remembered across
// branches are charged to the query's byte budget (evaluation/U_memBudget) as
// they grow, all branches together; past it the run ends with
// ResultTooLargeError rather than exhausting memory. A branch's charges go
// when the branch is answered.
//
// This unit owns only run state: everything here lives for one Run (the
// match trees for one branch). It evaluates conditions through the logic
// tree and never parses text.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "datasource/UveskInterface.h"
#include "evaluation/URelx_Logic.h"
#include "evaluation/U_memBudget.h"
#include "sql/U_from.h"

namespace corvane {

struct TTT_node;
class TTT_Table;
class TTT_Tree;

// One candidate row of a join table.
struct TTT_Row {
    TTT_Table* table = nullptr;
    int recNo = -1;
    TTT_node* regFirst = nullptr;  // nodes registered at this row, in order
    TTT_node* regLast = nullptr;
    TTT_Row* next = nullptr;
    TTT_Row* prev = nullptr;
    bool alive = true;
};

// One node of a match tree: a row of the table at root position + depth.
// Contrast TTT_Row (a candidate record of one table, shared by every node
// that stands for it) with TTT_node (one step of one combination).
struct TTT_node {
    bool dying = false;
    TTT_Tree* tree = nullptr;
    int depth = -1;  // -1 for the root
    int key = -1;    // record number; -1 for the root
    TTT_node* parent = nullptr;
    TTT_node* firstChild = nullptr;  // children in order of creation
    TTT_node* lastChild = nullptr;
    TTT_node* prevSibling = nullptr;
    TTT_node* nextSibling = nullptr;
    TTT_Row* row = nullptr;  // where the node is registered, or null
    TTT_node* regPrev = nullptr;
    TTT_node* regNext = nullptr;
    int Position() const;
};

class TTT_tableList;

// The candidate rows of one table, in load order (ascending record numbers).
class TTT_Table {
  public:
    bool bound = false;  // brought into its tree (or a tree's root table)
    int fromIndex = -1;
    int rowCount = 0;
    bool releasesNodes = true;

    void Clear();
    TTT_Row* AppendRow(int recNo);
    TTT_Row* First() const { return first_; }
    TTT_Row* Cursor() const { return cursor_; }
    void SetCursor(TTT_Row* row) { cursor_ = row; }
    int CurrentRecord() const { return cursor_ ? cursor_->recNo : -1; }
    // The cursor row when it has that record number, else the row with it.
    TTT_Row* FindRow(int recNo);
    // Unlinks the row (the cursor moves on when it stood there) and, while
    // the table releases nodes, releases every node registered at it.
    void DeleteRow(TTT_Row* row);
    // Marks the table bound and removes every row without registered nodes.
    void Purge();

  private:
    friend class TTT_tableList;
    TTT_tableList* list_ = nullptr;
    TTT_Row* first_ = nullptr;
    TTT_Row* last_ = nullptr;
    TTT_Row* cursor_ = nullptr;
    std::vector<TTT_Row*> byRecNo_;  // record number -> live row
};

// The tables of one branch by position: join tables first, in planned
// order, then the others in FROM order. Owns rows and nodes (pools that
// live as long as the branch).
class TTT_tableList {
  public:
    explicit TTT_tableList(int fromCount);
    int Count() const { return static_cast<int>(tables_.size()); }
    TTT_Table& At(int position) { return tables_[static_cast<size_t>(position)]; }
    int JoinTableCount() const { return joinTableCount_; }
    int PositionOf(int fromIndex) const;
    // Join tables of the clusters in planned order take the first positions.
    void Reorder(const TwhrItem& branch, const std::vector<TJoinInfoTeam>& clusters);

    TTT_Row* NewRow();
    TTT_node* NewNode();
    // Releases a node (the pruning cascade; see the unit comment).
    void ReleaseNode(TTT_node* node);
    bool treesAlive = true;
    // Nodes the branch may create at most (0: no bound); NewNode raises
    // ResultTooLargeError beyond it. Released nodes stay in the pool and
    // count.
    int64_t nodeLimit = 0;
    // What the branch's rows, nodes, paths and indexes are charged to
    // (null: not counted); NewNode and NewRow charge in blocks.
    TMemoryCharge* charge = nullptr;

  private:
    std::deque<TTT_Table> tables_;
    std::vector<int> posMap_;  // FROM index -> position
    int joinTableCount_ = 0;
    std::deque<TTT_Row> rowPool_;    // released rows stay until the branch ends
    std::deque<TTT_node> nodePool_;  // likewise nodes
};

class TTT_Tree {
  public:
    TTT_Tree(TTT_tableList& list, int rootPosition, int tableCount);
    TTT_node* Root() { return root_; }
    int RootPosition() const { return rootPosition_; }
    int TableCount() const { return tableCount_; }
    TTT_tableList& List() { return list_; }
    // One child of the root per candidate row of the root table.
    void Seed();
    // Complete root-to-leaf paths, one row of record numbers per path; the
    // grid's growth is charged to the table list's charge.
    void Paths(std::vector<int>& grid) const;
    // The first child with that key, or a new one appended.
    TTT_node* Child(TTT_node* parent, int key);
    // Registers the node at its table's row with its key; false when the
    // table has no such row.
    bool Register(TTT_node* node);

  private:
    TTT_tableList& list_;
    TTT_node* root_;
    int rootPosition_;
    int tableCount_;
};

// What OnDebug receives: the trees of the branch just answered and its
// table list.
struct TDebugObject {
    const std::vector<std::unique_ptr<TTT_Tree>>* trees = nullptr;
    TTT_tableList* tables = nullptr;
};

// The executor's IFilterObject: writes a candidate record's values into
// the table's row buffer and evaluates the filter chains (true when any
// chain is).
//
// RejectsKnowing decides in three values (false, true, unknown) with only
// some columns known: a relation is decided when every operand is a
// constant, a parameter or a known column of this table (a computed
// expression is always unknown); a chain (AND) is false when any term is,
// true when all are; a group (OR) true when any member is, false when all
// are; NOT swaps false and true and keeps unknown. The candidate is
// rejected only when every filter chain is false.
// Whether a candidate passes any of the filter chains; one that passes
// none because a chain was unknown for a fault is counted in the
// statement's fault record.
bool EvaluateFilters(const std::vector<TBoolNode*>& filters, const TSqlContext& ctx);

class TFilterObject : public IFilterObject {
  public:
    TFilterObject(TFromClause& from, int fromIndex, std::vector<TBoolNode*> filters);
    void SetValue(int fieldIndex, const Variant& value) override;
    Variant Evaluate() override;
    bool Reads(int fieldIndex) override;
    bool RejectsKnowing(uint64_t knownFields) override;

  private:
    enum class TTri : uint8_t { False, True, Unknown };
    TTri DecideChain(TBoolNode* chain, uint64_t known);
    TTri DecideTerm(TBoolNode& node, uint64_t known);
    bool OperandKnown(const TROperandDef* op, uint64_t known) const;
    void CollectReads(const TBoolNode* chain);

    TFromClause& from_;
    int fromIndex_;
    std::vector<TBoolNode*> filters_;
    Variant result_;
    // The fields of this table the chains read (bit per field below 64),
    // and whether some read cannot be told (a computed expression, a field
    // from 64 on).
    uint64_t reads_ = 0;
    bool readsUnknown_ = false;
};

class TWhereExecuter {
  public:
    TWhereExecuter(TFromClause& from, TWhrObj* where);
    ~TWhereExecuter();

    // A qualifying combination: one record number per FROM table.
    std::function<void(bool& stop, const std::vector<int>& recNos)> OnRow;
    // A qualifying combination whose values stand in the row buffers.
    std::function<void(bool& stop)> OnBufferedRow;
    std::function<void(const TDebugObject&)> OnDebug;
    void SetProgress(IProgress* progress) { progress_ = progress; }
    // Match-tree nodes one WHERE branch may create at most (0: no bound):
    // a join whose trees would hold more combinations ends with
    // ResultTooLargeError instead of exhausting memory.
    void SetNodeLimit(int64_t nodes) { nodeLimit_ = nodes; }
    // What the match trees, their paths and the combinations remembered
    // across OR branches are charged to (borrowed; null: not counted).
    void SetMemoryBudget(TMemoryBudget* budget) { budget_ = budget; }

    // Throws QueryCancelledError when the progress object asks to stop,
    // ResultTooLargeError beyond the node limit or the budget, and
    // std::logic_error (sqlmsg::NoAnchorTable) for a join plan that tries a
    // condition before any of its tables is bound, which PlanJoins rules out.
    void Run();

  private:
    friend class TExtension;
    void FullWalk();
    void WalkLevel(int level);
    void LoadTables(const std::vector<int>& branches);
    void AnswerBranch(TwhrItem& branch, bool several);
    void Enumerate(std::vector<std::unique_ptr<TTT_Tree>>& trees, TTT_tableList& list,
                   const std::vector<std::vector<int>>& cands);
    void Emit(const std::vector<int>& byPosition, TTT_tableList& list);
    void CheckCancel();

    TFromClause& from_;
    TWhrObj* where_;
    IProgress* progress_ = nullptr;
    int64_t nodeLimit_ = 0;
    TMemoryBudget* budget_ = nullptr;
    bool stop_ = false;
    unsigned tick_ = 0;
    bool joining_ = false;                  // the tables are being combined (for progress)
    long long joinSteps_ = 0;               // combinations tried so far, in steps of 64
    std::vector<std::vector<int>> loaded_;  // per FROM table: records kept by its load
    bool dedupe_ = false;
    std::unordered_set<std::string> emitted_;       // combinations already reported
    std::unique_ptr<TMemoryCharge> emittedCharge_;  // what emitted_ holds
    std::vector<int> rowVector_;
    std::string keyScratch_;
};

}  // namespace corvane
