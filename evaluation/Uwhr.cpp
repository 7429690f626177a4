#include "evaluation/Uwhr.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "platform/Text.h"

namespace corvane {

namespace {

// Runs a cleanup when the scope ends, however it ends: a data source gets
// its progress object and filter back whether its load finished, was
// cancelled or failed.
template <typename F>
class TScopeExit {
  public:
    explicit TScopeExit(F cleanup) : cleanup_(std::move(cleanup)) {}
    ~TScopeExit() { cleanup_(); }
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;

  private:
    F cleanup_;
};

// Pool items are charged in blocks of this many, before the block fills.
constexpr size_t kChargeBlock = 256;
// A pool item: the object, plus its share of the pool's block headers and
// block map.
template <typename T>
constexpr int64_t PoolItemBytes() {
    return static_cast<int64_t>(sizeof(T)) + 4;
}
// One remembered combination: the hash node with the text of the key, its
// bucket, and the key's own heap block when it is long.
int64_t EmittedEntryBytes(size_t keyLength) {
    return HeapBlockBytes(sizeof(void*) + sizeof(std::string) + sizeof(size_t)) +
           static_cast<int64_t>(sizeof(void*)) * 2 + TextHeapBytes(keyLength);
}
// One entry of the equality index: the map node with its key, its bucket
// and its vector of rows (the rows are charged one pointer each).
int64_t IndexEntryBytes(size_t keyLength) {
    return HeapBlockBytes(sizeof(void*) + sizeof(std::string) + sizeof(std::vector<void*>) +
                          sizeof(size_t)) +
           static_cast<int64_t>(sizeof(void*)) * 2 + TextHeapBytes(keyLength) +
           HeapBlockBytes(sizeof(void*));
}
}  // namespace

// ---- TTT_node / TTT_Table ----------------------------------------------------

int TTT_node::Position() const {
    return tree->RootPosition() + depth;
}

void TTT_Table::Clear() {
    first_ = last_ = cursor_ = nullptr;
    rowCount = 0;
    byRecNo_.clear();
}

TTT_Row* TTT_Table::AppendRow(int recNo) {
    TTT_Row* row = list_->NewRow();
    row->table = this;
    row->recNo = recNo;
    row->prev = last_;
    if (last_)
        last_->next = row;
    else
        first_ = row;
    last_ = row;
    cursor_ = row;
    ++rowCount;
    if (recNo >= 0) {
        if (static_cast<size_t>(recNo) >= byRecNo_.size())
            byRecNo_.resize(static_cast<size_t>(recNo) + 1, nullptr);
        byRecNo_[static_cast<size_t>(recNo)] = row;
    }
    return row;
}

TTT_Row* TTT_Table::FindRow(int recNo) {
    if (cursor_ && cursor_->recNo == recNo) return cursor_;
    if (recNo < 0 || static_cast<size_t>(recNo) >= byRecNo_.size()) return nullptr;
    return byRecNo_[static_cast<size_t>(recNo)];
}

void TTT_Table::DeleteRow(TTT_Row* row) {
    if (!row || !row->alive) return;
    if (row->prev)
        row->prev->next = row->next;
    else
        first_ = row->next;
    if (row->next)
        row->next->prev = row->prev;
    else
        last_ = row->prev;
    if (cursor_ == row) cursor_ = row->next;
    --rowCount;
    if (row->recNo >= 0 && static_cast<size_t>(row->recNo) < byRecNo_.size())
        byRecNo_[static_cast<size_t>(row->recNo)] = nullptr;
    row->alive = false;
    if (!releasesNodes) return;
    for (TTT_node* n = row->regFirst; n; n = n->regNext)
        n->dying = true;
    while (row->regFirst)
        list_->ReleaseNode(row->regFirst);
}

void TTT_Table::Purge() {
    bound = true;
    TTT_Row* row = first_;
    while (row) {
        TTT_Row* next = row->next;
        if (!row->regFirst) DeleteRow(row);
        row = next;
    }
}

// ---- TTT_tableList -------------------------------------------------------------

TTT_tableList::TTT_tableList(int fromCount) {
    for (int i = 0; i < fromCount; ++i) {
        TTT_Table& t = tables_.emplace_back();
        t.fromIndex = i;
        t.list_ = this;
        posMap_.push_back(i);
    }
}

int TTT_tableList::PositionOf(int fromIndex) const {
    if (fromIndex < 0 || static_cast<size_t>(fromIndex) >= posMap_.size()) return -1;
    return posMap_[static_cast<size_t>(fromIndex)];
}

void TTT_tableList::Reorder(const TwhrItem& branch, const std::vector<TJoinInfoTeam>& clusters) {
    std::vector<int> order;
    std::vector<bool> seen(tables_.size(), false);
    for (const TJoinInfoTeam& team : clusters)
        for (int m : team.members)
            for (int t : branch.joins[static_cast<size_t>(m)].tables.Items())
                if (t >= 0 && static_cast<size_t>(t) < seen.size() &&
                    !seen[static_cast<size_t>(t)]) {
                    seen[static_cast<size_t>(t)] = true;
                    order.push_back(t);
                }
    joinTableCount_ = static_cast<int>(order.size());
    for (size_t t = 0; t < seen.size(); ++t)
        if (!seen[t]) order.push_back(static_cast<int>(t));
    // Tables are still empty here: rebuild them in the new order.
    std::deque<TTT_Table> reordered;
    for (size_t pos = 0; pos < order.size(); ++pos) {
        TTT_Table& t = reordered.emplace_back();
        t.fromIndex = order[pos];
        t.list_ = this;
        posMap_[static_cast<size_t>(order[pos])] = static_cast<int>(pos);
    }
    tables_.swap(reordered);
}

TTT_Row* TTT_tableList::NewRow() {
    if (charge && rowPool_.size() % kChargeBlock == 0)
        charge->Add(PoolItemBytes<TTT_Row>() * static_cast<int64_t>(kChargeBlock));
    return &rowPool_.emplace_back();
}

TTT_node* TTT_tableList::NewNode() {
    if (nodeLimit > 0 && static_cast<int64_t>(nodePool_.size()) >= nodeLimit)
        throw ResultTooLargeError::Combinations(nodeLimit);
    if (charge && nodePool_.size() % kChargeBlock == 0)
        charge->Add(PoolItemBytes<TTT_node>() * static_cast<int64_t>(kChargeBlock));
    return &nodePool_.emplace_back();
}

void TTT_tableList::ReleaseNode(TTT_node* n) {
    n->dying = true;
    if (treesAlive && n->row) {
        TTT_Row* row = n->row;
        if (n->regPrev)
            n->regPrev->regNext = n->regNext;
        else
            row->regFirst = n->regNext;
        if (n->regNext)
            n->regNext->regPrev = n->regPrev;
        else
            row->regLast = n->regPrev;
        n->row = nullptr;
        n->regPrev = n->regNext = nullptr;
        if (!row->regFirst && row->alive) row->table->DeleteRow(row);
    }
    if (TTT_node* p = n->parent) {
        if (n->prevSibling)
            n->prevSibling->nextSibling = n->nextSibling;
        else
            p->firstChild = n->nextSibling;
        if (n->nextSibling)
            n->nextSibling->prevSibling = n->prevSibling;
        else
            p->lastChild = n->prevSibling;
        n->parent = nullptr;
        n->prevSibling = n->nextSibling = nullptr;
        if (!p->dying && !p->firstChild && p->depth >= 0) ReleaseNode(p);
    }
    while (n->firstChild)
        ReleaseNode(n->firstChild);
}

// ---- TTT_Tree ------------------------------------------------------------------

TTT_Tree::TTT_Tree(TTT_tableList& list, int rootPosition, int tableCount)
    : list_(list), root_(list.NewNode()), rootPosition_(rootPosition), tableCount_(tableCount) {
    root_->tree = this;
    root_->depth = -1;
    root_->key = -1;
}

TTT_node* TTT_Tree::Child(TTT_node* parent, int key) {
    // Keys arrive in ascending record order during a walk, so the last child
    // is the only candidate unless a key comes out of order.
    TTT_node* last = parent->lastChild;
    if (last && last->key == key) return last;
    if (last && last->key > key)
        for (TTT_node* c = parent->firstChild; c; c = c->nextSibling)
            if (c->key == key) return c;
    TTT_node* n = list_.NewNode();
    n->tree = this;
    n->depth = parent->depth + 1;
    n->key = key;
    n->parent = parent;
    n->prevSibling = last;
    if (last)
        last->nextSibling = n;
    else
        parent->firstChild = n;
    parent->lastChild = n;
    return n;
}

bool TTT_Tree::Register(TTT_node* node) {
    TTT_Table& t = list_.At(node->Position());
    TTT_Row* row = t.FindRow(node->key);
    if (!row) return false;
    t.SetCursor(row);
    node->row = row;
    node->regPrev = row->regLast;
    node->regNext = nullptr;
    if (row->regLast)
        row->regLast->regNext = node;
    else
        row->regFirst = node;
    row->regLast = node;
    return true;
}

void TTT_Tree::Seed() {
    TTT_Table& t = list_.At(rootPosition_);
    for (TTT_Row* row = t.First(); row; row = row->next) {
        TTT_node* n = Child(root_, row->recNo);
        if (!n->row && !Register(n)) throw std::runtime_error(std::string(sqlmsg::RowMissing));
    }
    t.bound = true;
}

void TTT_Tree::Paths(std::vector<int>& grid) const {
    grid.clear();
    if (tableCount_ <= 0) return;
    std::vector<int> path(static_cast<size_t>(tableCount_), 0);
    // Depth-first, children in order, without recursion.
    TTT_node* n = root_->firstChild;
    while (n) {
        if (n->depth < tableCount_) path[static_cast<size_t>(n->depth)] = n->key;
        if (n->firstChild && n->depth + 1 < tableCount_) {
            n = n->firstChild;
            continue;
        }
        if (!n->firstChild && n->depth == tableCount_ - 1) {
            if (grid.capacity() - grid.size() < path.size()) {
                // Grow by doubling as insert would, but charge first.
                const size_t capacity = std::max(grid.capacity() * 2, grid.size() + path.size());
                if (list_.charge)
                    list_.charge->Add(
                        static_cast<int64_t>((capacity - grid.capacity()) * sizeof(int)));
                grid.reserve(capacity);
            }
            grid.insert(grid.end(), path.begin(), path.end());
        }
        while (n && !n->nextSibling) {
            n = n->parent;
            if (n == root_) n = nullptr;
        }
        if (n) n = n->nextSibling;
    }
}

// ---- TFilterObject ----------------------------------------------------------------

TFilterObject::TFilterObject(TFromClause& from, int fromIndex, std::vector<TBoolNode*> filters)
    : from_(from), fromIndex_(fromIndex), filters_(std::move(filters)) {
    for (const TBoolNode* f : filters_)
        CollectReads(f);
}

void TFilterObject::CollectReads(const TBoolNode* chain) {
    std::function<void(const TROperandDef*)> operand = [&](const TROperandDef* op) {
        if (!op) return;
        for (const auto& item : op->list)
            operand(item.get());
        if (op->kind == okConstant || op->kind == okParameter) return;
        if (op->kind == okColumn && op->ref.tableIndex != fromIndex_) return;
        if (op->kind == okColumn && op->ref.fieldIndex >= 0 && op->ref.fieldIndex < 64)
            reads_ |= uint64_t{1} << op->ref.fieldIndex;
        else
            readsUnknown_ = true;
    };
    for (const TBoolNode* n = chain; n; n = n->next.get()) {
        if (n->relation) {
            operand(n->relation->left.get());
            operand(n->relation->right.get());
            operand(n->relation->upper.get());
        } else if (n->group) {
            for (int i = 0; i < n->group->Count(); ++i)
                CollectReads(n->group->Item(i));
        }
    }
}

bool TFilterObject::Reads(int fieldIndex) {
    if (readsUnknown_ || fieldIndex < 0 || fieldIndex >= 64) return true;
    return (reads_ >> fieldIndex) & 1;
}

bool TFilterObject::OperandKnown(const TROperandDef* op, uint64_t known) const {
    if (!op) return true;
    for (const auto& item : op->list)
        if (!OperandKnown(item.get(), known)) return false;
    switch (op->kind) {
        case okConstant:
        case okParameter:
            return true;
        case okColumn:
            return op->ref.tableIndex == fromIndex_ && op->ref.fieldIndex >= 0 &&
                   op->ref.fieldIndex < 64 && ((known >> op->ref.fieldIndex) & 1) != 0;
        default:
            return false;  // a computed expression may read anything
    }
}

TFilterObject::TTri TFilterObject::DecideTerm(TBoolNode& node, uint64_t known) {
    TTri term = TTri::True;
    if (node.isLiteral) {
        term = node.literal ? TTri::True : TTri::False;
    } else if (node.relation) {
        TRelaSimpleExpr& r = *node.relation;
        if (!OperandKnown(r.left.get(), known) || !OperandKnown(r.right.get(), known) ||
            !OperandKnown(r.upper.get(), known))
            return TTri::Unknown;
        // An unknown relation is left undecided: the full evaluation then
        // sees it, and counts a row it drops for a fault.
        const int t = r.Evaluate3();
        if (t == kUnknown) return TTri::Unknown;
        term = t == kTrue ? TTri::True : TTri::False;
    } else if (node.group) {
        term = TTri::False;
        for (int i = 0; i < node.group->Count() && term != TTri::True; ++i) {
            const TTri member = DecideChain(node.group->Item(i), known);
            if (member != TTri::False) term = member;  // True ends the loop
        }
    }
    if (node.negated && term != TTri::Unknown) term = term == TTri::True ? TTri::False : TTri::True;
    return term;
}

TFilterObject::TTri TFilterObject::DecideChain(TBoolNode* chain, uint64_t known) {
    TTri all = TTri::True;
    for (TBoolNode* n = chain; n; n = n->next.get()) {
        const TTri term = DecideTerm(*n, known);
        if (term == TTri::False) return TTri::False;
        if (term == TTri::Unknown) all = TTri::Unknown;
    }
    return all;
}

bool TFilterObject::RejectsKnowing(uint64_t knownFields) {
    for (TBoolNode* f : filters_)
        if (DecideChain(f, knownFields) != TTri::False) return false;
    return true;
}

void TFilterObject::SetValue(int fieldIndex, const Variant& value) {
    TARecord& buffer = from_.Buffer(fromIndex_);
    if (fieldIndex >= 0 && static_cast<size_t>(fieldIndex) < buffer.size())
        buffer[static_cast<size_t>(fieldIndex)].Assign(value);
}

Variant TFilterObject::Evaluate() {
    result_.SetBoolean(EvaluateFilters(filters_, from_.Context()));
    return result_;
}

bool EvaluateFilters(const std::vector<TBoolNode*>& filters, const TSqlContext& ctx) {
    if (ctx.faults) ctx.faults->BeginRow();
    bool unknown = false;
    for (TBoolNode* f : filters) {
        const int t = f->Evaluate3();
        if (t == kTrue) return true;
        if (t == kUnknown) unknown = true;
    }
    // Left out because the condition could not be decided, and not only
    // for a null value: the statement says so once.
    if (unknown && ctx.faults && ctx.faults->RowFaulted()) ctx.faults->CountDropped();
    return false;
}

// ---- Extending a tree by one join condition -------------------------------------

// One extension of a match tree by a join condition Q over the tables T.
// The anchor is the bound table of T at the smallest position; B the other
// bound tables of T (ascending); U the tables of T not bound yet.
class TExtension {
  public:
    TExtension(TWhereExecuter& ex, TFromClause& from, TTT_tableList& list, TTT_Tree& tree,
               TBoolNode& condition, const TDsRefList& tables, bool& stop)
        : ex_(ex),
          from_(from),
          list_(list),
          tree_(tree),
          q_(condition),
          stop_(stop),
          indexCharge_(ex.budget_, TMemoryUse::Join) {
        for (int t : tables.Items())
            p_.push_back(list.PositionOf(t));
    }

    // False when no table of T is bound (no anchor).
    bool Run() {
        int anchor = -1;
        for (int p : p_)
            if (list_.At(p).bound && (anchor < 0 || p < anchor)) anchor = p;
        if (anchor < 0) return false;
        for (int p : p_) {
            if (p == anchor) continue;
            if (list_.At(p).bound)
                b_.push_back(p);
            else
                u_.push_back(p);
        }
        std::sort(b_.begin(), b_.end());
        SetUpIndex();
        TTT_Table& at = list_.At(anchor);
        std::vector<TTT_node*> nodes;
        TTT_Row* row = at.First();
        while (row && !stop_) {
            TTT_Row* next = row->next;
            ex_.CheckCancel();
            at.SetCursor(row);
            Position(anchor, row->recNo);
            if (b_.empty()) {
                nodes.clear();
                for (TTT_node* n = row->regFirst; n; n = n->regNext)
                    nodes.push_back(n);
                bool ok = Try(0, nodes);
                if (stop_) break;
                if (!ok) at.DeleteRow(row);
            } else {
                TTT_node* n = row->regLast;
                while (n) {
                    TTT_node* prev = n->regPrev;
                    Check(n, 0);
                    n = prev;
                }
            }
            row = next;
        }
        for (int p : p_)
            list_.At(p).Purge();
        return true;
    }

  private:
    void Position(int pos, int recNo) { from_.PositionAndLoad(list_.At(pos).fromIndex, recNo); }

    bool Try(size_t k, const std::vector<TTT_node*>& nodes) {
        TTT_Table& t = list_.At(u_[k]);
        if (t.rowCount == 0) return false;
        const bool last = k + 1 == u_.size();
        if (last && indexUsable_) {
            bool result;
            if (TryIndexed(t, nodes, result)) return result;
        }
        bool result = false;
        for (TTT_Row* row = t.First(); row; row = row->next) {
            ex_.CheckCancel();
            t.SetCursor(row);
            Position(u_[k], row->recNo);
            if (!last) {
                if (Try(k + 1, nodes)) result = true;
                if (stop_) break;
                continue;
            }
            if (!Holds()) continue;
            result = true;
            recs_.clear();
            for (int p : u_)
                recs_.push_back(list_.At(p).CurrentRecord());
            for (TTT_node* n : nodes)
                Extend(n);
            if (stop_) return result;
        }
        return result;
    }

    // The join condition for the positioned rows; a combination it drops
    // for an unknown value with a fault behind it is counted.
    bool Holds() {
        const TSqlContext& ctx = from_.Context();
        if (ctx.faults) ctx.faults->BeginRow();
        const int t = q_.Evaluate3();
        if (t == kUnknown && ctx.faults && ctx.faults->RowFaulted()) ctx.faults->CountDropped();
        return t == kTrue;
    }

    void Extend(TTT_node* n) {
        ex_.CheckCancel();
        if (n->Position() + 1 == u_[0]) {
            for (int v : recs_) {
                n = tree_.Child(n, v);
                if (!n->row && !tree_.Register(n))
                    throw std::runtime_error(std::string(sqlmsg::RowMissing));
            }
            return;
        }
        for (TTT_node* c = n->firstChild; c; c = c->nextSibling)
            Extend(c);
    }

    bool Check(TTT_node* n, size_t k) {
        ex_.CheckCancel();
        const int pos = n->Position();
        bool result = false;
        if (pos < b_[k]) {
            TTT_node* c = n->lastChild;
            while (c) {
                TTT_node* prev = c->prevSibling;
                if (Check(c, k)) result = true;
                c = prev;
            }
            return result;
        }
        Position(b_[k], n->key);
        if (k + 1 == b_.size()) {
            if (u_.empty()) {
                result = Holds();
            } else {
                std::vector<TTT_node*> one{n};
                result = Try(0, one);
            }
            if (!result) list_.ReleaseNode(n);
            return result;
        }
        TTT_node* c = n->lastChild;
        while (c) {
            TTT_node* prev = c->prevSibling;
            if (Check(c, k + 1)) result = true;
            c = prev;
        }
        return result;
    }

    // ---- the equality index ----

    // An exact key for a value: kind class (0 empty/null, 1 text, 2
    // integer, 3 boolean, 4 double or date-time) and bytes. False for NaN,
    // which equals nothing.
    static bool KeyOf(const Variant& v, std::string& key, int& cls) {
        key.clear();
        switch (v.type()) {
            case VarType::Empty:
                key = "E";
                cls = 0;
                return true;
            case VarType::Null:
                key = "N";
                cls = 0;
                return true;
            case VarType::String:
                key.push_back('S');
                key += v.RawString();
                cls = 1;
                return true;
            case VarType::Integer: {
                int64_t i = v.RawInteger();
                key.push_back('I');
                key.append(reinterpret_cast<const char*>(&i), sizeof i);
                cls = 2;
                return true;
            }
            case VarType::Boolean:
                key.push_back('B');
                key.push_back(v.RawBoolean() ? '1' : '0');
                cls = 3;
                return true;
            case VarType::Double:
            case VarType::Date: {
                double d = v.RawDouble();
                if (std::isnan(d)) return false;
                if (d == 0) d = 0;
                key.push_back('D');
                key.append(reinterpret_cast<const char*>(&d), sizeof d);
                cls = 4;
                return true;
            }
        }
        return false;
    }

    // Q qualifies when it is a plain "=" between a column of the single new
    // table and a column of a table already positioned when Q is tried.
    void SetUpIndex() {
        indexUsable_ = false;
        if (u_.size() != 1 || q_.negated || q_.isLiteral || q_.group || !q_.relation) return;
        TRelaSimpleExpr& r = *q_.relation;
        if (r.op != roEqual || r.left->kind != okColumn || r.right->kind != okColumn) return;
        const int newTable = list_.At(u_[0]).fromIndex;
        const TROperandDef* mine = nullptr;
        const TROperandDef* other = nullptr;
        if (r.left->ref.tableIndex == newTable && r.right->ref.tableIndex != newTable) {
            mine = r.left.get();
            other = r.right.get();
        } else if (r.right->ref.tableIndex == newTable && r.left->ref.tableIndex != newTable) {
            mine = r.right.get();
            other = r.left.get();
        } else {
            return;
        }
        if (other->ref.tableIndex < 0 || mine->ref.fieldIndex < 0) return;
        probe_ = other;
        newField_ = mine->ref.fieldIndex;
        indexUsable_ = true;
        indexBuilt_ = false;
    }

    void BuildIndex(TTT_Table& t) {
        indexBuilt_ = true;
        index_.clear();
        indexCharge_.Clear();
        kindClass_ = -1;
        IXSimpleDataset& ds = *from_.Table(t.fromIndex).dataset;
        Variant v;
        std::string key;
        for (TTT_Row* row = t.First(); row; row = row->next) {
            ex_.CheckCancel();
            ds.SetRecNo(row->recNo);
            v.Clear();
            ds.GetFieldValue(newField_, v);
            int cls;
            if (!KeyOf(v, key, cls)) continue;
            indexCharge_.Add(static_cast<int64_t>(sizeof(TTT_Row*)));
            if (cls != 0) {
                if (kindClass_ < 0) {
                    kindClass_ = cls;
                } else if (kindClass_ != cls) {
                    // Mixed kinds: equality needs conversions; walk instead.
                    indexUsable_ = false;
                    index_.clear();
                    indexCharge_.Clear();
                    return;
                }
            }
            auto [slot, added] = index_.try_emplace(key);
            if (added) indexCharge_.Add(IndexEntryBytes(key.size()));
            slot->second.push_back(row);
        }
    }

    // True when the index answered; result then says whether any row matched.
    bool TryIndexed(TTT_Table& t, const std::vector<TTT_node*>& nodes, bool& result) {
        if (!indexBuilt_) BuildIndex(t);
        if (!indexUsable_) return false;
        const Variant& v = const_cast<TROperandDef*>(probe_)->Evaluate();
        int cls;
        result = false;
        if (!KeyOf(v, probeKey_, cls)) return true;                          // NaN equals nothing
        if (cls != 0 && kindClass_ >= 0 && cls != kindClass_) return false;  // needs conversions
        auto it = index_.find(probeKey_);
        if (it == index_.end()) return true;
        for (TTT_Row* row : it->second) {
            ex_.CheckCancel();
            t.SetCursor(row);
            result = true;
            recs_.clear();
            recs_.push_back(row->recNo);
            for (TTT_node* n : nodes)
                Extend(n);
            if (stop_) return true;
        }
        return true;
    }

    TWhereExecuter& ex_;
    TFromClause& from_;
    TTT_tableList& list_;
    TTT_Tree& tree_;
    TBoolNode& q_;
    bool& stop_;
    std::vector<int> p_, b_, u_;
    std::vector<int> recs_;
    bool indexUsable_ = false;
    bool indexBuilt_ = false;
    const TROperandDef* probe_ = nullptr;
    int newField_ = -1;
    int kindClass_ = -1;
    std::unordered_map<std::string, std::vector<TTT_Row*>> index_;
    TMemoryCharge indexCharge_;  // what index_ holds
    std::string probeKey_;
};

// ---- TWhereExecuter ------------------------------------------------------------

TWhereExecuter::TWhereExecuter(TFromClause& from, TWhrObj* where) : from_(from), where_(where) {}

TWhereExecuter::~TWhereExecuter() = default;

void TWhereExecuter::CheckCancel() {
    if (!progress_ || (++tick_ & 63u) != 0) return;
    // Each check is one combination tried (or one tree node visited):
    // close enough for a count that shows a long join is moving.
    if (joining_) progress_->Joining(joinSteps_ += 64);
    if (progress_->Cancelled()) throw QueryCancelledError();
}

void TWhereExecuter::Run() {
    stop_ = false;
    emitted_.clear();
    emittedCharge_ = std::make_unique<TMemoryCharge>(budget_, TMemoryUse::Join);
    rowVector_.assign(static_cast<size_t>(from_.Count()), 0);
    if (!where_ || where_->BranchCount() == 0) {
        FullWalk();
        return;
    }
    std::vector<TBranchState> states;
    const TVerdict verdict = where_->Verdict(states);
    if (verdict == TVerdict::vdNone) return;
    if (verdict == TVerdict::vdAll || from_.Count() == 0) {
        FullWalk();
        return;
    }
    std::vector<int> branches;
    for (int b = 0; b < where_->BranchCount(); ++b)
        if (states[static_cast<size_t>(b)] == TBranchState::bsEvaluate) branches.push_back(b);
    LoadTables(branches);
    dedupe_ = branches.size() > 1;
    for (int b : branches) {
        if (stop_) break;
        AnswerBranch(where_->Branch(b), branches.size() > 1);
    }
    emitted_.clear();
    emittedCharge_->Clear();
}

void TWhereExecuter::FullWalk() {
    if (!OnBufferedRow) return;
    // A statement without tables has one row: its items evaluated once.
    if (from_.Count() == 0) {
        OnBufferedRow(stop_);
        return;
    }
    for (int t = 0; t < from_.Count(); ++t) {
        IXSimpleDataset& ds = *from_.Table(t).dataset;
        {
            ds.SetProgress(progress_);
            ds.SetUsedFields(from_.UsedFields(t));
            const TScopeExit noProgress([&ds] {
                ds.SetProgress(nullptr);
                ds.SetUsedFields({});
            });
            if (!ds.Active()) ds.Open();
        }
        if (progress_ && progress_->Cancelled()) throw QueryCancelledError();
    }
    joining_ = from_.Count() > 1;
    WalkLevel(0);
    for (int t = 0; t < from_.Count(); ++t)
        from_.Table(t).dataset->Close();
}

void TWhereExecuter::WalkLevel(int level) {
    IXSimpleDataset& ds = *from_.Table(level).dataset;
    if (ds.GetRecordCount() == 0) return;
    const bool last = level + 1 == from_.Count();
    for (ds.First(); !ds.Eof(); ds.Next()) {
        CheckCancel();
        from_.LoadRow(level);
        if (last)
            OnBufferedRow(stop_);
        else
            WalkLevel(level + 1);
        if (stop_) return;
    }
}

void TWhereExecuter::LoadTables(const std::vector<int>& branches) {
    const int n = from_.Count();
    loaded_.assign(static_cast<size_t>(n), {});
    for (int t = 0; t < n; ++t) {
        // One branch: its filter goes into the load as it is. Several: the
        // load keeps what any branch's filter accepts (or everything when
        // some branch has no filter for the table), and every branch tests
        // its own filter on the kept records. Record numbers then mean the
        // same in every branch.
        std::vector<TBoolNode*> filters;
        bool everyBranch = true;
        for (int b : branches) {
            TBoolNode* f = where_->Branch(b).filters[static_cast<size_t>(t)].get();
            if (f)
                filters.push_back(f);
            else
                everyBranch = false;
        }
        if (!everyBranch) filters.clear();
        IXSimpleDataset& ds = *from_.Table(t).dataset;
        std::vector<TBoolNode*> inEngine;
        {
            ds.SetProgress(progress_);
            ds.SetUsedFields(from_.UsedFields(t));
            const TScopeExit noProgress([&ds] {
                ds.SetProgress(nullptr);
                ds.SetUsedFields({});
            });
            if (ds.CanFilter()) {
                ds.Close();
                if (!filters.empty()) {
                    TFilterObject filter(from_, t, filters);
                    ds.SetFilter(&filter);
                    const TScopeExit noFilter([&ds] { ds.SetFilter(nullptr); });
                    ds.Open();
                } else {
                    ds.Open();
                }
            } else {
                if (!ds.Active()) ds.Open();
                inEngine = filters;
            }
        }
        if (progress_ && progress_->Cancelled()) throw QueryCancelledError();
        std::vector<int>& out = loaded_[static_cast<size_t>(t)];
        if (ds.GetRecordCount() == 0) continue;
        out.reserve(static_cast<size_t>(ds.GetRecordCount()));
        for (ds.First(); !ds.Eof(); ds.Next()) {
            CheckCancel();
            if (!inEngine.empty()) {
                from_.LoadRow(t);
                if (!EvaluateFilters(inEngine, from_.Context())) continue;
            }
            out.push_back(ds.GetRecNo());
        }
    }
}

void TWhereExecuter::AnswerBranch(TwhrItem& branch, bool several) {
    const int n = from_.Count();
    // Candidate records per FROM table.
    std::vector<std::vector<int>> own(static_cast<size_t>(n));
    std::vector<std::vector<int>> cands(static_cast<size_t>(n));
    for (int t = 0; t < n; ++t) {
        TBoolNode* f = branch.filters[static_cast<size_t>(t)].get();
        const std::vector<int>& loaded = loaded_[static_cast<size_t>(t)];
        if (several && f) {
            for (int rec : loaded) {
                CheckCancel();
                from_.PositionAndLoad(t, rec);
                if (f->Evaluate()) cands[static_cast<size_t>(t)].push_back(rec);
            }
        } else {
            cands[static_cast<size_t>(t)] = loaded;
        }
        if (cands[static_cast<size_t>(t)].empty()) return;
    }

    joining_ = n > 1;
    // Declared before the list: the nodes are released before the charge.
    TMemoryCharge charge(budget_, TMemoryUse::Join);
    TTT_tableList list(n);
    list.nodeLimit = nodeLimit_;
    list.charge = &charge;
    std::vector<std::unique_ptr<TTT_Tree>> trees;
    auto debug = [&] {
        if (OnDebug) OnDebug(TDebugObject{&trees, &list});
    };
    try {
        std::vector<int> weights;
        for (TJoinInfo& j : branch.joins) {
            uint32_t w = static_cast<uint32_t>(j.condition->Cost() + j.condition->ChainCost());
            for (int t : j.tables.Items())
                w *= static_cast<uint32_t>(cands[static_cast<size_t>(t)].size());
            weights.push_back(static_cast<int>(w));
        }
        std::vector<TJoinInfoTeam> clusters = branch.PlanJoins(weights);
        list.Reorder(branch, clusters);
        for (int pos = 0; pos < list.JoinTableCount(); ++pos) {
            TTT_Table& t = list.At(pos);
            for (int rec : cands[static_cast<size_t>(t.fromIndex)])
                t.AppendRow(rec);
            t.SetCursor(nullptr);
        }
        for (const TJoinInfoTeam& team : clusters) {
            const TJoinInfo& firstJoin = branch.joins[static_cast<size_t>(team.members.front())];
            const int rootPos = list.PositionOf(firstJoin.tables[0]);
            auto& tree = trees.emplace_back(
                std::make_unique<TTT_Tree>(list, rootPos, branch.ClusterTableCount(team)));
            if (list.At(rootPos).rowCount == 0) {
                debug();
                return;
            }
            tree->Seed();
            for (int m : team.members) {
                TJoinInfo& j = branch.joins[static_cast<size_t>(m)];
                TExtension ext(*this, from_, list, *tree, *j.condition, j.tables, stop_);
                // The planner orders a cluster so that its first join holds
                // the root table (bound by Seed) and every later one shares
                // a table with an earlier one (bound by that extension): a
                // join without a bound table is a broken plan, not a
                // property of the data.
                if (!ext.Run()) throw std::logic_error(std::string(sqlmsg::NoAnchorTable));
            }
        }
        Enumerate(trees, list, cands);
    } catch (...) {
        debug();
        list.treesAlive = false;
        throw;
    }
    debug();
    list.treesAlive = false;
}

void TWhereExecuter::Enumerate(std::vector<std::unique_ptr<TTT_Tree>>& trees, TTT_tableList& list,
                               const std::vector<std::vector<int>>& cands) {
    const int tableCount = list.Count();
    const int jc = list.JoinTableCount();
    if (trees.empty() && jc >= tableCount) return;
    std::vector<std::vector<int>> grids(trees.size());
    std::vector<size_t> dims;
    for (size_t i = 0; i < trees.size(); ++i) {
        trees[i]->Paths(grids[i]);
        const size_t width = static_cast<size_t>(std::max(1, trees[i]->TableCount()));
        const size_t rows = grids[i].size() / width;
        if (rows == 0) return;
        dims.push_back(rows);
    }
    for (int pos = jc; pos < tableCount; ++pos) {
        const size_t count = cands[static_cast<size_t>(list.At(pos).fromIndex)].size();
        if (count == 0) return;
        dims.push_back(count);
    }
    std::vector<size_t> idx(dims.size(), 0);
    std::vector<int> byPosition(static_cast<size_t>(tableCount), 0);
    while (true) {
        CheckCancel();
        for (size_t i = 0; i < trees.size(); ++i) {
            const int width = trees[i]->TableCount();
            const int start = trees[i]->RootPosition();
            const int* path = grids[i].data() + idx[i] * static_cast<size_t>(width);
            for (int d = 0; d < width; ++d)
                byPosition[static_cast<size_t>(start + d)] = path[d];
        }
        for (int pos = jc; pos < tableCount; ++pos) {
            const size_t d = trees.size() + static_cast<size_t>(pos - jc);
            byPosition[static_cast<size_t>(pos)] =
                cands[static_cast<size_t>(list.At(pos).fromIndex)][idx[d]];
        }
        Emit(byPosition, list);
        if (stop_) return;
        size_t d = dims.size();
        while (d > 0) {
            --d;
            if (++idx[d] < dims[d]) break;
            idx[d] = 0;
            if (d == 0) return;
        }
        if (dims.empty()) return;
    }
}

void TWhereExecuter::Emit(const std::vector<int>& byPosition, TTT_tableList& list) {
    for (int pos = 0; pos < list.Count(); ++pos)
        rowVector_[static_cast<size_t>(list.At(pos).fromIndex)] =
            byPosition[static_cast<size_t>(pos)];
    if (dedupe_) {
        keyScratch_.assign(reinterpret_cast<const char*>(rowVector_.data()),
                           rowVector_.size() * sizeof(int));
        if (!emitted_.insert(keyScratch_).second) return;
        emittedCharge_->Add(EmittedEntryBytes(keyScratch_.size()));
    }
    if (OnRow) OnRow(stop_, rowVector_);
}

}  // namespace corvane
