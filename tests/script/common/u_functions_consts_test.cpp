// Quote-aware scanning: the parsers find keywords with these helpers, so a
// keyword inside a quoted literal must never be found.
#include "script/common/u_functions_consts.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(PosOutsideQuotes, SkipsQuotedSections) {
    EXPECT_EQ(PosOutsideQuotes("from", "select 'from' from t"), 15);
    EXPECT_EQ(PosOutsideQuotes("from", "select \"from\" 'x' from t"), 19);
    // An unclosed section does not hide what follows its quote.
    EXPECT_EQ(PosOutsideQuotes("from", "select 'from t"), 9);
    EXPECT_EQ(PosOutsideQuotes("from", "select x"), 0);
    EXPECT_EQ(PosOutsideQuotes("", "abc"), 0);
    EXPECT_EQ(PosOutsideQuotes("a", ""), 0);
    EXPECT_EQ(PosOutsideQuotes("a", "a a", 2), 3);
}

TEST(FindNameOutside, DepthAndQuotes) {
    EXPECT_EQ(FindNameOutside("where", "count(where) where x"), 14);
    EXPECT_EQ(FindNameOutside("where", "'where' where"), 9);
    EXPECT_EQ(FindNameOutside("a(", "a(b"), 0);
    EXPECT_EQ(FindNameOutside("x", "x", 2), 0);
    EXPECT_EQ(FindNameOutside("x", "x", -5), 1);
}

TEST(IsWholeWord, SeparatorsOnBothSides) {
    EXPECT_FALSE(IsWholeWord("filename", 5, 8));
    EXPECT_TRUE(IsWholeWord("(name)", 2, 5));
    EXPECT_TRUE(IsWholeWord("name", 1, 4));
    EXPECT_FALSE(IsWholeWord("name", 0, 4));
    EXPECT_FALSE(IsWholeWord("", 1, 1));
}

TEST(ReadToken, Forms) {
    struct Case {
        const char* text;
        int pos;
        const char* token;
        int tokenPos;
    } cases[] = {
        {"   ", 1, "", 0},   {"'a b' c", 1, "'a b'", 1}, {"  Path.Ext x", 1, "path.ext", 3},
        {"1..5", 1, "1", 1}, {"abc", 9, "", 0},          {"'open", 1, "'open'", 1},
    };
    for (auto c : cases) {
        int p = -1;
        EXPECT_EQ(ReadToken(c.text, c.pos, p), c.token) << c.text;
        EXPECT_EQ(p, c.tokenPos) << c.text;
    }
}

TEST(IsInQuotes, ClosedSectionsOnly) {
    EXPECT_TRUE(IsInQuotes("a 'bc' d", 6));  // the closing quote
    EXPECT_TRUE(IsInQuotes("a 'bc' d", 3));  // the opening quote
    EXPECT_FALSE(IsInQuotes("a 'bc' d", 8));
    EXPECT_FALSE(IsInQuotes("a 'bc d", 5));  // unclosed
    EXPECT_FALSE(IsInQuotes("", 1));
}

TEST(SkipBlanks, NeverStepsOverTheLastCharacter) {
    EXPECT_EQ(SkipBlanks("ab ", 3, 1), 3);
    EXPECT_EQ(SkipBlanks("  ab", 1, 1), 3);
    EXPECT_EQ(SkipBlanks("ab  ", 3, -1), 2);
    EXPECT_EQ(SkipBlanks("ab", 5, 1), 5);
}

TEST(ReadQuoted, UnclosedIsFramed) {
    EXPECT_EQ(ReadQuoted("x'abc'y", 2), "'abc'");
    EXPECT_EQ(ReadQuoted("\"abc", 1), "\"abc\"");
    EXPECT_EQ(ReadQuoted("abc", 1), "");
}

}  // namespace
}  // namespace corvane
