// The build driver: compiling and linking, function and global numbering,
// used units through a directory, repeated builds, recursion, and the link
// errors with their texts.
#include "script/runtime/qv_build.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/FileIO.h"
#include "script/compiler/u_compile.h"
#include "support/Expect.h"
#include "support/TempTree.h"

namespace corvane {
namespace {

using testing::TempTree;

std::vector<std::string> Lines(std::string_view text) {
    return testing::SplitLines(text);
}

// The opCallPrep immediates of a linked function, in order.
std::vector<int> Calls(const TClassDefInf& f) {
    std::vector<int> out;
    for (const TQVInstruction& ins : f.code)
        if (ins.OpCode == opCallPrep) out.push_back(ins.Imm);
    return out;
}

class BuildTest : public ::testing::Test {
  protected:
    bool Build(std::string_view source, const char* main = "main") {
        return builder_.Build(Lines(source), main);
    }
    Variant Run() {
        builder_.Program().ReportResult = false;
        return builder_.Program().ExecuteMain();
    }
    std::vector<std::string> FunctionNames() {
        std::vector<std::string> out;
        for (int i = 0; i < builder_.Program().FuncCount(); ++i)
            out.push_back(builder_.Program().FuncAt(i).Name);
        return out;
    }

    TBuildObj builder_;
};

TEST_F(BuildTest, RecursionLinksOneFunctionThatCallsItself) {
    ASSERT_TRUE(Build(R"(interface
function main(n: integer): integer;
implementation
function main(n: integer): integer;
begin
  if n <= 1 then result := 1 else result := n * main(n - 1);
end;
end.)"));
    EXPECT_EQ(FunctionNames(), std::vector<std::string>{"main"});
    EXPECT_EQ(builder_.Program().Main(), 0);
    EXPECT_EQ(Calls(builder_.Program().FuncAt(0)), std::vector<int>{0});
    EXPECT_EQ(builder_.FunctionKeys(), std::vector<std::string>{"file___1.1"});
    builder_.Program().OnParam = [](Tparamlist& p, bool& h) {
        p[0].Value = Variant("20");
        h = true;
    };
    EXPECT_EQ(Run().AsInteger(), 2432902008176640000);
}

TEST_F(BuildTest, BuiltinsKeepTheirNegatedNumberAndAddNoFunction) {
    ASSERT_TRUE(Build(R"(interface
function main: integer;
implementation
function main: integer;
begin
  result := length('abc') + length('de');
end;
end.)"));
    EXPECT_EQ(FunctionNames(), std::vector<std::string>{"main"});
    int length = TbaseFunctions::Acquire()->Find("length");
    EXPECT_EQ(Calls(builder_.Program().FuncAt(0)), (std::vector<int>{-length, -length}));
    EXPECT_EQ(Run().AsInteger(), 5);
}

TEST_F(BuildTest, NumberingIsFirstCallOrderDepthFirstAndLinksEachOnce) {
    ASSERT_TRUE(Build(R"(interface
var unused, g1, g2: integer;
function main: integer;
function a: integer;
function b: integer;
function c: integer;
function never: integer;
implementation
function main: integer;
begin
  result := a + b + a + g2;
end;
function a: integer;
begin
  result := c + g1;
end;
function b: integer;
begin
  g2 := 100;
  result := c;
end;
function c: integer;
begin
  result := 1;
end;
function never: integer;
begin
  result := unused;
end;
end.)"));
    EXPECT_EQ(FunctionNames(), (std::vector<std::string>{"main", "a", "c", "b"}));
    EXPECT_EQ(Calls(builder_.Program().FuncAt(0)), (std::vector<int>{1, 3, 1}));
    // Globals in order of first reference, depth first: g1 (met while
    // linking a, main's first call), then g2 (b's, then main's own).
    EXPECT_EQ(builder_.GlobalKeys(), (std::vector<std::string>{"file___1.1", "file___1.2"}));
    ASSERT_EQ(builder_.Program().Image().Globals.size(), 2u);
    EXPECT_EQ(builder_.Program().Image().Globals[0].Name, "g1");
    EXPECT_EQ(Run().AsInteger(), 103);
}

TEST_F(BuildTest, InitializationComesFirstWhenItHasCode) {
    ASSERT_TRUE(Build(R"(interface
var g: integer;
function main: integer;
implementation
function main: integer;
begin
  result := g;
end;
initialization
  g := 7;
end.)"));
    EXPECT_EQ(FunctionNames(), (std::vector<std::string>{"initialization", "main"}));
    EXPECT_EQ(builder_.Program().Main(), 1);
    EXPECT_EQ(builder_.Program().Image().InitList, std::vector<int32_t>{0});
    EXPECT_EQ(Run().AsInteger(), 7);
}

TEST_F(BuildTest, RepeatedBuildsStartFromAnEmptyProgram) {
    const char* first = R"(interface
function one: integer;
function two: integer;
implementation
function one: integer;
begin
  result := two;
end;
function two: integer;
begin
  result := 2;
end;
end.)";
    ASSERT_TRUE(Build(first, "ONE"));  // the main name is lower-cased
    EXPECT_EQ(FunctionNames(), (std::vector<std::string>{"one", "two"}));
    ASSERT_TRUE(Build(first, "two"));
    EXPECT_EQ(FunctionNames(), std::vector<std::string>{"two"});
    EXPECT_EQ(builder_.FunctionKeys(), std::vector<std::string>{"file___1.2"});
    EXPECT_EQ(Run().AsInteger(), 2);
}

TEST_F(BuildTest, AChainOfCallsLongerThanTheLinkLimitIsRecorded) {
    // f0 calls f1 calls f2 ... : linking nests once per new function.
    const int n = 600;
    std::string text = "interface\n";
    for (int i = 0; i < n; ++i)
        text += "function f" + std::to_string(i) + ": integer;\n";
    text += "implementation\n";
    for (int i = 0; i < n; ++i) {
        text += "function f" + std::to_string(i) + ": integer;\nbegin\n";
        text +=
            i + 1 < n ? "  result := f" + std::to_string(i + 1) + " + 1;\n" : "  result := 0;\n";
        text += "end;\n";
    }
    text += "end.";
    EXPECT_TRUE(Build(text, "f0"));
    EXPECT_NE(std::find(builder_.ErrorTexts().begin(), builder_.ErrorTexts().end(),
                        "Build: line 0:嵌套层次太深。"),
              builder_.ErrorTexts().end());
    // A chain within the limit links completely.
    EXPECT_TRUE(Build(text, "f200"));
    EXPECT_TRUE(builder_.ErrorTexts().empty());
    EXPECT_EQ(builder_.Program().FuncCount(), n - 200);
    EXPECT_EQ(Run().AsInteger(), n - 201);
}

TEST_F(BuildTest, CompileErrorsAreRenderedAndNothingIsLinked) {
    EXPECT_FALSE(Build(R"(interface
function main: integer;
implementation
function main: integer;
begin
  result := 1
  x := 2;
end;
end.)"));
    ASSERT_FALSE(builder_.ErrorTexts().empty());
    EXPECT_EQ(builder_.ErrorTexts()[0].rfind("Compile: line ", 0), 0u) << builder_.ErrorText();
    EXPECT_FALSE(builder_.Program().Loaded());
}

TEST_F(BuildTest, MissingMainRaisesAfterRecordingIt) {
    const char* source = R"(interface
function main: integer;
implementation
function main: integer;
begin
end;
end.)";
    EXPECT_THROW_WITH_MESSAGE(Build(source, "other"), EScriptError, "other：没找到。");
    EXPECT_EQ(builder_.ErrorTexts(), std::vector<std::string>{"Build: line 0:other：没找到。"});
}

TEST_F(BuildTest, AnEmptyInitializationCannotBeTheMainFunction) {
    EXPECT_THROW_WITH_MESSAGE(Build("interface\nimplementation\nend.", "initialization"),
                              EScriptError, "initialization：载入失败。");
}

TEST_F(BuildTest, RaisedCompileFaultsBecomeDiagnostics) {
    EXPECT_FALSE(Build(R"(interface
var a, a: integer;
function main: integer;
implementation
function main: integer;
begin
end;
end.)"));
    EXPECT_EQ(builder_.ErrorTexts().back(), "Build: line 0:变量“a”重复声明。");
}

// ---------------------------------------------------------------------------
// Used units through a directory.

TEST_F(BuildTest, UsedUnitSourcesAreCompiledSavedAndLinked) {
    TempTree tree;
    tree.File("util.pas", R"(interface
var counter: integer;
var shared: integer;
function twice(x: integer): integer;
implementation
function twice(x: integer): integer;
begin
  result := x * 2 + shared;
end;
initialization
  shared := 1;
end.)");
    TCachedFileAdapter adapter;
    adapter.Dir = tree.Root();
    builder_.SetFileAdapter(&adapter);
    ASSERT_TRUE(Build(R"(interface
uses util.pas;
function main: integer;
implementation
function main: integer;
begin
  result := twice(20) + shared;
end;
end.)")) << builder_.ErrorText();
    // The image was saved under the unit's name without its extension.
    TMemoryStream* saved = adapter.GetFile("util");
    ASSERT_NE(saved, nullptr);
    TVMC_OBJ image;
    EXPECT_TRUE(image.LoadFromStream(*saved));
    EXPECT_EQ(image.SourceName, "util.pas");
    // main first, then the unit's initialization (linked when main's first
    // call into util is met), then twice.
    EXPECT_EQ(FunctionNames(), (std::vector<std::string>{"main", "initialization", "twice"}));
    EXPECT_EQ(builder_.Program().Image().InitList, std::vector<int32_t>{1});
    EXPECT_EQ(Run().AsInteger(), 42);

    // A second program uses the compiled image directly; ".vmc" in any letter
    // case names the same registered image.
    TBuildObj second;
    second.SetFileAdapter(&adapter);
    ASSERT_TRUE(second.Build(Lines(R"(interface
uses util;
function main: integer;
implementation
function main: integer;
begin
  result := twice(1);
end;
end.)"),
                             "main"))
        << second.ErrorText();
    second.Program().ReportResult = false;
    EXPECT_EQ(second.Program().ExecuteMain().AsInteger(), 3);
}

// "uses util.pas" saves the image as "util": a user's own file of that name
// (and one named like the old temporary, "util.tmp~") stays as it is, the
// build says so in a warning, and the program runs from the image in memory.
TEST_F(BuildTest, AUsersFileNamedLikeTheUnitIsNeverReplaced) {
    TempTree tree;
    tree.File("util.pas", R"(interface
function twice(x: integer): integer;
implementation
function twice(x: integer): integer;
begin
  result := x * 2;
end;
end.)");
    tree.File("util", "the user's notes");
    tree.File("util.tmp~", "more notes");
    TCachedFileAdapter adapter;
    adapter.Dir = tree.Root();
    builder_.SetFileAdapter(&adapter);
    const char* program = R"(interface
uses util.pas;
function main: integer;
implementation
function main: integer;
begin
  result := twice(21);
end;
end.)";
    ASSERT_TRUE(Build(program)) << builder_.ErrorText();
    EXPECT_EQ(Run().AsInteger(), 42);
    EXPECT_EQ(adapter.Warnings(),
              std::vector<std::string>{"单元映像没有保存：“" + tree.Path("util") +
                                       "”不是单元映像，保留原文件。"});
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadWholeFile(tree.Path("util"), bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "the user's notes");
    ASSERT_TRUE(ReadWholeFile(tree.Path("util.tmp~"), bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "more notes");
    // Built again with the same adapter: linked from the cached image.
    ASSERT_TRUE(Build(program)) << builder_.ErrorText();
    EXPECT_EQ(Run().AsInteger(), 42);
}

TEST(FileMng, VmcSuffixAddressesTheSameImage) {
    TCachedFileAdapter adapter;
    adapter.LocalFile = false;
    adapter.OnSetFile = [](const std::string&, TMemoryStream&, bool& handled) { handled = true; };
    TFile_Mng files;
    files.SetAdapter(&adapter);
    TMemoryStream stream(std::string_view("bytes"));
    int at = files.Register("Unit.VMC", std::make_unique<TVMC_OBJ>(), &stream);
    EXPECT_EQ(at, 0);
    EXPECT_EQ(files.Find("unit"), 0);
    EXPECT_EQ(files.Find("UNIT.vmc"), 0);
    EXPECT_EQ(files.Register("unit", std::make_unique<TVMC_OBJ>(), &stream), 0);
    EXPECT_TRUE(files.Entry(0).image->Registered);
    EXPECT_EQ(files.Entry(0).stream->View(), "bytes");
    EXPECT_EQ(files.Find("other"), -1);
    EXPECT_EQ(files.Get("absent").image, nullptr);
    TFile_Mng none;
    EXPECT_EQ(none.Find("unit"), -1);
    EXPECT_EQ(none.Get("unit").image, nullptr);
}

// ---------------------------------------------------------------------------
// Link faults, each with its recorded text.

class LinkTest : public ::testing::Test {
  protected:
    // A unit image with one function whose instruction reads a global.
    std::unique_ptr<TVMC_OBJ> UnitReadingGlobal(int index) {
        auto unit = std::make_unique<TVMC_OBJ>();
        auto init = std::make_unique<TClassDefInf>();
        init->Name = "initialization";
        init->Loaded = 1;
        init->code.resize(1);
        unit->Funcs.Append(std::move(init));
        auto f = std::make_unique<TClassDefInf>();
        f->Name = "f";
        f->Loaded = 1;
        f->varDefs = {Tvardef("result", dtInteger)};
        f->HeadCount = 1;
        TQVInstruction mov;
        mov.OpCode = opMov;
        mov.Dest.Kind = akLocal;
        mov.Src1.Kind = akGlobal;
        mov.Src1.Index = index;
        mov.Src1.Name = "g";
        f->code = {mov, TQVInstruction{}};
        f->Relocs = {0};
        unit->Funcs.Append(std::move(f));
        unit->Globals = {Tvardef("g", dtInteger)};
        return unit;
    }
    std::vector<std::string> Errors() { return builder_.BuildErrors().Render(); }

    TBuildObj builder_;
};

TEST_F(LinkTest, RecordedFaults) {
    auto unit = UnitReadingGlobal(0);
    EXPECT_EQ(builder_.Link("", unit.get(), nullptr, 1), -1);
    EXPECT_EQ(builder_.Link("u", nullptr, nullptr, 1), -1);
    EXPECT_EQ(builder_.Link("u", unit.get(), nullptr, 9), -1);
    EXPECT_EQ(builder_.Link("u", unit.get(), nullptr, 0), -1);  // empty initialization: no error
    EXPECT_EQ(builder_.LinkGlobal("u", unit.get(), 5), -1);
    EXPECT_EQ(Errors(),
              (std::vector<std::string>{"Build: line 0:函数名为空。", "Build: line 0:无效的VMC。",
                                        "Build: line 0:第9个函数在“u”中没有找到。",
                                        "Build: line 0:载入变量“u.5”失败。"}));
}

TEST_F(LinkTest, AGlobalOutsideTheUnitStopsTheRewriting) {
    auto unit = UnitReadingGlobal(3);
    EXPECT_EQ(builder_.Link("u", unit.get(), nullptr, 1), 0);  // the number is still given
    EXPECT_EQ(Errors(), (std::vector<std::string>{"Build: line 0:载入变量“u.3”失败。",
                                                  "Build: line 0:变量“g”没有找到。"}));
    // A linked global is numbered once.
    auto good = UnitReadingGlobal(0);
    EXPECT_EQ(builder_.Link("v", good.get(), nullptr, 1), 1);
    EXPECT_EQ(builder_.LinkGlobal("v", good.get(), 0), 0);
    EXPECT_EQ(builder_.Program().FuncAt(1).code[0].Src1.Index, 0);
}

TEST_F(LinkTest, BodiesNotLoadedNeedTheirStream) {
    auto unit = UnitReadingGlobal(0);
    TMemoryStream stream;
    unit->SaveToStream(stream);
    TVMC_OBJ loaded;
    ASSERT_TRUE(loaded.LoadFromStream(stream));
    EXPECT_EQ(builder_.Link("u", &loaded, nullptr, 1), -1);
    EXPECT_EQ(Errors(), std::vector<std::string>{"Build: line 0:无效的Stream。"});
    EXPECT_EQ(builder_.Link("u", &loaded, &stream, 1), 0);
}

TEST_F(LinkTest, ACallIntoAMissingFunctionIsRecorded) {
    auto unit = UnitReadingGlobal(0);
    TQVInstruction prep;
    prep.OpCode = opCallPrep;
    prep.Imm = 0;
    prep.Imm2 = 7;
    unit->Funcs.Get(1).code.insert(unit->Funcs.Get(1).code.begin(), prep);
    unit->Funcs.Get(1).Relocs = {0, 1};
    EXPECT_EQ(builder_.Link("u", unit.get(), nullptr, 1), 0);
    EXPECT_EQ(Errors(), (std::vector<std::string>{"Build: line 0:第7个函数在“u”中没有找到。",
                                                  "Build: line 0:第7个函数在“u”中没有找到。"}));
}

}  // namespace
}  // namespace corvane
