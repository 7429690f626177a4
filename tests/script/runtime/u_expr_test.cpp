// The expression component: the generated program text, the renaming of
// external names, and (with the build driver) compiling and evaluating.
#include "script/runtime/u_expr.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

std::string Joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines)
        out += l + "\n";
    return out;
}

TEST(ExprText, GeneratedProgramForExternalsAndFunctions) {
    TExternalMap map;
    auto lines = GenerateExpressionProgram(
        "Size > 100 and Name like 'a%'", {"size:integer", "name:string"},
        {" function twice(x:integer):integer; ", "", "procedure p"}, {}, map);
    EXPECT_EQ(Joined(lines),
              "interface\n"
              "const PI=3.1415926;\n"
              "function twice(x:integer):integer External;\n"
              "procedure p External;\n"
              "function test_7777987321:variant;\n"
              "implementation\n"
              "function test_7777987321:variant;\n"
              "var _E_0:integer external;_E_1:string external;\n"
              "begin\n"
              "result:=_E_0 > 100 and _E_1 like 'a%';\n"
              "end;\n"
              "end.\n");
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map[0].PrivateName, "_E_0");
    EXPECT_EQ(map[0].ListedName, "size");
    EXPECT_EQ(map[1].ListedName, "name");
}

TEST(ExprText, GlobalDeclarationsAndNoExternals) {
    TExternalMap map{{"stale", "x"}};
    auto lines =
        GenerateExpressionProgram("size*2", {}, {}, {"size:integer;", "name:string;"}, map);
    EXPECT_EQ(Joined(lines),
              "interface\n"
              "const PI=3.1415926;\n"
              "var \n"
              "size:integer;\n"
              "name:string;\n"
              "function test_7777987321:variant;\n"
              "implementation\n"
              "function test_7777987321:variant;\n"
              "\n"
              "begin\n"
              "result:=size*2;\n"
              "end;\n"
              "end.\n");
    EXPECT_TRUE(map.empty());
}

TEST(ExprText, PrivateNamesCountEveryLineAndKeepBlanksInNames) {
    TExternalMap map;
    auto lines =
        GenerateExpressionProgram("x + size", {"", "x:integer", "size :integer;"}, {}, {}, map);
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map[0].PrivateName, "_E_1");
    EXPECT_EQ(map[0].ListedName, "x");
    EXPECT_EQ(map[1].PrivateName, "_E_2");
    EXPECT_EQ(map[1].ListedName, "size ");  // never matches a token
    EXPECT_EQ(lines[5], "var _E_1:integer external;_E_2:integer external;");
    EXPECT_EQ(lines[7], "result:=_E_1 + size;");
}

TEST(ExprText, EveryLineOfTheExpressionIsALineOfTheProgram) {
    TExternalMap map;
    int first = 0;
    auto lines = GenerateExpressionProgram("size\r\n+\n1", {}, {}, {"size:integer;"}, map, &first);
    ASSERT_EQ(lines.size(), 14u);
    EXPECT_EQ(first, 10);
    EXPECT_EQ(lines[9], "result:=size");
    EXPECT_EQ(lines[10], "+");
    EXPECT_EQ(lines[11], "1;");
    EXPECT_EQ(lines[12], "end;");
    // A final line feed puts the ";" on a line of its own.
    lines = GenerateExpressionProgram("1\n", {}, {}, {}, map, &first);
    EXPECT_EQ(first, 8);
    EXPECT_EQ(lines[7], "result:=1");
    EXPECT_EQ(lines[8], ";");
}

// What could leave the place after "result:=" is refused, with the place of
// the first fault; everything an expression needs passes.
TEST(ExprText, OnlyOneExpressionPasses) {
    struct Case {
        const char* expr;
        int position;
        const char* detail;
    } cases[] = {
        {"size*2+1", 0, ""},
        {"iff(name like 'a%', integer(size) div 2, -1.5e-3)", 0, ""},
        {"'a;b{c}(*d*)//e:=f end' + \"begin;'\"", 0, ""},
        {"t.size + a.b.c + [1] + (not x) and y or z mod 2", 0, ""},
        {"friend + endx + xend + ending", 0, ""},
        {"size\r\n+\t1", 0, ""},
        {"size;result:=99", 5, "只能是一个表达式，不能含有“;”。"},
        {"size:=1", 5, "只能是一个表达式，不能含有“:”。"},
        {"1 {comment", 3, "只能是一个表达式，不能含有“{”。"},
        {"1 }", 3, "只能是一个表达式，不能含有“}”。"},
        {"(*x*)", 1, "只能是一个表达式，不能含有“(*”。"},
        {"(x*)", 3, "只能是一个表达式，不能含有“*)”。"},
        {"1 // rest", 3, "只能是一个表达式，不能含有“//”。"},
        {"1 end", 3, "只能是一个表达式，不能含有“end”。"},
        {"1+End.x", 3, "只能是一个表达式，不能含有“End”。"},
        {"x.begin", 3, "只能是一个表达式，不能含有“begin”。"},
        {"(1)then", 4, "只能是一个表达式，不能含有“then”。"},
        {"'a'while", 4, "只能是一个表达式，不能含有“while”。"},
        {"initialization", 1, "只能是一个表达式，不能含有“initialization”。"},
        {"function", 1, "只能是一个表达式，不能含有“function”。"},
        {"(1", 1, "括号不匹配"},
        {"1)", 2, "括号不匹配"},
        {"(1]", 3, "括号不匹配"},
        {"[(1])", 4, "括号不匹配"},
        {"'abc", 1, "引号不匹配"},
        {"'a\nb'", 1, "引号不匹配"},
        {"1+\x01", 3, "含有无效的控制字符。"},
    };
    for (const Case& c : cases) {
        std::string detail;
        EXPECT_EQ(CheckSingleExpression(c.expr, detail), c.position) << c.expr;
        if (c.position) {
            EXPECT_EQ(detail, c.detail) << c.expr;
        }
    }
}

TEST(ExprText, OneTokenPerLine) {
    std::vector<int> starts;
    EXPECT_EQ(SpreadExpression("size * 2+ f(x, 'a b') <>1e-5", starts),
              "size\n*\n2\n+\nf(\nx\n,\n'a b'\n)\n<>\n1e-5\n");
    EXPECT_EQ(starts, (std::vector<int>{1, 6, 8, 9, 11, 13, 14, 16, 21, 23, 25, 29}));
    EXPECT_EQ(SpreadExpression("  ", starts), "");
    EXPECT_EQ(starts, std::vector<int>{3});
    // A word and a bracket apart stay apart; "1e" without a signed
    // exponent is a word of its own.
    EXPECT_EQ(SpreadExpression("f (1e-x)", starts), "f\n(\n1e\n-\nx\n)\n");
}

TEST(ExprText, RenamingTouchesWholeTokensOutsideQuotesOnly) {
    TExternalMap map{{"_E_0", "Size"}, {"_E_1", "name"}};
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"SIZE*2+size", "_E_0*2+_E_0"},
        {"filesize + sizes", "filesize + sizes"},
        {"'size' + \"size\" + size", "'size' + \"size\" + _E_0"},
        {"copy(NAME,1,3)", "copy(_E_1,1,3)"},
        {"'unclosed size", "'unclosed size"},
        {"Name.ext", "Name.ext"},  // a dot belongs to the word
        {"iff(size>0,Name,'x')", "iff(_E_0>0,_E_1,'x')"},
        {"size..name", "_E_0.._E_1"},
    };
    for (auto& c : cases)
        EXPECT_EQ(RewriteExternalNames(c.in, map), c.out) << c.in;
}

TEST(ExprText, RenamingNeverLoops) {
    // A listed name equal to the end of its own private name.
    TExternalMap map{{"_E_0", "0"}};
    EXPECT_EQ(RewriteExternalNames("0+1", map), "_E_0+1");
}

TEST(ExprText, ExternalLineWithoutColon) {
    TExternalMap map;
    auto lines = GenerateExpressionProgram("x", {"x"}, {}, {}, map);
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map[0].ListedName, "");
    EXPECT_EQ(lines[5], "var _E_0x external;");
}

}  // namespace
}  // namespace corvane

namespace corvane {
namespace {

TEST(XExpression, PiAndArithmetic) {
    TXExpression e;
    e.SetExpr("PI * 2");
    Variant r;
    ASSERT_TRUE(e.Evaluate(r)) << e.ErrorText();
    EXPECT_DOUBLE_EQ(r.AsDouble(), 3.1415926 * 2);
    EXPECT_TRUE(e.Compiled());
    EXPECT_FALSE(e.Dirty());
    EXPECT_DOUBLE_EQ(e.LastValue().AsDouble(), 3.1415926 * 2);
}

TEST(XExpression, ExternalsReachTheAccessorsUnderTheirListedNames) {
    TXExpression e;
    std::vector<std::string> asked;
    e.onGetValue = [&](const std::string& name, Variant& v) {
        asked.push_back(name);
        if (name == "x") v = Variant(int64_t{40});
        if (name == "Name") v = Variant("abc.txt");
    };
    e.SetExternals({"", "x:integer", "Name: string;"});
    e.SetExpr("iff(name like '%.txt', X + 2, 0)");
    EXPECT_EQ(e.Evaluate().AsInteger(), 42) << e.ErrorText();
    EXPECT_EQ(asked, (std::vector<std::string>{"Name", "x"}));
    ASSERT_EQ(e.ExternalMap().size(), 2u);
    EXPECT_EQ(e.ExternalMap()[0].PrivateName, "_E_1");
}

TEST(XExpression, NamesInsideQuotesOrWordsAreNotExternals) {
    TXExpression e;
    e.onGetValue = [](const std::string&, Variant& v) { v = Variant("V"); };
    e.SetExternals({"size:string"});
    e.SetExpr("'size=' + size");
    EXPECT_EQ(e.Evaluate().AsString(), "size=V");
    e.SetExpr("filesize");
    Variant r("untouched");
    EXPECT_FALSE(e.Evaluate(r));
    EXPECT_EQ(r.AsString(), "untouched");
    EXPECT_EQ(e.ErrorText(),
              "Compile: line 8:“filesize”没有被声明。\n"
              "Compile: line 8:不正确的表达式。");
}

TEST(XExpression, DiagnosticsTellTheLineOfTheExpression) {
    TXExpression e;
    e.SetGVarDefs({"size:integer;"});
    e.SetExpr("size\n+\nnosuch\n");
    ASSERT_NE(e.Compile(), "");
    ASSERT_EQ(e.Diagnostics().size(), 2u);
    EXPECT_EQ(e.Diagnostics()[0].line, 3);
    EXPECT_EQ(e.Diagnostics()[0].text, "“nosuch”没有被声明。");
    e.SetExpr("size\n+\n");
    e.Compile();
    ASSERT_FALSE(e.Diagnostics().empty());
    EXPECT_EQ(e.Diagnostics()[0].line, 3);  // the line of the ";"
    EXPECT_EQ(e.Diagnostics()[0].text, "需要操作数。");
}

TEST(XExpression, MoreThanOneExpressionIsNeverCompiled) {
    TXExpression e;
    e.SetExpr("1;\nresult:=99");
    Variant r(int64_t{5});
    EXPECT_FALSE(e.Evaluate(r));
    EXPECT_EQ(r.AsInteger(), 5);
    EXPECT_FALSE(e.Compiled());
    EXPECT_EQ(e.ErrorText(), "Compile: line 8:只能是一个表达式，不能含有“;”。");
    ASSERT_EQ(e.Diagnostics().size(), 1u);
    EXPECT_EQ(e.Diagnostics()[0].line, 1);
}

TEST(XExpression, ABlankBeforeTheColonKeepsTheNameFromMatching) {
    TXExpression e;
    e.SetExternals({"size :integer"});
    e.SetExpr("size + 1");
    Variant r;
    EXPECT_FALSE(e.Evaluate(r));
    EXPECT_NE(e.ErrorText().find("“size”没有被声明。"), std::string::npos) << e.ErrorText();
}

TEST(XExpression, DirtyRules) {
    TXExpression e;
    e.SetExpr("1 + 1");
    EXPECT_TRUE(e.Dirty());
    EXPECT_EQ(e.Evaluate().AsInteger(), 2);
    e.SetExpr("1 + 1");
    EXPECT_FALSE(e.Dirty());  // the same text: no rebuild
    e.SetExpr("1 + 1 ");
    EXPECT_TRUE(e.Dirty());
    e.Evaluate();
    e.SetExpr("INTTOSTR(1)");
    e.Evaluate();
    e.SetExpr("inttostr(1)");
    EXPECT_TRUE(e.Dirty());  // letter case counts
    e.Evaluate();
    e.SetExternals({});
    EXPECT_TRUE(e.Dirty());
    e.Evaluate();
    e.SetExternalFuncs({});
    EXPECT_TRUE(e.Dirty());
    e.Evaluate();
    // Global declarations alone do not make it dirty: the old program runs.
    e.SetGVarDefs({"q:integer;"});
    EXPECT_FALSE(e.Dirty());
    EXPECT_EQ(e.Evaluate().AsString(), "1");
}

TEST(XExpression, AFailingExpressionIsRebuiltAtEveryEvaluation) {
    TXExpression e;
    e.SetExpr("1 +");
    Variant r(int64_t{5});
    EXPECT_FALSE(e.Evaluate(r));
    EXPECT_TRUE(e.Dirty());
    EXPECT_FALSE(e.Compiled());
    EXPECT_EQ(r.AsInteger(), 5);
    std::string first = e.ErrorText();
    EXPECT_FALSE(first.empty());
    EXPECT_FALSE(e.Evaluate(r));
    EXPECT_EQ(e.ErrorText(), first);
    // A later good text compiles; going bad again keeps the old program as
    // compiled but reports the errors.
    e.SetExpr("3");
    EXPECT_EQ(e.Evaluate().AsInteger(), 3);
    e.SetExpr("3 +");
    EXPECT_FALSE(e.Evaluate(r));
    EXPECT_TRUE(e.Compiled());
}

TEST(XExpression, NothingCompiledIsInvalidObjectCode) {
    TXExpression e;
    Variant r;
    EXPECT_FALSE(e.Evaluate(r));
    EXPECT_EQ(e.Errors(), std::vector<std::string>{"目标代码无效。"});
}

TEST(XExpression, GlobalsWrittenByTheHost) {
    TXExpression e;
    e.SetAutoInitVars(false);
    e.SetGVarDefs({"size:integer;", "name:string;"});
    e.SetExpr("size div 1024 + length(name)");
    ASSERT_EQ(e.Compile(), "");
    e.InitGlobals();
    ASSERT_EQ(e.GlobalCount(), 2);
    EXPECT_EQ(e.GlobalAt(0).Name(), "size");
    e.GlobalAt(0).SetVariant(Variant(int64_t{5368709120}));
    e.GlobalAt(1).SetVariant(Variant("ab"));
    EXPECT_DOUBLE_EQ(e.Evaluate().AsDouble(), 5242882);
    // A global the host does not write keeps the previous evaluation's value.
    e.GlobalAt(0).SetVariant(Variant(int64_t{0}));
    EXPECT_DOUBLE_EQ(e.Evaluate().AsDouble(), 2);
}

TEST(XExpression, ExternalFunctionsReachTheHandler) {
    TXExpression e;
    e.SetExternalFuncs({"function twice(x:integer):integer;"});
    e.SetOnExternalFunc([](const std::string& name, Tparamlist& p, Variant& r) {
        r = Variant(name == "twice" ? p[0].Value.AsInteger() * 2 : 0);
    });
    e.SetExpr("twice(21)");
    EXPECT_EQ(e.Evaluate().AsInteger(), 42) << e.ErrorText();
}

TEST(XExpression, AssignCopiesTheCompiledProgram) {
    TXExpression source;
    source.SetAutoInitVars(false);
    source.SetGVarDefs({"n:integer;"});
    source.SetExpr("n * 2");
    ASSERT_EQ(source.Compile(), "");
    TXExpression copy;
    copy.SetAutoInitVars(false);
    copy.Assign(source);
    EXPECT_TRUE(copy.Compiled());
    EXPECT_FALSE(copy.Dirty());
    EXPECT_EQ(copy.Expr(), "n * 2");
    EXPECT_TRUE(copy.GVarDefs().empty());  // inputs are not copied
    copy.InitGlobals();
    copy.GlobalAt(0).SetInteger(21);
    EXPECT_EQ(copy.Evaluate().AsInteger(), 42);
}

TEST(XExpression, RunTimeErrorsPropagate) {
    TXExpression e;
    e.SetExpr("1 mod 0");
    EXPECT_THROW(e.Evaluate(), EScriptError);
}

}  // namespace
}  // namespace corvane
