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
