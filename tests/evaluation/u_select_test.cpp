// ORDER BY items and the select clause's name look-up; sorting, TOP and
// DISTINCT end to end are in the SQL case files.
#include "evaluation/u_select.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(TOrderClause, AddReadsNameAndDirection) {
    struct Case {
        const char* text;
        const char* name;
        bool descending;
    } cases[] = {
        {"size", "size", false},           {"size desc", "size", true},
        {"size DESCENDING", "size", true}, {"size descen", "size", true},
        {"size des", "size", false},       {"size asc", "size", false},
        {"size ascend", "size", false},    {"'a b' desc", "'a b'", true},
        {"f(a, b) desc", "f(a, b)", true}, {"  size\tdesc ", "size", true},
    };
    for (const Case& c : cases) {
        TOrderClause order;
        order.Add(c.text);
        ASSERT_EQ(order.Count(), 1) << c.text;
        EXPECT_EQ(order.Item(0).name, c.name) << c.text;
        EXPECT_EQ(order.Item(0).descending, c.descending) << c.text;
    }
}

TEST(TOrderClause, RepeatedNameIsIgnored) {
    TOrderClause order;
    order.Add("Size desc");
    order.Add("size");
    order.Add("'A'");
    order.Add("'a'");
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
        order.Add(desc ? "k desc" : "k");
        order.Item(0).column = 0;
        order.Sort(ds);
        std::string tags;
        for (int r = 0; r < 5; ++r)
            tags += ds.RowAt(r)[1].AsString();
        EXPECT_EQ(tags, desc ? "eacbd" : "bdace");
        // Back to the original order for the next direction.
        TOrderClause byTag;
        byTag.Add("tag");
        byTag.Item(0).column = 1;
        byTag.Sort(ds);
    }
}

TEST(TOrderClause, SortKeysAreChargedWhileTheSortRuns) {
    // 20 000 rows: k holds numbers in a column typed "string", so every key
    // is a converted copy; t holds texts, which are their own keys.
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
        // About 1.4 MB: a reference, a converted value, two order slots
        // and a moved row per key.
        {"converted keys beyond the room", 0, 1 << 20,
         "查询占用的内存超过4 MiB（排序键），已停止。"},
        {"converted keys within the room", 0, 2 << 20, ""},
        // The texts are not copied: about 0.5 MB.
        {"text keys are the rows' own values", 1, 1 << 20, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TSimpleDataset ds;
        fill(ds);
        TMemoryBudget budget(4 << 20);
        budget.Charge((4 << 20) - c.room, TMemoryUse::Rows);
        const int64_t before = budget.Used();
        TOrderClause order;
        order.Add(c.column == 0 ? "k" : "t");
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
