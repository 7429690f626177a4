// The executor and its match trees: filters pushed into the load, the
// pruning cascade, a triangle of conditions, a condition that brings in two
// tables at once, and the equality index giving the walk's exact answer.
#include "evaluation/Uwhr.h"

#include <gtest/gtest.h>

#include "engine/UVeskEngine.h"
#include "tests/engine/FakeSource.h"

namespace corvane {
namespace {

using testing::FakeSource;
using testing::FakeTableData;
using testing::Files;
using testing::Rows;

struct Outcome {
    std::vector<std::string> rows;
    std::vector<std::vector<int>>
        rowCounts;  // per answered branch: candidate rows left, by position
    std::vector<std::vector<std::vector<int>>> paths;  // per branch, per tree: flattened paths
    std::shared_ptr<FakeSource> source;
};

Outcome Execute(const std::string& sql, std::shared_ptr<FakeSource> src) {
    Outcome r;
    r.source = src;
    TVeskEngineCustomer e;
    e.AddDataBase(src);
    e.OnDebug = [&](const TDebugObject& d) {
        std::vector<int> counts;
        for (int p = 0; p < d.tables->JoinTableCount(); ++p)
            counts.push_back(d.tables->At(p).rowCount);
        r.rowCounts.push_back(counts);
        std::vector<std::vector<int>> trees;
        for (const auto& t : *d.trees) {
            std::vector<int> grid;
            t->Paths(grid);
            trees.push_back(grid);
        }
        r.paths.push_back(trees);
    };
    e.SetSQL(sql);
    e.Parse();
    EXPECT_EQ(e.GetErrorText(), "") << sql;
    e.Execute();
    r.rows = Rows(e.DataSet());
    return r;
}

std::shared_ptr<FakeSource> Abc() {
    auto src = std::make_shared<FakeSource>();
    src->AddTable("a", Files({{"p", 1, false}, {"q", 2, false}, {"r", 3, false}}));
    src->AddTable("b", Files({{"p", 10, false}, {"q", 20, false}, {"z", 30, false}}));
    src->AddTable("c", Files({{"p", 100, false}, {"x", 200, false}, {"q", 300, false}}));
    return src;
}

TEST(TWhereExecuter, FilterRunsInsideTheLoad) {
    Outcome r = Execute("select filename from a where size > 1 and filename <> 'q'", Abc());
    EXPECT_EQ(r.rows, (std::vector<std::string>{"r"}));
    const auto& table = r.source->handedOut.front();
    EXPECT_EQ(table->filtered, 3);          // every entry went through the filter
    EXPECT_EQ(table->GetRecordCount(), 1);  // and only the accepted one was kept
}

// A load that fails (here the progress object throws while the table
// lists) leaves no table holding the run's filter or progress object: both
// belong to the run, and the host may destroy its progress object once
// Execute has thrown.
TEST(TWhereExecuter, AFailedLoadTakesFilterAndProgressBack) {
    struct ThrowingProgress : IProgress {
        void Listed(long long) override { throw std::runtime_error("listing failed"); }
        bool Cancelled() const override { return false; }
    };
    struct Case {
        const char* name;
        const char* sql;
        bool canFilter;
    } cases[] = {
        {"filter pushed into the load", "select filename from a where size > 1", true},
        {"filtering source, no filter", "select a.filename from a, b where a.size = b.size", true},
        {"source that cannot filter", "select filename from a where size > 1", false},
        {"no WHERE: the full walk", "select filename from a", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto src = std::make_shared<FakeSource>("Fake", c.canFilter);
        src->AddTable("a", Files({{"p", 1, false}, {"q", 2, false}}));
        src->AddTable("b", Files({{"p", 1, false}}));
        ThrowingProgress progress;
        TVeskEngineCustomer e;
        e.AddDataBase(src);
        e.SetProgress(&progress);
        e.SetSQL(c.sql);
        e.Parse();
        ASSERT_EQ(e.GetErrorText(), "");
        EXPECT_THROW(
            {
                try {
                    e.Execute();
                } catch (const std::runtime_error& error) {
                    EXPECT_STREQ(error.what(), "listing failed");
                    throw;
                }
            },
            std::runtime_error);
        ASSERT_FALSE(src->handedOut.empty());
        for (const auto& table : src->handedOut) {
            EXPECT_FALSE(table->HoldsFilter());
            EXPECT_FALSE(table->HoldsProgress());
        }
    }
}

TEST(TWhereExecuter, OnlyUsedColumnsAreRead) {
    Outcome r = Execute("select filename from a", Abc());
    // Three rows, one column: the full walk copies what the statement reads.
    EXPECT_EQ(r.source->handedOut.front()->valueReads, 3);
}

TEST(MatchTrees, PruningDropsRowsThatLeadNowhere) {
    Outcome r = Execute("select a.size, b.size from a, b where a.filename = b.filename", Abc());
    EXPECT_EQ(r.rows, (std::vector<std::string>{"1|10", "2|20"}));
    ASSERT_EQ(r.rowCounts.size(), 1u);
    EXPECT_EQ(r.rowCounts[0], (std::vector<int>{2, 2}));  // r and z are gone
    ASSERT_EQ(r.paths[0].size(), 1u);
    EXPECT_EQ(r.paths[0][0], (std::vector<int>{0, 0, 1, 1}));
}

TEST(MatchTrees, ConditionThatNoPairSatisfiesEmptiesTheTree) {
    Outcome r = Execute("select a.size from a, b where a.size = b.size", Abc());
    EXPECT_TRUE(r.rows.empty());
    EXPECT_EQ(r.rowCounts[0], (std::vector<int>{0, 0}));
}

TEST(MatchTrees, TriangleRemovesPathsThatFailTheThirdCondition) {
    // a-b and b-c join on the name; a-c then keeps only pairs with a.size*100 = c.size
    // written as a comparison between tables already in the tree.
    Outcome r = Execute(
        "select a.filename, b.filename, c.filename from a, b, c where a.filename = b.filename and "
        "b.filename = c.filename and a.size < c.size",
        Abc());
    EXPECT_EQ(r.rows, (std::vector<std::string>{"p|p|p", "q|q|q"}));
    r = Execute(
        "select a.filename, c.filename from a, b, c where a.filename = b.filename and b.filename = "
        "c.filename "
        "and a.filename <> c.filename",
        Abc());
    EXPECT_TRUE(r.rows.empty());
}

TEST(MatchTrees, ConditionBringingInTwoTables) {
    // d-b is planned first (lighter); BETWEEN then names a, b and c, and with
    // b bound it adds a and c in one step: two levels below every b path.
    auto src = Abc();
    src->AddTable("d", Files({{"q", 0, false}}));
    Outcome r = Execute(
        "select a.size, c.size from a, b, c, d where d.filename = b.filename and b.size between "
        "a.size and "
        "c.size and c.size < 300",
        src);
    EXPECT_EQ(r.rows,
              (std::vector<std::string>{"1|100", "1|200", "2|100", "2|200", "3|100", "3|200"}));
    ASSERT_EQ(r.paths.size(), 1u);
    ASSERT_EQ(r.paths[0].size(), 1u);
    EXPECT_EQ(r.paths[0][0].size(), 6u * 4u);  // six paths over b, d, a, c
    EXPECT_EQ(r.rowCounts[0], (std::vector<int>{1, 1, 3, 2}));
}

// The equality index must give exactly the rows, in exactly the order, of
// the plain walk; "a.filename = b.filename" uses it, while the same test
// written with <= and >= cannot and walks.
TEST(MatchTrees, EqualityIndexMatchesTheWalk) {
    auto src = std::make_shared<FakeSource>();
    std::vector<std::tuple<std::string, int64_t, bool>> left, right;
    for (int i = 0; i < 300; ++i)
        left.emplace_back("n" + std::to_string(i % 37), i, false);
    for (int i = 0; i < 200; ++i)
        right.emplace_back("n" + std::to_string((i * 7) % 41), i, false);
    src->AddTable("l", Files(left));
    src->AddTable("r", Files(right));
    for (const char* cond :
         {"l.filename = r.filename", "r.filename = l.filename", "l.size = r.size"}) {
        const std::string fast = std::string("select l.size, r.size from l, r where ") + cond;
        std::string slow = fast;
        const std::string c(cond);
        const size_t eq = c.find(" = ");
        slow = std::string("select l.size, r.size from l, r where ") + c.substr(0, eq) +
               " <= " + c.substr(eq + 3) + " and " + c.substr(0, eq) + " >= " + c.substr(eq + 3);
        Outcome a = Execute(fast, src);
        Outcome b = Execute(slow, src);
        EXPECT_FALSE(a.rows.empty()) << cond;
        EXPECT_EQ(a.rows, b.rows) << cond;
    }
}

TEST(TWhereExecuter, OrBranchesLoadOnceAndReportACombinationOnce) {
    auto src = Abc();
    Outcome r =
        Execute("select a.filename from a where size = 1 or filename = 'p' or size = 3", src);
    EXPECT_EQ(r.rows, (std::vector<std::string>{"p", "r"}));
    EXPECT_EQ(src->handedOut.front()->opens, 1);
}

}  // namespace
}  // namespace corvane

namespace corvane {
namespace {

// A large equality join reads every candidate a bounded number of times:
// no per-pair work (the walk would read a table value for each of the
// 4 000 000 pairs).
TEST(MatchTrees, EqualityJoinIsNotQuadratic) {
    auto src = std::make_shared<FakeSource>();
    std::vector<std::tuple<std::string, int64_t, bool>> left, right;
    for (int i = 0; i < 2000; ++i)
        left.emplace_back("n" + std::to_string(i * 2), i, false);
    for (int i = 0; i < 2000; ++i)
        right.emplace_back("n" + std::to_string(i), i, false);
    src->AddTable("l", Files(left));
    src->AddTable("r", Files(right));
    Outcome out = Execute("select l.size, r.size from l, r where l.filename = r.filename", src);
    EXPECT_EQ(out.rows.size(), 1000u);
    long reads = 0;
    for (const auto& t : src->handedOut)
        reads += t->valueReads;
    EXPECT_LT(reads, 50000);
}

}  // namespace
}  // namespace corvane
