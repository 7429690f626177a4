#include "evaluation/u_select.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
#include <optional>

#include "evaluation/URelx_Logic.h"
#include "platform/Text.h"
#include "script/common/U_err.h"
#include "script/common/qv_consts.h"
#include "sql/UVeskEngineBase.h"
#include "sql/sqlScan_Base.h"

namespace corvane {

// ---- TSelectClause ---------------------------------------------------------

TSelectField& TSelectClause::Insert(const std::string& text, int index) {
    auto item = std::make_unique<TSelectField>();
    TSelectField& ref = *item;
    if (index < 0 || index >= Count()) {
        if (index >= 0) item->text = text;
        items_.push_back(std::move(item));
    } else {
        item->text = text;
        items_.insert(items_.begin() + index, std::move(item));
    }
    return ref;
}

void TSelectClause::Remove(int index) {
    items_.erase(items_.begin() + index);
}

int64_t TSelectClause::RowsWanted() const {
    if (limit >= 0) return offset > INT64_MAX - limit ? INT64_MAX : limit + offset;
    return topCount > 0 ? topCount : -1;
}

int TSelectClause::IndexOfName(std::string_view name) const {
    const std::string key = NormalizeName(name);
    for (size_t i = 0; i < items_.size(); ++i)
        if (LowerCaseAscii(items_[i]->outputName) == key) return static_cast<int>(i);
    for (size_t i = 0; i < items_.size(); ++i)
        if (NormalizeName(items_[i]->text) == key) return static_cast<int>(i);
    return -1;
}

// ---- Hashing and row equality ----------------------------------------------

uint64_t HashValue(const Variant& v) {
    auto mix = [](uint64_t x) {
        x ^= x >> 33;
        x *= 0xff51afd7ed558ccdULL;
        x ^= x >> 33;
        x *= 0xc4ceb9fe1a85ec53ULL;
        x ^= x >> 33;
        return x;
    };
    auto number = [&](double d) {
        if (d == 0) d = 0;  // -0 and 0 are equal
        if (std::isnan(d)) return mix(0x7ff8ULL);
        return mix(std::bit_cast<uint64_t>(d));
    };
    switch (v.type()) {
        case VarType::Empty:
        case VarType::Null:
            return 0x7654321ULL;  // null and empty are the same value
        case VarType::Integer:
            return number(static_cast<double>(v.RawInteger()));
        case VarType::Double:
        case VarType::Date:
            return number(v.RawDouble());
        case VarType::Boolean:
            return number(v.RawBoolean() ? 1.0 : 0.0);
        case VarType::String:
            return mix(std::hash<std::string>{}(v.RawString()));
    }
    return 0;
}

namespace {

uint64_t HashRow(const std::vector<const Variant*>& values) {
    uint64_t h = 0xcbf29ce484222325ULL;
    for (const Variant* v : values)
        h = (h ^ HashValue(*v)) * 0x100000001b3ULL;
    return h;
}

bool SameRow(const std::vector<const Variant*>& values, const TSimpleRow& row) {
    if (row.size() != values.size()) return false;
    for (size_t i = 0; i < values.size(); ++i)
        if (SqlOrderCompare(*values[i], row[i]) != 0) return false;
    return true;
}

}  // namespace

// ---- TSelectEnviroment ------------------------------------------------------

void TSelectEnviroment::Prepare(TSimpleDataset& result, IRowSink* sink, bool hasOrder,
                                int64_t cellLimit, std::function<void()> compact,
                                TMemoryBudget* budget) {
    result.ClearFieldDefs();
    for (int i = 0; i < clause_.Count(); ++i)
        result.AddFieldDef(clause_.Item(i).outputName, clause_.Item(i).typeName);
    run_ = TSelectRun{};
    run_.result = &result;
    run_.sink = sink;
    run_.streaming = sink && !hasOrder;
    run_.cap = clause_.RowsWanted();
    // Without ORDER BY the rows are in their final order as they come: the
    // offset is dropped here, and the run stops once the rest is out. With
    // ORDER BY the engine cuts after sorting.
    if (!hasOrder) {
        run_.skip = clause_.offset;
        if (run_.cap >= 0) run_.cap -= run_.skip;
    }
    run_.stopWhenFull = !hasOrder && run_.cap >= 0;
    if (cellLimit > 0)
        run_.rowLimit = std::max<int64_t>(1, cellLimit / std::max(1, clause_.Count()));
    run_.budget = budget;
    // DISTINCT looks duplicates up by row index, which compacting would move.
    if (!clause_.distinct) run_.compact = std::move(compact);
    run_.values.resize(static_cast<size_t>(clause_.Count()));
    if (sink) sink->Begin(result.FieldDefs());
    if (group_) group_->Begin(budget);
}

void TSelectEnviroment::HandleRow(bool& stop, const std::vector<int>& recNos) {
    for (size_t t = 0; t < recNos.size() && static_cast<int>(t) < from_->Count(); ++t)
        from_->PositionAndLoad(static_cast<int>(t), recNos[t]);
    HandleBufferedRow(stop);
}

void TSelectEnviroment::HandleBufferedRow(bool& stop) {
    if (group_)
        group_->Fold();
    else
        EmitRow(stop);
}

TGroupClause& TSelectEnviroment::MakeGroup() {
    group_ = std::make_unique<TGroupClause>(*from_, engine_.Errors());
    return *group_;
}

void TSelectEnviroment::FinishGroups() {
    if (!group_) return;
    bool stop = false;
    const int count = group_->GroupCount();
    for (int g = 0; g < count && !stop; ++g) {
        if ((g & 1023) == 1023 && from_->Cancelled()) throw QueryCancelledError();
        group_->SetCurrent(g);
        if (group_->Qualifies()) EmitRow(stop);
    }
    group_->End();
}

bool TSelectEnviroment::IsDuplicate(uint64_t hash) {
    auto [lo, hi] = run_.seen.equal_range(hash);
    for (auto it = lo; it != hi; ++it) {
        const TSimpleRow& kept = it->second < 0
                                     ? run_.keptRows[static_cast<size_t>(-it->second - 1)]
                                     : run_.result->RowAt(it->second);
        if (SameRow(run_.values, kept)) return true;
    }
    return false;
}

void TSelectEnviroment::EmitRow(bool& stop) {
    if (run_.stopWhenFull && run_.rowsOut >= run_.cap) {
        stop = true;  // LIMIT 0
        return;
    }
    const int count = clause_.Count();
    for (int i = 0; i < count; ++i)
        run_.values[static_cast<size_t>(i)] = &clause_.Item(i).Evaluate();

    if (clause_.distinct) {
        const uint64_t h = HashRow(run_.values);
        if (IsDuplicate(h)) return;
        int index;
        if (run_.streaming || run_.skip > 0) {
            // A row that is not held in the result (streamed, or dropped by
            // OFFSET) is remembered as a copy: -1 - its index there.
            ChargeHeldRow(static_cast<int64_t>(run_.keptRows.size()) +
                          (run_.streaming ? 0 : run_.result->GetRecordCount()));
            TSimpleRow copy(static_cast<size_t>(count));
            for (int i = 0; i < count; ++i)
                copy[static_cast<size_t>(i)].Assign(*run_.values[static_cast<size_t>(i)]);
            run_.keptRows.push_back(std::move(copy));
            index = -static_cast<int>(run_.keptRows.size());
        } else {
            index = run_.result->GetRecordCount();  // the row appended below
        }
        run_.seen.emplace(h, index);
    }
    if (run_.skip > 0) {
        --run_.skip;
        return;
    }

    if (run_.streaming) {
        run_.sink->Row(std::span<const Variant* const>(run_.values.data(), run_.values.size()));
    } else {
        ChargeHeldRow(run_.result->GetRecordCount());
        TSimpleRow& row = run_.result->RowAt(run_.result->AppendRow());
        for (int i = 0; i < count && static_cast<size_t>(i) < row.size(); ++i)
            row[static_cast<size_t>(i)].Assign(*run_.values[static_cast<size_t>(i)]);
    }
    ++run_.rowsOut;
    if (run_.stopWhenFull && run_.rowsOut >= run_.cap) stop = true;
}

void TSelectEnviroment::ChargeHeldRow(int64_t heldRows) {
    // DISTINCT also keeps a look-up entry per row (a hash node and its
    // bucket).
    const int64_t seenBytes = clause_.distinct ? HeapBlockBytes(32) + 8 : 0;
    const int64_t bytes = RowBytes(run_.values.data(), run_.values.size()) + seenBytes;
    if (run_.compact) {
        // Compact before the rows take more than half of what the budget
        // leaves them, so that the sort which compacts has room for its
        // keys; but only once they are twice the TOP count, so that every
        // compaction halves them at least (no sort per row).
        bool full = run_.rowLimit > 0 && heldRows >= run_.rowLimit;
        if (run_.budget && run_.budget->Limit() > 0 && heldRows >= 2 * run_.cap) {
            const int64_t forRows = run_.budget->Limit() - (run_.budget->Used() - run_.heldBytes);
            if (run_.heldBytes + bytes > forRows / 2) full = true;
        }
        if (full) {
            run_.compact();
            int64_t held = 0;
            for (int r = 0; r < run_.result->GetRecordCount(); ++r)
                held += RowBytes(run_.result->RowAt(r));
            if (run_.budget) {
                if (held < run_.heldBytes)
                    run_.budget->Release(run_.heldBytes - held);
                else
                    run_.budget->Charge(held - run_.heldBytes, TMemoryUse::Rows);
            }
            run_.heldBytes = held;
            heldRows = run_.result->GetRecordCount();
        }
    }
    if (run_.rowLimit > 0 && heldRows >= run_.rowLimit)
        throw ResultTooLargeError::Rows(run_.rowLimit);
    if (run_.budget) run_.budget->Charge(bytes, TMemoryUse::Rows);
    run_.heldBytes += bytes;
}

// ---- TOrderClause -----------------------------------------------------------

bool TOrderClause::Add(std::string name, bool descending) {
    const std::string key = NormalizeName(name);
    for (const TOrderItem& existing : items_)
        if (NormalizeName(existing.name) == key) return false;
    TOrderItem& item = items_.emplace_back();
    item.name = std::move(name);
    item.descending = descending;
    return true;
}

void TOrderClause::Sort(TSimpleDataset& result, TMemoryBudget* budget) {
    const int rows = result.GetRecordCount();
    if (items_.empty() || rows == 0) return;
    const size_t levels = items_.size();
    const Variant empty;
    // The keys are the values themselves, in SQL's total order (null first
    // ascending, last descending; numbers by value; texts by bytes), so a
    // column of mixed kinds sorts and nothing is converted or copied.
    const int64_t cells = static_cast<int64_t>(rows) * static_cast<int64_t>(levels);
    TMemoryCharge charge(budget, TMemoryUse::SortKeys);
    // The key references, the order with the sort's buffer, and the rows
    // taken out while they are put back in order.
    charge.Add(HeapBlockBytes(cells * static_cast<int64_t>(sizeof(const Variant*))) +
               2 * HeapBlockBytes(int64_t{rows} * static_cast<int64_t>(sizeof(int))) +
               HeapBlockBytes(int64_t{rows} * static_cast<int64_t>(sizeof(void*))));
    std::vector<const Variant*> keys(static_cast<size_t>(cells));
    for (int r = 0; r < rows; ++r) {
        const TSimpleRow& row = result.RowAt(r);
        for (size_t l = 0; l < levels; ++l) {
            const int col = items_[l].column;
            keys[static_cast<size_t>(r) * levels + l] =
                (col >= 0 && static_cast<size_t>(col) < row.size()) ? &row[static_cast<size_t>(col)]
                                                                    : &empty;
        }
    }
    std::vector<int> order(static_cast<size_t>(rows));
    for (int r = 0; r < rows; ++r)
        order[static_cast<size_t>(r)] = r;
    auto less = [&](int a, int b) {
        for (size_t l = 0; l < levels; ++l) {
            const int c = SqlOrderCompare(*keys[static_cast<size_t>(a) * levels + l],
                                          *keys[static_cast<size_t>(b) * levels + l]);
            if (c != 0) return items_[l].descending ? c > 0 : c < 0;
        }
        return false;
    };
    std::stable_sort(order.begin(), order.end(), less);
    std::vector<std::unique_ptr<TSimpleRow>> taken(static_cast<size_t>(rows));
    for (int r = 0; r < rows; ++r)
        taken[static_cast<size_t>(r)] = result.TakeRow(r);
    for (int r = 0; r < rows; ++r)
        result.PutRow(r, std::move(taken[static_cast<size_t>(order[static_cast<size_t>(r)])]));
}

}  // namespace corvane
