#include "evaluation/U_memBudget.h"

#include <algorithm>

#include "platform/Memory.h"
#include "sql/UveskBase.h"

namespace corvane {

int64_t DefaultMemoryLimit() {
    // The machine does not change while the program runs: ask once.
    static const int64_t limit = [] {
        const int64_t available = AvailableMemoryBytes();
        if (available <= 0) return kMaxDefaultMemoryLimit;
        return std::min(available / 4, kMaxDefaultMemoryLimit);
    }();
    return limit;
}

void TMemoryBudget::Refuse(int64_t bytes, TMemoryUse use) {
    used_ -= bytes;
    std::string_view what = sqlmsg::MemoryForRows;
    switch (use) {
        case TMemoryUse::Rows:
            break;
        case TMemoryUse::Join:
            what = sqlmsg::MemoryForJoin;
            break;
        case TMemoryUse::SortKeys:
            what = sqlmsg::MemoryForSortKeys;
            break;
        case TMemoryUse::Output:
            what = sqlmsg::MemoryForOutput;
            break;
        case TMemoryUse::Groups:
            what = sqlmsg::MemoryForGroups;
            break;
    }
    throw ResultTooLargeError::Memory(FormatByteSize(limit_), what);
}

namespace {

// The dataset's slot (a pointer, with room to grow), the row object and
// the block of its values.
constexpr int64_t kRowFixedBytes = 16 + HeapBlockBytes(sizeof(TSimpleRow));

int64_t ValueHeapBytes(const Variant& v) {
    return v.type() == VarType::String ? TextHeapBytes(v.RawString().size()) : 0;
}

}  // namespace

int64_t RowBytes(const TSimpleRow& row) {
    int64_t bytes =
        kRowFixedBytes + HeapBlockBytes(static_cast<int64_t>(row.capacity() * sizeof(Variant)));
    for (const Variant& v : row)
        bytes += ValueHeapBytes(v);
    return bytes;
}

int64_t RowBytes(const Variant* const* values, size_t count) {
    int64_t bytes = kRowFixedBytes + HeapBlockBytes(static_cast<int64_t>(count * sizeof(Variant)));
    for (size_t i = 0; i < count; ++i)
        bytes += ValueHeapBytes(*values[i]);
    return bytes;
}

}  // namespace corvane
