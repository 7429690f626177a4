// The fixed tables and the recognisers: the SQL side and the compiler both
// decide what a word is with these, so their edge cases are pinned here.
#include "script/common/qv_consts.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(InstructionTable, NamesCountsAndTheLowSevenBitRule) {
    struct Case {
        int op;
        int count;
    } cases[] = {
        {opMov, 2},     {opConvert, 2}, {opNot, 2}, {opAddImm, 2},   {opLoadText, 1},
        {opTest, 1},    {opSetFlag, 1}, {opJmp, 0}, {opJmpTrue, 0},  {opPushFlag, 0},
        {opPopFlag, 0}, {opHalt, 0},    {opTag, 0}, {opCallPrep, 0}, {opCall, 0},
        {opCallEnd, 0}, {opAdd, 3},     {opCmp, 3}, {opConcat, 3},   {opAnd, 3},
        {26, 3},        {127, 3},       {128, 2},   {128 + 19, 1},   {128 + 6, 0},
        {255, 3},
    };
    for (auto c : cases)
        EXPECT_EQ(OperandCount(c.op), c.count) << c.op;
    EXPECT_EQ(InstructionInfo(opJmpTrue).name, "jmptrue");
    EXPECT_EQ(InstructionInfo(opCmp).imm, TImmUse::Compare);
    EXPECT_EQ(InstructionInfo(200).name, "");
    EXPECT_EQ(InstructionInfo(-1).operands, 3);
}

TEST(OperatorTable, LookupsByNameAndCode) {
    EXPECT_EQ(OperatorIndex("*"), okMul);
    EXPECT_EQ(OperatorIndex("div"), okDiv);
    EXPECT_EQ(OperatorIndex("like"), okLike);
    EXPECT_EQ(OperatorIndex(":="), okAssign);
    EXPECT_EQ(OperatorIndex("DIV"), okNone);  // exact comparison
    EXPECT_EQ(OperatorIndex("=="), okNone);
    EXPECT_EQ(OperatorOfCode(opConcat), okAdd);  // treated as "+"
    EXPECT_EQ(OperatorOfCode(opAdd), okAdd);
    EXPECT_EQ(OperatorOfCode(opDiv), okSlash);
    EXPECT_EQ(OperatorOfCode(opCmp), okGreater);
    EXPECT_EQ(OperatorOfCode(opMov), okAssign);
    EXPECT_EQ(OperatorOfCode(opNot), okNot);
    EXPECT_EQ(OperatorOfCode(opJmp), okNone);
    EXPECT_EQ(OperatorEntry(OperatorIndex("not")).precedence, 3);
    // The relation operators are the relations in order.
    for (int i = 0; i < kRelationCount; ++i)
        EXPECT_EQ(kOperators[okGreater - 1 + i].name, kRelations[i].name);
}

TEST(OperatorTable, EveryNameIsItsEntry) {
    struct Case {
        std::string_view name;
        TOperatorKind op;
        TOpCode code;
        int precedence;
    } cases[] = {
        {"*", okMul, opMul, 6},        {"/", okSlash, opDiv, 6},
        {"div", okDiv, opDiv, 6},      {"mod", okMod, opMod, 6},
        {"+", okAdd, opAdd, 5},        {"-", okSub, opSub, 5},
        {">", okGreater, opCmp, 4},    {"<", okLess, opCmp, 4},
        {"=", okEqual, opCmp, 4},      {">=", okGreaterEqual, opCmp, 4},
        {"<=", okLessEqual, opCmp, 4}, {"<>", okNotEqual, opCmp, 4},
        {"like", okLike, opCmp, 4},    {"and", okAnd, opAnd, 2},
        {"not", okNot, opNot, 3},      {"or", okOr, opOr, 1},
        {"xor", okXor, opXor, 1},      {":=", okAssign, opMov, 0},
    };
    ASSERT_EQ(std::size(cases), static_cast<size_t>(kOperatorCount));
    for (const Case& c : cases) {
        EXPECT_EQ(OperatorIndex(c.name), c.op) << c.name;
        EXPECT_EQ(OperatorEntry(c.op).code, c.code) << c.name;
        EXPECT_EQ(OperatorEntry(c.op).precedence, c.precedence) << c.name;
        EXPECT_EQ(IsRelation(c.op), c.code == opCmp) << c.name;
    }
    EXPECT_FALSE(IsRelation(okNone));
}

TEST(RelationTable, OperatorsGiveTheirComparisonKinds) {
    struct Case {
        TOperatorKind op;
        TCompareKind kind;
    } cases[] = {
        {okGreater, ckGreater},     {okLess, ckLess},
        {okEqual, ckEqual},         {okGreaterEqual, ckGreaterEqual},
        {okLessEqual, ckLessEqual}, {okNotEqual, ckNotEqual},
        {okLike, ckLike},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CompareKindOf(c.op), c.kind) << OperatorEntry(c.op).name;
}

TEST(RelationTable, CodesAndCaseInsensitiveLookup) {
    EXPECT_EQ(kRelations[RelationIndex(">") - 1].code, ckGreater);
    EXPECT_EQ(kRelations[RelationIndex("<=") - 1].code, ckLessEqual);
    EXPECT_EQ(RelationIndex("LIKE"), 7);
    EXPECT_EQ(kRelations[RelationIndex("<>") - 1].code, ckNotEqual);
    EXPECT_EQ(RelationIndex("=<"), -1);
}

TEST(TypeNames, CodesNamesAndClasses) {
    struct Case {
        const char* name;
        TDataType code;
    } names[] = {
        {"integer", dtInteger}, {"word", dtWord},     {"byte", dtByte},     {"string", dtString},
        {"char", dtChar},       {"float", dtDouble},  {"double", dtDouble}, {"boolean", dtBoolean},
        {"date", dtDate},       {"datetime", dtDate}, {"any", dtVariant},   {"variant", dtVariant},
    };
    for (auto c : names) {
        TDataType t = dtUnknown;
        EXPECT_TRUE(TypeCodeOf(c.name, t)) << c.name;
        EXPECT_EQ(t, c.code) << c.name;
    }
    TDataType untouched = dtChar;
    EXPECT_FALSE(TypeCodeOf("Integer", untouched));
    EXPECT_FALSE(TypeCodeOf("bealoon", untouched));
    EXPECT_FALSE(TypeCodeOf("", untouched));
    EXPECT_EQ(untouched, dtChar);

    const char* canonical[] = {";",    "integer", "word",    "byte", "string",
                               "char", "double",  "boolean", "date", "variant"};
    for (int code = 0; code <= 9; ++code)
        EXPECT_EQ(TypeNameOf(code), canonical[code]);
    EXPECT_EQ(TypeNameOf(10), "");
    EXPECT_EQ(TypeNameOf(100), "");
    EXPECT_EQ(TypeNameOf(-1), "");

    const int classes[] = {100, 1, 1, 1, 4, 5, 6, 7, 6, 9, 100};
    for (int code = 0; code <= 10; ++code)
        EXPECT_EQ(TypeClassOf(code), classes[code]) << code;
    EXPECT_EQ(TypeClassOf(100), 100);
    for (int code = -1; code <= 101; ++code)
        EXPECT_EQ(IsValueType(code), code >= 1 && code <= 9) << code;
}

TEST(TypeTable, ResultsOfEveryCell) {
    // The result table as a user reads it; 0 marks an invalid cell.
    const int I = 1, W = 2, B = 3, S = 4, C = 5, D = 6, L = 7, T = 8, V = 9;
    const int results[9][9] = {
        {I, I, I, 0, 0, D, 0, T, I},  // integer
        {I, W, W, 0, 0, D, 0, T, W},  // word
        {I, W, B, 0, 0, D, 0, T, B},  // byte
        {0, 0, 0, S, S, 0, 0, 0, S},  // string
        {0, 0, 0, S, C, 0, 0, 0, C},  // char
        {D, D, D, 0, 0, D, 0, D, D},  // double
        {0, 0, 0, 0, 0, 0, L, T, L},  // boolean
        {T, T, T, T, 0, T, 0, T, T},  // date
        {V, V, V, V, V, V, V, V, V},  // variant
    };
    for (int l = 1; l <= 9; ++l) {
        for (int r = 1; r <= 9; ++r) {
            const int want = results[l - 1][r - 1];
            EXPECT_EQ(ResultTypeOf(l, r), want ? want : -1) << l << "," << r;
            const TTypeCell c = TypeCell(l, r);
            EXPECT_FALSE(c.pickLeft && !c.valid);
            if (want)
                EXPECT_EQ(OtherTypeOf(l, r), want == l ? r : l) << l << "," << r;
            else
                EXPECT_EQ(OtherTypeOf(l, r), -1);
        }
    }
    EXPECT_EQ(ResultTypeOf(0, 1), -1);
    EXPECT_EQ(ResultTypeOf(1, 100), -1);
    EXPECT_EQ(TypePick(10, 10), 0);
}

TEST(TypeTable, AssignmentReading) {
    // Target (row) -> the sources it accepts.
    const char* accepts[9] = {
        "1239", "239", "39", "459", "59", "123689", "79", "1234689", "123456789",
    };
    for (int target = 1; target <= 9; ++target) {
        for (int source = 1; source <= 9; ++source) {
            const bool ok = std::string_view(accepts[target - 1]).find(char('0' + source)) !=
                            std::string_view::npos;
            EXPECT_EQ(TypePick(target, source), ok ? 1 : 0) << target << "<-" << source;
            EXPECT_EQ(CanAssign(target, source), ok) << target << "<-" << source;
        }
    }
    EXPECT_FALSE(CanAssign(dtNone, dtInteger));
    EXPECT_FALSE(CanAssign(dtUnknown, dtVariant));
}

TEST(Recognisers, IsIdentifier) {
    struct Case {
        const char* s;
        bool ok;
    } cases[] = {
        {"x", true},        {"1abc", true},
        {"a.b", true},      {"  name  ", true},
        {"boolean", true},  {"word", true},
        {"byte", true},     {"date", true},
        {"xor", true},      {"result", true},
        {"iff", true},      {"_tmp_int_1", true},
        {"a:b", true},      {"\xe4\xb8\xad\xe6\x96\x87", true},
        {"", false},        {"  ", false},
        {"bealoon", false}, {"BEGIN", false},
        {"a+b", false},     {"a-b", false},
        {"a*b", false},     {"a/b", false},
        {"a=b", false},     {"a>b", false},
        {"a<b", false},     {"f(", false},
        {")", false},       {"a:=b", false},
    };
    for (auto c : cases)
        EXPECT_EQ(IsIdentifier(c.s), c.ok) << '[' << c.s << ']';
}

TEST(Recognisers, QuotedBooleanNumberTime) {
    EXPECT_TRUE(IsQuotedText(""));
    EXPECT_TRUE(IsQuotedText("  'ab'  "));
    EXPECT_TRUE(IsQuotedText("\"x\""));
    EXPECT_TRUE(IsQuotedText("'"));  // first and last are the same character
    EXPECT_FALSE(IsQuotedText("'ab\""));
    EXPECT_FALSE(IsQuotedText("ab"));

    EXPECT_TRUE(IsBooleanText(" TRUE "));
    EXPECT_TRUE(IsBooleanText("False"));
    EXPECT_FALSE(IsBooleanText("yes"));

    struct Case {
        const char* s;
        bool ok;
    } numbers[] = {
        {"0", true},      {"65535", true}, {"-1", true},   {"1.5", true},  {"1abc", true},
        {" 12 ", true},   {"1.", true},    {"1e5", true},  {"-1.5", true}, {"1a.b", true},
        {"", false},      {"-", false},    {"-a", false},  {"a1", false},  {".5", false},
        {"1.2.3", false}, {"1.a.", false}, {"--1", false},
    };
    for (auto c : numbers)
        EXPECT_EQ(IsNumberText(c.s), c.ok) << '[' << c.s << ']';

    // Well-formed numbers: digits, at most one "." and an exponent.
    Case literals[] = {
        {"0", true},      {"-12", true},    {"1.5", true},      {"2.", true},     {"1e-5", true},
        {"1.5E+5", true}, {"2e3", true},    {" -1e400 ", true}, {"1abc", false},  {"1e", false},
        {"1e+", false},   {"1.2.3", false}, {"1e5.5", false},   {"1e5e5", false}, {".5", false},
        {"-", false},     {"", false},      {"0x10", false},    {"1 2", false},   {"1e--5", false},
    };
    for (auto c : literals)
        EXPECT_EQ(IsNumberLiteral(c.s), c.ok) << '[' << c.s << ']';

    EXPECT_TRUE(IsTimeText("12:30"));
    EXPECT_TRUE(IsTimeText("9"));
    EXPECT_TRUE(IsTimeText("23:59:59"));
    EXPECT_FALSE(IsTimeText("25:00"));
    EXPECT_FALSE(IsTimeText("abc"));
    EXPECT_FALSE(IsTimeText(""));
}

TEST(Recognisers, IsLiteral) {
    struct Case {
        const char* s;
        bool ok;
    } cases[] = {
        {"'x'", true},  {"\"\"", true}, {"", true},      {"12", true},
        {"true", true}, {"1abc", true}, {"12:30", true}, {"x", false},
        {"a.b", false}, {"'ab", false}, {"-x", false},
    };
    for (auto c : cases)
        EXPECT_EQ(IsLiteral(c.s), c.ok) << '[' << c.s << ']';
}

TEST(Recognisers, LiteralType) {
    struct Case {
        const char* s;
        int type;
    } cases[] = {
        {"'x'", dtChar},
        {"''", dtChar},
        {"'xy'", dtString},
        {"\"abc\"", dtString},
        {"TRUE", dtBoolean},
        {"fAlSe", dtBoolean},
        {"12", dtWord},
        {"0", dtWord},
        {"65535", dtWord},
        {"65536", dtInteger},
        {"-1", dtInteger},
        {"-0", dtWord},
        {"1.5", dtDouble},
        {"-1.5", dtDouble},
        {"1e-5", dtDouble},
        {"1.5E+5", dtDouble},
        {"2e3", dtDouble},
        {"-2e3", dtDouble},
        {"1e400", dtDouble},
        {"1e", dtInteger},
        {"1e5x", dtInteger},
        {"1.2.3", dtNone},
        {"99999999999", dtInteger},
        {"2147483647", dtInteger},
        {"-2147483649", dtInteger},
        {"1abc", dtInteger},
        {"abc", dtNone},
        {"12:30", dtInteger},
        {" 9:30", dtInteger},
        {"x9:30", dtNone},
        {"", dtChar},
    };
    for (auto c : cases)
        EXPECT_EQ(LiteralType(c.s), c.type) << '[' << c.s << ']';
}

}  // namespace
}  // namespace corvane
