// The engine facade end to end over in-memory tables: Parse, GetErrorText,
// Execute, DataSet, the row sink, progress and cancellation.
#include <gtest/gtest.h>

#include "engine/UVeskEngine.h"
#include "tests/engine/FakeSource.h"

namespace corvane {
namespace {

using testing::FakeSource;
using testing::Files;
using testing::Header;
using testing::Rows;

std::shared_ptr<FakeSource> Source(bool canFilter = true) {
    auto src = std::make_shared<FakeSource>("Fake", canFilter);
    src->AddTable("t", Files({{"a.txt", 10, false}, {"b.log", 200, false}, {"c", 0, true}}));
    return src;
}

TEST(EngineFacade, ParseThenExecutePlainColumns) {
    TVeskEngineCustomer e;
    e.AddDataBase(Source());
    e.SetSQL("select filename, size from t");
    e.Parse();
    ASSERT_EQ(e.GetErrorText(), "");
    e.Execute();
    EXPECT_EQ(Header(e.DataSet()), (std::vector<std::string>{"filename:string", "size:integer"}));
    EXPECT_EQ(Rows(e.DataSet()), (std::vector<std::string>{"a.txt|10", "b.log|200", "c|0"}));
}

TEST(EngineFacade, ErrorTextEndsEveryMessageWithCrLf) {
    TVeskEngineCustomer e;
    e.AddDataBase(Source());
    e.SetSQL("select filename from nosuch");
    e.Parse();
    EXPECT_EQ(e.GetErrorText(), "nosuch不是有效的表\r\n");
    e.Execute();  // ignored after a failed parse
    EXPECT_EQ(e.DataSet().GetRecordCount(), 0);
}

TEST(EngineFacade, ExecuteTwiceGivesTheSameRows) {
    TVeskEngineCustomer e;
    e.AddDataBase(Source());
    e.SetSQL("select filename from t where size > 5 order by filename desc");
    e.Parse();
    ASSERT_EQ(e.GetErrorText(), "");
    e.Execute();
    const auto first = Rows(e.DataSet());
    e.Execute();
    EXPECT_EQ(Rows(e.DataSet()), first);
    EXPECT_EQ(first, (std::vector<std::string>{"b.log", "a.txt"}));
}

TEST(EngineFacade, SameTextKeepsTheResultAndAChangedTextEmptiesIt) {
    TVeskEngineCustomer e;
    e.AddDataBase(Source());
    e.SetSQL("select filename from t");
    e.Parse();
    e.Execute();
    e.SetSQL("select filename from t");
    EXPECT_EQ(e.DataSet().GetRecordCount(), 3);
    e.SetSQL("select size from t");
    EXPECT_EQ(e.DataSet().GetRecordCount(), 0);
}

struct CollectingSink : IRowSink {
    std::vector<std::string> fields;
    std::vector<std::string> rows;
    void Begin(const std::vector<TSimpleFieldDef>& defs) override {
        for (auto& d : defs)
            fields.push_back(d.name);
    }
    void Row(std::span<const Variant* const> values) override {
        std::string line;
        for (size_t i = 0; i < values.size(); ++i) {
            if (i) line += '|';
            values[i]->AppendString(line);
        }
        rows.push_back(line);
    }
};

TEST(EngineFacade, RowSinkReceivesRowsInFinalOrder) {
    struct Case {
        const char* sql;
        std::vector<std::string> rows;
    } cases[] = {
        {"select filename from t", {"a.txt", "b.log", "c"}},
        {"select top 2 filename from t", {"a.txt", "b.log"}},
        {"select filename from t order by size desc", {"b.log|200", "a.txt|10", "c|0"}},
        {"select top 1 filename from t order by size", {"c|0"}},
    };
    for (const Case& c : cases) {
        TVeskEngineCustomer e;
        e.AddDataBase(Source());
        CollectingSink sink;
        e.SetRowSink(&sink);
        e.SetSQL(c.sql);
        e.Parse();
        ASSERT_EQ(e.GetErrorText(), "") << c.sql;
        e.Execute();
        EXPECT_EQ(sink.rows, c.rows) << c.sql;
        EXPECT_EQ(e.DataSet().GetRecordCount(), 0) << c.sql;
    }
}

struct CancelAfter : IProgress {
    long long listed = 0;
    int polls = 0;
    int cancelAt;
    explicit CancelAfter(int at) : cancelAt(at) {}
    void Listed(long long n) override { listed = n; }
    bool Cancelled() const override { return const_cast<CancelAfter*>(this)->polls++ >= cancelAt; }
};

TEST(EngineFacade, CancelledExecuteThrowsAndKeepsRowsSoFar) {
    auto src = std::make_shared<FakeSource>();
    std::vector<std::tuple<std::string, int64_t, bool>> many;
    for (int i = 0; i < 500; ++i)
        many.emplace_back("f" + std::to_string(i), i, false);
    src->AddTable("big", Files(many));
    for (const char* sql :
         {"select filename from big", "select a.filename from big a, big b where a.size = b.size",
          "select a.filename from big a, big b where a.size < b.size"}) {
        TVeskEngineCustomer e;
        e.AddDataBase(src);
        CancelAfter progress(3);
        e.SetProgress(&progress);
        e.SetSQL(sql);
        e.Parse();
        ASSERT_EQ(e.GetErrorText(), "");
        EXPECT_THROW(e.Execute(), QueryCancelledError) << sql;
        EXPECT_LT(e.DataSet().GetRecordCount(), 500 * 500) << sql;
        EXPECT_EQ(progress.listed, 500) << sql;  // the table was handed the progress object
    }
}

}  // namespace
}  // namespace corvane
