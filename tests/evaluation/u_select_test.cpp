// ORDER BY items and the select clause's name look-up; sorting, TOP and
// DISTINCT end to end are in the SQL case files.
#include "evaluation/u_select.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(TOrderClause, RepeatedNameIsIgnored) {
    TOrderClause order;
    EXPECT_TRUE(order.Add("Size", true));
    EXPECT_FALSE(order.Add("size", false));
    EXPECT_TRUE(order.Add("'A'", false));
    EXPECT_TRUE(order.Add("'a'", false));
    ASSERT_EQ(order.Count(), 3);
    EXPECT_TRUE(order.Item(0).descending);
}

TEST(TOrderClause, SortIsStableInBothDirections) {
    TSimpleDataset ds;
    ds.AddFieldDef("k", "integer");
    ds.AddFieldDef("tag", "string");
    const int keys[] = {2, 1, 2, 1, 3};
    for (int i = 0; i < 5; ++i) {
        TSimpleRow& row = ds.RowAt(ds.AppendRow());
        row[0].SetInteger(keys[i]);
        row[1].SetString(std::string(1, static_cast<char>('a' + i)));
    }
    for (bool desc : {false, true}) {
        TOrderClause order;
        order.Add("k", desc);
        order.Item(0).column = 0;
        order.Sort(ds);
        std::string tags;
        for (int r = 0; r < 5; ++r)
            tags += ds.RowAt(r)[1].AsString();
        EXPECT_EQ(tags, desc ? "eacbd" : "bdace");
        // Back to the original order for the next direction.
        TOrderClause byTag;
        byTag.Add("tag", false);
        byTag.Item(0).column = 1;
        byTag.Sort(ds);
    }
}

TEST(TOrderClause, SortKeysAreChargedWhileTheSortRuns) {
    // 20 000 rows: k holds numbers in a column typed "string", t texts;
    // either way the keys are the rows' own values, never copies.
    auto fill = [](TSimpleDataset& ds) {
        ds.ClearFieldDefs();
        ds.AddFieldDef("k", "string");
        ds.AddFieldDef("t", "string");
        for (int i = 0; i < 20000; ++i) {
            TSimpleRow& row = ds.RowAt(ds.AppendRow());
            row[0].SetInteger(20000 - i);
            row[1].SetString(std::string(100, 'x') + std::to_string(100000 - i));
        }
    };
    struct Case {
        const char* name;
        int column;
        int64_t room;  // bytes left in the budget
        const char* error;
    } cases[] = {
        // About 0.5 MB: a reference, two order slots and a moved row per key.
        {"keys beyond the room", 0, 256 << 10, "查询占用的内存超过4 MiB（排序键），已停止。"},
        {"number keys within the room", 0, 1 << 20, ""},
        {"text keys within the room", 1, 1 << 20, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TSimpleDataset ds;
        fill(ds);
        TMemoryBudget budget(4 << 20);
        budget.Charge((4 << 20) - c.room, TMemoryUse::Rows);
        const int64_t before = budget.Used();
        TOrderClause order;
        order.Add(c.column == 0 ? "k" : "t", false);
        order.Item(0).column = c.column;
        std::string error;
        try {
            order.Sort(ds, &budget);
        } catch (const ResultTooLargeError& e) {
            error = e.what();
        }
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(budget.Used(), before);  // the keys are released
        // Refused: the rows stand as they were; sorted: ascending.
        const std::string first = ds.RowAt(0)[c.column].AsString();
        const std::string last = ds.RowAt(19999)[c.column].AsString();
        if (error.empty())
            EXPECT_LT(first, last);
        else
            EXPECT_GT(first, last);
    }
}

TEST(TSelectClause, IndexOfNameByOutputNameOrText) {
    TSelectClause c;
    c.Insert("", -1).text = "Size";
    TSelectField& f = c.Insert("", -1);
    f.text = "filename";
    f.outputName = "f";
    c.Insert("", -1).text = "'A.b'";
    EXPECT_EQ(c.IndexOfName("F"), 1);
    EXPECT_EQ(c.IndexOfName("SIZE"), 0);
    EXPECT_EQ(c.IndexOfName("'A.b'"), 2);
    EXPECT_EQ(c.IndexOfName("'a.b'"), -1);
}

}  // namespace
}  // namespace corvane
