// In-memory tables for engine and evaluation tests.
//
// FakeSource hands out FakeTable objects by name. A FakeTable holds fixed
// rows; Open loads them (applying an installed filter the way a filtering
// source does, so rejected rows are never kept) and Close drops them. It
// counts what the engine asks of it, so tests can see pushed-down filters.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/UVeskEngine.h"
#include "platform/Text.h"

namespace corvane::testing {

struct FakeTableData {
    std::vector<std::string> names;
    std::vector<std::string> types;
    std::vector<std::vector<Variant>> rows;
    int starFields = -1;  // the fields "*" stands for; -1: all of them
};

class FakeTable : public IXSimpleDataset {
  public:
    FakeTable(std::string name, std::shared_ptr<const FakeTableData> data, bool canFilter)
        : name_(std::move(name)), data_(std::move(data)), canFilter_(canFilter) {}

    std::string GetName() override { return name_; }
    int GetFieldCount() override { return static_cast<int>(data_->names.size()); }
    int GetStarFieldCount() override {
        return data_->starFields < 0 ? GetFieldCount() : data_->starFields;
    }
    std::string GetFieldType(int i) override { return data_->types.at(static_cast<size_t>(i)); }
    std::string GetFieldName(int i) override { return data_->names.at(static_cast<size_t>(i)); }
    void GetFieldValue(int index, Variant& value) override {
        ++valueReads;
        if (cur_ < 0 || cur_ >= static_cast<int>(loaded_.size())) return;
        if (index < 0 || index >= GetFieldCount()) return;
        value.Assign(data_->rows[static_cast<size_t>(loaded_[static_cast<size_t>(cur_)])]
                                [static_cast<size_t>(index)]);
    }
    int FieldIndex(const std::string& name) override {
        for (size_t i = 0; i < data_->names.size(); ++i)
            if (SameTextAscii(data_->names[i], name)) return static_cast<int>(i);
        return -1;
    }
    int GetRecordCount() override { return static_cast<int>(loaded_.size()); }
    bool Eof() override { return cur_ >= static_cast<int>(loaded_.size()); }
    void SetRecNo(int index) override { cur_ = index; }
    void First() override { cur_ = 0; }
    void Next() override { ++cur_; }
    void Close() override {
        active_ = false;
        loaded_.clear();
    }
    void Open() override {
        ++opens;
        loaded_.clear();
        for (size_t r = 0; r < data_->rows.size(); ++r) {
            if (progress_) progress_->Listed(static_cast<long long>(r + 1));
            if (filter_) {
                ++filtered;
                if (RejectedByName(data_->rows[r])) {
                    ++rejectedEarly;
                    continue;
                }
                for (size_t f = 0; f < data_->names.size(); ++f)
                    filter_->SetValue(static_cast<int>(f), data_->rows[r][f]);
                if (!filter_->Evaluate().AsBoolean()) continue;
            }
            loaded_.push_back(static_cast<int>(r));
        }
        active_ = true;
        cur_ = 0;
    }
    bool Active() override { return active_; }
    int GetRecNo() override { return cur_; }
    bool CanFilter() override { return canFilter_; }
    void SetFilter(IFilterObject* filter) override { filter_ = filter; }
    void SetProgress(IProgress* progress) override { progress_ = progress; }

    // Whether the engine left its filter or progress object installed.
    bool HoldsFilter() const { return filter_ != nullptr; }
    bool HoldsProgress() const { return progress_ != nullptr; }

    int opens = 0;
    int filtered = 0;       // records handed to a filter
    int rejectedEarly = 0;  // of those, turned down on their name fields alone
    long valueReads = 0;    // GetFieldValue calls

  private:
    // As the file source asks before it reads an entry's metadata: only
    // the name fields (filename, extension, isdir, name) are known, every
    // other field holds a stale value that no early verdict may rely on.
    bool RejectedByName(const std::vector<Variant>& row) {
        static const Variant stale("\x7fstale");
        uint64_t known = 0;
        for (size_t f = 0; f < data_->names.size() && f < 64; ++f) {
            const std::string& n = data_->names[f];
            const bool isKnown = SameTextAscii(n, "filename") || SameTextAscii(n, "extension") ||
                                 SameTextAscii(n, "isdir") || SameTextAscii(n, "name");
            filter_->SetValue(static_cast<int>(f), isKnown ? row[f] : stale);
            if (isKnown) known |= uint64_t{1} << f;
        }
        return filter_->RejectsKnowing(known);
    }

    std::string name_;
    std::shared_ptr<const FakeTableData> data_;
    bool canFilter_;
    bool active_ = false;
    int cur_ = 0;
    std::vector<int> loaded_;
    IFilterObject* filter_ = nullptr;
    IProgress* progress_ = nullptr;
};

class FakeSource : public IXSimpleDataBase {
  public:
    explicit FakeSource(std::string name = "Fake", bool canFilter = true)
        : name_(std::move(name)), canFilter_(canFilter) {}
    void AddTable(const std::string& name, FakeTableData data) {
        tables_[LowerCaseAscii(name)] = std::make_shared<const FakeTableData>(std::move(data));
    }
    DataSetRef GetDataset(const std::string& name) override {
        auto it = tables_.find(LowerCaseAscii(name));
        if (it == tables_.end()) return nullptr;
        auto t = std::make_shared<FakeTable>(name, it->second, canFilter_);
        handedOut.push_back(t);
        return t;
    }
    std::string GetName() override { return name_; }
    std::vector<std::shared_ptr<FakeTable>> handedOut;

  private:
    std::string name_;
    bool canFilter_;
    std::map<std::string, std::shared_ptr<const FakeTableData>> tables_;
};

// A table of files: filename (string), size (integer), isdir (boolean).
inline FakeTableData Files(std::vector<std::tuple<std::string, int64_t, bool>> rows) {
    FakeTableData d{{"filename", "size", "isdir"}, {"string", "integer", "boolean"}, {}};
    for (auto& [n, s, dir] : rows)
        d.rows.push_back({Variant(n), Variant(s), Variant(dir)});
    return d;
}

// Renders a result as lines "v1|v2|...", values by their text form.
inline std::vector<std::string> Rows(TSimpleDataset& ds) {
    std::vector<std::string> out;
    for (int r = 0; r < ds.GetRecordCount(); ++r) {
        std::string line;
        const TSimpleRow& row = ds.RowAt(r);
        for (size_t i = 0; i < row.size(); ++i) {
            if (i) line += '|';
            row[i].AppendString(line);
        }
        out.push_back(line);
    }
    return out;
}

inline std::vector<std::string> Header(TSimpleDataset& ds) {
    std::vector<std::string> out;
    for (int i = 0; i < ds.GetFieldCount(); ++i)
        out.push_back(ds.GetFieldName(i) + ":" + ds.GetFieldType(i));
    return out;
}

}  // namespace corvane::testing
