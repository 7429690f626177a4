// The engine's warnings: what the tables of a statement could not read is
// gathered from every FROM table after Execute, in FROM order and each text
// once, also when the run stops with an error; the next Execute renews it.
#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/engine/FakeSource.h"

namespace corvane {
namespace {

using testing::FakeTable;
using testing::FakeTableData;
using testing::Files;

// A table that, once opened, reports the warnings it was given; it may
// fail while loading, as a listing that runs out of memory would.
class WarningTable : public FakeTable {
  public:
    WarningTable(std::string name, std::vector<std::string> warnings, bool fails)
        : FakeTable(name, std::make_shared<const FakeTableData>(Files({{"f", 1, false}})), true),
          warnings_(std::move(warnings)),
          fails_(fails) {}
    void Open() override {
        opened_ = true;
        FakeTable::Open();
        if (fails_) throw std::runtime_error("listing failed");
    }
    std::vector<std::string> Warnings() override {
        return opened_ ? warnings_ : std::vector<std::string>{};
    }

  private:
    std::vector<std::string> warnings_;
    bool fails_;
    bool opened_ = false;
};

// Tables "a", "b", "c" say what their name asks for; "boom" fails.
class WarningSource : public IXSimpleDataBase {
  public:
    DataSetRef GetDataset(const std::string& name) override {
        if (name == "a") return std::make_shared<WarningTable>(name, Says{"a1", "both"}, false);
        if (name == "b") return std::make_shared<WarningTable>(name, Says{"both", "b1"}, false);
        if (name == "c") return std::make_shared<WarningTable>(name, Says{}, false);
        if (name == "boom") return std::make_shared<WarningTable>(name, Says{"boom1"}, true);
        return nullptr;
    }
    std::string GetName() override { return "W"; }

  private:
    using Says = std::vector<std::string>;
};

using Texts = std::vector<std::string>;

TEST(EngineWarnings, GatheredFromEveryTableInFromOrderEachOnce) {
    struct Case {
        const char* sql;
        Texts warnings;
    } cases[] = {
        {"select * from a", {"a1", "both"}},
        {"select * from c", {}},
        {"select x.filename from b x, a y", {"both", "b1", "a1"}},
        {"select x.filename from a x, a y", {"a1", "both"}},  // a table named twice
        {"select x.filename from a x, b y where x.size = y.size", {"a1", "both", "b1"}},
        {"select * from a where size = 1 or filename = 'f'", {"a1", "both"}},
    };
    for (const Case& c : cases) {
        TVeskEngineCustomer engine;
        engine.AddDataBase(std::make_shared<WarningSource>());
        engine.SetSQL(c.sql);
        engine.Parse();
        ASSERT_EQ(engine.GetErrorText(), "") << c.sql;
        EXPECT_TRUE(engine.Warnings().empty()) << c.sql;  // nothing loaded yet
        engine.Execute();
        EXPECT_EQ(engine.Warnings(), c.warnings) << c.sql;
        engine.Execute();  // renewed, not added to
        EXPECT_EQ(engine.Warnings(), c.warnings) << c.sql;
    }
}

TEST(EngineWarnings, KeptWhenTheRunStopsWithAnError) {
    TVeskEngineCustomer engine;
    engine.AddDataBase(std::make_shared<WarningSource>());
    engine.SetSQL("select x.filename from a x, boom y");
    engine.Parse();
    ASSERT_EQ(engine.GetErrorText(), "");
    EXPECT_THROW(engine.Execute(), std::runtime_error);
    EXPECT_EQ(engine.Warnings(), (Texts{"a1", "both", "boom1"}));
}

TEST(EngineWarnings, NoneAfterParseErrors) {
    TVeskEngineCustomer engine;
    engine.AddDataBase(std::make_shared<WarningSource>());
    engine.SetSQL("select * from a");
    engine.Parse();
    engine.Execute();
    ASSERT_FALSE(engine.Warnings().empty());
    engine.SetSQL("select from");
    engine.Parse();
    ASSERT_NE(engine.GetErrorText(), "");
    engine.Execute();
    EXPECT_TRUE(engine.Warnings().empty());
}

}  // namespace
}  // namespace corvane

namespace corvane {
namespace {

// Rows a condition leaves out because it could not be decided for them
// (a file that cannot be read, a text that is no number) are reported
// once, with their count and the first reason; an unknown that comes from
// a null value is no fault and reported by nobody.
TEST(EngineWarnings, RowsLeftOutForAnUndecidedConditionAreCounted) {
    testing::FakeTableData data{
        {"path", "filename", "size", "val"}, {"string", "string", "integer", "any"}, {}};
    data.rows.push_back(
        {Variant("/nonexistent/dir/"), Variant("gone1"), Variant(int64_t{1}), Variant("abc")});
    data.rows.push_back(
        {Variant("/nonexistent/dir/"), Variant("gone2"), Variant(int64_t{2}), Variant::Null()});
    data.rows.push_back({Variant("/"), Variant("tmp"), Variant(int64_t{3}), Variant("5")});
    for (bool canFilter : {true, false}) {
        auto src = std::make_shared<testing::FakeSource>("Fake", canFilter);
        src->AddTable("t", data);
        struct Case {
            const char* where;
            std::vector<std::string> warnings;
        } cases[] = {
            // Two missing files and a directory: no content to read.
            {"not contains(path, filename, 'x')",
             {"有3行因条件无法判断而未列出，第一个原因：无法读取“/nonexistent/dir/gone1”"}},
            {"val > 1", {"有1行因条件无法判断而未列出，第一个原因：“abc”不是数字"}},
            {"val > 1 or size = 1", {}},   // decided: true
            {"val > 1 and size = 2", {}},  // decided: false, and null is no fault
            {"val is null or val = 5", {"有1行因条件无法判断而未列出，第一个原因：“abc”不是数字"}},
            {"linecount(path, filename) >= 0",
             {"有3行因条件无法判断而未列出，第一个原因：无法读取“/nonexistent/dir/gone1”"}},
        };
        for (const Case& c : cases) {
            TVeskEngineCustomer e;
            e.AddDataBase(src);
            e.SetSQL(std::string("select filename from t where ") + c.where);
            e.Parse();
            ASSERT_EQ(e.GetErrorText(), "") << c.where;
            e.Execute();
            EXPECT_EQ(e.Warnings(), c.warnings) << c.where << (canFilter ? " (filtering)" : "");
        }
    }
}

}  // namespace
}  // namespace corvane
