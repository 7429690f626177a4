// The pushed-down filter turns entries down by name before their metadata
// is read: the same rows as a filter that sees every value (the engine
// testing the rows of a table that cannot filter), with fewer statx calls
// where the name decides.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/UVeskEngine.h"
#include "filesource/U_CorvaneAdptr.h"
#include "support/TempTree.h"
#include "tests/engine/FakeSource.h"

namespace corvane {
namespace {

using testing::TempTree;

// A file-system table that may be told not to filter: the engine then
// tests every listed row itself.
class TableView : public IXSimpleDataset {
  public:
    TableView(std::shared_ptr<TVeskDSAdapterForFile> table, bool canFilter)
        : t_(std::move(table)), canFilter_(canFilter) {}
    std::string GetName() override { return t_->GetName(); }
    int GetFieldCount() override { return t_->GetFieldCount(); }
    std::string GetFieldType(int i) override { return t_->GetFieldType(i); }
    std::string GetFieldName(int i) override { return t_->GetFieldName(i); }
    void GetFieldValue(int i, Variant& v) override { t_->GetFieldValue(i, v); }
    int FieldIndex(const std::string& name) override { return t_->FieldIndex(name); }
    int GetRecordCount() override { return t_->GetRecordCount(); }
    bool Eof() override { return t_->Eof(); }
    void SetRecNo(int i) override { t_->SetRecNo(i); }
    void First() override { t_->First(); }
    void Next() override { t_->Next(); }
    void Close() override { t_->Close(); }
    void Open() override { t_->Open(); }
    bool Active() override { return t_->Active(); }
    int GetRecNo() override { return t_->GetRecNo(); }
    bool CanFilter() override { return canFilter_; }
    void SetFilter(IFilterObject* f) override { t_->SetFilter(f); }
    void SetProgress(IProgress* p) override { t_->SetProgress(p); }
    void SetUsedFields(const std::vector<int>& fields) override { t_->SetUsedFields(fields); }

  private:
    std::shared_ptr<TVeskDSAdapterForFile> t_;
    bool canFilter_;
};

class ViewSource : public IXSimpleDataBase {
  public:
    explicit ViewSource(bool canFilter) : canFilter_(canFilter) {}
    DataSetRef GetDataset(const std::string& name) override {
        auto t = std::make_shared<TVeskDSAdapterForFile>(name);
        tables.push_back(t);
        return std::make_shared<TableView>(t, canFilter_);
    }
    std::string GetName() override { return "FileSystem"; }
    std::vector<std::shared_ptr<TVeskDSAdapterForFile>> tables;

  private:
    bool canFilter_;
};

struct Outcome {
    std::vector<std::string> rows;
    uint64_t stats = 0;
};

Outcome RunQuery(const std::string& sql, bool canFilter) {
    auto source = std::make_shared<ViewSource>(canFilter);
    TVeskEngineCustomer e;
    e.AddDataBase(source);
    e.SetSQL(sql);
    e.Parse();
    EXPECT_EQ(e.GetErrorText(), "") << sql;
    e.Execute();
    Outcome out;
    out.rows = testing::Rows(e.DataSet());
    for (auto& t : source->tables)
        out.stats += t->StatCalls();
    return out;
}

TEST(ListingPrefilter, SameRowsAndStatOnlyWhatTheNameDoesNotDecide) {
    TempTree tree;
    // Four .log files, five others, three directories (one hidden).
    for (const char* f : {"a.log", "b.txt", "c.txt", "d", "big.log", "sub/e.log", "sub/f.txt",
                          "sub/g.TXT", "sub/deep/h.log", ".hid/i.log", ".hid/j.txt"}) {
        std::string rel(f);
        for (size_t s = rel.find('/'); s != std::string::npos; s = rel.find('/', s + 1))
            if (!std::filesystem::exists(tree.Path(rel.substr(0, s)))) tree.Dir(rel.substr(0, s));
        tree.File(rel, rel.find("big") != std::string::npos ? std::string(300, 'x') : "x");
    }
    // Every entry a /s listing could keep: nine files and three
    // directories (.hid is listed but not entered).
    constexpr uint64_t kAll = 12;
    struct Case {
        const char* where;
        uint64_t stats;  // statx calls with the filter pushed down
    } cases[] = {
        {"extension = 'log'", 4},                        // name only: the .log files
        {"extension = 'log' and size > 100", 4},         // name and size
        {"extension = 'log' or size > 100", kAll},       // OR: the name alone decides nothing
        {"not extension = 'txt'", 9},                    // NOT of a decided term: all but b, c, f
        {"'x'+extension = 'xlog'", kAll},                // a computed expression is never decided
        {"filename like '%.log' and isdir = false", 4},  // isdir from the entry type
        {"hidden = true and size > 0", 1},               // hidden from the name: .hid
    };
    for (const Case& c : cases) {
        const std::string sql =
            "select path, filename, size from '" + tree.Root() + " /s' where " + c.where;
        const Outcome pushed = RunQuery(sql, true);
        const Outcome engine = RunQuery(sql, false);
        EXPECT_EQ(pushed.rows, engine.rows) << c.where;
        EXPECT_EQ(engine.stats, kAll) << c.where;
        EXPECT_EQ(pushed.stats, c.stats) << c.where;
    }
}

}  // namespace
}  // namespace corvane
