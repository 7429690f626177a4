// Resource limits of one query: joins whose result would be astronomically
// large, a LIKE pattern built to backtrack, computed expressions that run
// long or recurse without end, and the bound on the rows a result holds.
//
// Nothing here is timed. Every endless case is stopped by a progress object
// that answers "cancelled" from a chosen poll on, and the test checks that
// the engine stopped right there (at most a poll or two later) with the
// documented exception. A loop that forgot to poll would never end and fail
// the test by its timeout.
#include <gtest/gtest.h>

#include <algorithm>
#include <span>

#include "engine/UVeskEngine.h"
#include "support/Expect.h"
#include "tests/engine/FakeSource.h"

namespace corvane {
namespace {

using testing::FakeSource;
using testing::Files;

// Answers "cancelled" from poll number `at` on and counts the polls made
// after that.
struct CancelAtPoll : IProgress {
    explicit CancelAtPoll(int at) : at(at) {}
    void Listed(long long) override {}
    bool Cancelled() const override {
        if (++polls < at) return false;
        ++answeredTrue;
        return true;
    }
    int at;
    mutable int polls = 0;
    mutable int answeredTrue = 0;
};

struct CountingSink : IRowSink {
    void Row(std::span<const Variant* const>) override { ++rows; }
    long long rows = 0;
};

// t: 100 files of one size, so every equality join on size matches all.
std::shared_ptr<FakeSource> Source() {
    std::vector<std::tuple<std::string, int64_t, bool>> rows;
    for (int i = 0; i < 100; ++i)
        rows.emplace_back("f" + std::to_string(i) + ".txt", 7, false);
    auto src = std::make_shared<FakeSource>("Fake");
    src->AddTable("t", Files(rows));
    src->AddTable("long", Files({{std::string(20000, 'a'), 1, false}, {"ab", 2, false}}));
    // paths: 300 names of 200 bytes, as deep paths are.
    std::vector<std::tuple<std::string, int64_t, bool>> paths;
    for (int i = 0; i < 300; ++i)
        paths.emplace_back(std::string(196, 'p') + std::to_string(1000 + i), 7, false);
    src->AddTable("paths", Files(paths));
    return src;
}

std::string Eight(const std::string& where) {
    return "select a.filename, h.size from t a, t b, t c, t d, t e, t f, t g, t h" + where;
}

struct JoinCase {
    const char* name;
    std::string sql;
    bool sink;
};

TEST(EngineLimits, AstronomicalJoinsStopAtTheFirstCancelledPoll) {
    const std::string equal =
        " where a.size = b.size and b.size = c.size and c.size = d.size and d.size = e.size"
        " and e.size = f.size and f.size = g.size and g.size = h.size";
    const std::string less =
        " where a.size <= b.size and c.size >= d.size and g.size <> h.size + 1";
    const std::vector<JoinCase> cases = {
        {"cross join", Eight(""), false},
        {"cross join streamed", Eight(""), true},
        {"equality join", Eight(equal), false},
        {"equality join streamed", Eight(equal), true},
        {"comparison join", Eight(less), false},
        {"computed join condition", Eight(" where a.size + b.size = c.size * 2"), true},
        {"with order by", Eight(" order by a.filename"), true},
        {"distinct with few rows", "select distinct a.filename from t a, t b, t c, t d, t e, t f",
         false},
        {"or branches", Eight(" where a.size = b.size or c.size < 100"), true},
    };
    for (const JoinCase& c : cases) {
        SCOPED_TRACE(c.name);
        TVeskEngineCustomer e;
        e.AddDataBase(Source());
        e.SetSQL(c.sql);
        e.Parse();
        ASSERT_EQ(e.GetErrorText(), "");
        CancelAtPoll progress(200);
        CountingSink sink;
        e.SetProgress(&progress);
        if (c.sink) e.SetRowSink(&sink);
        EXPECT_THROW(e.Execute(), QueryCancelledError);
        EXPECT_LE(progress.answeredTrue, 2);
        // The executor polls at least once every 64 steps, and a step
        // yields at most one row.
        EXPECT_LE(sink.rows + e.DataSet().GetRecordCount(), 200 * 64);
    }
}

// A join tells how far it has got (the combinations tried keep growing);
// a single table is no join and reports nothing of the kind.
TEST(EngineLimits, JoinsReportTheCombinationsTried) {
    struct Recorder : IProgress {
        void Listed(long long) override {}
        void Joining(long long combinations) override { seen.push_back(combinations); }
        bool Cancelled() const override { return false; }
        std::vector<long long> seen;
    };
    const std::vector<std::pair<std::string, bool>> cases = {
        {"select a.filename from t a, t b where a.size = b.size", true},
        {"select a.filename from t a, t b where a.size < b.size + 1", true},
        {"select a.filename, b.filename from t a, t b", true},
        {"select filename from t where size = 7", false},
        {"select filename from t", false},
    };
    for (const auto& [sql, join] : cases) {
        SCOPED_TRACE(sql);
        TVeskEngineCustomer e;
        e.AddDataBase(Source());
        e.SetSQL(sql);
        e.Parse();
        ASSERT_EQ(e.GetErrorText(), "");
        Recorder progress;
        e.SetProgress(&progress);
        e.Execute();
        EXPECT_EQ(!progress.seen.empty(), join);
        EXPECT_TRUE(std::is_sorted(progress.seen.begin(), progress.seen.end()));
        // 100 x 100 combinations: at least one report per 64 of them.
        if (join) {
            EXPECT_GE(progress.seen.back(), 10000 - 64);
        }
    }
}

TEST(EngineLimits, AResultHoldsAtMostTheCellLimit) {
    struct Case {
        const char* name;
        const char* sql;
        bool sink;
        std::string error;
        int heldRows;
        long long streamedRows;
    };
    const std::vector<Case> cases = {
        {"one column", "select a.filename from t a, t b", false, "查询结果超过1000行，已停止。",
         1000, 0},
        {"two columns halve the rows", "select a.filename, b.size from t a, t b", false,
         "查询结果超过500行，已停止。", 500, 0},
        {"ordered rows are held before they reach the sink",
         "select a.filename from t a, t b order by a.filename", true,
         "查询结果超过1000行，已停止。", 1000, 0},
        {"distinct keeps copies while streaming",
         "select distinct a.filename, b.filename from t a, t b", true,
         "查询结果超过500行，已停止。", 0, 500},
        // A join's match trees are built before its first row.
        {"join trees",
         "select a.filename from t a, t b, t c where a.size = b.size and b.size = c.size", true,
         "连接的中间结果超过1000个组合，已停止。", 0, 0},
        // Streamed rows are not held: no bound.
        {"streamed rows", "select a.filename from t a, t b", true, "", 0, 10000},
        {"within the limit", "select distinct a.filename from t a, t b", false, "", 100, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TVeskEngineCustomer e;
        EXPECT_EQ(e.CellLimit(), kDefaultCellLimit);
        e.SetCellLimit(1000);
        e.AddDataBase(Source());
        e.SetSQL(c.sql);
        e.Parse();
        ASSERT_EQ(e.GetErrorText(), "");
        CountingSink sink;
        if (c.sink) e.SetRowSink(&sink);
        std::string error;
        try {
            e.Execute();
        } catch (const ResultTooLargeError& ex) {
            error = ex.what();
        }
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(e.DataSet().GetRecordCount(), c.heldRows);
        EXPECT_EQ(sink.rows, c.streamedRows);
    }
}

TEST(EngineLimits, WhatAQueryHoldsStaysWithinItsMemoryBudget) {
    // 1 MiB: far below what any of these needs, far above the cell limit's
    // view of them (30 000 rows of one column are 30 000 cells).
    const std::string stopped = "查询占用的内存超过1 MiB（";
    struct Case {
        const char* name;
        const char* sql;
        bool sink;
        std::string error;  // empty: runs to its end
        long long rows;     // rows streamed or held at the end, -1: some
    };
    const std::vector<Case> cases = {
        // Match trees of 100 x 100 x 100 combinations under three OR
        // branches, streamed: nothing is held but the join's intermediates.
        {"join under OR branches",
         "select a.filename from t a, t b, t c where a.size = b.size and b.size = c.size or "
         "a.filename <> c.filename or b.size < 0",
         true, stopped + "连接的中间结果），已停止。", 0},
        {"held rows of long texts", "select a.filename from paths a, t b", false,
         stopped + "结果行），已停止。", -1},
        {"ordered rows of long texts before they reach the sink",
         "select a.filename from paths a, t b order by a.filename", true,
         stopped + "结果行），已停止。", -1},
        {"distinct keeps copies while streaming",
         "select distinct a.filename, b.filename from paths a, t b", true,
         stopped + "结果行），已停止。", -1},
        // Whenever the held rows take half the budget they are sorted and
        // cut to the TOP count.
        {"top with order by",
         "select top 3 a.filename, b.filename from paths a, t b order by a.filename desc", true, "",
         3},
        {"streamed rows are not held", "select a.filename from paths a, t b", true, "", 30000},
        // Grouping folds each row into its group as it comes: 30 000 rows
        // in a few groups hold next to nothing, 30 000 groups of long texts
        // (or 30 000 distinct values) pass the budget.
        {"aggregates over every row",
         "select count(*), sum(a.size), max(a.filename) from paths a, t b", true, "", 1},
        {"few groups of many rows",
         "select b.filename, count(*) from paths a, t b group by b.filename", true, "", 100},
        {"groups of long texts",
         "select a.filename, b.filename, count(*) from paths a, t b group by a.filename, "
         "b.filename",
         true, stopped + "分组），已停止。", 0},
        {"distinct values of an aggregate",
         "select count(distinct a.filename+b.filename) from paths a, t b", true,
         stopped + "分组），已停止。", 0},
        {"a join within the budget",
         "select a.filename from t a, t b where a.filename = b.filename or b.size = 8", true, "",
         100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TVeskEngineCustomer e;
        e.SetMemoryLimit(1 << 20);
        EXPECT_EQ(e.MemoryLimit(), 1 << 20);
        e.AddDataBase(Source());
        e.SetSQL(c.sql);
        e.Parse();
        ASSERT_EQ(e.GetErrorText(), "");
        CountingSink sink;
        if (c.sink) e.SetRowSink(&sink);
        std::string error;
        try {
            e.Execute();
        } catch (const ResultTooLargeError& ex) {
            error = ex.what();
        }
        EXPECT_EQ(error, c.error);
        const long long rows = sink.rows + e.DataSet().GetRecordCount();
        if (c.rows >= 0) {
            EXPECT_EQ(rows, c.rows);
        } else {
            EXPECT_GT(rows, 0);
        }
        // What is still charged is what the result still holds.
        if (!c.sink || error.empty()) {
            int64_t held = 0;
            for (int r = 0; r < e.DataSet().GetRecordCount(); ++r)
                held += RowBytes(e.DataSet().RowAt(r));
            EXPECT_EQ(e.MemoryBudget().Used(), c.sink ? 0 : held);
        }
    }
}

TEST(EngineLimits, TheDefaultBudgetIsAQuarterOfTheMemoryAtMostFourGiB) {
    TVeskEngineCustomer e;
    EXPECT_EQ(e.MemoryLimit(), DefaultMemoryLimit());
    EXPECT_GT(DefaultMemoryLimit(), 0);
    EXPECT_LE(DefaultMemoryLimit(), kMaxDefaultMemoryLimit);
    EXPECT_EQ(kMaxDefaultMemoryLimit, int64_t{4} << 30);
    // 0 removes the bound.
    e.SetMemoryLimit(0);
    EXPECT_EQ(e.MemoryLimit(), 0);
}

TEST(EngineLimits, TopWithOrderByKeepsOnlyItsRowsAndNeverHitsTheLimit) {
    // 10000 rows of two columns against room for 500: the held rows are
    // sorted and cut to the TOP count whenever they fill up.
    for (bool sink : {false, true}) {
        SCOPED_TRACE(sink);
        TVeskEngineCustomer e;
        e.SetCellLimit(1000);
        e.AddDataBase(Source());
        e.SetSQL(
            "select top 3 a.filename, b.filename from t a, t b order by b.filename desc, "
            "a.filename");
        e.Parse();
        ASSERT_EQ(e.GetErrorText(), "");
        struct Collect : IRowSink {
            void Row(std::span<const Variant* const> v) override {
                rows.push_back(v[0]->AsString() + "|" + v[1]->AsString());
            }
            std::vector<std::string> rows;
        } collect;
        if (sink) e.SetRowSink(&collect);
        e.Execute();
        const std::vector<std::string> expected = {"f0.txt|f99.txt", "f1.txt|f99.txt",
                                                   "f10.txt|f99.txt"};
        EXPECT_EQ(sink ? collect.rows : testing::Rows(e.DataSet()), expected);
    }
    // TOP asking for more than the limit still fails.
    TVeskEngineCustomer e;
    e.SetCellLimit(1000);
    e.AddDataBase(Source());
    e.SetSQL("select top 2000 a.filename from t a, t b order by a.filename");
    e.Parse();
    EXPECT_THROW(e.Execute(), ResultTooLargeError);
}

TEST(EngineLimits, HostilePatternsInWhereStayPolynomial) {
    // A backtracking matcher would try every placement of the nine "a"
    // nodes in the 20000-byte name (about 20000^9 steps): this ends only
    // because the LIKE matcher carries reachable positions instead.
    TVeskEngineCustomer e;
    e.AddDataBase(Source());
    e.SetSQL(
        "select size from long where filename like '%a%a%a%a%a%a%a%a%a%b' or "
        "filename like '%a_%a_%a_%a_%a_%[b]%' or filename like 'a%b'");
    e.Parse();
    ASSERT_EQ(e.GetErrorText(), "");
    e.Execute();
    EXPECT_EQ(testing::Rows(e.DataSet()), (std::vector<std::string>{"2"}));
}

// A + chain of the column `column`, terms long: one evaluation runs more
// instructions than the interpreter's poll interval.
std::string LongSum(const std::string& column, int terms) {
    std::string sum = column;
    for (int i = 1; i < terms; ++i)
        sum += "+" + column;
    return sum;
}

TEST(EngineLimits, LongExpressionsEndAsACancelledQuery) {
    // An expression cannot loop (it is one expression, never statements),
    // but a long one runs long enough per row that the interpreter polls
    // the progress itself.
    const std::string cases[] = {
        "select (" + LongSum("size", 900) + ") from t",
        "select a.filename, (" + LongSum("b.size", 900) + ") from t a, t b where a.size = b.size",
    };
    for (const std::string& sql : cases) {
        SCOPED_TRACE(sql.substr(0, 60));
        TVeskEngineCustomer e;
        e.AddDataBase(Source());
        e.SetSQL(sql);
        e.Parse();
        ASSERT_EQ(e.GetErrorText(), "");
        CancelAtPoll progress(20);
        e.SetProgress(&progress);
        EXPECT_THROW(e.Execute(), QueryCancelledError);
        // The interpreter polls every few thousand instructions and stops
        // at the first "cancelled".
        EXPECT_LE(progress.answeredTrue, 2);
    }
}

}  // namespace
}  // namespace corvane
