#include "evaluation/URelx_Logic.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "script/common/ULike.h"
#include "script/common/URegexp.h"
#include "script/common/U_err.h"

namespace corvane {

namespace {

bool CompareDoubles(double x, double y, int& r) noexcept {
    if (std::isnan(x) || std::isnan(y)) return false;
    r = x < y ? -1 : (x > y ? 1 : 0);
    return true;
}

template <typename T>
int Sign3(T x, T y) {
    return x < y ? -1 : (x > y ? 1 : 0);
}

// A text form of v in out (no copy for a text).
const std::string& TextOf(const Variant& v, std::string& out) {
    if (v.type() == VarType::String) return v.RawString();
    out.clear();
    v.AppendString(out);
    return out;
}

}  // namespace

// ---- Comparison -------------------------------------------------------------

bool TryOrderCompare(const Variant& a, const Variant& b, int& r) noexcept {
    const VarType ta = a.type(), tb = b.type();
    if (ta == VarType::Null || tb == VarType::Null) {
        r = ta == tb ? 0 : (ta == VarType::Null ? -1 : 1);
        return true;
    }
    if (ta == VarType::String && tb == VarType::String) {
        // std::string compares bytes as unsigned values.
        int c = a.RawString().compare(b.RawString());
        r = c < 0 ? -1 : (c > 0 ? 1 : 0);
        return true;
    }
    if (ta == VarType::Integer && tb == VarType::Integer) {
        r = Sign3(a.RawInteger(), b.RawInteger());
        return true;
    }
    if (ta == VarType::Empty && tb == VarType::Empty) {
        r = 0;
        return true;
    }
    if (ta == VarType::Date || tb == VarType::Date) {
        double x, y;
        if (!a.TryAsDate(x) || !b.TryAsDate(y)) return false;
        return CompareDoubles(x, y, r);
    }
    if (ta == VarType::Boolean || tb == VarType::Boolean) {
        const Variant& other = ta == VarType::Boolean ? b : a;
        bool x, y;
        if (other.type() == VarType::Boolean || other.type() == VarType::Empty ||
            other.type() == VarType::String) {
            if (!a.TryAsBoolean(x) || !b.TryAsBoolean(y)) return false;
            r = Sign3(static_cast<int>(x), static_cast<int>(y));
            return true;
        }
        double dx, dy;  // against a number: true counts 1, false 0
        if (!a.TryAsDouble(dx) || !b.TryAsDouble(dy)) return false;
        return CompareDoubles(dx, dy, r);
    }
    if (ta == VarType::Empty || tb == VarType::Empty) {
        const Variant& other = ta == VarType::Empty ? b : a;
        int sign = ta == VarType::Empty ? 1 : -1;  // r of (empty, other) times sign
        if (other.type() == VarType::String) {
            int c = other.RawString().empty() ? 0 : -1;
            r = c * sign;
            return true;
        }
        double d;
        if (!other.TryAsDouble(d)) return false;
        int c;
        if (!CompareDoubles(0.0, d, c)) return false;
        r = c * sign;
        return true;
    }
    double x, y;
    if (!a.TryAsDouble(x) || !b.TryAsDouble(y)) return false;
    return CompareDoubles(x, y, r);
}

int OrderCompare(const Variant& a, const Variant& b) {
    int r;
    if (!TryOrderCompare(a, b, r)) {
        throw VariantError(FormatMsg(FormatMsg(sqlmsg::CannotCompare, a.TypeName()), b.TypeName()));
    }
    return r;
}

bool TryRelCompare(const Variant& a, const Variant& b, TCompareResult& r) noexcept {
    const VarType ta = a.type(), tb = b.type();
    if (ta == VarType::Empty || ta == VarType::Null || tb == VarType::Empty ||
        tb == VarType::Null) {
        r = ta == tb ? TCompareResult::crEqual : TCompareResult::crUnordered;
        return true;
    }
    int c;
    if (!TryOrderCompare(a, b, c)) return false;
    r = c < 0 ? TCompareResult::crLess
              : (c > 0 ? TCompareResult::crGreater : TCompareResult::crEqual);
    return true;
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

bool TRelaSimpleExpr::InList(const Variant& v) {
    const std::vector<std::string>& list = right->listTexts;
    if (list.empty()) return InValues(v);
    const std::string& s = TextOf(v, scratch_);
    if (list.size() <= 16) {
        for (const std::string& item : list)
            if (item == s) return true;
        return InValues(v);
    }
    if (!listSetBuilt_) {
        listSet_.clear();
        for (const std::string& item : list)
            listSet_.insert(item);
        listSetBuilt_ = true;
    }
    return listSet_.count(std::string_view(s)) != 0 || InValues(v);
}

bool TRelaSimpleExpr::InValues(const Variant& v) {
    const std::vector<Variant>& values = right->listValues;
    if (values.size() > 16 && (v.type() == VarType::String || v.type() == VarType::Integer ||
                               v.type() == VarType::Double)) {
        // The comparison of a text with an item text is byte-wise, of a
        // number with an item the comparison of both as doubles: sets give
        // the same answers.
        if (!valueSetsBuilt_) {
            valueTexts_.clear();
            valueNumbers_.clear();
            for (const Variant& item : values) {
                valueTexts_.insert(item.RawString());
                double d;
                if (item.TryAsDouble(d)) valueNumbers_.insert(d);
            }
            valueSetsBuilt_ = true;
        }
        if (v.type() == VarType::String) return valueTexts_.count(v.RawString()) != 0;
        double d;
        return v.TryAsDouble(d) && valueNumbers_.count(d) != 0;
    }
    for (const Variant& item : values) {
        TCompareResult c;
        if (TryRelCompare(v, item, c) && c == TCompareResult::crEqual) return true;
    }
    return false;
}

bool TRelaSimpleExpr::Evaluate() noexcept {
    try {
        const Variant& l = left->Evaluate();
        switch (op) {
            case roBetween: {
                const Variant& lo = right->Evaluate();
                const Variant& hi = upper ? upper->Evaluate() : lo;
                int c1, c2;
                if (!TryOrderCompare(l, lo, c1) || c1 < 0) return false;
                if (!TryOrderCompare(l, hi, c2)) return false;
                return c2 <= 0;
            }
            case roIn:
                right->Evaluate();
                return InList(l);
            case roLike: {
                const Variant& p = right->Evaluate();
                const std::string& text = TextOf(l, scratch_);
                const std::string& pattern = TextOf(p, scratch2_);
                return LikeMatch(text, pattern);
            }
            case roRegexp:
            case roNotRegexp: {
                const std::string& text = TextOf(l, scratch_);
                const TRegexp* re = regexp.get();
                std::shared_ptr<const TRegexp> computed;
                if (!re) {
                    // A pattern that is not a constant: compiled when first
                    // met (CachedRegexp); one that does not compile makes the
                    // relation false, as any failure here.
                    std::string error;
                    computed = CachedRegexp(TextOf(right->Evaluate(), scratch2_), error);
                    if (!computed) return false;
                    re = computed.get();
                }
                return re->Search(text) == (op == roRegexp);
            }
            case roNone:
                return false;
            default:
                break;
        }
        const Variant& r = right->Evaluate();
        TCompareResult c;
        if (!TryRelCompare(l, r, c)) return false;
        switch (c) {
            case TCompareResult::crEqual:
                return op == roEqual || op == roGreaterEqual || op == roLessEqual;
            case TCompareResult::crLess:
                return op == roNotEqual || op == roLess || op == roLessEqual;
            case TCompareResult::crGreater:
                return op == roNotEqual || op == roGreater || op == roGreaterEqual;
            case TCompareResult::crUnordered:
                return op == roNotEqual || op == roGreater || op == roLess;
        }
        return false;
    } catch (...) {
        // An operand that raises (an expression fault, a failed conversion)
        // makes the relation false; nothing propagates.
        return false;
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
        right->isList)
        return true;
    regexp = TRegexp::Compile(right->text, error);
    return regexp != nullptr;
}

static void AddOperandTables(const TROperandDef& op, TDsRefList& out) {
    if (op.kind == okColumn) {
        if (op.ref.tableIndex >= 0) out.Add(op.ref.tableIndex);
    } else if (op.kind == okExpression && op.expr) {
        for (const TOperandRef& r : op.expr->VarRefs())
            if (r.tableIndex >= 0) out.Add(r.tableIndex);
    }
}

void TRelaSimpleExpr::CollectTables() {
    tables.Clear();
    AddOperandTables(*left, tables);
    if (op != roIn) AddOperandTables(*right, tables);
    if (op == roBetween && upper) AddOperandTables(*upper, tables);
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
    listSetBuilt_ = false;
    valueSetsBuilt_ = false;
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

bool TBoolNode::EvaluateTerm() noexcept {
    bool term = true;
    if (isLiteral)
        term = literal;
    else if (relation)
        term = relation->Evaluate();
    else if (group)
        term = group->Evaluate();
    return negated ? !term : term;
}

bool TBoolNode::Evaluate() noexcept {
    for (TBoolNode* n = this; n; n = n->next.get())
        if (!n->EvaluateTerm()) return false;
    return true;
}

bool TRelaSimpleExpr::ReadsContent() const {
    for (const TROperandDef* o : {left.get(), right.get(), upper.get()})
        if (o && o->kind == okExpression && o->expr && o->expr->ReadsFileContents()) return true;
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

bool TOrNodeList::Evaluate() noexcept {
    for (auto& item : items_)
        if (item->Evaluate()) return true;
    return false;
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
