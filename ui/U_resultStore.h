// U_resultStore: the rows of a finished result, held compactly for the list.
//
// The engine produces rows of Variants (48 bytes a value, every text its own
// heap block, the same directory path copied into every row of that
// directory). The result list keeps hundreds of thousands of such rows for
// as long as the result is shown, so TResultStore takes them over column by
// column instead:
//
//   - every cell is 8 bytes: an integer, the bits of a double or date-time,
//     a boolean, or a pointer to a text; beside it a one-byte kind (empty,
//     null, integer, ...) that is stored only once while the whole column
//     has one kind (a size column of integers keeps no kinds at all);
//   - texts live in large blocks owned by the store and are interned per
//     column while the rows are appended: one directory path is held once
//     however many rows show it, equal extensions share one copy;
//   - every distinct text carries its rank in the column's byte order, so a
//     sort by a text column compares 32-bit numbers, not texts.
//
// Finish() ranks the texts (the query runner calls it on its worker thread,
// so the window never waits for it) and drops what only appending needed.
// SortRows orders a list of row numbers stably by one column with a radix
// sort over a 64-bit key per row, in the order the list has always used
// (CompareValues in U_resultModel): missing cells, then empty and null,
// then numbers, dates and booleans by value, then texts byte by byte.
//
// This unit knows nothing of Qt; U_resultModel presents a store to a view.
// A value read back (Get) is the value appended, kind and all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "datasource/U_simpleDS.h"

namespace corvane {

class TResultStore {
  public:
    TResultStore() = default;
    // A moved-from store is empty (it must not keep writing into the text
    // block it handed over).
    TResultStore(TResultStore&& other) noexcept { *this = std::move(other); }
    TResultStore& operator=(TResultStore&& other) noexcept;
    ~TResultStore() = default;

    // Appends a row; a row longer than the columns so far adds columns
    // (the earlier rows have no value there).
    void Append(const TSimpleRow& row);
    // Room for this many rows in all, when known up front.
    void Reserve(size_t rows) { reserve_ = rows; }
    // Ranks the texts appended since the last call and frees the interning
    // tables. Appending afterwards is allowed (the next Finish, or the next
    // sort, ranks again).
    void Finish();

    size_t size() const { return rows_; }
    bool empty() const { return rows_ == 0; }
    size_t ColumnCount() const { return columns_.size(); }

    // The value of a cell; false (and out cleared) when the row has no
    // value in that column.
    bool Get(size_t row, size_t column, Variant& out) const;
    // The kind of a cell; false when the row has no value there.
    bool Kind(size_t row, size_t column, VarType& out) const;
    // The text of a String cell (empty for any other kind).
    std::string_view Text(size_t row, size_t column) const;
    // A whole row as Variants (as many as there are columns; empty values
    // where the row has none), e.g. for tests.
    TSimpleRow Row(size_t row) const;

    // Reorders rows (store row numbers) by the column's values, stably:
    // rows with equal values keep their order, also when descending.
    void SortRows(std::vector<uint32_t>& rows, size_t column, bool descending);

  private:
    // What a cell is; Missing marks a row shorter than the column list.
    enum Tag : uint8_t {
        kMissing,
        kEmpty,
        kNull,
        kInteger,
        kDouble,
        kDate,
        kDateLater,  // a date-time that is the second pass through a repeated hour
        kBoolean,
        kString,
    };

    // A text in a block: [uint32 rank][uint32 length][bytes]; the cell
    // points at the rank.
    struct TTextHeader {
        uint32_t rank;
        uint32_t length;
    };

    struct TColumn {
        std::vector<uint64_t> cells;
        std::vector<uint8_t> tags;  // empty while every cell has uniformTag
        uint8_t uniformTag = kMissing;
        bool ranked = true;  // every text of the column has its rank
        // While appending: the column's texts, to share equal ones.
        std::unique_ptr<std::unordered_set<std::string_view>> interned;
        size_t textsSeen = 0;  // texts appended while interning

        uint8_t TagAt(size_t row) const { return tags.empty() ? uniformTag : tags[row]; }
    };

    void AddColumn();
    void Put(TColumn& column, uint8_t tag, uint64_t bits);
    uint64_t StoreText(TColumn& column, std::string_view text);
    char* Allocate(size_t bytes);
    void RankTexts(TColumn& column);

    static const TTextHeader* Header(uint64_t bits) {
        return reinterpret_cast<const TTextHeader*>(static_cast<uintptr_t>(bits));
    }
    static std::string_view TextOf(uint64_t bits) {
        const TTextHeader* h = Header(bits);
        return {reinterpret_cast<const char*>(h + 1), h->length};
    }

    size_t rows_ = 0;
    size_t reserve_ = 0;  // rows expected in all (Reserve)
    std::vector<TColumn> columns_;
    // Text blocks; texts never move once stored.
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* free_ = nullptr;
    size_t left_ = 0;
    size_t blockBytes_ = 0;
};

}  // namespace corvane
