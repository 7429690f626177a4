#include "datasource/U_simpleDS.h"

#include "platform/Text.h"

namespace corvane {

std::string TSimpleDataset::GetFieldType(int index) {
    return fields_.at(static_cast<size_t>(index)).typeName;
}

std::string TSimpleDataset::GetFieldName(int index) {
    return fields_.at(static_cast<size_t>(index)).name;
}

void TSimpleDataset::GetFieldValue(int index, Variant& value) {
    if (current_ < 0 || current_ >= static_cast<int>(rows_.size())) return;
    const TSimpleRow& row = *rows_[static_cast<size_t>(current_)];
    if (index < 0 || index >= static_cast<int>(row.size())) return;
    value.Assign(row[static_cast<size_t>(index)]);
}

int TSimpleDataset::FieldIndex(const std::string& name) {
    for (size_t i = 0; i < fields_.size(); ++i)
        if (SameTextAscii(fields_[i].name, name)) return static_cast<int>(i);
    return -1;
}

int TSimpleDataset::AppendRow() {
    rows_.push_back(std::make_unique<TSimpleRow>(fields_.size()));
    current_ = static_cast<int>(rows_.size()) - 1;
    return current_;
}

void TSimpleDataset::TruncateRows(int count) {
    if (count >= 0 && static_cast<size_t>(count) < rows_.size())
        rows_.resize(static_cast<size_t>(count));
}

void TSimpleDataset::RemoveRows(const std::vector<bool>& remove) {
    size_t out = 0;
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (i < remove.size() && remove[i]) continue;
        if (out != i) rows_[out] = std::move(rows_[i]);
        ++out;
    }
    rows_.resize(out);
}

void TSimpleDataset::AddFieldDef(const std::string& name, const std::string& typeName) {
    fields_.push_back({name, typeName, static_cast<int>(fields_.size())});
}

}  // namespace corvane
