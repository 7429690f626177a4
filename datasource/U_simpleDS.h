// U_simpleDS: the engine's in-memory result dataset.
//
// TSimpleDataset holds the rows of one query result: field definitions
// (output name and type name of every select item) and rows of Variants. The
// engine owns it; it also presents itself as an IXSimpleDataset so that a
// front end reads a result the way the engine reads a table. References taken
// through that view do not extend its life.
//
// Contrast TSimpleRow (one finished result row, owned by the dataset) with
// the FROM clause's row buffers (the current values of one table while the
// executor walks the tables).
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "datasource/UveskInterface.h"

namespace corvane {

struct TSimpleFieldDef {
    std::string name;
    std::string typeName;
    int position = 0;  // the field's index, set when it is added
};

// One result row: as many values as there were fields when it was appended.
using TSimpleRow = std::vector<Variant>;

class TSimpleDataset : public IXSimpleDataset {
  public:
    // IXSimpleDataset view.
    std::string GetName() override { return name_; }
    int GetFieldCount() override { return static_cast<int>(fields_.size()); }
    std::string GetFieldType(int index) override;
    std::string GetFieldName(int index) override;
    void GetFieldValue(int index, Variant& value) override;
    int FieldIndex(const std::string& name) override;
    int GetRecordCount() override { return static_cast<int>(rows_.size()); }
    bool Eof() override { return current_ >= static_cast<int>(rows_.size()); }
    void SetRecNo(int index) override { current_ = index; }
    void First() override { current_ = 0; }
    void Next() override { ++current_; }
    void Close() override { ClearRows(); }
    void Open() override {}
    bool Active() override { return true; }
    int GetRecNo() override { return current_; }
    bool CanFilter() override { return false; }
    void SetFilter(IFilterObject*) override {}

    // Used by the engine.
    // Appends a row sized to the current field count, makes it current and
    // returns its index.
    int AppendRow();
    TSimpleRow& RowAt(int index) { return *rows_.at(static_cast<size_t>(index)); }
    const TSimpleRow& RowAt(int index) const { return *rows_.at(static_cast<size_t>(index)); }
    // Takes row index's slot out, leaving it empty; with PutRow the ORDER BY
    // sorter rewrites the list in sorted order without copying values.
    std::unique_ptr<TSimpleRow> TakeRow(int index) {
        return std::move(rows_.at(static_cast<size_t>(index)));
    }
    void PutRow(int index, std::unique_ptr<TSimpleRow> row) {
        rows_.at(static_cast<size_t>(index)) = std::move(row);
    }
    void ClearRows() { rows_.clear(); }
    // Keeps the first count rows (TOP n).
    void TruncateRows(int count);
    // Removes the rows whose flag is set, keeping the order of the rest.
    void RemoveRows(const std::vector<bool>& remove);

    void AddFieldDef(const std::string& name, const std::string& typeName);
    void ClearFieldDefs() { fields_.clear(); }
    const std::vector<TSimpleFieldDef>& FieldDefs() const { return fields_; }

  private:
    std::string name_;  // never set: a result has no name
    std::vector<TSimpleFieldDef> fields_;
    std::vector<std::unique_ptr<TSimpleRow>> rows_;
    int current_ = 0;
};

// A host that wants result rows as they are produced instead of reading
// TSimpleDataset afterwards (a command-line listing of a large tree keeps
// no rows in memory this way). See TVeskEngineCustomer::SetRowSink.
class IRowSink {
  public:
    virtual ~IRowSink() = default;
    // Called once per execution, before the first row, with the result's
    // field definitions.
    virtual void Begin(const std::vector<TSimpleFieldDef>& fields) { (void)fields; }
    // One result row: values[i] is field i. The values are valid only during
    // the call. An exception thrown here ends the execution and reaches the
    // caller of Execute.
    virtual void Row(std::span<const Variant* const> values) = 0;
};

}  // namespace corvane
