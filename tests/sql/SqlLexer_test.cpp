// The tokens of a statement: kinds, values and the offsets they carry.
#include "sql/SqlLexer.h"

#include <gtest/gtest.h>

#include <vector>

namespace corvane {
namespace {

struct Tok {
    TSqlTok kind;
    int pos;
    std::string text;  // name, operator, unquoted text or message; number's text form
};

std::vector<Tok> Lex(std::string_view sql) {
    TSqlLexer lexer(sql);
    std::vector<Tok> out;
    for (;;) {
        TSqlToken t = lexer.Next();
        if (t.kind == TSqlTok::End) break;
        std::string text = t.text;
        if (t.kind == TSqlTok::Number || t.kind == TSqlTok::Date) text = t.value.AsString();
        out.push_back({t.kind, t.pos, text});
        if (t.kind == TSqlTok::Bad) break;
    }
    return out;
}

TEST(SqlLexer, TokensCarryTheirOffsets) {
    const auto t = Lex("select size*2 as x\nfrom 't' -- rest\n;");
    ASSERT_EQ(t.size(), 9u);
    EXPECT_EQ(t[0].pos, 1);
    EXPECT_EQ(t[1].text, "size");
    EXPECT_EQ(t[1].pos, 8);
    EXPECT_EQ(t[2].text, "*");
    EXPECT_EQ(t[2].pos, 12);
    EXPECT_EQ(t[3].kind, TSqlTok::Number);
    EXPECT_EQ(t[6].text, "from");
    EXPECT_EQ(t[6].pos, 20);
    EXPECT_EQ(t[7].kind, TSqlTok::String);
    EXPECT_EQ(t[7].text, "t");
    EXPECT_EQ(t[8].text, ";");
    EXPECT_EQ(t[8].pos, 37);
}

TEST(SqlLexer, CommentsAndQuotes) {
    const auto t = Lex("/* a */ 'it''s' \"File \"\"N\"\"\" -- x\n/* -- */ x");
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].kind, TSqlTok::String);
    EXPECT_EQ(t[0].text, "it's");
    EXPECT_EQ(t[0].pos, 9);
    EXPECT_EQ(t[1].kind, TSqlTok::QuotedName);
    EXPECT_EQ(t[1].text, "File \"N\"");
    EXPECT_EQ(t[2].text, "x");
    // A quote holding both quote characters is one text.
    const auto both = Lex("'say \"hi\" and ''bye'''");
    ASSERT_EQ(both.size(), 1u);
    EXPECT_EQ(both[0].text, "say \"hi\" and 'bye'");
}

TEST(SqlLexer, NumbersSizesAndDates) {
    struct Case {
        const char* sql;
        TSqlTok kind;
        const char* value;
    } cases[] = {
        {"42", TSqlTok::Number, "42"},
        {"2.5", TSqlTok::Number, "2.5"},
        {".5", TSqlTok::Number, "0.5"},
        {"1e-5", TSqlTok::Number, "1E-5"},
        {"10K", TSqlTok::Number, "10240"},
        {"10kb", TSqlTok::Number, "10240"},
        {"2M", TSqlTok::Number, "2097152"},
        {"1G", TSqlTok::Number, "1073741824"},
        {"1T", TSqlTok::Number, "1099511627776"},
        {"1.5K", TSqlTok::Number, "1536"},
        {"99999999999999999999", TSqlTok::Number, "1E20"},
        {"2024-01-31", TSqlTok::Date, ""},
        {"1abc", TSqlTok::Bad, "无效的数字"},
        {"1e", TSqlTok::Bad, "无效的数字"},
        {"1.2.3", TSqlTok::Bad, "无效的数字"},
    };
    for (const Case& c : cases) {
        const auto t = Lex(c.sql);
        ASSERT_EQ(t.size(), 1u) << c.sql;
        EXPECT_EQ(t[0].kind, c.kind) << c.sql;
        if (c.kind != TSqlTok::Date) {
            EXPECT_EQ(t[0].text, c.value) << c.sql;
        }
    }
    // A date that is none is arithmetic.
    EXPECT_EQ(Lex("2024-13-01").size(), 5u);
}

TEST(SqlLexer, OperatorsAndParameters) {
    const auto t = Lex("a<>b!=c==d<=e>=f||g :p!h");
    std::vector<std::string> ops;
    for (const Tok& x : t)
        if (x.kind == TSqlTok::Op || x.kind == TSqlTok::Param) ops.push_back(x.text);
    EXPECT_EQ(ops, (std::vector<std::string>{"<>", "!=", "==", "<=", ">=", "||", "p!h"}));
}

TEST(SqlLexer, FaultsAreTokensWithTheirPlace) {
    struct Case {
        const char* sql;
        int pos;
        const char* message;
    } cases[] = {
        {"select 'abc", 8, "引号不匹配"},          {"select \"abc", 8, "引号不匹配"},
        {"select /* abc", 8, "注释没有结束"},      {"select @", 8, "不认识的字符“@”"},
        {"select \x01", 8, "不认识的字符“\\x01”"},
    };
    for (const Case& c : cases) {
        const auto t = Lex(c.sql);
        ASSERT_FALSE(t.empty()) << c.sql;
        EXPECT_EQ(t.back().kind, TSqlTok::Bad) << c.sql;
        EXPECT_EQ(t.back().pos, c.pos) << c.sql;
        EXPECT_EQ(t.back().text, c.message) << c.sql;
    }
}

TEST(SqlLexer, TableWordsAreReadRaw) {
    TSqlLexer lexer("from /data/x.log, t");
    lexer.Next();
    const TSqlToken slash = lexer.Next();
    EXPECT_EQ(lexer.ReadTableWord(slash.pos), "/data/x.log");
    EXPECT_TRUE(lexer.Next().Is(","));
    EXPECT_EQ(lexer.Next().text, "t");
}

TEST(SqlLexer, LineAndColumn) {
    int line, column;
    LineColumnOf("ab\ncd\n", 5, line, column);
    EXPECT_EQ(line, 2);
    EXPECT_EQ(column, 2);
    LineColumnOf("ab", 99, line, column);
    EXPECT_EQ(line, 1);
    EXPECT_EQ(column, 3);
}

}  // namespace
}  // namespace corvane
