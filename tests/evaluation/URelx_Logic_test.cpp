// The logic tree: value comparisons, relations, normalisation and the
// split of every branch into constant part, filters and join records, and
// join planning.
#include "evaluation/URelx_Logic.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/UVeskEngine.h"
#include "platform/DateTime.h"
#include "tests/engine/FakeSource.h"

namespace corvane {
namespace {

using testing::FakeSource;
using testing::FakeTableData;
using testing::Files;

// The order of ORDER BY, DISTINCT and min/max: total over every kind.
TEST(Compare, OrderingComparison) {
    TDateTime d;
    TryEncodeDate(2024, 1, 2, d);
    struct Case {
        Variant a, b;
        int r;
    } cases[] = {
        {Variant("a"), Variant("b"), -1},
        {Variant("B"), Variant("a"), -1},        // bytes, capitals first
        {Variant("ab"), Variant("a"), 1},        // a prefix first
        {Variant("\xC3\xA9"), Variant("z"), 1},  // unsigned bytes
        {Variant(int64_t{9007199254740993}), Variant(int64_t{9007199254740992}), 1},  // 64-bit
        {Variant(int64_t{9007199254740993}), Variant(9007199254740992.0), 1},         // exactly
        {Variant(int64_t{2}), Variant(2.5), -1},
        {Variant(int64_t{2}), Variant(2.0), 0},   // numbers by value
        {Variant("10"), Variant(int64_t{9}), 1},  // a text after every number
        {Variant("1"), Variant(int64_t{9}), 1},
        {Variant::FromDate(d), Variant(int64_t{1}), 1},  // date-times after numbers
        {Variant::FromDate(d), Variant("2024"), -1},     // ... before texts
        {Variant(false), Variant(true), -1},
        {Variant(true), Variant(int64_t{0}), -1},  // booleans before numbers
        {Variant::Null(), Variant::Null(), 0},
        {Variant::Null(), Variant(), 0},        // empty is null
        {Variant::Null(), Variant(false), -1},  // null first
        {Variant("x"), Variant::Null(), 1},
    };
    for (const Case& c : cases) {
        int r = 99;
        EXPECT_TRUE(TryOrderCompare(c.a, c.b, r));
        EXPECT_EQ(r, c.r) << c.a.AsString() << " ? " << c.b.AsString();
        EXPECT_EQ(OrderCompare(c.b, c.a), -c.r) << c.a.AsString() << " ? " << c.b.AsString();
    }
}

// IN answers exactly as the OR of "=" over the same items, for values of
// every kind, short lists (compared item by item) and long ones (looked up
// in sets) alike, and as the compiled IN of an expression does; NOT IN is
// the complement but for the rows where IN is unknown (a null value, or an
// item the value does not compare with).
TEST(InList, UnquotedItemsAnswerAsEqualsDoes) {
    TDateTime day;
    TryEncodeDate(2024, 1, 2, day);
    FakeTableData data{{"name", "val"}, {"string", "any"}, {}};
    const std::vector<std::pair<std::string, Variant>> values = {
        {"empty", Variant()},
        {"null", Variant::Null()},
        {"i0", Variant(int64_t{0})},
        {"i5", Variant(int64_t{5})},
        {"i10", Variant(int64_t{10})},
        {"ineg", Variant(int64_t{-1})},
        {"ibig", Variant(int64_t{9007199254740993})},
        {"d5", Variant(5.0)},
        {"dhalf", Variant(0.5)},
        {"s5", Variant("5")},
        {"s50", Variant("5.0")},
        {"sabc", Variant("abc")},
        {"sempty", Variant("")},
        {"strue", Variant("true")},
        {"btrue", Variant(true)},
        {"bfalse", Variant(false)},
        {"date", Variant::FromDate(day)},
    };
    for (const auto& [name, v] : values)
        data.rows.push_back({Variant(name), v});
    auto src = std::make_shared<FakeSource>();
    src->AddTable("m", std::move(data));
    auto names = [&](const std::string& where) {
        TVeskEngineCustomer e;
        e.AddDataBase(src);
        e.SetSQL("select name from m where " + where);
        e.Parse();
        EXPECT_EQ(e.GetErrorText(), "") << where;
        e.Execute();
        std::vector<std::string> rows = testing::Rows(e.DataSet());
        std::sort(rows.begin(), rows.end());
        return rows;
    };
    const std::vector<std::vector<std::string>> lists = {
        {"5"},
        {"0"},
        {"1e1", "-1"},
        {"5.0", "0.5"},
        {"true"},
        {"false"},
        {"2024-01-02"},
        {"9007199254740992"},
        {"1", "2", "3", "4", "6", "7", "8", "9", "11", "12", "13", "14", "15", "16", "17", "18",
         "5"},
        {"100", "200", "300", "400", "600", "700", "800", "900", "1100", "1200", "1300", "1400",
         "1500", "1600", "1700", "1800", "0.5", "-1"},
    };
    for (const std::vector<std::string>& items : lists) {
        std::string list, equals;
        for (const std::string& item : items) {
            list += (list.empty() ? "" : ", ") + item;
            equals += (equals.empty() ? "val = " : " or val = ") + item;
        }
        const std::vector<std::string> in = names("val in (" + list + ")");
        EXPECT_EQ(in, names(equals)) << list;
        EXPECT_EQ(in, names("(val in (" + list + ")) = true")) << list;
        std::vector<std::string> notIn = names("not (val in (" + list + "))");
        const std::vector<std::string> unknown = names("(val in (" + list + ")) is null");
        std::vector<std::string> all = in;
        all.insert(all.end(), notIn.begin(), notIn.end());
        all.insert(all.end(), unknown.begin(), unknown.end());
        std::sort(all.begin(), all.end());
        EXPECT_EQ(all, names("true")) << list;
        EXPECT_EQ(all.size(), values.size()) << list;
    }
}

// Parses a statement over tables t1..t4 (columns filename, size, isdir)
// and describes every branch of the where object.
std::string Branches(const std::string& where) {
    TVeskEngineCustomer e;
    auto src = std::make_shared<FakeSource>();
    for (const char* t : {"t1", "t2", "t3", "t4"})
        src->AddTable(t, Files({{"a", 1, false}}));
    e.AddDataBase(src);
    e.SetSQL("select t1.filename from t1, t2, t3, t4 where " + where);
    e.Parse();
    if (!e.GetErrorText().empty()) return e.GetErrorText();
    std::string out;
    TWhrObj& w = e.WhereObj();
    for (int b = 0; b < w.BranchCount(); ++b) {
        TwhrItem& item = w.Branch(b);
        out += "[";
        int chain = 0;
        if (item.constantPart)
            for (TBoolNode* n = item.constantPart.get(); n; n = n->next.get())
                ++chain;
        out += "c" + std::to_string(chain);
        for (size_t t = 0; t < item.filters.size(); ++t) {
            int count = 0;
            for (TBoolNode* n = item.filters[t].get(); n; n = n->next.get())
                ++count;
            if (count) out += " f" + std::to_string(t) + "x" + std::to_string(count);
        }
        for (const TJoinInfo& j : item.joins) {
            out += " j";
            for (int t : j.tables.Items())
                out += std::to_string(t);
        }
        out += "]";
    }
    return out;
}

TEST(TWhrObj, BuildSplitsBranches) {
    struct Case {
        const char* where;
        const char* branches;
    } cases[] = {
        {"t1.size = 1 and t1.size < 5 and t2.size = 2", "[c0 f0x2 f1x1]"},
        {"1 = 1 and t3.size = 1 and t2.filename = t1.filename", "[c1 f2x1 j01]"},
        {"t1.size = 1 or t2.size = 2", "[c0 f0x1][c0 f1x1]"},
        {"(t1.size = 1 or t2.size = 2)", "[c0 f0x1][c0 f1x1]"},
        {"not (t1.size = 1 or t2.size = 2)", "[c0 j01]"},  // a negated group reading two tables
        {"t1.size = 1 and (t2.size = 1 or t3.size = 1)", "[c0 f0x1 j12]"},
        {"t1.filename = t2.filename and t4.size = t3.size and t2.size = t3.size",
         "[c0 j01 j23 j12]"},
        {"true and t1.size = 1", "[c1 f0x1]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Branches(c.where), c.branches) << c.where;
}

TEST(TWhrObj, NegatedGroupOverTwoTablesIsAJoin) {
    // The group reads t1 and t2, so it becomes a join record, not a filter.
    EXPECT_EQ(Branches("not (t1.size = 1 or t2.size = 2) and t3.size = 3"), "[c0 f2x1 j01]");
}

TEST(TWhrObj, VerdictFromConstantParts) {
    struct Case {
        const char* where;
        TVerdict verdict;
    } cases[] = {
        {"2 = 3 and 1 = 1", TVerdict::vdNone},
        {"1 = 1 and 1 = 1", TVerdict::vdSome},
        {"2 = 3 or t1.size = 1", TVerdict::vdSome},
        {"false", TVerdict::vdNone},
    };
    for (const Case& c : cases) {
        TVeskEngineCustomer e;
        auto src = std::make_shared<FakeSource>();
        src->AddTable("t1", Files({{"a", 1, false}}));
        e.AddDataBase(src);
        e.SetSQL(std::string("select filename from t1 where ") + c.where);
        e.Parse();
        ASSERT_EQ(e.GetErrorText(), "");
        std::vector<TBranchState> states;
        EXPECT_EQ(e.WhereObj().Verdict(states), c.verdict) << c.where;
    }
}

TEST(TwhrItem, PlanJoinsFormsConnectedClustersLightestFirst) {
    TVeskEngineCustomer e;
    auto src = std::make_shared<FakeSource>();
    for (const char* t : {"t1", "t2", "t3", "t4", "t5", "t6"})
        src->AddTable(t, Files({{"a", 1, false}}));
    e.AddDataBase(src);
    // Records: 0 {t1,t2}, 1 {t5,t6}, 2 {t3,t4}, 3 {t2,t3}.
    e.SetSQL(
        "select t1.size from t1, t2, t3, t4, t5, t6 where t1.size = t2.size and t5.size = t6.size "
        "and "
        "t3.size = t4.size and t2.size = t3.size");
    e.Parse();
    ASSERT_EQ(e.GetErrorText(), "");
    TwhrItem& b = e.WhereObj().Branch(0);
    ASSERT_EQ(b.joins.size(), 4u);
    auto clusters = b.PlanJoins({30, 5, 10, 20});
    ASSERT_EQ(clusters.size(), 2u);
    EXPECT_EQ(clusters[0].members, (std::vector<int>{1}));  // weight 5 < 60
    // Lightest first (2: t3,t4), then the lightest connected one (3: t2,t3),
    // then 0 (t1,t2).
    EXPECT_EQ(clusters[1].members, (std::vector<int>{2, 3, 0}));
    EXPECT_EQ(b.ClusterTableCount(clusters[1]), 4);
}

// The where executor extends a cluster's match tree by its joins in planned
// order and needs, for each join, a table already bound: the root table of
// the tree (the first table of the first join) or a table of a join before.
// Over many join shapes and weights the plan always gives that, which is why
// the executor treats a join without a bound table as a broken plan
// (std::logic_error) rather than as an outcome of a query.
TEST(TwhrItem, PlanJoinsLetsEveryJoinFindABoundTable) {
    uint64_t seed = 2024;
    auto next = [&](uint64_t bound) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return (seed >> 33) % bound;
    };
    for (int round = 0; round < 2000; ++round) {
        TwhrItem branch;
        const int tables = 2 + static_cast<int>(next(7));
        const int joins = 1 + static_cast<int>(next(8));
        std::vector<int> weights;
        for (int j = 0; j < joins; ++j) {
            TJoinInfo& join = branch.joins.emplace_back();
            const int width = 2 + static_cast<int>(next(2));
            while (join.tables.Count() < std::min(width, tables))
                join.tables.Add(static_cast<int>(next(static_cast<uint64_t>(tables))));
            join.tables.SortAscending();
            // Weights wrap as the executor's do: negative ones occur.
            weights.push_back(static_cast<int>(static_cast<uint32_t>(next(1ULL << 32))));
        }
        std::vector<bool> seen(static_cast<size_t>(joins), false);
        for (const TJoinInfoTeam& team : branch.PlanJoins(weights)) {
            ASSERT_FALSE(team.members.empty());
            TDsRefList bound;
            bound.Add(branch.joins[static_cast<size_t>(team.members.front())].tables[0]);
            for (int m : team.members) {
                const TDsRefList& own = branch.joins[static_cast<size_t>(m)].tables;
                bool anchored = false;
                for (int t : own.Items())
                    anchored = anchored || bound.Contains(t);
                EXPECT_TRUE(anchored) << "round " << round << ", join " << m;
                for (int t : own.Items())
                    bound.Add(t);
                EXPECT_FALSE(seen[static_cast<size_t>(m)]);
                seen[static_cast<size_t>(m)] = true;
            }
        }
        for (int j = 0; j < joins; ++j)
            EXPECT_TRUE(seen[static_cast<size_t>(j)]) << "round " << round << ", join " << j;
    }
}

}  // namespace
}  // namespace corvane
