// U_from: the FROM clause, its tables and their row buffers.
//
// TFromClause holds the tables of a statement in the order the FROM list
// names them; a table is identified everywhere by that 0-based index. Each
// table has its bound dataset (an IXSimpleDataset from a data source) and a
// row buffer: one Variant per field, holding the values of the table's
// current record. The clause is the value source (IGVarMng) of every
// operand: it declares column names to expressions, resolves names to
// column references and hands out buffered values.
//
// The clause moves no cursor on its own: the where executor and the select
// environment (evaluation/) position the datasets and refill the buffers;
// operands only read them. The row buffers are the statement's run state:
// Prepare sizes them at the start of every execution, so a parsed
// statement can run again.
//
// Only the fields some operand reads are copied into a buffer (the used
// fields, recorded when names resolve): a column that is expensive to
// compute, such as a file's version, costs nothing unless the statement
// mentions it.
#pragma once

#include <string>
#include <vector>

#include "datasource/UveskInterface.h"
#include "sql/UveskBase.h"

namespace corvane {

class TVeskEngineBase;

// One FROM table as the parser cut it and the binder bound it.
struct TFromTable {
    std::string alias;       // as written, or the table text when none was
    bool bracketed = false;  // the table text is enclosed in "(" and ")"
    std::string tableText;   // the name handed to the data sources
    std::string itemText;    // the whole FROM list piece
    int textPos = 0;         // statement offset of the table text (1-based), 0 unknown
    DataSetRef dataset;      // null until bound
    int fieldCount = 0;      // set by Prepare
};

// A table's row buffer: one value per field of its current record.
using TARecord = std::vector<Variant>;

class TFromClause : public IGVarMng {
  public:
    explicit TFromClause(TVeskEngineBase& engine) : engine_(engine) {}

    int Count() const { return static_cast<int>(tables_.size()); }
    TFromTable& Table(int index) { return tables_.at(static_cast<size_t>(index)); }
    const TFromTable& Table(int index) const { return tables_.at(static_cast<size_t>(index)); }
    TFromTable& AddTable() { return tables_.emplace_back(); }

    // The first table whose table text, or else whose alias, equals name
    // ignoring case (both tried per table before the next table); -1.
    int IndexOfTable(std::string_view name) const;
    // "field" belongs to the first table that has it; "table.field" uses the
    // first dot outside quotes. False with both indexes -1 when not found.
    bool FindColumn(std::string_view name, int& table, int& field) const;
    // A column by its parts as a statement writes them: a name alone
    // belongs to the first table that has it, a qualifier names a table by
    // its text or alias. A name users of other tools type (name, ext,
    // modified, mtime, created, accessed, is_dir) stands for its column when
    // no table in question has a column of that name itself.
    bool FindColumnParts(std::string_view qualifier, std::string_view name, int& table,
                         int& field) const;
    // Number of tables whose dataset has a field of that name.
    int CountTablesWithField(std::string_view name) const;

    // Run state. Copies the used fields of the table's current record into
    // its buffer.
    void LoadRow(int table);
    // SetRecNo, then LoadRow.
    void PositionAndLoad(int table, int recNo);
    TARecord& Buffer(int table) { return buffers_[static_cast<size_t>(table)]; }
    // Marks a field as read by some operand (done by Resolve).
    void MarkUsed(int table, int field);
    const std::vector<int>& UsedFields(int table) const {
        return used_[static_cast<size_t>(table)];
    }

    void ReportError(const std::string& message);

    // IGVarMng
    std::string GetDeclarations() override;
    bool Resolve(const std::string& name, int tag, TOperandRef& ref) override;
    const Variant& GetValue(const TOperandRef& ref) override;
    int Cost(const TOperandRef&) override { return 1; }
    // Sizes every bound table's buffer to its field count.
    void Prepare() override;
    // The engine's progress object says the query is cancelled.
    bool Cancelled() override;
    const TSqlContext& Context() override;

  private:
    TVeskEngineBase& engine_;
    std::vector<TFromTable> tables_;
    std::vector<TARecord> buffers_;       // run state, one per table
    std::vector<std::vector<int>> used_;  // sorted used field indexes per table
    Variant empty_;                       // what an unresolved reference reads
};

}  // namespace corvane
