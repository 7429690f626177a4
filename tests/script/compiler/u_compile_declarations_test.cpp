// Program structure: the scanner's comments and line numbers, the interface
// part, the division into bodies, and the diagnostics of declarations.
#include <gtest/gtest.h>

#include "script/compiler/CompileHelpers.h"

namespace corvane {
namespace {

using testing::CompileSource;
using Lines = std::vector<std::string>;

std::string L(int line, std::string_view text) {
    return "Compile: line " + std::to_string(line) + ":" + std::string(text);
}

struct Case {
    const char* name;
    const char* source;
    Lines errors;
};

// A failing case names itself, not its bytes.
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class Declarations : public ::testing::TestWithParam<Case> {};

TEST_P(Declarations, Report) {
    const Case& c = GetParam();
    const auto r = CompileSource(c.source);
    EXPECT_EQ(r.raised, "");
    std::string got;
    for (const std::string& e : r.errors)
        got += "\n  " + e;
    EXPECT_EQ(r.errors, c.errors) << "got:" << got;
    EXPECT_EQ(r.image->Loaded, c.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Sources, Declarations,
    ::testing::Values(
        Case{"Minimal", "interface\nimplementation\nend.\n", {}},
        Case{"NoInterface",
             "unit x;\ninterface\nimplementation\nend.\n",
             {L(1, "期待“interface”出现。")}},
        Case{"NoImplementation",
             "interface\nvar a: integer;\nbegin\nend.\n",
             {L(3, "期待“var”或者“implementation”出现。")}},
        Case{"NoEndDot",
             "interface\nfunction f: integer;\nimplementation\nfunction f: integer;\n"
             "begin end;\n",
             {L(5, "程序缺少“end.”")}},
        Case{"NoEndDotWithoutBodies", "interface\nimplementation\n\n", {L(2, "程序缺少“end.”")}},
        Case{"LinesAfterEndDotAreIgnored", "interface\nimplementation\nend.\nwhatever (\n", {}},
        Case{"ArrayLengths",
             "interface\nvar x: array[0] of integer;\nvar y: array[n] of integer;\n"
             "var z: array[abc] of integer;\nimplementation\nend.\n",
             {L(3, "n不是有效的整数。"), L(4, "abc不是有效的整数。")}},
        // The bound is the runtime's: a program that compiles never fails
        // for its array lengths when it runs.
        Case{"ArraysBeyondTheBound",
             "interface\nvar x: array[262144] of integer;\nvar y: array[262145] of byte;\n"
             "var z: array[99999999999] of string;\nimplementation\nend.\n",
             {L(3, "数组太大，一个数组最多只能有262144个元素。"),
              L(4, "数组太大，一个数组最多只能有262144个元素。")}},
        Case{"VariableGroups",
             "interface\nvar x: integer external;\nvar y: integer ext;\nvar z: integer);\n"
             "var w: foo;\nvar v: array[2] of;\nvar u: array 2] of integer;\n"
             "var t: array[2 of integer;\nvar s: array[2] integer;\nvar 1 + 2: integer;\n"
             "var r, r2 integer;\nimplementation\nend.\n",
             {L(3, "期待“;”或者“External”出现。"), L(4, "期待“;”或者“External”出现。"),
              L(5, "“foo”未知的数据类型。"), L(6, "“of”之后应该是数据类型。"),
              L(7, "期待“[”出现。"), L(8, "期待“]”出现。"), L(9, "期待“of”出现。"),
              // "1" is a name (only reserved words and operators are not),
              // so the "+" after it is what is wrong.
              L(10, "期待“;”或者“:”出现。"), L(11, "期待“;”或者“:”出现。")}},
        Case{"VariableExists",
             "interface\nvar a: integer;\nvar a: string;\nimplementation\nend.\n",
             {L(3, "变量“a”已经存在。")}},
        Case{"UsesAfterVarIsAVariableName",
             "interface\nvar a: integer;\nuses u;\nimplementation\nend.\n",
             {L(3, "“uses”不是合法的标识符。")}},
        Case{"UsesTwice",
             "interface\nuses u, v, u;\nimplementation\nend.\n",
             {L(2, "“u”重复出现。")}},
        Case{"UsesWithoutSemicolon",
             "interface\nuses u\nimplementation\nend.\n",
             {L(3, "期待“;”出现。"), L(3, "期待“var”或者“implementation”出现。")}},
        Case{"Constants",
             "interface\nconst s = 'Ab'; s = 1;\nconst begin = 1;\nconst k 1;\n"
             "implementation\nend.\n",
             {L(2, "“s”重复出现。"), L(3, "“begin”不是合法的标识符。"), L(4, "期待“=”出现。")}},
        // The ";" test reads the next character whatever it is: the "i" of
        // "implementation" goes, and what is left of the source is read as
        // constants until it runs out, once.
        Case{"ConstantWithoutSemicolon",
             "interface\nconst m = 1\nimplementation\nend.\n",
             {L(3, "期待“;”出现。"), L(4, "期待“=”出现。"), L(4, "期待“=”出现。"),
              L(4, "程序/函数不能正常结束。")}},
        Case{"HeaderErrors",
             "interface\nfunction begin: integer;\nfunction f integer;\nfunction g: foo;\n"
             "function h: integer ext;\nfunction k: integer external\n"
             "implementation\nend.\n",
             {L(2, "“begin”不是合法的标识符。"), L(3, "期待“:”出现。"),
              L(4, "“foo”未知的数据类型。"), L(5, "期待“;”或者“External”出现。"),
              L(7, "期待“;”出现。"), L(8, "期待“var”或者“implementation”出现。")}},
        Case{"FunctionNamedLikeAVariable",
             "interface\nvar g: integer;\nfunction\n  g: integer;\nfunction f: integer;\n"
             "function f: string;\nimplementation\nfunction f: integer;\nbegin end;\nend.\n",
             {L(3, "存在同名的函数或者变量“g”"), L(6, "存在同名的函数或者变量“f”")}},
        Case{"MalformedParameterList",
             "interface\nprocedure p(a: integer external;\nvar x: integer;\n"
             "implementation\nend.\n",
             {L(2, "期待“;”或者“)”出现。"), L(3, "期待“;”或者“)”出现。"), L(4, "期待“)”出现。"),
              L(4, "期待“;”或者“External”出现。")}},
        Case{"ParameterForms",
             "interface\nfunction f(a: integer; ): integer;\nfunction g(): integer;\n"
             "function h(var a, b: integer; c: array[3] of string): integer;\n"
             "implementation\nfunction f(a: integer): integer;\nbegin end;\n"
             "function g: integer;\nbegin end;\n"
             "function h(var a, b: integer; c: array[3] of string): integer;\nbegin end;\nend.\n",
             {}},
        Case{"ParameterNamesDiffer",
             "interface\nfunction f(a: integer; b: string): integer;\nimplementation\n"
             "function f(x: integer; y: string): integer;\nbegin end;\nend.\n",
             {L(4, "函数“f”的实际参数列表与函数声明不同，或者数组长度不相等。"),
              L(4, "函数“f”的实际参数列表与函数声明不同，或者数组长度不相等。")}},
        Case{"ParameterCountAndArrayLengthDiffer",
             "interface\nfunction f(a: array[3] of integer; b: string): integer;\nimplementation\n"
             "function f(a: array[4] of integer): integer;\nbegin end;\nend.\n",
             {L(4, "函数“f”的实际参数列表与函数声明不同，或者数组长度不相等。"),
              L(4, "函数“f”的实际参数列表与函数声明不同，或者数组长度不相等。")}},
        Case{"ReturnTypeDiffers",
             "interface\nfunction f: integer;\nimplementation\nprocedure f;\nbegin end;\nend.\n",
             {L(4, "函数“f”的实际返回值类型与函数声明部分不同。"),
              L(4, "函数“f”的实际参数列表与函数声明不同，或者数组长度不相等。")}},
        Case{"BodyHeadersAreLowerCaseAsWritten",
             "interface\nfunction f: integer;\nimplementation\nFunction f: integer;\nbegin end;\n"
             "function F: integer;\nbegin end;\nend.\n",
             {L(6, "“函数”没有被声明。"), L(0, "函数“f”没有实现。")}},
        Case{"EmptyBodyName",
             "interface\nimplementation\nfunction (a: integer);\nbegin end;\nend.\n",
             {L(3, "“函数名称”不是合法的标识符。")}},
        Case{"TwoBodies",
             "interface\nfunction f: integer;\nimplementation\nfunction f: integer;\nbegin end;\n"
             "function f: integer;\nbegin end;\nend.\n",
             {L(6, "一个函数不能有多个实现")}},
        Case{"BodyOfAnExternalFunction",
             "interface\nfunction f: integer external;\nimplementation\nfunction f: integer "
             "external;\n"
             "begin end;\nend.\n",
             {L(4, "一个函数不能有多个实现")}},
        Case{"MissingBodyReportedAtTheLastBodyLine",
             "interface\nfunction f: integer;\nfunction g: integer;\nimplementation\n"
             "initialization\n  f;\nfunction f: integer;\nbegin\nend;\nend.\n",
             {L(9, "函数“g”没有实现。")}},
        // The initialization body ends in a line numbered 0.
        Case{"MissingBodyAfterAnInitializationSection",
             "interface\nfunction f: integer;\nfunction g: integer;\nimplementation\n"
             "function f: integer;\nbegin end;\ninitialization\n  f;\nend.\n",
             {L(0, "函数“g”没有实现。")}},
        Case{"MissingBodyAfterTheDefaultInitialization",
             "interface\nfunction f: integer;\nfunction g: integer;\nimplementation\n"
             "function f: integer;\nbegin end;\nend.\n",
             {L(0, "函数“g”没有实现。")}},
        Case{"CodeAfterTheFinalEnd",
             "interface\nfunction f: integer;\nimplementation\nfunction f: integer;\n"
             "begin end; x := 1;\nend.\n",
             {L(5, "end;之后有多余代码，或者begin和end不配对。")}},
        Case{"BodyEndWithoutSemicolon",
             "interface\nfunction f: integer;\nimplementation\nfunction f: integer;\nbegin "
             "end\nend.\n",
             {L(5, "期待“;”出现。")}},
        Case{"BodyWithoutBeginThenAVarSectionOfTwoGroups",
             "interface\nfunction f: integer;\nfunction g: integer;\nimplementation\n"
             "function f: integer;\nx := 1;\nend;\n"
             "function g: integer;\nvar a: integer;\n b: integer;\nbegin end;\nend.\n",
             {L(5, "期待“begin”出现。"), L(9, "期待“begin”出现。")}},
        Case{"LabelsDeclaredTwice",
             "interface\nfunction f: integer;\nimplementation\nfunction f: integer;\n"
             "label a b\n  a c\nbegin end;\nend.\n",
             {L(6, "标签“a”重复声明。")}},
        Case{"LabelsWithASemicolon",
             "interface\nfunction f: integer;\nimplementation\nfunction f: integer;\n"
             "label a;\nbegin end;\nend.\n",
             {L(5, "期待“begin”出现。")}},
        Case{"TwentyTwoLabels",
             "interface\nfunction f: integer;\nimplementation\nfunction f: integer;\n"
             "label l1 l2 l3 l4 l5 l6 l7 l8 l9 l10 l11 l12 l13 l14 l15 l16 l17 l18 l19 l20 l21\n"
             "label l22 l23\nbegin end;\nend.\n",
             {L(6, "标签太多，一个函数最多只能声明21个标签。")}},
        Case{"LocalsAndLocalConstants",
             "interface\nfunction f(a: integer): integer;\nimplementation\n"
             "function f(a: integer): integer;\nvar a: string;\nconst a = 1; k = 2; k = 3;\n"
             "begin result := k; end;\nend.\n",
             {L(5, "变量“a”已经存在。"), L(6, "“k”重复出现。")}},
        Case{"InitializationSection",
             "interface\nvar g: integer;\nimplementation\ninitialization\n  g := 1;\n  x;\nend.\n",
             {L(6, "“x”没有被声明。")}},
        // A quote opens a quoted text even inside a brace comment, and a
        // "}" inside it ends nothing; both states carry over lines.
        Case{"CommentsAndTheirQuotes",
             "interface\nvar a: integer; // var b: integer\n{ var c: string;\n var d: 'x}' }\n"
             "implementation\ninitialization\n a := 1; {x} a := 2; {y}\n a := 3; { it's }\n"
             " a := 4; }\n a := 4;' } a := 5;\n a := b;\nend.\n",
             {L(11, "“b”没有被声明。"), L(11, "不正确的表达式。")}},
        Case{"AnUnclosedQuoteInACommentHidesTheRest",
             "interface\nvar a: integer;\nimplementation\ninitialization\n a := 3; { it's }\n"
             " a := 4; }\n a := b;\nend.\n",
             {L(5, "程序缺少“end.”")}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Declarations, CommentsAreRemovedBeforeCompiling) {
    const auto r = CompileSource(
        "interface\nvar a: integer;\nimplementation\ninitialization\n"
        " a := 1; {x} a := 2; {y}\n a := 3; { it's }\n a := 4; }\n a := 4;' } a := 5;\n"
        " a := 6; // a := 7;\n a := 8 { a := 9;\n a := 10; } ;\nend.\n");
    EXPECT_TRUE(r.errors.empty()) << r.errors[0];
    const Lines want = {"loadtext @a '1'",
                        "loadtext @a '2'",
                        "loadtext @a '3'",
                        "loadtext @a '5'",
                        "loadtext @a '6'",
                        "loadtext @a '8'",
                        "halt"};
    EXPECT_EQ(r.Code("initialization"), want);
}

TEST(Declarations, GlobalsConstantsAndFunctionsInOrder) {
    const auto r = CompileSource(
        "interface\n"
        "var a, b, c: integer; s: array[3] of string; e: double external;\n"
        "const k = 'Ab'; k2 ='Ab'; n = 5;\n"
        "function f(x: integer; var y: string): integer;\n"
        "procedure p2 external;\n"
        "implementation\nfunction f(x: integer; var y: string): integer;\nbegin end;\nend.\n");
    EXPECT_TRUE(r.errors.empty()) << r.errors[0];
    const TvarDeflist globals = {{"a", dtInteger},
                                 {"b", dtInteger},
                                 {"c", dtInteger},
                                 {"s", dtString, "", 0, 3},
                                 {"e", dtDouble, "", 0, 0}};
    EXPECT_EQ(r.image->Globals, globals);
    const Tconstlist consts = {{"k", "'Ab'"}, {"k2", "'Ab'"}, {"n", "5"}};
    EXPECT_EQ(r.image->Consts, consts);
    ASSERT_EQ(r.image->Funcs.Count(), 3);
    const TClassDefInf& f = r.Func("f");
    EXPECT_EQ(f.ResultType, dtInteger);
    EXPECT_EQ(f.HeadCount, 3);
    EXPECT_EQ(f.varDefs[2], (Tvardef{"y", dtString, "", 1, 1}));
    const TClassDefInf& init = r.Func("initialization");
    EXPECT_EQ(r.image->Funcs.IndexOf("initialization"), 0);
    EXPECT_EQ(init.HeadCount, 0);
    EXPECT_EQ(init.varDefs, (TvarDeflist{{"result", dtBoolean}}));
    EXPECT_EQ(r.Code("initialization"), Lines{"halt"});
    const TClassDefInf& p2 = r.Func("p2");
    EXPECT_EQ(p2.IsExternal, 1);
    EXPECT_EQ(p2.Loaded, 1);
    EXPECT_TRUE(p2.code.empty());
    EXPECT_EQ(p2.varDefs, (TvarDeflist{{"result", dtBoolean}}));
}

TEST(Declarations, ProcedureSemicolonExternalIsAnError) {
    // "procedure p; external;" declares p, and then "external" starts
    // nothing the interface part knows.
    const auto r = CompileSource("interface\nprocedure p; external;\nimplementation\nend.\n");
    EXPECT_EQ(r.errors, (Lines{L(2, "期待“var”或者“implementation”出现。")}));
}

TEST(Declarations, TheSameNameTwiceInOneGroupEndsTheCompilation) {
    const auto r = CompileSource(
        "interface\nvar x: integer;\nvar a, a: integer;\nvar y: foo;\n"
        "implementation\nend.\n");
    EXPECT_EQ(r.raised, "变量“a”重复声明。");
    EXPECT_TRUE(r.errors.empty());
    EXPECT_FALSE(r.image->Loaded);
    // The same in a parameter list and among the locals of a body.
    EXPECT_EQ(
        CompileSource("interface\nprocedure p(a, a: integer);\nimplementation\nend.\n").raised,
        "变量“a”重复声明。");
    EXPECT_EQ(CompileSource("interface\nprocedure p;\nimplementation\nprocedure p;\n"
                            "var b, b: string;\nbegin end;\nend.\n")
                  .raised,
              "变量“b”重复声明。");
}

TEST(Declarations, AHundredAndFirstUsedUnitEndsTheCompilation) {
    std::string uses = "interface\nuses u1";
    for (int i = 2; i <= 101; ++i)
        uses += ", u" + std::to_string(i);
    const auto r = CompileSource(uses + ";\nimplementation\nend.\n");
    EXPECT_EQ(r.raised, "引用文件太多。");
    EXPECT_EQ(r.image->UsedUnits.Count(), 100);
}

TEST(Declarations, InvalidTarget) {
    TsourceFile sf;
    sf.SetText("interface\nimplementation\nend.\n");
    sf.Compile();
    EXPECT_EQ(sf.errors.Render(), Lines{L(0, "目标无效。")});
}

TEST(Declarations, EmptySourceIsNotLoadedAndSaysNothing) {
    const auto r = CompileSource("");
    EXPECT_TRUE(r.errors.empty());
    EXPECT_FALSE(r.image->Loaded);
    const auto comments = CompileSource("// nothing\n{ at all }\n");
    EXPECT_EQ(comments.errors, (Lines{L(-1, "程序/函数不能正常结束。")}));
}

TEST(Declarations, LineNumbersCountEveryLine) {
    const auto r = CompileSource(
        "\n// comment\n\ninterface\n{\n}\nvar a: integer;\n\nimplementation\n"
        "initialization\n\n  a := ;\nend.\n");
    EXPECT_EQ(r.errors, (Lines{L(12, "需要操作数。"), L(12, "不正确的表达式。")}));
}

TEST(Declarations, TextLinesEndWithLfOrCrLf) {
    TsourceFile sf;
    sf.SetText("interface\r\nimplementation\r\nend.\r\n");
    EXPECT_EQ(sf.lines, (std::vector<std::string>{"interface", "implementation", "end."}));
    sf.SetText("a\nb");
    EXPECT_EQ(sf.lines, (std::vector<std::string>{"a", "b"}));
}

}  // namespace
}  // namespace corvane
