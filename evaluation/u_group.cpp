#include "evaluation/u_group.h"

#include <cmath>

#include "evaluation/u_select.h"
#include "platform/Text.h"
#include "script/common/U_err.h"
#include "script/common/u_functions_consts.h"

namespace corvane {

namespace {


// A heap block of a hash node (key, value, next) plus its bucket.
constexpr int64_t kIndexEntryBytes = HeapBlockBytes(32) + 8;

int64_t ValueBytes(const Variant& v) {
    return v.type() == VarType::String ? TextHeapBytes(v.RawString().size()) : 0;
}

}  // namespace

bool AggregateKindOf(std::string_view name, TAggregateKind& kind) {
    static constexpr std::pair<std::string_view, TAggregateKind> kNames[] = {
        {"count", agCount}, {"sum", agSum}, {"min", agMin}, {"max", agMax}, {"avg", agAvg}};
    for (const auto& [text, k] : kNames)
        if (SameTextAscii(name, text)) {
            kind = k;
            return true;
        }
    return false;
}

bool SameKeyValue(const Variant& a, const Variant& b) noexcept {
    return SqlSameValue(a, b);
}

TGroupClause::TGroupClause(TFromClause& from, TmyErrorMng& errors) : from_(from), errors_(errors) {}

TGroupClause::~TGroupClause() = default;

// ---- Plan -------------------------------------------------------------------

int TGroupClause::AddKey(std::unique_ptr<TROperandDef> key, std::string typeName) {
    keys_.push_back({std::move(key), std::move(typeName)});
    return KeyCount() - 1;
}

int TGroupClause::FindAggregate(std::string_view key) const {
    for (size_t a = 0; a < aggregates_.size(); ++a)
        if (aggregates_[a]->key == key) return static_cast<int>(a);
    return -1;
}

int TGroupClause::AddAggregate(std::unique_ptr<TAggregate> aggregate) {
    aggregates_.push_back(std::move(aggregate));
    return AggregateCount() - 1;
}

std::string TGroupClause::SlotName(char letter, TSlotKind kind, int index, size_t length) {
    std::string name = std::string("g") + letter + std::to_string(index + 1);
    if (name.size() < length) name.append(length - name.size(), '_');
    slotByName_[name] = {kind, index};
    return name;
}

std::string TGroupClause::KeySlotName(int k, size_t length) {
    return SlotName('k', slKey, k, length);
}

std::string TGroupClause::AggregateSlotName(int a, size_t length) {
    return SlotName('a', slAggregate, a, length);
}

void TGroupClause::SetOutputs(std::vector<TGroupOutput> outputs) {
    outputs_ = std::move(outputs);
}

std::string TGroupClause::TypeNameOf(const TOperandRef& ref) const {
    const size_t i = static_cast<size_t>(ref.fieldIndex);
    switch (ref.tableIndex) {
        case slKey:
            return i < keys_.size() ? keys_[i].typeName : std::string();
        case slAggregate:
            return i < aggregates_.size() ? aggregates_[i]->typeName : std::string();
        case slOutput:
            return i < outputs_.size() ? outputs_[i].typeName : std::string();
        default:
            return {};
    }
}

TOperandRef TGroupClause::KeyRef(int k) {
    TOperandRef r;
    MakeRef(slKey, k, 0, r);
    return r;
}

TOperandRef TGroupClause::AggregateRef(int a) {
    TOperandRef r;
    MakeRef(slAggregate, a, 0, r);
    return r;
}

TOperandRef TGroupClause::OutputRef(int o) {
    TOperandRef r;
    MakeRef(slOutput, o, 0, r);
    return r;
}

bool TGroupClause::MakeRef(TSlotKind kind, int index, int tag, TOperandRef& ref) {
    TOperandRef r;
    r.tag = tag;
    r.tableIndex = kind;
    r.fieldIndex = index;
    ref = r;
    return true;
}

// ---- IGVarMng ---------------------------------------------------------------

std::string TGroupClause::GetDeclarations() {
    // The slots first; then every name the FROM clause declares, so that an
    // expression over grouped columns compiles (Resolve decides which
    // names it may read).
    TVarDeclareList list;
    for (const auto& [name, slot] : slotByName_) {
        TOperandRef ref;
        MakeRef(slot.first, slot.second, 0, ref);
        list.Add(name, TypeNameOf(ref));
    }
    if (showOutputs_)
        for (const TGroupOutput& o : outputs_)
            list.Add(o.name, o.typeName);
    const std::string fromLines = from_.GetDeclarations();
    size_t start = 0;
    while (start < fromLines.size()) {
        size_t end = fromLines.find('\n', start);
        if (end == std::string::npos) end = fromLines.size();
        std::string_view line = std::string_view(fromLines).substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty() && line.back() == ';') line.remove_suffix(1);
        const size_t colon = line.rfind(':');
        if (colon != std::string_view::npos)
            list.Add(std::string(line.substr(0, colon)), std::string(line.substr(colon + 1)));
        start = end + 1;
    }
    return list.ToText();
}

bool TGroupClause::Resolve(const std::string& name, int tag, TOperandRef& ref) {
    const std::string lower = LowerCaseAscii(name);
    if (auto it = slotByName_.find(lower); it != slotByName_.end())
        return MakeRef(it->second.first, it->second.second, tag, ref);
    int table = -1, field = -1;
    const bool column = from_.FindColumn(name, table, field);
    if (column)
        for (size_t k = 0; k < keys_.size(); ++k) {
            const TROperandDef& key = *keys_[k].operand;
            if (key.kind == okColumn && key.ref.tableIndex == table && key.ref.fieldIndex == field)
                return MakeRef(slKey, static_cast<int>(k), tag, ref);
        }
    if (showOutputs_)
        for (size_t o = 0; o < outputs_.size(); ++o)
            if (outputs_[o].name == lower) return MakeRef(slOutput, static_cast<int>(o), tag, ref);
    if (column) {
        if (subject_.empty())
            errors_.Add(FormatMsg(sqlmsg::NotGrouped, name));
        else if (!subjectReported_)
            errors_.Add(FormatMsg(sqlmsg::NotGrouped, subject_));
        subjectReported_ = true;
        return false;
    }
    // Parameters, host variables and sub-queries hold for every row alike;
    // the FROM clause knows them, or reports the name as unknown.
    return from_.Resolve(name, tag, ref);
}

const Variant& TGroupClause::GetValue(const TOperandRef& ref) {
    if (ref.tableIndex < 0) return from_.GetValue(ref);
    if (current_ < 0) return empty_;
    const size_t i = static_cast<size_t>(ref.fieldIndex);
    switch (ref.tableIndex) {
        case slKey: {
            const TGroup& g = groups_[static_cast<size_t>(current_)];
            return i < g.keys.size() ? g.keys[i] : empty_;
        }
        case slAggregate:
            return i < results_.size() ? results_[i] : empty_;
        case slOutput:
            if (i >= outputs_.size() || !outputs_[i].item) return empty_;
            // A select item named in HAVING is evaluated once per group, when
            // first asked for.
            if (!outputDone_[i]) {
                outputValues_[i].Assign(outputs_[i].item->Evaluate());
                outputDone_[i] = 1;
            }
            return outputValues_[i];
        default:
            return empty_;
    }
}

// ---- Run --------------------------------------------------------------------

void TGroupClause::Begin(TMemoryBudget* budget) {
    End();
    charge_ = std::make_unique<TMemoryCharge>(budget, TMemoryUse::Groups);
    keyValues_.assign(keys_.size(), nullptr);
    // Without GROUP BY all rows make one group, also when there are none.
    if (keys_.empty()) NewGroup(0);
}

void TGroupClause::End() {
    groups_.clear();
    groups_.shrink_to_fit();
    index_.clear();
    results_.clear();
    current_ = -1;
    charge_.reset();
}

int TGroupClause::NewGroup(uint64_t hash) {
    TGroup g;
    g.keys.resize(keys_.size());
    int64_t bytes = HeapBlockBytes(static_cast<int64_t>(sizeof(TGroup))) + kIndexEntryBytes +
                    HeapBlockBytes(static_cast<int64_t>(keys_.size() * sizeof(Variant))) +
                    HeapBlockBytes(static_cast<int64_t>(aggregates_.size() * sizeof(TAccumulator)));
    for (size_t k = 0; k < keys_.size(); ++k) {
        if (keyValues_[k]) g.keys[k].Assign(*keyValues_[k]);
        bytes += ValueBytes(g.keys[k]);
    }
    charge_->Add(bytes);
    g.acc.resize(aggregates_.size());
    groups_.push_back(std::move(g));
    const int index = GroupCount() - 1;
    index_.emplace(hash, index);
    return index;
}

void TGroupClause::Fold() {
    int group = 0;
    if (!keys_.empty()) {
        uint64_t h = 0xcbf29ce484222325ULL;
        for (size_t k = 0; k < keys_.size(); ++k) {
            const Variant& v = keys_[k].operand->Evaluate();
            keyValues_[k] = &v;
            h = (h ^ HashValue(v)) * 0x100000001b3ULL;
        }
        group = -1;
        auto [lo, hi] = index_.equal_range(h);
        for (auto it = lo; it != hi && group < 0; ++it) {
            const TGroup& g = groups_[static_cast<size_t>(it->second)];
            bool same = true;
            for (size_t k = 0; k < keys_.size() && same; ++k)
                same = SameKeyValue(g.keys[k], *keyValues_[k]);
            if (same) group = it->second;
        }
        if (group < 0) group = NewGroup(h);
    }
    TGroup& g = groups_[static_cast<size_t>(group)];
    for (size_t a = 0; a < aggregates_.size(); ++a) {
        const TAggregate& agg = *aggregates_[a];
        if (agg.star) {
            ++g.acc[a].count;
            continue;
        }
        Accumulate(agg, g.acc[a], agg.isConstant ? agg.constant : agg.argument->Evaluate());
    }
}

bool TGroupClause::AddDistinct(TAccumulator& acc, const Variant& v) {
    if (!acc.seen) {
        acc.seen = std::make_unique<TValueSet>();
        charge_->Add(HeapBlockBytes(static_cast<int64_t>(sizeof(TValueSet))));
    }
    TValueSet& set = *acc.seen;
    const uint64_t h = HashValue(v);
    auto [lo, hi] = set.index.equal_range(h);
    for (auto it = lo; it != hi; ++it)
        if (SameKeyValue(set.values[it->second], v)) return false;
    // The value, its share of the vector's growth, and the index entry.
    charge_->Add(2 * static_cast<int64_t>(sizeof(Variant)) + ValueBytes(v) + kIndexEntryBytes);
    Variant copy;
    copy.Assign(v);
    set.values.push_back(std::move(copy));
    set.index.emplace(h, set.values.size() - 1);
    return true;
}

void TGroupClause::Accumulate(const TAggregate& a, TAccumulator& acc, const Variant& v) {
    if (SqlIsNull(v)) return;
    // A sum or an average takes numbers; a text counts when it is one.
    double number = 0;
    if ((a.kind == agSum || a.kind == agAvg) && v.type() != VarType::Integer &&
        !SqlToReal(v, number)) {
        NoteSqlFault(FormatMsg(std::string(Msg(sqlmsg::NotANumber)), SqlText(v).substr(0, 60)));
        return;
    }
    if (a.distinct && !AddDistinct(acc, v)) return;
    switch (a.kind) {
        case agCount:
            ++acc.count;
            break;
        case agSum:
            if (v.type() == VarType::Integer && !acc.doubleSum) {
                if (__builtin_add_overflow(acc.intSum, v.RawInteger(), &acc.intSum))
                    throw AggregateError(std::string(sqlmsg::SumOverflow) + a.written);
            } else {
                const double d =
                    v.type() == VarType::Integer ? static_cast<double>(v.RawInteger()) : number;
                if (!acc.doubleSum) {
                    acc.sum = static_cast<long double>(acc.intSum);
                    acc.doubleSum = true;
                }
                acc.sum += d;
            }
            ++acc.count;
            break;
        case agAvg:
            acc.sum += v.type() == VarType::Integer ? static_cast<long double>(v.RawInteger())
                                                    : static_cast<long double>(number);
            ++acc.count;
            break;
        case agMin:
        case agMax: {
            if (!SqlIsNull(acc.best)) {
                const int c = OrderCompare(v, acc.best);
                if (a.kind == agMin ? c >= 0 : c <= 0) break;
            }
            const int64_t before = ValueBytes(acc.best), after = ValueBytes(v);
            if (after > before)
                charge_->Add(after - before);
            else
                charge_->Drop(before - after);
            acc.best.Assign(v);
            break;
        }
    }
}

void TGroupClause::SetCurrent(int g) {
    current_ = g;
    const TGroup& group = groups_[static_cast<size_t>(g)];
    results_.resize(aggregates_.size());
    for (size_t a = 0; a < aggregates_.size(); ++a) {
        const TAccumulator& acc = group.acc[a];
        Variant& r = results_[a];
        switch (aggregates_[a]->kind) {
            case agCount:
                r.SetInteger(acc.count);
                break;
            case agSum:
                if (acc.count == 0)
                    r.SetNull();
                else if (acc.doubleSum)
                    r.SetDouble(static_cast<double>(acc.sum));
                else
                    r.SetInteger(acc.intSum);
                break;
            case agAvg:
                if (acc.count == 0)
                    r.SetNull();
                else
                    r.SetDouble(static_cast<double>(acc.sum / static_cast<long double>(acc.count)));
                break;
            case agMin:
            case agMax:
                if (SqlIsNull(acc.best))
                    r.SetNull();
                else
                    r.Assign(acc.best);
                break;
        }
    }
    outputValues_.resize(outputs_.size());
    outputDone_.assign(outputs_.size(), 0);
}

bool TGroupClause::Qualifies() noexcept {
    if (!having_.group) return true;
    return having_.Evaluate();
}

}  // namespace corvane
