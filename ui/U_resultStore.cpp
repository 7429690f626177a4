// U_resultStore: see U_resultStore.h.
#include "ui/U_resultStore.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace corvane {

namespace {

// Text blocks grow from 64 KiB to 4 MiB; a text larger than a quarter of
// the current block size gets a block of its own.
constexpr size_t kFirstBlock = size_t(64) << 10;
constexpr size_t kLargestBlock = size_t(4) << 20;

// Interning pays for itself on columns that repeat (directories,
// extensions); a column whose texts are mostly distinct (file names) stops
// interning once that is plain, so appending does not keep a hash table of
// every name.
constexpr size_t kInternProbe = size_t(1) << 14;

constexpr uint32_t kUnranked = std::numeric_limits<uint32_t>::max();

// A double as a key whose unsigned order is the numeric order; -0 is 0 and
// NaN comes after every number.
uint64_t DoubleKey(double d) {
    if (std::isnan(d)) return std::numeric_limits<uint64_t>::max();
    if (d == 0) d = 0;
    const uint64_t bits = std::bit_cast<uint64_t>(d);
    return bits >> 63 ? ~bits : bits | (uint64_t(1) << 63);
}

template <typename Key>
struct TKeyed {
    Key key;
    uint32_t row;
};

// Stable LSD radix sort by key, 16 bits a pass; passes in which every key
// has the same digit are skipped (a column of small sizes needs two, the
// ranks of a text column one or two).
template <typename Key>
void RadixSort(std::vector<TKeyed<Key>>& items) {
    const size_t n = items.size();
    if (n < 2) return;
    constexpr int kPasses = sizeof(Key) / 2;
    std::vector<uint32_t> counts(size_t(kPasses) << 16, 0);
    for (const TKeyed<Key>& item : items)
        for (int p = 0; p < kPasses; ++p)
            ++counts[(size_t(p) << 16) | ((item.key >> (16 * p)) & 0xFFFF)];
    std::vector<TKeyed<Key>> other;
    for (int p = 0; p < kPasses; ++p) {
        uint32_t* count = counts.data() + (size_t(p) << 16);
        const size_t firstDigit = (items[0].key >> (16 * p)) & 0xFFFF;
        if (count[firstDigit] == n) continue;
        uint32_t sum = 0;
        for (size_t d = 0; d < (size_t(1) << 16); ++d) {
            const uint32_t c = count[d];
            count[d] = sum;
            sum += c;
        }
        if (other.empty()) other.resize(n);
        for (const TKeyed<Key>& item : items)
            other[count[(item.key >> (16 * p)) & 0xFFFF]++] = item;
        items.swap(other);
    }
}

}  // namespace

TResultStore& TResultStore::operator=(TResultStore&& other) noexcept {
    if (this == &other) return *this;
    rows_ = std::exchange(other.rows_, 0);
    reserve_ = std::exchange(other.reserve_, 0);
    columns_ = std::exchange(other.columns_, {});
    blocks_ = std::exchange(other.blocks_, {});
    free_ = std::exchange(other.free_, nullptr);
    left_ = std::exchange(other.left_, 0);
    blockBytes_ = std::exchange(other.blockBytes_, 0);
    return *this;
}

void TResultStore::AddColumn() {
    TColumn column;
    column.cells.reserve(std::max(reserve_, rows_));
    column.cells.assign(rows_, 0);
    column.uniformTag = kMissing;
    column.interned = std::make_unique<std::unordered_set<std::string_view>>();
    columns_.push_back(std::move(column));
}

void TResultStore::Put(TColumn& column, uint8_t tag, uint64_t bits) {
    if (column.tags.empty() && tag != column.uniformTag) {
        if (column.cells.empty())
            column.uniformTag = tag;
        else {
            column.tags.reserve(column.cells.capacity());
            column.tags.assign(column.cells.size(), column.uniformTag);
        }
    }
    if (!column.tags.empty()) column.tags.push_back(tag);
    column.cells.push_back(bits);
}

char* TResultStore::Allocate(size_t bytes) {
    bytes = (bytes + 7) & ~size_t(7);  // keeps headers aligned
    if (bytes > left_) {
        blockBytes_ = std::min(kLargestBlock, std::max(kFirstBlock, blockBytes_ * 2));
        if (bytes > blockBytes_ / 4) {
            // A large text: a block of its own, the current one stays open.
            blocks_.push_back(std::make_unique<char[]>(bytes));
            return blocks_.back().get();
        }
        blocks_.push_back(std::make_unique<char[]>(blockBytes_));
        free_ = blocks_.back().get();
        left_ = blockBytes_;
    }
    char* at = free_;
    free_ += bytes;
    left_ -= bytes;
    return at;
}

uint64_t TResultStore::StoreText(TColumn& column, std::string_view text) {
    if (text.size() > std::numeric_limits<uint32_t>::max()) throw std::bad_alloc();
    if (column.interned) {
        ++column.textsSeen;
        if (column.textsSeen >= kInternProbe && std::has_single_bit(column.textsSeen) &&
            column.interned->size() * 4 > column.textsSeen * 3)
            column.interned.reset();
    }
    if (column.interned) {
        if (auto it = column.interned->find(text); it != column.interned->end())
            return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(it->data()) -
                                         sizeof(TTextHeader));
    }
    char* at = Allocate(sizeof(TTextHeader) + text.size());
    auto* header = new (at) TTextHeader{kUnranked, static_cast<uint32_t>(text.size())};
    char* bytes = at + sizeof(TTextHeader);
    if (!text.empty()) std::memcpy(bytes, text.data(), text.size());
    if (column.interned) column.interned->insert(std::string_view(bytes, text.size()));
    column.ranked = false;
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(header));
}

void TResultStore::Append(const TSimpleRow& row) {
    if (rows_ >= std::numeric_limits<int32_t>::max()) throw std::bad_alloc();
    while (columns_.size() < row.size())
        AddColumn();
    for (size_t c = 0; c < columns_.size(); ++c) {
        TColumn& column = columns_[c];
        if (c >= row.size()) {
            Put(column, kMissing, 0);
            continue;
        }
        const Variant& v = row[c];
        switch (v.type()) {
            case VarType::Empty:
                Put(column, kEmpty, 0);
                break;
            case VarType::Null:
                Put(column, kNull, 0);
                break;
            case VarType::Integer:
                Put(column, kInteger, static_cast<uint64_t>(v.RawInteger()));
                break;
            case VarType::Double:
                Put(column, kDouble, std::bit_cast<uint64_t>(v.RawDouble()));
                break;
            case VarType::Date:
                Put(column, v.RepeatedLater() ? kDateLater : kDate,
                    std::bit_cast<uint64_t>(v.RawDouble()));
                break;
            case VarType::Boolean:
                Put(column, kBoolean, v.RawBoolean() ? 1 : 0);
                break;
            case VarType::String:
                Put(column, kString, StoreText(column, v.RawString()));
                break;
        }
    }
    ++rows_;
}

void TResultStore::Finish() {
    for (TColumn& column : columns_) {
        column.interned.reset();
        if (!column.ranked) RankTexts(column);
        column.cells.shrink_to_fit();
        column.tags.shrink_to_fit();
    }
}

void TResultStore::RankTexts(TColumn& column) {
    // The column's distinct text slots (a slot is listed once: its rank
    // field marks it), then sorted by their bytes; equal texts held twice
    // (appended after interning stopped) get the same rank.
    std::vector<TTextHeader*> texts;
    for (size_t r = 0; r < rows_; ++r)
        if (column.TagAt(r) == kString)
            const_cast<TTextHeader*>(Header(column.cells[r]))->rank = kUnranked;
    for (size_t r = 0; r < rows_; ++r) {
        if (column.TagAt(r) != kString) continue;
        auto* h = const_cast<TTextHeader*>(Header(column.cells[r]));
        if (h->rank != kUnranked) continue;
        h->rank = 0;
        texts.push_back(h);
    }
    // The first eight bytes, big-endian, decide most comparisons.
    struct TEntry {
        uint64_t prefix;
        TTextHeader* header;
    };
    std::vector<TEntry> entries;
    entries.reserve(texts.size());
    for (TTextHeader* h : texts) {
        unsigned char head[8] = {};
        std::memcpy(head, h + 1, std::min<size_t>(8, h->length));
        uint64_t prefix = 0;
        for (unsigned char b : head)
            prefix = (prefix << 8) | b;
        entries.push_back({prefix, h});
    }
    texts.clear();
    texts.shrink_to_fit();
    auto text = [](const TTextHeader* h) {
        return std::string_view(reinterpret_cast<const char*>(h + 1), h->length);
    };
    std::sort(entries.begin(), entries.end(), [&](const TEntry& a, const TEntry& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        return text(a.header) < text(b.header);
    });
    uint32_t rank = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i > 0 && (entries[i].prefix != entries[i - 1].prefix ||
                      text(entries[i].header) != text(entries[i - 1].header)))
            ++rank;
        entries[i].header->rank = rank;
    }
    column.ranked = true;
}

bool TResultStore::Kind(size_t row, size_t column, VarType& out) const {
    if (row >= rows_ || column >= columns_.size()) return false;
    switch (columns_[column].TagAt(row)) {
        case kMissing:
            return false;
        case kEmpty:
            out = VarType::Empty;
            return true;
        case kNull:
            out = VarType::Null;
            return true;
        case kInteger:
            out = VarType::Integer;
            return true;
        case kDouble:
            out = VarType::Double;
            return true;
        case kDate:
        case kDateLater:
            out = VarType::Date;
            return true;
        case kBoolean:
            out = VarType::Boolean;
            return true;
        default:
            out = VarType::String;
            return true;
    }
}

std::string_view TResultStore::Text(size_t row, size_t column) const {
    if (row >= rows_ || column >= columns_.size()) return {};
    const TColumn& c = columns_[column];
    return c.TagAt(row) == kString ? TextOf(c.cells[row]) : std::string_view();
}

bool TResultStore::Get(size_t row, size_t column, Variant& out) const {
    out.Clear();
    if (row >= rows_ || column >= columns_.size()) return false;
    const TColumn& c = columns_[column];
    const uint64_t bits = c.cells[row];
    switch (c.TagAt(row)) {
        case kMissing:
            return false;
        case kEmpty:
            return true;
        case kNull:
            out.SetNull();
            return true;
        case kInteger:
            out.SetInteger(static_cast<int64_t>(bits));
            return true;
        case kDouble:
            out.SetDouble(std::bit_cast<double>(bits));
            return true;
        case kDate:
            out.SetDate(std::bit_cast<double>(bits));
            return true;
        case kDateLater:
            out.SetDate(std::bit_cast<double>(bits), true);
            return true;
        case kBoolean:
            out.SetBoolean(bits != 0);
            return true;
        default:
            out.SetString(TextOf(bits));
            return true;
    }
}

TSimpleRow TResultStore::Row(size_t row) const {
    TSimpleRow values(columns_.size());
    for (size_t c = 0; c < columns_.size(); ++c)
        Get(row, c, values[c]);
    return values;
}

void TResultStore::SortRows(std::vector<uint32_t>& rows, size_t column, bool descending) {
    // Every row lacks the column: all equal, the order stays.
    if (column >= columns_.size()) return;
    TColumn& c = columns_[column];
    if (!c.ranked) RankTexts(c);
    // Four classes in ascending order: missing, empty or null, numbers,
    // texts. Each keeps its rows in their order; numbers and texts are then
    // sorted by key within their class. Descending reverses the classes and
    // the keys (a stable sort of reversed keys keeps equal values in their
    // order).
    size_t counts[4] = {};
    bool allIntegers = true;
    for (uint32_t r : rows) {
        const uint8_t tag = c.TagAt(r);
        switch (tag) {
            case kMissing:
                ++counts[0];
                break;
            case kEmpty:
            case kNull:
                ++counts[1];
                break;
            case kString:
                ++counts[3];
                break;
            default:
                ++counts[2];
                if (tag != kInteger) allIntegers = false;
                break;
        }
    }
    size_t start[4];
    if (!descending) {
        start[0] = 0;
        for (int k = 1; k < 4; ++k)
            start[k] = start[k - 1] + counts[k - 1];
    } else {
        start[3] = 0;
        for (int k = 2; k >= 0; --k)
            start[k] = start[k + 1] + counts[k + 1];
    }
    std::vector<uint32_t> sorted(rows.size());
    std::vector<TKeyed<uint64_t>> numbers;
    std::vector<TKeyed<uint32_t>> texts;
    numbers.reserve(counts[2]);
    texts.reserve(counts[3]);
    const uint64_t flipNumbers = descending ? ~uint64_t(0) : 0;
    const uint32_t flipTexts = descending ? ~uint32_t(0) : 0;
    size_t at[2] = {start[0], start[1]};
    for (uint32_t r : rows) {
        const uint64_t bits = c.cells[r];
        switch (c.TagAt(r)) {
            case kMissing:
                sorted[at[0]++] = r;
                break;
            case kEmpty:
            case kNull:
                sorted[at[1]++] = r;
                break;
            case kString:
                texts.push_back({Header(bits)->rank ^ flipTexts, r});
                break;
            case kInteger:
                // Integers among themselves exactly; beside other numbers by
                // their double value, as the comparison of two values does.
                numbers.push_back(
                    {(allIntegers ? bits ^ (uint64_t(1) << 63)
                                  : DoubleKey(static_cast<double>(static_cast<int64_t>(bits)))) ^
                         flipNumbers,
                     r});
                break;
            case kBoolean:
                numbers.push_back({DoubleKey(bits ? 1.0 : 0.0) ^ flipNumbers, r});
                break;
            default:
                numbers.push_back({DoubleKey(std::bit_cast<double>(bits)) ^ flipNumbers, r});
                break;
        }
    }
    // Keys that span less than 2^32 (sizes below 4 GiB, counts, booleans)
    // sort as 32-bit offsets from the least: half the bytes to move.
    uint64_t lo = ~uint64_t(0), hi = 0;
    for (const TKeyed<uint64_t>& item : numbers) {
        lo = std::min(lo, item.key);
        hi = std::max(hi, item.key);
    }
    if (!numbers.empty() && hi - lo <= std::numeric_limits<uint32_t>::max()) {
        std::vector<TKeyed<uint32_t>> narrow(numbers.size());
        for (size_t i = 0; i < numbers.size(); ++i)
            narrow[i] = {static_cast<uint32_t>(numbers[i].key - lo), numbers[i].row};
        numbers = {};
        RadixSort(narrow);
        for (size_t i = 0; i < narrow.size(); ++i)
            sorted[start[2] + i] = narrow[i].row;
    } else {
        RadixSort(numbers);
        for (size_t i = 0; i < numbers.size(); ++i)
            sorted[start[2] + i] = numbers[i].row;
        numbers = {};
    }
    RadixSort(texts);
    for (size_t i = 0; i < texts.size(); ++i)
        sorted[start[3] + i] = texts[i].row;
    rows.swap(sorted);
}

}  // namespace corvane
