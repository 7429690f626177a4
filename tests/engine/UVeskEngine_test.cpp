// The engine object: data-source list, name counter, statement text.
#include "engine/UVeskEngine.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

// A source that provides exactly the tables it was told about.
class FakeSource : public IXSimpleDataBase {
  public:
    FakeSource(std::string name, std::vector<std::string> tables)
        : name_(std::move(name)), tables_(std::move(tables)) {}
    std::shared_ptr<IXSimpleDataset> GetDataset(const std::string& name) override {
        asked.push_back(name);
        for (auto& t : tables_)
            if (t == name) {
                auto ds = std::make_shared<TSimpleDataset>();
                ds->AddFieldDef(name_ + ":" + name, "string");
                return ds;
            }
        return nullptr;
    }
    std::string GetName() override { return name_; }
    std::vector<std::string> asked;

  private:
    std::string name_;
    std::vector<std::string> tables_;
};

std::string Tag(const DataSetRef& ds) {
    return ds ? ds->GetFieldName(0) : "null";
}

TEST(TDataBaseList, FindDataset) {
    TDataBaseList list;
    auto a = std::make_shared<FakeSource>("Alpha", std::vector<std::string>{"t", "u"});
    auto b =
        std::make_shared<FakeSource>("FileSystem", std::vector<std::string>{"t", "'x.y'", "v"});
    list.Add(a);
    list.Add(nullptr);
    list.Add(b);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Items(2), nullptr);
    struct Case {
        const char* name;
        const char* found;
    } cases[] = {
        {"t", "Alpha:t"},       // first source that answers
        {"v", "FileSystem:v"},  // the first declines
        {"filesystem.t", "FileSystem:t"},
        {"FILESYSTEM.'x.y'", "FileSystem:'x.y'"},
        {"'x.y'", "FileSystem:'x.y'"},  // a dot inside quotes does not split
        {"nosuch.t", "null"},
        {"w", "null"},
    };
    for (auto c : cases)
        EXPECT_EQ(Tag(list.FindDataset(c.name)), c.found) << c.name;
    EXPECT_EQ(list.IndexOfName("alpha"), 0);
    EXPECT_EQ(list.IndexOfName("beta"), -1);
}

TEST(TVeskEngine, NextIdWrapsAfterLimit) {
    TVeskEngineCustomer engine;
    EXPECT_EQ(engine.NextId(), 1);
    EXPECT_EQ(engine.NextId(), 2);
    for (int i = 0; i < 5; ++i)
        engine.NextId();
    EXPECT_EQ(engine.NextId(), 8);
}

class CounterProbe : public TVeskEngineBase {
  public:
    void Jump(int v) { idCounter_ = v; }
};

TEST(TVeskEngine, NextIdAfter2147483641IsZero) {
    CounterProbe e;
    e.Jump(2147483640);
    EXPECT_EQ(e.NextId(), 2147483641);
    EXPECT_EQ(e.NextId(), 0);
    EXPECT_EQ(e.NextId(), 1);
}

TEST(TVeskEngine, SameTextKeepsResult) {
    TVeskEngineCustomer engine;
    engine.SetSQL("select * from t");
    engine.DataSet().AddFieldDef("a", "string");
    engine.DataSet().AppendRow();
    engine.SetSQL("select * from t");
    EXPECT_EQ(engine.DataSet().GetRecordCount(), 1);
    engine.SetSQL("select * from u");
    EXPECT_EQ(engine.DataSet().GetRecordCount(), 0);
    EXPECT_EQ(engine.DataSet().GetFieldCount(), 1);  // definitions stay
}

TEST(TmyErrorMng, TextIsEveryMessageWithCrLf) {
    TmyErrorMng e;
    EXPECT_EQ(e.Text(), "");
    e.Add("a");
    e.Add("a");
    EXPECT_EQ(e.Text(), "a\r\na\r\n");
}

// Each message may carry its place in the statement (1-based bytes, 0 when
// not known); the text shows the messages only.
TEST(TmyErrorMng, MessagesKeepTheirOrderAndTheirPlaces) {
    TmyErrorMng errors;
    errors.Add("a");
    errors.Add("b", 7);
    errors.Add("b", -3);  // no place is 0
    ASSERT_EQ(errors.Count(), 3);
    EXPECT_EQ(errors.Item(1), "b");
    EXPECT_EQ(errors.Position(0), 0);
    EXPECT_EQ(errors.Position(1), 7);
    EXPECT_EQ(errors.Position(2), 0);
    EXPECT_EQ(errors.Text(), "a\r\nb\r\nb\r\n");
    errors.SetPosition(0, 12);
    EXPECT_EQ(errors.Position(0), 12);
    EXPECT_THROW(errors.Position(3), std::out_of_range);
    errors.Clear();
    EXPECT_EQ(errors.Count(), 0);
}

TEST(TSimpleDataset, CursorAndFieldLookup) {
    TSimpleDataset ds;
    ds.AddFieldDef("Name", "string");
    ds.AddFieldDef("name", "integer");
    EXPECT_EQ(ds.FieldIndex("NAME"), 0);
    EXPECT_EQ(ds.FieldIndex("x"), -1);
    ds.First();
    EXPECT_TRUE(ds.Eof());
    int r = ds.AppendRow();
    ds.RowAt(r)[0] = Variant("v");
    ds.First();
    Variant out;
    ds.GetFieldValue(0, out);
    EXPECT_EQ(out.AsString(), "v");
    ds.Next();
    Variant keep("untouched");
    ds.GetFieldValue(0, keep);
    EXPECT_EQ(keep.AsString(), "untouched");
}

}  // namespace
}  // namespace corvane
