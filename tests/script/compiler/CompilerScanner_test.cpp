// The compiler's scanner on its own: comment removal, words, operators and
// the recovery skips, without a parser around it.
#include "script/compiler/CompilerScanner.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

using Lines = std::vector<std::string>;

// A scanner over the comment-free lines of a source; counts its ran-out
// reports.
struct Scan {
    explicit Scan(std::string_view source) : scanner([this] { ++ranOut; }) {
        scanner.SetLines(BuildLineList(SplitSourceText(source)));
        scanner.AdvanceLine();
    }
    // Every word up to the end of the text; a delimiter (an empty word) is
    // read as a character and listed in brackets.
    Lines Words() {
        Lines out;
        while (scanner.PeekChar() != TScanner::kEndOfText) {
            const std::string w = scanner.NextWord();
            out.push_back(w.empty() ? "[" + std::string(1, scanner.NextChar()) + "]" : w);
        }
        return out;
    }

    int ranOut = 0;
    TScanner scanner;
};

TEST(SourceText, SplitsAtLineFeedsAndDropsCarriageReturns) {
    EXPECT_EQ(SplitSourceText("a\r\nb\nc"), (Lines{"a", "b", "c"}));
    EXPECT_EQ(SplitSourceText("a\n"), (Lines{"a"}));
    EXPECT_EQ(SplitSourceText("a\n\nb\r"), (Lines{"a", "", "b"}));
    EXPECT_EQ(SplitSourceText(""), Lines{});
}

struct LineCase {
    const char* name;
    Lines source;
    std::vector<std::pair<int, std::string>> lines;  // number, text
};

void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

class LineList : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineList, DropsCommentsAndEmptyLines) {
    std::vector<std::pair<int, std::string>> got;
    for (const Tline& l : BuildLineList(GetParam().source))
        got.push_back({l.lineNo, l.text});
    EXPECT_EQ(got, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Compiler, LineList,
    ::testing::Values(LineCase{"LineCommentsAndBlanks",
                               {"  a := 1; // one", "", "// all", "\tb\t"},
                               {{1, "a := 1;"}, {4, "b"}}},
                      LineCase{"BraceCommentOverLines",
                               {"a { one", "two", "three } b", "c"},
                               {{1, "a"}, {3, "b"}, {4, "c"}}},
                      LineCase{"BraceCommentToTheEnd", {"a {", "b"}, {{1, "a"}}},
                      LineCase{"QuotesHideCommentMarks",
                               {"s := '// {x}';", "t := \"a{\" // c"},
                               {{1, "s := '// {x}';"}, {2, "t := \"a{\""}}},
                      LineCase{
                          "QuoteOverLines", {"s := 'a", "// b'"}, {{1, "s := 'a"}, {2, "// b'"}}},
                      LineCase{"CaseIsKept", {"BEGIN End"}, {{1, "BEGIN End"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Scanner, WordsAreLowerCasedExceptQuotedLiterals) {
    Scan s("Result := 'Ab C' + \"D\";\nX[1..2] := 1e-5 - 2E+3");
    // ".." ends a word; a single "." does not.
    EXPECT_EQ(s.Words(), (Lines{"result", "[:]", "[=]", "'Ab C'", "[+]", "\"D\"", "[;]", "x", "[[]",
                                "1", "[.]", ".2", "[]]", "[:]", "[=]", "1e-5", "[-]", "2e+3"}));
    EXPECT_EQ(s.ranOut, 0);
}

TEST(Scanner, RanOutIsReportedWhenAWordIsMissing) {
    Scan s("a");
    EXPECT_EQ(s.scanner.NextWord(), "a");
    EXPECT_EQ(s.scanner.NextWord(), "");
    EXPECT_EQ(s.ranOut, 1);
    EXPECT_EQ(s.scanner.NextChar(), TScanner::kEndOfText);
    EXPECT_EQ(s.scanner.LineNo(), 1);
}

TEST(Scanner, PeekingAndStuck) {
    Scan s("alpha\n  beta");
    const TScanPos start = s.scanner.Pos();
    EXPECT_EQ(s.scanner.PeekWord(), "alpha");
    EXPECT_EQ(s.scanner.PeekChar(), 'a');
    EXPECT_TRUE(s.scanner.Stuck(start));
    s.scanner.NextWord();
    EXPECT_FALSE(s.scanner.Stuck(start));
    EXPECT_EQ(s.scanner.LineNo(), 1);
    EXPECT_EQ(s.scanner.WordLine(), 2);  // the next word's line
    EXPECT_EQ(s.scanner.LineNo(), 1);    // and nothing consumed
    EXPECT_EQ(s.scanner.CharAtCursor(), TScanner::kEndOfText);
}

TEST(Scanner, ConstValuesKeepTheirQuotesAndCase) {
    Scan s("'It''s' 12 Name");
    EXPECT_EQ(s.scanner.ReadConstValue(), "'It'");
    EXPECT_EQ(s.scanner.ReadConstValue(), "'s'");
    EXPECT_EQ(s.scanner.ReadConstValue(), "12");
    EXPECT_EQ(s.scanner.ReadConstValue(), "name");
}

struct OperatorCase {
    const char* text;
    TOperatorKind op;
    Lines rest;  // what follows the operator (Scan::Words)
};

TEST(Scanner, ReadOperatorNamesWhatItRead) {
    const OperatorCase cases[] = {
        {"* x", okMul, {"x"}},
        {"/x", okSlash, {"x"}},
        {"div x", okDiv, {"x"}},
        {"MOD x", okMod, {"x"}},
        {"+x", okAdd, {"x"}},
        {"- x", okSub, {"x"}},
        {"> x", okGreater, {"x"}},
        {"<-1", okLess, {"[-]", "1"}},  // a sign after the first character ends the run
        {"= x", okEqual, {"x"}},
        {">= x", okGreaterEqual, {"x"}},
        {"< = x", okLessEqual, {"x"}},  // blanks inside are stepped over
        {"<>x", okNotEqual, {"x"}},
        {"Like x", okLike, {"x"}},
        {"and x", okAnd, {"x"}},
        {"not x", okNot, {"x"}},
        {"or x", okOr, {"x"}},
        {"xor x", okXor, {"x"}},
        {":= x", okAssign, {"x"}},
        {": = x", okAssign, {"x"}},
        {"ordinal", okOr, {"dinal"}},  // no word end is tested
        {"x", okNone, {"x"}},
        {"==", okNone, {"[=]", "[=]"}},
        {";", okNone, {"[;]"}},
    };
    for (const OperatorCase& c : cases) {
        Scan s(c.text);
        EXPECT_EQ(s.scanner.ReadOperator(), c.op) << c.text;
        EXPECT_EQ(s.Words(), c.rest) << c.text;
    }
}

struct SkipCase {
    const char* text;
    bool found;
    const char* rest;  // what follows where the skip stopped
};

TEST(Scanner, SkipStatementStopsAtTheStatementsEnd) {
    const SkipCase cases[] = {
        {"x := 1 +; y", true, "; y"},          {"x := 'a;b'; y", true, "; y"},
        {"begin a; b end; y", true, "; y"},    {"case x of 1: a; end; y", true, "; y"},
        {"repeat a; until b; y", true, "; y"}, {"x := 1 end", true, " end"},
        {"x := 1\nend", true, "end"},          {"x := 1", false, ""},
    };
    for (const SkipCase& c : cases) {
        Scan s(c.text);
        EXPECT_EQ(s.scanner.SkipStatement(), c.found) << c.text;
        if (c.found) {
            EXPECT_EQ(s.scanner.TextFrom(s.scanner.Pos()), c.rest) << c.text;
        }
    }
}

TEST(Scanner, SkipToNextBody) {
    Scan s("begin\nx;\nprocedure p;\nend.");
    EXPECT_TRUE(s.scanner.SkipToNextBody());
    EXPECT_EQ(s.scanner.LineNo(), 3);
    EXPECT_TRUE(s.scanner.SkipToNextBody());
    EXPECT_EQ(s.scanner.LineNo(), 4);
    EXPECT_FALSE(s.scanner.SkipToNextBody());
    EXPECT_EQ(s.scanner.LineNo(), 4);  // the last line
}

TEST(Scanner, TextFromJoinsLinesAsWritten) {
    Scan s("tag First\n  Second endtag");
    s.scanner.NextWord();
    const TScanPos from = s.scanner.Pos();
    s.scanner.NextWord();
    s.scanner.NextWord();
    EXPECT_EQ(s.scanner.TextFrom(from), " First\r\nSecond endtag");
}

TEST(NumberLiterals, WhatTheyHold) {
    struct Case {
        const char* text;
        int type;
        NumberCheck check;
    } cases[] = {
        {"12", dtInteger, NumberCheck::Ok},
        {"9223372036854775807", dtInteger, NumberCheck::Ok},
        {"9223372036854775808", dtInteger, NumberCheck::OutOfRange},
        {"1e400", dtDouble, NumberCheck::OutOfRange},
        {"1.5", dtDouble, NumberCheck::Ok},
        {"1abc", dtInteger, NumberCheck::Malformed},
        {"'12'", dtString, NumberCheck::Ok},
        {"true", dtBoolean, NumberCheck::Ok},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CheckNumber(c.text, c.type), c.check) << c.text;
}

}  // namespace
}  // namespace corvane
