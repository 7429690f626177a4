// Expressions: precedence, operand resolution, calls, iff, conversions and
// the type rules, as golden instruction listings and pinned diagnostics.
#include <gtest/gtest.h>

#include "script/compiler/CompileHelpers.h"
#include "script/runtime/u_base_funcs.h"

namespace corvane {
namespace {

using testing::At;
using testing::CompileFragment;
using Lines = std::vector<std::string>;

struct Case {
    const char* name;
    const char* source;  // statements of f
    Lines code;          // f's instructions
    Lines errors;        // rendered diagnostics, in order
};

// A failing case names itself, not its bytes.
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

void Check(const Case& c) {
    SCOPED_TRACE(c.name);
    const auto r = CompileFragment(c.source);
    EXPECT_EQ(r.raised, "");
    EXPECT_EQ(r.errors, c.errors);
    EXPECT_EQ(r.Code("f"), c.code);
    EXPECT_EQ(r.image->Loaded, c.errors.empty());
}

class Expressions : public ::testing::TestWithParam<Case> {};
TEST_P(Expressions, CompileTo) {
    Check(GetParam());
}

// Faulty expressions: the instructions that were emitted stay; the
// diagnostics come in the order of the checks.
class FaultyExpressions : public ::testing::TestWithParam<Case> {};
TEST_P(FaultyExpressions, Report) {
    Check(GetParam());
}

const std::string kMismatch = "类型不兼容。";
const std::string kBad = "不正确的表达式。";

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultyExpressions,
    ::testing::Values(
        Case{"InvalidPairTwice",
             "i := 1 + 'a';",
             {"loadtext _tmp_int_1 '1'", "loadtext _tmp_chr_1 'a'", "add i, _tmp_int_1, _tmp_chr_1",
              "halt"},
             {At(1, kMismatch), At(1, kMismatch)}},
        Case{"LikeOnANumber",
             "t := 5 like s;",
             {"loadtext _tmp_int_1 '5'", "cmp t, _tmp_int_1, s like", "halt"},
             {At(1, kMismatch), At(1, "Like需要string类型。"), At(1, kMismatch)}},
        Case{"ModNeedsAWholeLeftOperand",
             "d := 2.5 mod 2;",
             {"loadtext _tmp_flt_1 '2.5'", "loadtext _tmp_int_1 '2'",
              "mod d, _tmp_flt_1, _tmp_int_1", "halt"},
             {At(1, kMismatch)}},
        Case{"DivGivesADouble",
             "i := 7 div 2;",
             {"loadtext _tmp_int_1 '7'", "loadtext _tmp_int_2 '2'", "div i, _tmp_int_1, _tmp_int_2",
              "halt"},
             {At(1, kMismatch)}},
        Case{"TooManyArguments",
             "i := one(1,2);",
             {"loadtext _tmp_int_2 '1'", "halt"},
             {At(1, "期待“)”出现。"), At(1, "“one”没有被声明。"), At(1, kBad)}},
        Case{"MissingComma",
             "i := f(1 2, s, 'x');",
             {"loadtext _tmp_int_2 '1'", "halt"},
             {At(1, "参数之间应该用“,”隔开。"), At(1, "“f”没有被声明。"), At(1, kBad)}},
        Case{"VarParameterGetsALiteral",
             "p(3);",
             {"loadtext _tmp_int_1 '3'", "halt"},
             {At(1, "Var类型的参数不可以是常数、常量或函数。"), At(1, "“p”没有被声明。")}},
        Case{"VarParameterGetsAnElement",
             "p(arr[1]);",
             {"loadtext _tmp_int_1 '1'", "halt"},
             {At(1, "Var类型的参数不可以是常数、常量或函数。"), At(1, "“p”没有被声明。")}},
        Case{"CharParameterGetsANumber",
             "i := f(1, 2, s, 5);",
             {"loadtext _tmp_int_2 '1'", "loadtext _tmp_int_3 '2'", "loadtext _tmp_chr_1 '5'",
              "callprep 0:5", "mov params[1], _tmp_int_2", "mov params[2], _tmp_int_3",
              "mov params[3], s", "mov params[4], _tmp_chr_1", "call", "mov s, params[3]",
              "mov _tmp_int_1, params[0]", "callend", "mov i, _tmp_int_1", "halt"},
             {At(1, kMismatch)}},
        Case{"IffNeedsABoolean",
             "i := iff(1, a, b);",
             {"loadtext _tmp_bln_1 '1'", "test _tmp_bln_1", "jmptrue -> 4", "jmp -> 6",
              "mov _tmp_any_1, a", "jmp -> 7", "mov _tmp_any_1, b", "mov i, _tmp_any_1", "halt"},
             {At(1, kMismatch)}},
        Case{"IffWithTooFewOptions",
             "v := iff(t, a);",
             {"mov _tmp_bln_1, t", "test _tmp_bln_1", "jmptrue -> 4", "jmp -> -1",
              "mov _tmp_any_1, a", "jmp -> -1", "halt"},
             {At(1, "参数之间应该用“,”隔开。"), At(1, "“iff”没有被声明。"), At(1, kBad)}},
        Case{"IffWithABadOption",
             "v := iff(t, ), b);",
             {"mov _tmp_bln_1, t", "test _tmp_bln_1", "jmptrue -> 4", "jmp -> -1", "halt"},
             {At(1, "需要操作数。"), At(1, kBad), At(1, "“iff”的第1个选项应该是一个表达式。"),
              At(1, "“iff”没有被声明。"), At(1, kBad)}},
        Case{"ReservedTypeNameIsNoConversion",
             "i := integer(i);",
             {"halt"},
             {At(1, "“integer”没有被声明。"), At(1, kBad)}},
        Case{
            "MinusBeforeAName", "i := -j;", {"halt"}, {At(1, "负号之后必须是数字。"), At(1, kBad)}},
        Case{"DottedNameIsOneWord",
             "i := x.y;",
             {"halt"},
             {At(1, "“x.y”没有被声明。"), At(1, kBad)}},
        Case{"ParenthesesAfterAParameterlessFunction",
             "i := q();",
             {"callprep 0:2", "call", "mov _tmp_int_1, params[0]", "callend", "mov i, _tmp_int_1",
              "halt"},
             {At(1, "期待“;”或者“end”出现。")}},
        Case{"ProcedureWithParametersAsOperand",
             "i := 1 + result + p;",
             {"loadtext _tmp_int_1 '1'", "add _tmp_int_2, _tmp_int_1, result", "halt"},
             {At(1, "期待“(”出现。"), At(1, "“p”没有被声明。"), At(1, kBad)}},
        Case{"ProcedureAsOperand",
             "i := z;",
             {"callprep 0:4", "call", "callend", "halt"},
             {At(1, "过程出现在表达式中。"), At(1, kBad)}},
        Case{"NoDoubledQuotes",
             "s := 'A''B';",
             {"loadtext s 'A'", "loadtext _tmp_chr_1 'B'", "halt"},
             {At(1, "期待“;”或者“end”出现。"), At(1, "语句不能以常量或者常数开始。")}},
        Case{"MissingOperand",
             "i := 1 +;",
             {"loadtext _tmp_int_1 '1'", "halt"},
             {At(1, "需要操作数。"), At(1, kBad)}},
        Case{"UnclosedParenthesis",
             "i := (1;",
             {"loadtext _tmp_int_1 '1'", "halt"},
             {At(1, "期待“)”出现。"), At(1, kBad)}},
        Case{"NotNeedsABoolean",
             "t := not i;",
             {"mov _tmp_bln_1, i", "not t, _tmp_bln_1", "halt"},
             {At(1, kMismatch)}},
        Case{"ArrayWithoutIndex", "i := arr;", {"mov i, arr", "halt"}, {At(1, "期待“[”出现。")}},
        Case{"IndexMustBeAnInteger",
             "i := arr[1.5];",
             {"loadtext _tmp_int_1 '1.5'", "mov i, arr[_tmp_int_1]", "halt"},
             {At(1, kMismatch)}},
        Case{"NumbersBeyondTheirRange",
             "d := 1e400; i := 9223372036854775808; i := -9223372036854775809;",
             {"loadtext d '1e400'", "loadtext i '9223372036854775808'",
              "loadtext i '-9223372036854775809'", "halt"},
             {At(1, "数值超出范围：1e400"), At(1, "数值超出范围：9223372036854775808"),
              At(1, "数值超出范围：-9223372036854775809")}},
        Case{"WordsThatOnlyStartLikeANumber",
             "i := 12abc; d := 1e; d := 1e+ 5;",
             {"halt"},
             {At(1, "“12abc”没有被声明。"), At(1, kBad), At(1, "“1e”没有被声明。"), At(1, kBad),
              At(1, "“1e”没有被声明。"), At(1, kBad)}},
        Case{"StringElementIsTypedAsTheString",
             "ch := s[1];",
             {"loadtext _tmp_int_1 '1'", "mov ch, s[_tmp_int_1]", "halt"},
             {At(1, kMismatch)}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Listings, Expressions,
    ::testing::Values(
        Case{"TwoInstructionsOneTemporary",
             "i := a + b + j;",
             {"add _tmp_int_1, a, b", "add i, _tmp_int_1, j", "halt"},
             {}},
        Case{"MultiplyFirst",
             "i := 1 + 2 * 3;",
             {"loadtext _tmp_int_1 '1'", "loadtext _tmp_int_2 '2'", "loadtext _tmp_int_3 '3'",
              "mul _tmp_int_2, _tmp_int_2, _tmp_int_3", "add i, _tmp_int_1, _tmp_int_2", "halt"},
             {}},
        Case{"EqualPrecedenceGroupsFromTheLeft",
             "i := 8 - 2 - 1;",
             {"loadtext _tmp_int_1 '8'", "loadtext _tmp_int_2 '2'",
              "sub _tmp_int_1, _tmp_int_1, _tmp_int_2", "loadtext _tmp_int_2 '1'",
              "sub i, _tmp_int_1, _tmp_int_2", "halt"},
             {}},
        Case{"NotTakesTheRestOfTheExpression",
             "t := not t or t;",
             {"or _tmp_bln_1, t, t", "not t, _tmp_bln_1", "halt"},
             {}},
        Case{"NotOfAComparison",
             "t := not a = b;",
             {"cmp _tmp_bln_1, a, b =", "not t, _tmp_bln_1", "halt"},
             {}},
        Case{"StringJoinsAChar",
             "s := 'ab' + ch;",
             {"loadtext _tmp_str_1 'ab'", "concat s, _tmp_str_1, ch", "halt"},
             {}},
        Case{"CharJoinsAString",
             "s := ch + 'ab';",
             {"loadtext _tmp_str_1 'ab'", "concat s, ch, _tmp_str_1", "halt"},
             {}},
        Case{"Like",
             "t := s like 'a%';",
             {"loadtext _tmp_str_1 'a%'", "cmp t, s, _tmp_str_1 like", "halt"},
             {}},
        Case{"ModTestsOnlyTheLeftOperand",
             "d := 5 mod 2.5;",
             {"loadtext _tmp_int_1 '5'", "loadtext _tmp_flt_1 '2.5'",
              "mod d, _tmp_int_1, _tmp_flt_1", "halt"},
             {}},
        Case{"DivIntoADouble",
             "d := 7 div 2;",
             {"loadtext _tmp_int_1 '7'", "loadtext _tmp_int_2 '2'", "div d, _tmp_int_1, _tmp_int_2",
              "halt"},
             {}},
        Case{"RelationCodesSurviveTheMerge",
             "t := a <> b; t := a >= b; t := a <= b;",
             {"cmp t, a, b <>", "cmp t, a, b >=", "cmp t, a, b <=", "halt"},
             {}},
        Case{"LessThanANegativeNumber",
             "t := a<-1;",
             {"loadtext _tmp_int_1 '-1'", "cmp t, a, _tmp_int_1 <", "halt"},
             {}},
        Case{"NegativeNumbers",
             "i := 0 - j; i := - 5; d := -1.5;",
             {"loadtext _tmp_int_1 '0'", "sub i, _tmp_int_1, j", "loadtext i '-5'",
              "loadtext d '-1.5'", "halt"},
             {}},
        Case{"ExponentsMakeOneDoubleLiteral",
             "d := 1e-5; d := 1.5E+5; d := 2e3; d := - 2e-3; d := 2e-3-1;",
             {"loadtext d '1e-5'", "loadtext d '1.5e+5'", "loadtext d '2e3'", "loadtext d '-2e-3'",
              "loadtext _tmp_flt_1 '2e-3'", "loadtext _tmp_int_1 '1'",
              "sub d, _tmp_flt_1, _tmp_int_1", "halt"},
             {}},
        Case{"LiteralsAtTheEndsOf64Bits",
             "i := 9223372036854775807; i := -9223372036854775808;",
             {"loadtext i '9223372036854775807'", "loadtext i '-9223372036854775808'", "halt"},
             {}},
        Case{"ResultsOfWordsAreHeldUncut",
             // The word temporaries are defined as integers (see the test of
             // their definitions); a conversion's result is a true word, and
             // what follows it is computed in another temporary.
             "i := word(j) + 65535 + 1;",
             {"mov _tmp_int_1, j", "convert _tmp_int_2, _tmp_int_1", "loadtext _tmp_int_1 '65535'",
              "add _tmp_int_3, _tmp_int_2, _tmp_int_1", "loadtext _tmp_int_1 '1'",
              "add i, _tmp_int_3, _tmp_int_1", "halt"},
             {}},
        Case{"Parentheses",
             "i := (a + b) * j; d := (1);",
             {"add _tmp_int_1, a, b", "mul i, _tmp_int_1, j", "loadtext d '1'", "halt"},
             {}},
        Case{"Globals",
             "gs := s + gs; g := g + 1;",
             {"concat @gs, s, @gs", "loadtext _tmp_int_1 '1'", "add @g, @g, _tmp_int_1", "halt"},
             {}},
        Case{"Elements",
             "arr[i] := arr[j]; s[2] := ch; t := s[1] = 'a';",
             {"mov _tmp_int_1, i", "mov _tmp_int_2, j", "mov arr[_tmp_int_1], arr[_tmp_int_2]",
              "loadtext _tmp_int_1 '2'", "mov s[_tmp_int_1], ch", "loadtext _tmp_int_1 '1'",
              "loadtext _tmp_chr_1 'a'", "cmp t, s[_tmp_int_1], _tmp_chr_1 =", "halt"},
             {}},
        Case{"IffEvaluatesOneOption",
             "v := iff(a > b, a, b);",
             {"cmp _tmp_bln_1, a, b >", "test _tmp_bln_1", "jmptrue -> 4", "jmp -> 6",
              "mov _tmp_any_1, a", "jmp -> 7", "mov _tmp_any_1, b", "mov v, _tmp_any_1", "halt"},
             {}},
        Case{"IffInsideAnExpressionKeepsItsJumps",
             "v := 1 + iff(t, a, b);",
             {"loadtext _tmp_int_1 '1'", "mov _tmp_bln_1, t", "test _tmp_bln_1", "jmptrue -> 5",
              "jmp -> 7", "mov _tmp_any_1, a", "jmp -> 8", "mov _tmp_any_1, b",
              "add v, _tmp_int_1, _tmp_any_1", "halt"},
             {}},
        Case{"Conversion",
             "w := word(i);",
             {"mov _tmp_int_1, i", "convert w, _tmp_int_1", "halt"},
             {}},
        Case{"ConversionIntoAnotherTypeKeepsItsTemporary",
             // Converting straight into i would not cut the value.
             "i := word(j);",
             {"mov _tmp_int_1, j", "convert _tmp_int_2, _tmp_int_1", "mov i, _tmp_int_2", "halt"},
             {}},
        Case{"ParameterlessFunction",
             "i := q;",
             {"callprep 0:2", "call", "mov _tmp_int_1, params[0]", "callend", "mov i, _tmp_int_1",
              "halt"},
             {}},
        Case{"CallSequence",
             "i := f(a - 1, j, s, 'x' + s);",
             {"loadtext _tmp_int_3 '1'", "sub _tmp_int_2, a, _tmp_int_3", "mov _tmp_int_3, j",
              "loadtext _tmp_chr_1 'x'", "concat _tmp_chr_1, _tmp_chr_1, s", "callprep 0:5",
              "mov params[1], _tmp_int_2", "mov params[2], _tmp_int_3", "mov params[3], s",
              "mov params[4], _tmp_chr_1", "call", "mov s, params[3]", "mov _tmp_int_1, params[0]",
              "callend", "mov i, _tmp_int_1", "halt"},
             {}},
        Case{"ProcedureCallWithAVarParameter",
             "p(i);",
             {"callprep 0:1", "mov params[1], i", "call", "mov i, params[1]", "callend", "halt"},
             {}},
        Case{"ProcedureCall", "z;", {"callprep 0:4", "call", "callend", "halt"}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Expressions, BuiltinsAreCalledByTheirNegatedNumber) {
    const auto r = CompileFragment("i := length(s);");
    ASSERT_TRUE(r.errors.empty());
    const int k = TbaseFunctions::Acquire()->Find("length");
    const Lines want = {"mov _tmp_str_1, s",         "callprep -1:-" + std::to_string(k),
                        "mov params[1], _tmp_str_1", "call",
                        "mov _tmp_int_1, params[0]", "callend",
                        "mov i, _tmp_int_1",         "halt"};
    EXPECT_EQ(r.Code("f"), want);
}

TEST(Expressions, AssignedTypeFollowsTheLastAssignmentToResult) {
    const auto r = testing::CompileSource(
        "interface function f: variant; function g: integer;\n"
        "implementation\n"
        "function f: variant; begin result := 'abc'; end;\n"
        "function g: integer; begin result := 'abc'; result := 1; end;\n"
        "end.\n");
    EXPECT_EQ(r.Func("f").AssignedType, dtString);
    EXPECT_EQ(r.Func("g").AssignedType, dtWord);
    EXPECT_EQ(r.Func("initialization").AssignedType, dtUnknown);
}

TEST(Expressions, ConstantsOfEveryScope) {
    const auto r = testing::CompileSource(
        "interface\nconst hi = 'Hi'; n = 300; big = 70000;\nfunction f: string;\n"
        "implementation\n"
        "function f: string;\nconst n = 'Local';\n"
        "begin result := hi + n; result := big; end;\n"
        "end.\n");
    // The local n hides the global n; string constants lose their quotes.
    const Lines want = {"loadtext _tmp_str_1 'Hi'", "loadtext _tmp_str_2 'Local'",
                        "concat result, _tmp_str_1, _tmp_str_2", "loadtext result '70000'", "halt"};
    EXPECT_EQ(r.Code("f"), want);
    EXPECT_EQ(r.errors, Lines{"Compile: line 7:类型不兼容。"});  // an integer into a string
}

TEST(Expressions, ConstantsSpellNumberLiterals) {
    const auto r = testing::CompileSource(
        "interface\nconst tiny = 1e-5; huge = 1e400; odd = 12abc;\nfunction f: variant;\n"
        "implementation\n"
        "function f: variant;\n"
        "begin result := tiny; result := huge; result := odd; end;\n"
        "end.\n");
    // A value beyond the range is reported where it is used; a value that
    // only starts like a number is a text, like any other constant that is
    // no literal.
    const Lines want = {"loadtext result '1e-5'", "loadtext result '1e400'",
                        "loadtext result '12abc'", "halt"};
    EXPECT_EQ(r.Code("f"), want);
    EXPECT_EQ(r.errors, Lines{"Compile: line 6:数值超出范围：1e400"});
    const TClassDefInf& f = r.Func("f");
    ASSERT_EQ(f.varDefs.size(), 3u);  // result, _tmp_flt_1 (used twice), _tmp_any_1
    EXPECT_EQ(f.varDefs[1].DataType, dtDouble);
    EXPECT_EQ(f.varDefs[2].DataType, dtVariant);
}

TEST(Expressions, LetterCaseOfNamesAndLiterals) {
    const auto r = testing::CompileSource(
        "INTERFACE\nVar X: INTEGER; S: String;\nFunction F: Integer;\n"
        "Implementation\n"
        "function f: integer;\nBEGIN X := 1; S := 'Abc'; Result := X END;\n"
        "end.\n");
    ASSERT_TRUE(r.errors.empty()) << r.errors[0];
    const Lines want = {"loadtext @x '1'", "loadtext @s 'Abc'", "mov result, @x", "halt"};
    EXPECT_EQ(r.Code("f"), want);
}

}  // namespace
}  // namespace corvane
