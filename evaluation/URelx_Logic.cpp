#include "evaluation/URelx_Logic.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "platform/Text.h"
#include "script/common/ULike.h"
#include "script/common/URegexp.h"
#include "script/common/U_err.h"
#include "script/runtime/u_base_funcs.h"

namespace corvane {

namespace {

// A text form of v in out (no copy for a text).
const std::string& TextOf(const Variant& v, std::string& out) {
    if (v.type() == VarType::String) return v.RawString();
    out.clear();
    v.AppendString(out);
    return out;
}

int Not3(int t) {
    return t == kUnknown ? kUnknown : (t == kTrue ? kFalse : kTrue);
}

int Truth(const Variant& v) {
    if (SqlIsNull(v)) return kUnknown;
    return v.type() == VarType::Boolean ? (v.RawBoolean() ? kTrue : kFalse) : kUnknown;
}

}  // namespace

// ---- Comparison -------------------------------------------------------------

bool TryOrderCompare(const Variant& a, const Variant& b, int& r) noexcept {
    r = SqlOrderCompare(a, b);
    return true;
}

int OrderCompare(const Variant& a, const Variant& b) {
    return SqlOrderCompare(a, b);
}

// ---- TDsRefList -------------------------------------------------------------

void TDsRefList::Add(int index) {
    if (!Contains(index)) items_.push_back(index);
}

bool TDsRefList::Contains(int index) const {
    return std::find(items_.begin(), items_.end(), index) != items_.end();
}

void TDsRefList::SortAscending() {
    std::stable_sort(items_.begin(), items_.end());
}

// ---- TRelaSimpleExpr ---------------------------------------------------------

TRelaSimpleExpr::TRelaSimpleExpr()
    : left(std::make_unique<TROperandDef>()), right(std::make_unique<TROperandDef>()) {}

TRelaSimpleExpr::~TRelaSimpleExpr() = default;

const TSqlContext& TRelaSimpleExpr::Context() const {
    static const TSqlContext none;
    for (const TROperandDef* o : {left.get(), right.get()})
        if (o && o->source) return o->source->Context();
    return none;
}

int TRelaSimpleExpr::InList(const Variant& v, const TSqlContext& ctx) {
    const auto& items = right->list;
    if (!setsBuilt_) {
        // A long list of constants is looked up by kind: texts by their
        // bytes, integers and reals by value. Anything else (booleans,
        // date-times, items computed per row) is compared one by one.
        setsBuilt_ = true;
        useSets_ = items.size() > 16;
        textItems_.clear();
        integerItems_.clear();
        realItems_.clear();
        otherItems_.clear();
        nullItem_ = false;
        for (const auto& item : items) {
            if (!useSets_ || item->kind != okConstant) {
                otherItems_.push_back(item.get());
                continue;
            }
            const Variant& c = item->value;
            switch (c.type()) {
                case VarType::String:
                    textItems_.insert(c.RawString());
                    break;
                case VarType::Integer:
                    integerItems_.insert(c.RawInteger());
                    break;
                case VarType::Double:
                    realItems_.insert(c.RawDouble() == 0 ? 0.0 : c.RawDouble());
                    break;
                case VarType::Empty:
                case VarType::Null:
                    nullItem_ = true;
                    break;
                default:
                    otherItems_.push_back(item.get());
                    break;
            }
        }
    }
    if (SqlIsNull(v)) return kUnknown;
    bool unknown = nullItem_;
    if (useSets_) {
        // A value meets the items of its own kind in the sets; the items of
        // the other kinds still compare as "=" would (a number against a
        // text that holds one).
        bool crossKinds = false;
        switch (v.type()) {
            case VarType::String:
                if (textItems_.count(v.RawString())) return kTrue;
                crossKinds = !integerItems_.empty() || !realItems_.empty();
                break;
            case VarType::Integer: {
                const int64_t i = v.RawInteger();
                if (integerItems_.count(i)) return kTrue;
                const double d = static_cast<double>(i);
                if (static_cast<int64_t>(d) == i && realItems_.count(d)) return kTrue;
                crossKinds = !textItems_.empty();
                break;
            }
            case VarType::Double: {
                const double d = v.RawDouble() == 0 ? 0.0 : v.RawDouble();
                if (realItems_.count(d)) return kTrue;
                if (d >= -9.2e18 && d <= 9.2e18 && d == std::floor(d) &&
                    integerItems_.count(static_cast<int64_t>(d)))
                    return kTrue;
                crossKinds = !textItems_.empty();
                break;
            }
            default:
                crossKinds = true;
                break;
        }
        if (crossKinds) {
            for (const auto& item : right->list) {
                if (item->kind != okConstant) continue;
                const TSqlOrder o = SqlCompare(v, item->value, ctx);
                if (o == TSqlOrder::Equal) return kTrue;
                if (o == TSqlOrder::Unknown) unknown = true;
            }
        }
    }
    for (const TROperandDef* item : otherItems_) {
        const TSqlOrder o = SqlCompare(v, const_cast<TROperandDef*>(item)->Evaluate(), ctx);
        if (o == TSqlOrder::Equal) return kTrue;
        if (o == TSqlOrder::Unknown) unknown = true;
    }
    return unknown ? kUnknown : kFalse;
}

int TRelaSimpleExpr::Evaluate3() {
    const TSqlContext& ctx = Context();
    try {
        const Variant& l = left->Evaluate();
        switch (op) {
            case roTruth:
                return SqlTruthOf(l, ctx);
            case roIsNull:
                return SqlIsNull(l) ? kTrue : kFalse;
            case roIn:
                return InList(l, ctx);
            case roNone:
                return kFalse;
            default:
                break;
        }
        if (SqlIsNull(l) && op != roIs && op != roIsNot) return kUnknown;
        // A column's value is the row buffer's slot; the right operand may
        // be a program that reuses its own result, so l stays valid.
        const Variant& r = right->Evaluate();
        switch (op) {
            case roBetween: {
                const Variant& hi = upper ? upper->Evaluate() : r;
                const TSqlOrder lo = SqlCompare(l, r, ctx);
                const TSqlOrder up = SqlCompare(l, hi, ctx);
                const int a =
                    lo == TSqlOrder::Unknown ? kUnknown : (lo != TSqlOrder::Less ? kTrue : kFalse);
                const int b = up == TSqlOrder::Unknown
                                  ? kUnknown
                                  : (up != TSqlOrder::Greater ? kTrue : kFalse);
                if (a == kFalse || b == kFalse) return kFalse;
                return a == kUnknown || b == kUnknown ? kUnknown : kTrue;
            }
            case roIs:
            case roIsNot: {
                Variant out;
                SqlBinary(op == roIs ? soIs : soIsNot, l, r, out, ctx);
                return Truth(out);
            }
            case roLike:
            case roILike: {
                if (SqlIsNull(r)) return kUnknown;
                const std::string& text = TextOf(l, scratch_);
                const std::string& pattern = TextOf(r, scratch2_);
                if (op == roLike) return LikeMatch(text, pattern) ? kTrue : kFalse;
                std::string a(text), b(pattern);
                for (char& c : a)
                    c = LowerAscii(c);
                for (char& c : b)
                    c = LowerAscii(c);
                return LikeMatch(a, b) ? kTrue : kFalse;
            }
            case roRegexp:
            case roNotRegexp: {
                if (SqlIsNull(r)) return kUnknown;
                const std::string& text = TextOf(l, scratch_);
                const TRegexp* re = regexp.get();
                std::shared_ptr<const TRegexp> computed;
                if (!re) {
                    // A pattern that is not a constant: compiled when first
                    // met (CachedRegexp); one that does not compile leaves
                    // the relation unknown for the row, with RE2's reason.
                    std::string error;
                    const std::string& pattern = TextOf(r, scratch2_);
                    computed = CachedRegexp(pattern, error);
                    if (!computed) {
                        ctx.Fault(FormatMsg(kMsgRegexpInvalid, pattern) + error);
                        return kUnknown;
                    }
                    re = computed.get();
                }
                return re->Search(text) == (op == roRegexp) ? kTrue : kFalse;
            }
            default:
                break;
        }
        const TSqlOrder c = SqlCompare(l, r, ctx);
        if (c == TSqlOrder::Unknown) return kUnknown;
        switch (op) {
            case roEqual:
                return c == TSqlOrder::Equal ? kTrue : kFalse;
            case roNotEqual:
                return c != TSqlOrder::Equal ? kTrue : kFalse;
            case roGreater:
                return c == TSqlOrder::Greater ? kTrue : kFalse;
            case roGreaterEqual:
                return c != TSqlOrder::Less ? kTrue : kFalse;
            case roLess:
                return c == TSqlOrder::Less ? kTrue : kFalse;
            case roLessEqual:
                return c != TSqlOrder::Greater ? kTrue : kFalse;
            default:
                return kFalse;
        }
    } catch (const QueryCancelledError&) {
        throw;
    } catch (const std::exception& e) {
        // A fault of an operand (an overflow, a division by zero) leaves the
        // relation unknown for this row, with the fault as the reason; a
        // cancelled query stops.
        if (left && left->source && left->source->Cancelled()) throw;
        ctx.Fault(e.what());
        return kUnknown;
    }
}

int TRelaSimpleExpr::Cost() const {
    int c = left->Cost() + right->Cost();
    if (op == roBetween && upper) c += upper->Cost();
    if (op == roIn) c += 10;
    if (op == roLike || op == roRegexp || op == roNotRegexp) c += 20;
    return c;
}

bool TRelaSimpleExpr::PrepareRegexp(std::string& error) {
    regexp.reset();
    error.clear();
    if ((op != roRegexp && op != roNotRegexp) || !right || right->kind != okConstant ||
        SqlIsNull(right->value))
        return true;
    regexp = TRegexp::Compile(SqlText(right->value), error);
    return regexp != nullptr;
}

static void AddOperandTables(const TROperandDef& op, TDsRefList& out) {
    for (const TOperandRef& r : op.Reads())
        if (r.tableIndex >= 0) out.Add(r.tableIndex);
    for (const auto& item : op.list)
        AddOperandTables(*item, out);
}

void TRelaSimpleExpr::CollectTables() {
    tables.Clear();
    for (const TROperandDef* o : {left.get(), right.get(), upper.get()})
        if (o) AddOperandTables(*o, tables);
}

void TRelaSimpleExpr::CopyFrom(const TRelaSimpleExpr& other) {
    op = other.op;
    if (other.left) {
        if (!left) left = std::make_unique<TROperandDef>();
        left->CopyFrom(*other.left);
    }
    if (other.right) {
        if (!right) right = std::make_unique<TROperandDef>();
        right->CopyFrom(*other.right);
    }
    if (other.upper) {
        if (!upper) upper = std::make_unique<TROperandDef>();
        upper->CopyFrom(*other.upper);
    }
    text = other.text;
    tables = other.tables;
    regexp = other.regexp;
    setsBuilt_ = false;
}

// ---- TBoolNode ---------------------------------------------------------------

TBoolNode::TBoolNode() = default;

TBoolNode::~TBoolNode() {
    std::unique_ptr<TBoolNode> p = std::move(next);
    while (p) {
        std::unique_ptr<TBoolNode> q = std::move(p->next);
        p.reset();
        p = std::move(q);
    }
}

int TBoolNode::EvaluateTerm3() {
    int term = kTrue;
    if (isLiteral)
        term = literal ? kTrue : kFalse;
    else if (relation)
        term = relation->Evaluate3();
    else if (group)
        term = group->Evaluate3();
    return negated ? Not3(term) : term;
}

int TBoolNode::Evaluate3() {
    int all = kTrue;
    for (TBoolNode* n = this; n; n = n->next.get()) {
        const int t = n->EvaluateTerm3();
        if (t == kFalse) return kFalse;
        if (t == kUnknown) all = kUnknown;
    }
    return all;
}

bool TRelaSimpleExpr::ReadsContent() const {
    for (const TROperandDef* o : {left.get(), right.get(), upper.get()}) {
        if (!o) continue;
        if (o->readsContent) return true;
        for (const auto& item : o->list)
            if (item->readsContent) return true;
    }
    return false;
}

bool TBoolNode::ReadsContent() const {
    if (relation) return relation->ReadsContent();
    if (!group) return false;
    for (int i = 0; i < group->Count(); ++i)
        for (const TBoolNode* n = group->Item(i); n; n = n->next.get())
            if (n->ReadsContent()) return true;
    return false;
}

int TBoolNode::Cost() {
    if (cost >= 0) return cost;
    int c = 0;
    if (relation) {
        c = relation->Cost();
    } else if (group) {
        int sum = 0;
        for (int i = 0; i < group->Count(); ++i)
            sum += group->Item(i)->ChainCost();
        c = sum / 2;
    }
    cost = c;
    return cost;
}

int TBoolNode::ChainCost() {
    if (chainCost < 0) {
        // From the end of the chain backwards, so long chains need no deep
        // recursion.
        std::vector<TBoolNode*> chain;
        for (TBoolNode* n = this; n; n = n->next.get())
            chain.push_back(n);
        int rest = 0;
        for (size_t i = chain.size(); i-- > 0;) {
            TBoolNode* n = chain[i];
            if (n->chainCost < 0) n->chainCost = rest;
            rest = n->cost / 2 + n->chainCost;
        }
    }
    return cost / 2 + chainCost;
}

TBoolNode* TBoolNode::Last() {
    TBoolNode* n = this;
    while (n->next)
        n = n->next.get();
    return n;
}

void TBoolNode::CopyFrom(const TBoolNode& src, bool withChain) {
    TBoolNode* dst = this;
    const TBoolNode* s = &src;
    while (true) {
        if (s->relation) {
            if (!dst->relation) dst->relation = std::make_unique<TRelaSimpleExpr>();
            dst->relation->CopyFrom(*s->relation);
        }
        if (s->group) {
            dst->group = std::make_unique<TOrNodeList>();
            for (int i = 0; i < s->group->Count(); ++i) {
                auto copy = std::make_unique<TBoolNode>();
                copy->CopyFrom(*s->group->Item(i), true);
                dst->group->Add(std::move(copy));
            }
        }
        dst->negated = s->negated;
        dst->cost = s->cost;
        dst->chainCost = s->chainCost;
        dst->literal = s->literal;
        dst->isLiteral = s->isLiteral;
        if (!withChain || !s->next) break;
        if (!dst->next) dst->next = std::make_unique<TBoolNode>();
        dst = dst->next.get();
        s = s->next.get();
    }
}

void TBoolNode::CollectNodeTables(TDsRefList& out) const {
    if (relation) {
        for (int t : relation->tables.Items())
            out.Add(t);
    } else if (group) {
        for (int i = 0; i < group->Count(); ++i)
            for (const TBoolNode* n = group->Item(i); n; n = n->next.get())
                n->CollectNodeTables(out);
    }
}

// ---- TOrNodeList -------------------------------------------------------------

void TOrNodeList::Insert(int index, std::unique_ptr<TBoolNode> node) {
    items_.insert(items_.begin() + index, std::move(node));
}

std::unique_ptr<TBoolNode> TOrNodeList::Take(int index) {
    std::unique_ptr<TBoolNode> node = std::move(items_[static_cast<size_t>(index)]);
    items_.erase(items_.begin() + index);
    return node;
}

int TOrNodeList::Evaluate3() {
    int any = kFalse;
    for (auto& item : items_) {
        const int t = item->Evaluate3();
        if (t == kTrue) return kTrue;
        if (t == kUnknown) any = kUnknown;
    }
    return any;
}

// ---- Normalize ---------------------------------------------------------------

namespace {

// Collapse: a node that is not negated and whose group holds exactly one
// entry is replaced by that entry's chain. The rest of a chain is processed
// before the node that precedes it; spliced-in chains are not revisited.
//   slot: the owner of the chain's head (a group entry or a node's next).
void CollapseChain(std::unique_ptr<TBoolNode>& head) {
    std::vector<std::unique_ptr<TBoolNode>*> slots;
    for (std::unique_ptr<TBoolNode>* s = &head; *s; s = &(*s)->next)
        slots.push_back(s);
    for (size_t i = slots.size(); i-- > 0;) {
        std::unique_ptr<TBoolNode>& slot = *slots[i];
        TBoolNode* node = slot.get();
        if (node->negated || !node->group || node->group->Count() != 1) continue;
        std::unique_ptr<TBoolNode> entry = node->group->Take(0);
        std::unique_ptr<TBoolNode> rest = std::move(node->next);
        entry->Last()->next = std::move(rest);
        slot = std::move(entry);  // releases the node and its empty group
    }
}

void Lift(TOrNodeList& group) {
    for (int i = group.Count() - 1; i >= 0; --i) {
        TBoolNode* entry = group.Item(i);
        if (!entry->group) continue;
        Lift(*entry->group);
        if (entry->negated || entry->next) continue;
        bool single = true;
        for (int k = 0; k < entry->group->Count(); ++k)
            if (entry->group->Item(k)->next) single = false;
        if (!single) continue;
        while (entry->group->Count() > 0)
            group.Add(entry->group->Take(0));
        group.Remove(i);
    }
}

}  // namespace

void Normalize(TOrNodeList& group) {
    // Bottom-up: every entry's own group first.
    for (int i = 0; i < group.Count(); ++i)
        if (group.Item(i)->group) Normalize(*group.Item(i)->group);
    for (int i = 0; i < group.Count(); ++i)
        CollapseChain(group.Slot(i));
    Lift(group);
}

// ---- TwhrItem / TWhrObj -----------------------------------------------------

void TWhrObj::Build(const TOrNodeList& group, int tableCount) {
    branches_.clear();
    tableCount_ = tableCount;
    for (int i = 0; i < group.Count(); ++i) {
        auto item = std::make_unique<TwhrItem>();
        item->filters.resize(static_cast<size_t>(tableCount));
        // The current last node of every chain, so that long chains are
        // built in linear time.
        std::vector<TBoolNode*> filterTails(static_cast<size_t>(tableCount), nullptr);
        TBoolNode* constantTail = nullptr;
        // The cheap conjuncts first, those that read file contents after.
        std::vector<const TBoolNode*> order, costly;
        for (const TBoolNode* n = group.Item(i); n && !n->IsEmpty(); n = n->next.get())
            (n->ReadsContent() ? costly : order).push_back(n);
        order.insert(order.end(), costly.begin(), costly.end());
        for (const TBoolNode* n : order) {
            TDsRefList tables;
            n->CollectNodeTables(tables);
            auto copy = std::make_unique<TBoolNode>();
            copy->CopyFrom(*n, false);
            TBoolNode* added = copy.get();
            if (tables.Count() == 0) {
                if (!constantTail)
                    item->constantPart = std::move(copy);
                else
                    constantTail->next = std::move(copy);
                constantTail = added;
            } else if (tables.Count() == 1) {
                const int t = tables[0];
                if (t < 0 || t >= tableCount) continue;
                TBoolNode*& tail = filterTails[static_cast<size_t>(t)];
                if (!tail)
                    item->filters[static_cast<size_t>(t)] = std::move(copy);
                else
                    tail->next = std::move(copy);
                tail = added;
            } else {
                TJoinInfo join;
                join.tables = tables;
                join.tables.SortAscending();
                join.readsContent = n->ReadsContent();
                join.condition = std::move(copy);
                item->joins.push_back(std::move(join));
            }
        }
        branches_.push_back(std::move(item));
    }
}

TVerdict TWhrObj::Verdict(std::vector<TBranchState>& states) {
    states.assign(branches_.size(), TBranchState::bsEvaluate);
    if (branches_.empty()) return TVerdict::vdAll;
    bool allNever = true;
    for (size_t i = 0; i < branches_.size(); ++i) {
        TBoolNode* c = branches_[i]->constantPart.get();
        if (c && !c->Evaluate())
            states[i] = TBranchState::bsNever;
        else
            allNever = false;
    }
    return allNever ? TVerdict::vdNone : TVerdict::vdSome;
}

std::vector<TJoinInfoTeam> TwhrItem::PlanJoins(const std::vector<int>& weights) const {
    std::vector<TJoinInfoTeam> clusters;
    const int n = static_cast<int>(joins.size());
    if (n == 0) return clusters;
    auto shares = [&](int a, int b) {
        for (int t : joins[static_cast<size_t>(a)].tables.Items())
            if (joins[static_cast<size_t>(b)].tables.Contains(t)) return true;
        return false;
    };
    // Connected sets of join records, members in ascending record order.
    std::vector<bool> taken(static_cast<size_t>(n), false);
    for (int seed = 0; seed < n; ++seed) {
        if (taken[static_cast<size_t>(seed)]) continue;
        TJoinInfoTeam team;
        team.members.push_back(seed);
        taken[static_cast<size_t>(seed)] = true;
        bool added = true;
        while (added) {
            added = false;
            for (int r = seed + 1; r < n; ++r) {
                if (taken[static_cast<size_t>(r)]) continue;
                for (int m : team.members)
                    if (shares(r, m)) {
                        team.members.push_back(r);
                        taken[static_cast<size_t>(r)] = true;
                        added = true;
                        break;
                    }
            }
        }
        std::sort(team.members.begin(), team.members.end());
        clusters.push_back(std::move(team));
    }
    auto weightOf = [&](int r) {
        return static_cast<size_t>(r) < weights.size() ? weights[static_cast<size_t>(r)] : 0;
    };
    // Lightest cluster first; equal weights keep their order. Weights add up
    // with 32-bit wrap-around.
    std::vector<std::pair<int, int>> order;  // (cluster, weight)
    for (size_t c = 0; c < clusters.size(); ++c) {
        uint32_t w = 0;
        for (int m : clusters[c].members)
            w += static_cast<uint32_t>(weightOf(m));
        order.emplace_back(static_cast<int>(c), static_cast<int>(w));
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.second < b.second; });
    std::vector<TJoinInfoTeam> sorted;
    for (const auto& [c, w] : order)
        sorted.push_back(std::move(clusters[static_cast<size_t>(c)]));
    // Within a cluster: lightest first, then each next the lightest that
    // shares a table with one already chosen.
    for (TJoinInfoTeam& team : sorted) {
        std::vector<int> pool = team.members;
        auto costly = [&](int r) { return joins[static_cast<size_t>(r)].readsContent; };
        std::stable_sort(pool.begin(), pool.end(), [&](int a, int b) {
            if (costly(a) != costly(b)) return costly(b);
            return weightOf(a) < weightOf(b);
        });
        std::vector<int> chosen;
        chosen.push_back(pool.front());
        pool.erase(pool.begin());
        while (!pool.empty()) {
            size_t pick = 0;
            bool found = false;
            for (size_t i = 0; i < pool.size() && !found; ++i)
                for (int c : chosen)
                    if (shares(pool[i], c)) {
                        pick = i;
                        found = true;
                        break;
                    }
            // A cluster is connected, so some member always shares a table.
            chosen.push_back(pool[pick]);
            pool.erase(pool.begin() + static_cast<long>(pick));
        }
        team.members = std::move(chosen);
    }
    return sorted;
}

int TwhrItem::ClusterTableCount(const TJoinInfoTeam& team) const {
    TDsRefList all;
    for (int m : team.members)
        for (int t : joins[static_cast<size_t>(m)].tables.Items())
            all.Add(t);
    return all.Count();
}

}  // namespace corvane
