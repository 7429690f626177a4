// Used units, compiled images and their round trip, and sources that try to
// break the compiler: running out inside a construct, nesting without end,
// more temporaries than a class used to hold.
#include <gtest/gtest.h>

#include "script/compiler/CompileHelpers.h"
#include "script/compiler/MemoryAdapter.h"
#include "support/ImageCompare.h"

namespace corvane {
namespace {

using testing::CompileSource;
using testing::MemoryAdapter;
using Lines = std::vector<std::string>;

std::string Join(const Lines& lines) {
    std::string out;
    for (const std::string& l : lines)
        out += "\n  " + l;
    return out;
}

std::string L(int line, std::string_view text) {
    return "Compile: line " + std::to_string(line) + ":" + std::string(text);
}

const char* kLib =
    "interface\n"
    "var hidden: integer; count: integer; names: array[3] of string;\n"
    "const first = 1; greeting = 'Hello';\n"
    "function twice(x: integer): integer;\n"
    "procedure bump(var v: integer);\n"
    "implementation\n"
    "function twice(x: integer): integer;\nbegin result := x * 2; end;\n"
    "procedure bump(var v: integer);\nbegin v := v + 1; count := count + 1; end;\n"
    "initialization\n  count := 0;\n"
    "end.\n";

const char* kMain =
    "interface\n"
    "uses lib.pas, other;\n"
    "var total: integer;\n"
    "function run(n: integer): string;\n"
    "implementation\n"
    "function run(n: integer): string;\n"
    "begin\n"
    "  total := twice(n);\n"
    "  bump(total);\n"
    "  count := total;\n"
    "  names[1] := greeting;\n"
    "  result := names[1];\n"
    "end;\n"
    "end.\n";

TEST(UsedUnits, ASourceUnitIsCompiledSavedAndUsed) {
    MemoryAdapter adapter;
    adapter.PutText("lib.pas", kLib);
    const auto r = CompileSource(kMain, &adapter);
    ASSERT_TRUE(r.errors.empty()) << r.errors[0];
    EXPECT_TRUE(r.image->Loaded);
    // The unit's image went to the adapter under the unit's name.
    ASSERT_EQ(adapter.files.count("lib"), 1u);
    TVMC_OBJ saved;
    ASSERT_TRUE(saved.LoadFromStream(adapter.files["lib"]));
    EXPECT_EQ(saved.SourceName, "lib.pas");
    EXPECT_EQ(r.image->UsedUnits.Get(1), "lib");
    EXPECT_EQ(r.image->UsedUnits.Get(2), "other");
    const Lines code = r.Code("run");
    const Lines expected = {"mov _tmp_int_2, n",
                            "callprep 1:1",
                            "mov params[1], _tmp_int_2",
                            "call",
                            "mov _tmp_int_1, params[0]",
                            "callend",
                            "mov @total, _tmp_int_1",
                            "callprep 1:2",
                            "mov params[1], @total",
                            "call",
                            "mov @total, params[1]",
                            "callend",
                            "mov @count, @total",
                            "loadtext _tmp_int_1 '1'",
                            "loadtext @names[_tmp_int_1] 'Hello'",
                            "loadtext _tmp_int_1 '1'",
                            "mov result, @names[_tmp_int_1]",
                            "halt"};
    EXPECT_EQ(code, expected) << Join(code);
    // Globals of the used unit carry its number.
    const TClassDefInf& run = r.Func("run");
    EXPECT_EQ(run.code[12].Dest.Module, 1u);
    EXPECT_EQ(run.code[12].Dest.Index, 1);
    EXPECT_EQ(run.code[12].Src1.Module, 0u);
    EXPECT_EQ(run.code[12].Src1.Index, 0);
    // Relocations: every callprep and every instruction with a global.
    EXPECT_EQ(run.Relocs, (glb_list{1, 6, 7, 8, 10, 12, 14, 16}));
}

TEST(UsedUnits, EntryZeroOfAUsedUnitIsNotVisible) {
    MemoryAdapter adapter;
    adapter.PutText("lib.pas", kLib);
    const auto r = CompileSource(
        "interface\nuses lib.pas;\nfunction f: integer;\nimplementation\nfunction f: integer;\n"
        "begin result := hidden + first; end;\nend.\n",
        &adapter);
    EXPECT_EQ(r.errors, (Lines{L(6, "“hidden”没有被声明。"), L(6, "不正确的表达式。")}));
    const auto r2 = CompileSource(
        "interface\nuses lib.pas;\nfunction f: integer;\nimplementation\nfunction f: integer;\n"
        "begin result := first; end;\nend.\n",
        &adapter);
    EXPECT_EQ(r2.errors, (Lines{L(6, "“first”没有被声明。"), L(6, "不正确的表达式。")}));
}

TEST(UsedUnits, OwnNamesHideTheUnitsNames) {
    MemoryAdapter adapter;
    adapter.PutText("lib.pas", kLib);
    const auto r = CompileSource(
        "interface\nuses lib.pas;\nvar count: string;\nfunction twice(x: integer): integer;\n"
        "implementation\nfunction twice(x: integer): integer;\nbegin count := 'own'; "
        "result := twice(x); end;\nend.\n",
        &adapter);
    ASSERT_TRUE(r.errors.empty()) << r.errors[0];
    const Lines want = {"loadtext @count 'own'",
                        "mov _tmp_int_2, x",
                        "callprep 0:1",
                        "mov params[1], _tmp_int_2",
                        "call",
                        "mov _tmp_int_1, params[0]",
                        "callend",
                        "mov result, _tmp_int_1",
                        "halt"};
    EXPECT_EQ(r.Code("twice"), want) << Join(r.Code("twice"));
}

TEST(UsedUnits, AFaultyUnitSourceIsNotAttached) {
    MemoryAdapter adapter;
    adapter.PutText("bad.pas", "interface\nfunction g: integer;\nimplementation\nend.\n");
    adapter.PutText("raising.pas", "interface\nvar a, a: integer;\nimplementation\nend.\n");
    const auto r = CompileSource(
        "interface\nuses bad.pas, raising.pas;\nfunction f: integer;\nimplementation\n"
        "function f: integer;\nbegin result := g; end;\nend.\n",
        &adapter);
    // The unit's own diagnostics are not copied; its names are unknown.
    EXPECT_EQ(r.errors, (Lines{L(6, "“g”没有被声明。"), L(6, "不正确的表达式。")}));
    EXPECT_EQ(adapter.files.count("bad"), 0u);
    EXPECT_EQ(adapter.files.count("raising"), 0u);
}

TEST(UsedUnits, UnitsThatUseEachOtherAreCompiledOnce) {
    MemoryAdapter adapter;
    adapter.PutText("a.pas",
                    "interface\nuses b.pas;\nfunction fa: integer;\nimplementation\n"
                    "function fa: integer;\nbegin result := 1; end;\nend.\n");
    adapter.PutText("b.pas",
                    "interface\nuses a.pas;\nfunction fb: integer;\nimplementation\n"
                    "function fb: integer;\nbegin result := 2; end;\nend.\n");
    adapter.PutText("self.pas", "interface\nuses self.pas;\nimplementation\nend.\n");
    const auto r = CompileSource(
        "interface\nuses a.pas, self.pas;\nfunction f: integer;\n"
        "implementation\nfunction f: integer;\nbegin result := fa; end;\n"
        "end.\n",
        &adapter);
    EXPECT_TRUE(r.errors.empty()) << r.errors[0];
    EXPECT_EQ(adapter.files.count("a"), 1u);
    EXPECT_EQ(adapter.files.count("b"), 1u);
    EXPECT_EQ(adapter.files.count("self"), 1u);
}

TEST(UsedUnits, AUnitWithoutExtensionIsLoadedAsAnImage) {
    MemoryAdapter adapter;
    adapter.PutText("lib.pas", kLib);
    ASSERT_TRUE(
        CompileSource("interface\nuses lib.pas;\nimplementation\nend.\n", &adapter).errors.empty());
    adapter.files.erase("lib.pas");  // only the image is left
    const auto r = CompileSource(
        "interface\nuses lib;\nfunction f: integer;\nimplementation\nfunction f: integer;\n"
        "begin result := twice(count); end;\nend.\n",
        &adapter);
    ASSERT_TRUE(r.errors.empty()) << r.errors[0];
    const Lines want = {
        "mov _tmp_int_2, @count",    "callprep 1:1", "mov params[1], _tmp_int_2", "call",
        "mov _tmp_int_1, params[0]", "callend",      "mov result, _tmp_int_1",    "halt"};
    EXPECT_EQ(r.Code("f"), want) << Join(r.Code("f"));
}

// -------------------------------------------------------------------------
// Compiled images

void ExpectSameImage(const TVMC_OBJ& a, const TVMC_OBJ& b) {
    EXPECT_EQ(a.SourceName, b.SourceName);
    ASSERT_EQ(a.UsedUnits.Count(), b.UsedUnits.Count());
    for (int n = 1; n <= a.UsedUnits.Count(); ++n)
        EXPECT_EQ(a.UsedUnits.Get(n), b.UsedUnits.Get(n));
    EXPECT_EQ(a.Globals, b.Globals);
    EXPECT_EQ(a.Consts, b.Consts);
    ASSERT_EQ(a.Funcs.Count(), b.Funcs.Count());
    for (int i = 0; i < a.Funcs.Count(); ++i) {
        SCOPED_TRACE(i);
        testing::ExpectSameFunc(a.Funcs.Get(i), b.Funcs.Get(i));
    }
}

const char* kUnit =
    "interface\n"
    "uses alpha, beta;\n"
    "var g: integer; names: array[4] of string; host: date external;\n"
    "const limit = 10; title = 'Report';\n"
    "function sum(a, b: integer): integer;\n"
    "function label2(var s: string; c: char): string;\n"
    "procedure tick;\n"
    "function outside(x: double): double external;\n"
    "implementation\n"
    "function sum(a, b: integer): integer;\nconst k = 3;\n"
    "begin result := a + b + k; if result > limit then result := limit; end;\n"
    "function label2(var s: string; c: char): string;\n"
    "var i: integer;\n"
    "begin for i := 1 to 3 do s := s + c; result := title + s; tag done endtag; end;\n"
    "procedure tick;\nbegin g := sum(g, 1); names[g] := 'x'; end;\n"
    "initialization\n  g := 0;\n"
    "end.\n";

TEST(CompiledImages, RoundTripOfAUnitWithEverything) {
    const auto r = CompileSource(kUnit);
    ASSERT_TRUE(r.errors.empty()) << r.errors[0];
    TMemoryStream s;
    r.image->SaveToStream(s);
    TVMC_OBJ back;
    ASSERT_TRUE(back.LoadFromStream(s));
    for (int i = 0; i < back.Funcs.Count(); ++i)
        back.LoadFuncBody(s, i);
    ExpectSameImage(*r.image, back);
    TMemoryStream again;
    back.SaveToStream(again);
    EXPECT_EQ(again.Bytes(), s.Bytes());
    // Through an adapter, as a used unit is stored.
    MemoryAdapter adapter;
    TVMC_OBJ viaAdapter(&adapter);
    r.image->Adapter = &adapter;
    ASSERT_TRUE(r.image->SaveToAdapter("unit1"));
    ASSERT_TRUE(viaAdapter.LoadFromAdapter("unit1"));
    EXPECT_EQ(viaAdapter.LoadedFrom, &adapter.files["unit1"]);
    EXPECT_FALSE(TVMC_OBJ(&adapter).LoadFromAdapter("missing"));
}

TEST(CompiledImages, EveryTruncationIsRefusedOrLeavesBodiesUnread) {
    const auto r = CompileSource(kUnit);
    ASSERT_TRUE(r.errors.empty());
    TMemoryStream s;
    r.image->SaveToStream(s);
    const std::string full(s.View());
    int headsOnly = 0;
    for (size_t n = 0; n + 1 < full.size(); n += 3) {
        TMemoryStream cut(full.substr(0, n));
        TVMC_OBJ back;
        if (!back.LoadFromStream(cut)) {
            EXPECT_EQ(back.Funcs.Count(), 0);
            continue;
        }
        ++headsOnly;
        int failed = 0;
        for (int i = 0; i < back.Funcs.Count(); ++i) {
            try {
                back.LoadFuncBody(cut, i);
            } catch (const EScriptError& e) {
                EXPECT_STREQ(e.what(), "目标代码无效。");
                ++failed;
            }
        }
        EXPECT_GT(failed, 0) << n;
    }
    EXPECT_GT(headsOnly, 0);
}

// -------------------------------------------------------------------------
// Sources that try to break the compiler

struct Hostile {
    const char* name;
    std::string source;
    Lines errors;
};

// A failing case names itself, not its bytes.
void PrintTo(const Hostile& c, std::ostream* os) {
    *os << c.name;
}

class HostileSources : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileSources, StopOnceAndNeverLoop) {
    const Hostile& h = GetParam();
    const auto r = CompileSource(h.source);
    std::string got;
    for (const std::string& e : r.errors)
        got += "\n  " + e;
    EXPECT_EQ(r.errors, h.errors) << "got:" << got;
    EXPECT_FALSE(r.image->Loaded);
}

std::string Nested(const std::string& open, const std::string& middle, const std::string& close,
                   int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += open;
    s += middle;
    for (int i = 0; i < n; ++i)
        s += close;
    return s;
}

const std::string kHeadF =
    "interface\nfunction f: integer;\nimplementation\nfunction f: integer;\n";

INSTANTIATE_TEST_SUITE_P(
    Sources, HostileSources,
    ::testing::Values(
        Hostile{"EndsInsideAGlobalVarSection",
                "interface\nvar a: integer;\n",
                {L(2, "程序/函数不能正常结束。")}},
        Hostile{"EndsInsideAGlobalConstSection",
                "interface\nconst a = 1;\n",
                {L(2, "程序/函数不能正常结束。")}},
        Hostile{"EndsInsideALocalVarSection",
                kHeadF + "var x: integer;\n",
                {L(5, "程序缺少“end.”"), L(5, "程序/函数不能正常结束。")}},
        Hostile{"EndsInsideALabelSection",
                kHeadF + "label a b\n",
                {L(5, "程序缺少“end.”"), L(5, "程序/函数不能正常结束。")}},
        Hostile{"EndsInsideACase",
                kHeadF + "begin\ncase result of 1: result := 2;\n",
                {L(6, "程序缺少“end.”"), L(6, "程序/函数不能正常结束。")}},
        Hostile{"EndsInsideACaseBranch",
                kHeadF + "begin\ncase result of 1:\n",
                {L(6, "程序缺少“end.”"), L(6, "程序/函数不能正常结束。")}},
        Hostile{"EndsInsideATag",
                kHeadF + "begin\ntag some\ntext\n",
                {L(7, "程序缺少“end.”"), L(7, "程序/函数不能正常结束。")}},
        Hostile{"EndsInsideABlock",
                kHeadF + "begin\nbegin result := 1;\n",
                {L(6, "程序缺少“end.”"), L(6, "程序/函数不能正常结束。")}},
        Hostile{"EndsInsideAParameterList",
                "interface\nfunction f(a: integer;\n",
                {L(2, "程序/函数不能正常结束。")}},
        Hostile{"EndsInsideUses", "interface\nuses a,\n", {L(2, "程序/函数不能正常结束。")}},
        Hostile{"DelimitersInAVarSection",
                "interface\nvar ;;;\n",
                {L(2, "“”不是合法的标识符。"), L(2, "“”不是合法的标识符。"),
                 L(2, "程序/函数不能正常结束。")}},
        Hostile{"DeepParentheses",
                kHeadF + "begin\nresult := " + Nested("(", "1", ")", 100000) + ";\nend;\nend.\n",
                {L(6, "嵌套层次太深。")}},
        Hostile{"DeepBlocks",
                kHeadF + "begin\n" + Nested("begin ", "", " end;", 100000) + "\nend;\nend.\n",
                {L(6, "嵌套层次太深。")}},
        Hostile{"DeepIfs",
                kHeadF + "begin\n" + Nested("if true then ", "result := 1", "", 100000) +
                    ";\nend;\nend.\n",
                {L(6, "嵌套层次太深。")}},
        Hostile{"DeepNots",
                kHeadF + "begin\nresult := iff(" + Nested("not ", "true", "", 100000) +
                    ", 1, 2);\nend;\nend.\n",
                {L(6, "嵌套层次太深。")}},
        Hostile{"DeepCallsInArguments",
                "interface\nfunction f(x: integer): integer;\nfunction s(c: char): string;\n"
                "implementation\nfunction s(c: char): string;\nbegin\nresult := " +
                    Nested("s(", "'a'", ")", 50000) +
                    ";\nend;\nfunction f(x: integer): integer;\nbegin\n"
                    "result := " +
                    Nested("f(", "1", ")", 50000) + ";\nend;\nend.\n",
                {L(7, "嵌套层次太深。"), L(11, "嵌套层次太深。")}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HostileSources, NestingWithinTheLimitCompiles) {
    const std::string src = kHeadF + "begin\nresult := " + Nested("(", "1", ")", 60) + "; " +
                            Nested("begin ", "result := 2", " end", 60) + ";\nend;\nend.\n";
    const auto r = CompileSource(src);
    EXPECT_TRUE(r.errors.empty()) << r.errors[0];
}

// -------------------------------------------------------------------------
// Temporaries

TEST(Temporaries, AFiftyFirstTemporaryOfAClassGrowsTheStates) {
    // 60 string literals alive at once: a char argument joins them all.
    std::string expr = "'a0'";
    for (int i = 1; i < 60; ++i)
        expr += " + 'a" + std::to_string(i) + "'";
    const auto r = CompileSource(
        "interface\nfunction f: string;\nimplementation\nfunction f: string;\n"
        "begin\nresult := " +
        expr + ";\nend;\nend.\n");
    ASSERT_TRUE(r.errors.empty()) << r.errors[0];
    const TClassDefInf& f = r.Func("f");
    // Left to right with equal precedence: two string temporaries suffice.
    EXPECT_EQ(f.varDefs.size(), 3u);
    // Nested parentheses keep each left operand alive.
    std::string nested = "'z'";
    for (int i = 0; i < 60; ++i)
        nested = "('s" + std::to_string(i) + "' + " + nested + ")";
    const auto deep = CompileSource(
        "interface\nfunction f: string;\nimplementation\nfunction f: string;\n"
        "begin\nresult := " +
        nested + ";\nend;\nend.\n");
    ASSERT_TRUE(deep.errors.empty()) << deep.errors[0];
    const TvarDeflist& v = deep.Func("f").varDefs;
    bool has61 = false;  // a 51st string temporary
    for (const Tvardef& d : v)
        has61 = has61 || d.Name == "_tmp_str_51";
    EXPECT_TRUE(has61);
}

TEST(Temporaries, TwoLiteralsAliveAtOnceAndFreeAfterwards) {
    const auto r = testing::CompileFragment("i := 1 + 2; j := 3 * 4;");
    const Lines want = {"loadtext _tmp_int_1 '1'",
                        "loadtext _tmp_int_2 '2'",
                        "add i, _tmp_int_1, _tmp_int_2",
                        "loadtext _tmp_int_1 '3'",
                        "loadtext _tmp_int_2 '4'",
                        "mul j, _tmp_int_1, _tmp_int_2",
                        "halt"};
    EXPECT_EQ(r.Code("f"), want);
}

TEST(Temporaries, AReusedWordTemporaryWidensForAnInteger) {
    // _tmp_int_1 is made for the word 1, then reused for 70000: its
    // definition must hold 70000 at run time.
    const auto r = testing::CompileFragment("i := 1 + j; i := 70000 + j;");
    const TClassDefInf& f = r.Func("f");
    const Tvardef& t = f.varDefs[16];
    EXPECT_EQ(t.Name, "_tmp_int_1");
    EXPECT_EQ(t.DataType, dtInteger);
    const Lines want = {"loadtext _tmp_int_1 '1'", "add i, _tmp_int_1, j",
                        "loadtext _tmp_int_1 '70000'", "add i, _tmp_int_1, j", "halt"};
    EXPECT_EQ(r.Code("f"), want);
}

TEST(Temporaries, WordAndByteTemporariesAreDefinedAsIntegers) {
    // 60000 + 10000 is a word by the type rules, but its temporaries hold
    // 70000: they are integers; only the result of word(x) is a true word.
    const auto r = testing::CompileFragment("i := (60000 + 10000) * 1; w := word(i) * 1;");
    ASSERT_TRUE(r.errors.empty()) << r.errors[0];
    const TClassDefInf& f = r.Func("f");
    std::vector<std::pair<std::string, int>> temps;
    for (size_t k = 16; k < f.varDefs.size(); ++k)
        temps.push_back({f.varDefs[k].Name, f.varDefs[k].DataType});
    const std::vector<std::pair<std::string, int>> want = {
        {"_tmp_int_1", dtInteger}, {"_tmp_int_2", dtInteger}, {"_tmp_int_3", dtWord}};
    EXPECT_EQ(temps, want);
    const Lines code = {"loadtext _tmp_int_1 '60000'",
                        "loadtext _tmp_int_2 '10000'",
                        "add _tmp_int_1, _tmp_int_1, _tmp_int_2",
                        "loadtext _tmp_int_2 '1'",
                        "mul i, _tmp_int_1, _tmp_int_2",
                        "mov _tmp_int_1, i",
                        "convert _tmp_int_3, _tmp_int_1",
                        "loadtext _tmp_int_1 '1'",
                        "mul w, _tmp_int_3, _tmp_int_1",
                        "halt"};
    EXPECT_EQ(r.Code("f"), code);
}

TEST(Temporaries, DeclaredVariablesNamedLikeTemporariesAreSkipped) {
    const auto r = CompileSource(
        "interface\nfunction f: integer;\nimplementation\nfunction f: integer;\n"
        "var _tmp_int_1: string;\nbegin result := 1 + 2; end;\nend.\n");
    ASSERT_TRUE(r.errors.empty()) << r.errors[0];
    const Lines want = {"loadtext _tmp_int_2 '1'", "loadtext _tmp_int_3 '2'",
                        "add result, _tmp_int_2, _tmp_int_3", "halt"};
    EXPECT_EQ(r.Code("f"), want);
}

}  // namespace
}  // namespace corvane
