// U_memBudget: the byte budget of one query.
//
// A statement can ask for more memory than any machine has: a join of two
// large directories under OR conditions, an ORDER BY over millions of long
// paths. Counting rows or cells does not bound that, since one cell may hold
// a 4000-byte path and one match-tree node is not a cell at all. So
// everything a query holds that grows with its input is charged, in bytes,
// to one TMemoryBudget that the engine owns:
//   - the rows the result holds (and the copies DISTINCT keeps while rows
//     stream to a sink),
//   - the match trees, their paths and the set of reported combinations of
//     a join, over all OR branches together,
//   - the sort keys of ORDER BY,
//   - the groups of GROUP BY with their accumulators,
//   - what a host keeps for its own output (corvane-cli's table format).
// A charge that would pass the limit throws ResultTooLargeError (UveskBase)
// naming the limit and the part that grew, and leaves the budget as it was;
// the query then ends like one that was cancelled.
//
// Charges are estimates of what the allocator hands out (object sizes,
// heap blocks of long texts, a block header each), counted where the data
// grows, so that a budget check costs an addition and a comparison. The
// loaded tables themselves are not charged: they hold what the data source
// listed, which the source bounds.
//
// The default limit is a quarter of the memory the process can have, at
// most kMaxDefaultMemoryLimit; hosts may change it
// (TVeskEngineCustomer::SetMemoryLimit, corvane-cli --memory-limit, the
// desktop program's config.ini key "memoryLimit").
#pragma once

#include <cstdint>
#include <string>

#include "datasource/U_simpleDS.h"
#include "sql/SqlMessages.h"

namespace corvane {

// The most the default budget grants, whatever the machine has.
inline constexpr int64_t kMaxDefaultMemoryLimit = int64_t{4} << 30;

// A quarter of AvailableMemoryBytes (platform/Memory), at most
// kMaxDefaultMemoryLimit; kMaxDefaultMemoryLimit when nothing is known.
int64_t DefaultMemoryLimit();

// The text std::bad_alloc becomes when a front end reports it.
inline constexpr const char* kMsgOutOfMemory = sqlmsg::OutOfMemory.data();

// What a charge is for; named in the message when the budget runs out.
enum class TMemoryUse : uint8_t { Rows, Join, SortKeys, Output, Groups };

class TMemoryBudget {
  public:
    // Bytes at most; 0 means no bound.
    explicit TMemoryBudget(int64_t limit = 0) : limit_(limit > 0 ? limit : 0) {}
    void SetLimit(int64_t bytes) { limit_ = bytes > 0 ? bytes : 0; }
    int64_t Limit() const { return limit_; }
    int64_t Used() const { return used_; }

    // Adds bytes; throws ResultTooLargeError, charging nothing, when the
    // total would pass the limit.
    void Charge(int64_t bytes, TMemoryUse use) {
        used_ += bytes;
        if (limit_ > 0 && used_ > limit_) Refuse(bytes, use);
    }
    void Release(int64_t bytes) { used_ = bytes < used_ ? used_ - bytes : 0; }
    void Reset() { used_ = 0; }

  private:
    [[noreturn]] void Refuse(int64_t bytes, TMemoryUse use);

    int64_t limit_;
    int64_t used_ = 0;
};

// Bytes charged for one purpose, released together when it ends (a sort,
// a WHERE branch). Without a budget it only counts.
class TMemoryCharge {
  public:
    TMemoryCharge(TMemoryBudget* budget, TMemoryUse use) : budget_(budget), use_(use) {}
    ~TMemoryCharge() { Clear(); }
    TMemoryCharge(const TMemoryCharge&) = delete;
    TMemoryCharge& operator=(const TMemoryCharge&) = delete;

    void Add(int64_t bytes) {
        if (budget_) budget_->Charge(bytes, use_);
        held_ += bytes;
    }
    // Charges or releases the difference to a new total.
    void Set(int64_t total) {
        if (total > held_)
            Add(total - held_);
        else
            Drop(held_ - total);
    }
    void Drop(int64_t bytes) {
        if (bytes > held_) bytes = held_;
        if (budget_) budget_->Release(bytes);
        held_ -= bytes;
    }
    void Clear() { Drop(held_); }
    int64_t Held() const { return held_; }

  private:
    TMemoryBudget* budget_;
    TMemoryUse use_;
    int64_t held_ = 0;
};

// Estimates of what held values take.
//
// A heap block: the bytes asked for plus the allocator's header, rounded to
// its 16-byte granules.
constexpr int64_t HeapBlockBytes(int64_t bytes) {
    return (bytes + 8 + 15) / 16 * 16;
}
// The heap a text of that length takes beyond its std::string (short texts
// live inside it).
constexpr int64_t TextHeapBytes(size_t length) {
    return length < 16 ? 0 : HeapBlockBytes(static_cast<int64_t>(length) + 1);
}
// A held result row of those values: its slot in the dataset, the row
// object, the values and their texts.
int64_t RowBytes(const TSimpleRow& row);
int64_t RowBytes(const Variant* const* values, size_t count);

}  // namespace corvane
