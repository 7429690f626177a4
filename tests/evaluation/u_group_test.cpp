// Group keys, aggregate names and the group clause as a value source; the
// aggregates and grouping end to end are in the SQL case files (group.test)
// and the memory they hold in the engine's limits test.
#include "evaluation/u_group.h"

#include <gtest/gtest.h>

#include <cmath>

#include "engine/UVeskEngine.h"
#include "tests/engine/FakeSource.h"

namespace corvane {
namespace {

TEST(TGroupClause, KeyValuesAreEqualWithinAKind) {
    struct Case {
        const char* name;
        Variant a, b;
        bool same;
    };
    const Case cases[] = {
        {"empty, empty", Variant(), Variant(), true},
        {"null, null", Variant::Null(), Variant::Null(), true},
        {"empty, null", Variant(), Variant::Null(), true},
        {"empty, empty text", Variant(), Variant(""), false},
        {"integers", Variant(int64_t{5}), Variant(int64_t{5}), true},
        {"integer, double", Variant(int64_t{5}), Variant(5.0), true},
        {"integer, other double", Variant(int64_t{5}), Variant(5.5), false},
        {"large integers apart by one", Variant(int64_t{9007199254740993}),
         Variant(int64_t{9007199254740992}), false},
        {"number, its text", Variant(int64_t{5}), Variant("5"), false},
        {"texts by their bytes", Variant("txt"), Variant("TXT"), false},
        {"equal texts", Variant("txt"), Variant(std::string("txt")), true},
        {"dates", Variant::FromDate(45000.25), Variant::FromDate(45000.25), true},
        {"date, its number", Variant::FromDate(45000.0), Variant(45000.0), false},
        {"booleans", Variant(true), Variant(true), true},
        {"boolean, number", Variant(true), Variant(int64_t{1}), false},
        {"NaN, NaN", Variant(std::nan("")), Variant(std::nan("")), true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SameKeyValue(c.a, c.b), c.same) << c.name;
        EXPECT_EQ(SameKeyValue(c.b, c.a), c.same) << c.name;
        // Equal keys hash alike, so they meet in one group.
        if (c.same) {
            EXPECT_EQ(HashValue(c.a), HashValue(c.b)) << c.name;
        }
    }
}

TEST(TGroupClause, AggregateNamesInAnyLetterCase) {
    TAggregateKind kind;
    const std::pair<const char*, TAggregateKind> known[] = {
        {"count", agCount}, {"SUM", agSum}, {"Min", agMin}, {"mAx", agMax}, {"avg", agAvg}};
    for (const auto& [name, k] : known) {
        ASSERT_TRUE(AggregateKindOf(name, kind)) << name;
        EXPECT_EQ(kind, k) << name;
    }
    for (const char* other : {"counts", "average", "mean", "", "sum_", "t.count"})
        EXPECT_FALSE(AggregateKindOf(other, kind)) << other;
}

// A grouped statement runs again with the same result: the groups are run
// state, renewed by every execution.
TEST(TGroupClause, AStatementRunsTwiceAlike) {
    auto src = std::make_shared<testing::FakeSource>("Fake");
    src->AddTable("t", testing::Files({{"a", 1, false}, {"b", 2, false}, {"a", 3, false}}));
    TVeskEngineCustomer e;
    e.AddDataBase(src);
    e.SetSQL("select filename, count(*), sum(size) from t group by filename having sum(size) > 1");
    e.Parse();
    ASSERT_EQ(e.GetErrorText(), "");
    for (int run = 0; run < 2; ++run) {
        e.Execute();
        EXPECT_EQ(testing::Rows(e.DataSet()), (std::vector<std::string>{"a|2|4", "b|1|2"}));
        EXPECT_EQ(
            e.MemoryBudget().Used(), 0 + [&] {
                int64_t held = 0;
                for (int r = 0; r < e.DataSet().GetRecordCount(); ++r)
                    held += RowBytes(e.DataSet().RowAt(r));
                return held;
            }());
    }
}

}  // namespace
}  // namespace corvane
