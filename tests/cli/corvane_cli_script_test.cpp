// corvane-cli --script end to end: small programs compiled and run by the
// command line (loops with break and continue, case with ranges and else,
// recursion, var parameters, arrays and string indexing, used units), faulty
// programs with their rendered diagnostics, run-time errors, the host hooks
// and Ctrl-C.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "script/common/qv_vmc.h"
#include "tests/support/CliProcess.h"

namespace {

#ifdef CORVANE_CLI_PATH

namespace fs = std::filesystem;

using Result = corvane::testing::CliResult;
using corvane::testing::Slurp;

class CliScript : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/corvane-cli-script-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
    }
    void TearDown() override { fs::remove_all(root_); }

    // Writes a program (lines joined by LF) under the name.
    std::string Program(const std::string& name, const std::string& text) {
        fs::path p = root_ / name;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
        return p.string();
    }

    pid_t Spawn(const std::vector<std::string>& args) {
        return corvane::testing::SpawnCli(CORVANE_CLI_PATH, args, root_);
    }
    Result Wait(pid_t pid) { return corvane::testing::WaitCli(pid, root_); }
    Result Run(const std::vector<std::string>& args) { return Wait(Spawn(args)); }

    fs::path root_;
};

TEST_F(CliScript, LoopsWithBreakAndContinue) {
    std::string file = Program("loops.pas", R"(interface
function main(limit: integer): string;
implementation
function main(limit: integer): string;
var i, sum: integer; s: string;
begin
  sum := 0;
  s := '';
  for i := 1 to limit do
  begin
    if i mod 2 = 0 then continue;
    if i > 7 then break;
    sum := sum + i;
  end;
  i := 0;
  while true do
  begin
    i := i + 1;
    if i = 3 then continue;
    s := s + inttostr(i);
    if i >= 5 then break;
  end;
  repeat
    i := i - 1;
    if i = 4 then continue;
  until i <= 2;
  result := inttostr(sum) + ' ' + s + ' ' + inttostr(i);
end;
end.
)");
    Result r = Run({"--script", file, "--main", "main", "--arg", "limit=20"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "16 1245 2\n");
    // A parameter left out receives "0": the for loop does not run.
    r = Run({"--script", file, "--main", "MAIN"});
    EXPECT_EQ(r.out, "0 1245 2\n");
}

TEST_F(CliScript, CaseWithRangesAndElse) {
    // A range matches strictly between its bounds.
    std::string file = Program("cases.pas", R"(interface
function classify(x: integer): string;
function main: string;
implementation
function classify(x: integer): string;
begin
  result := '';
  case x of
    1..4: result := 'low';
    5, 7: result := 'odd';
    else result := 'other';
  end;
end;
function main: string;
var i: integer;
begin
  result := '';
  for i := 0 to 8 do
    result := result + classify(i) + ',';
end;
end.
)");
    Result r = Run({"--script", file, "--main", "main"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "other,other,low,low,other,odd,other,odd,other,\n");
}

TEST_F(CliScript, RecursionVarParametersArraysAndStringIndexing) {
    std::string file = Program("misc.pas", R"(interface
procedure swap(var a, b: integer);
function fib(n: integer): integer;
function main: string;
implementation
procedure swap(var a, b: integer);
var t: integer;
begin
  t := a; a := b; b := t;
end;
function fib(n: integer): integer;
begin
  if n < 2 then result := n else result := fib(n - 1) + fib(n - 2);
end;
function main: string;
var x, y: integer; a: array[5] of integer; s: string; i: integer;
begin
  x := 1; y := 2;
  swap(x, y);
  for i := 0 to 4 do a[i] := i * i;
  s := 'hello';
  s[1] := 'j';
  i := 4;
  result := inttostr(x) + inttostr(y) + ' ' + inttostr(a[3] + a[4]) + ' ' + s + s[i] + ' ' +
    inttostr(fib(15));
end;
end.
)");
    Result r = Run({"--script", file, "--main", "main"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "21 25 jellol 610\n");
}

TEST_F(CliScript, UsedUnitsAreCompiledIntoTheUnitsDirectory) {
    Program("units/util.pas", R"(interface
var calls: integer;
var greeting: string;
function greet(name: string): string;
implementation
function greet(name: string): string;
begin
  calls := calls + 1;
  result := greeting + ', ' + name + ' #' + inttostr(calls);
end;
initialization
  greeting := 'Hello';
end.
)");
    const std::string main = R"(interface
uses util.pas;
function main(who: string): string;
implementation
function main(who: string): string;
begin
  result := greet(who) + ' / ' + greet('again');
end;
end.
)";
    std::string file = Program("main.pas", main);
    Result r = Run({"--script", file, "--main", "main", "--units", (root_ / "units").string(),
                    "--arg", "who=Ann"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Hello, Ann #1 / Hello, again #2\n");
    EXPECT_TRUE(fs::exists(root_ / "units" / "util"));  // the compiled image
    // Without --units the script's own directory is used: the unit is not
    // there, so its names are unknown.
    r = Run({"--script", file, "--main", "main"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("“greet”没有被声明。"), std::string::npos) << r.err;
    // A unit name never reaches outside the directory.
    std::string escape = Program("escape.pas", R"(interface
uses ../units/util.pas;
function main: integer;
implementation
function main: integer;
begin
  result := 1;
end;
end.
)");
    r = Run({"--script", escape, "--main", "main", "--units", (root_ / "units").string()});
    EXPECT_NE(r.code, 0);
}

// A unit that greets, and a program that uses it from source.
constexpr const char* kUtil = R"(interface
function greet(name: string): string;
implementation
function greet(name: string): string;
begin
  result := 'hi ' + name;
end;
end.
)";
constexpr const char* kUsesUtil = R"(interface
uses util.pas;
function main: string;
implementation
function main: string;
begin
  result := greet('you');
end;
end.
)";

// The image of "uses util.pas" is saved as "util": a user's file of that
// name, and one named like a temporary ("util.tmp~"), stay as they are; the
// program runs from the image in memory and a warning says it was not saved.
TEST_F(CliScript, AUsersFileNamedLikeTheUnitIsNeverReplaced) {
    Program("util.pas", kUtil);
    Program("util", "the user's notes");
    Program("util.tmp~", "more notes");
    const std::string file = Program("main.pas", kUsesUtil);
    Result r = Run({"--script", file, "--main", "main"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "hi you\n");
    EXPECT_EQ(r.err, "corvane-cli: 单元映像没有保存：“" + (root_ / "util").string() +
                         "”不是单元映像，保留原文件。\n");
    EXPECT_EQ(Slurp(root_ / "util"), "the user's notes");
    EXPECT_EQ(Slurp(root_ / "util.tmp~"), "more notes");
}

// A units directory that cannot be written: the image is not saved, which
// is no reason not to run the program.
TEST_F(CliScript, AUnitsDirectoryThatIsNotWritableOnlyWarns) {
    fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
    Program("units/util.pas", kUtil);
    const std::string file = Program("main.pas", kUsesUtil);
    const std::string units = (root_ / "units").string();
    fs::permissions(units, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read |
                               fs::perms::others_exec);
    // Root may write anywhere: the program runs as "nobody" then. Its output
    // files belong to the test.
    corvane::testing::CliConditions as;
    as.asNobody = true;
    Result r = corvane::testing::WaitCli(
        corvane::testing::SpawnCliAs(CORVANE_CLI_PATH,
                                     {"--script", file, "--main", "main", "--units", units},
                                     root_.string(), as),
        root_.string());
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "hi you\n");
    EXPECT_EQ(r.err, "corvane-cli: 单元映像没有保存：" + units + "/util: Permission denied\n");
    EXPECT_FALSE(fs::exists(root_ / "units" / "util"));
    fs::permissions(units, fs::perms::owner_all);
}

// Two programs compiling the same unit at the same moment: both run, and
// the image left behind is a whole one. (Both used to write one temporary
// file, "big.tmp~", and one of them failed now and then.)
TEST_F(CliScript, TwoProgramsCompilingTheSameUnitAtOnce) {
    std::string unit = "interface\nfunction greet(name: string): string;\n";
    for (int i = 0; i < 300; ++i)
        unit += "function f" + std::to_string(i) + "(a: integer): integer;\n";
    unit +=
        "implementation\nfunction greet(name: string): string;\nbegin\n  result := 'hi ' + "
        "name;\nend;\n";
    for (int i = 0; i < 300; ++i)
        unit += "function f" + std::to_string(i) +
                "(a: integer): integer;\nbegin\n  result := a * " + std::to_string(i) +
                " + 1;\nend;\n";
    unit += "end.\n";
    Program("big.pas", unit);
    std::string main = kUsesUtil;
    main.replace(main.find("util.pas"), 8, "big.pas");
    const std::string file = Program("main.pas", main);
    fs::create_directories(root_ / "a");
    fs::create_directories(root_ / "b");
    for (int round = 0; round < 40; ++round) {
        fs::remove(root_ / "big");
        const std::vector<std::string> args = {"--script", file, "--main", "main"};
        const pid_t a = corvane::testing::SpawnCli(CORVANE_CLI_PATH, args, (root_ / "a").string());
        const pid_t b = corvane::testing::SpawnCli(CORVANE_CLI_PATH, args, (root_ / "b").string());
        const Result ra = corvane::testing::WaitCli(a, (root_ / "a").string());
        const Result rb = corvane::testing::WaitCli(b, (root_ / "b").string());
        ASSERT_EQ(ra.code, 0) << "round " << round << ": " << ra.err;
        ASSERT_EQ(rb.code, 0) << "round " << round << ": " << rb.err;
        EXPECT_EQ(ra.out + rb.out, "hi you\nhi you\n");
        corvane::TMemoryStream image(std::string_view(Slurp(root_ / "big")));
        corvane::TVMC_OBJ loaded;
        ASSERT_TRUE(loaded.LoadFromStream(image)) << "round " << round;
        EXPECT_EQ(loaded.Funcs.Count(), 302);  // initialization, greet, f0..f299
    }
    // Nothing else was left behind.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(root_))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "big", "big.pas", "main.pas"}));
}

// A reader that goes away ends a script quietly, as it does a statement.
TEST_F(CliScript, AClosedPipeEndsQuietly) {
    const std::string file = Program("chatty.pas", R"(interface
function main: integer;
implementation
function main: integer;
var i: integer;
begin
  for i := 1 to 100000 do showmessage('a line of output');
  result := 1;
end;
end.
)");
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);  // nobody reads
    corvane::testing::CliConditions c;
    c.stdoutFd = fds[1];
    const pid_t pid = corvane::testing::SpawnCliAs(
        CORVANE_CLI_PATH, {"--script", file, "--main", "main"}, root_.string(), c);
    ::close(fds[1]);
    Result r = Wait(pid);
    EXPECT_EQ(r.code, 0);  // not 141, death by SIGPIPE
    EXPECT_EQ(r.err, "");
}

TEST_F(CliScript, FaultyProgramsPrintTheirDiagnostics) {
    struct Case {
        const char* source;
        const char* err;
    } cases[] = {
        {"interface\nfunction main: integer;\nimplementation\nfunction main: integer;\nbegin\n"
         "  if 1 = 1 result := 2;\n  x := 3;\nend;\nend.\n",
         "Compile: line 6:期待“then”出现。\nCompile: line 7:“x”没有被声明。\n"},
        {"interface\nfunction main: integer;\nimplementation\nfunction main: integer;\nbegin\n"
         "  result := 1\nend;\n",
         "Compile: line 7:程序缺少“end.”\n"},
        {"interface\nfunction main: integer;\nimplementation\nend.\n",
         "Compile: line 0:函数“main”没有实现。\n"},
    };
    for (auto& c : cases) {
        std::string file = Program("bad.pas", c.source);
        Result r = Run({"--script", file, "--main", "main"});
        EXPECT_EQ(r.code, 1) << c.source;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.err) << c.source;
    }
    std::string file = Program("ok.pas",
                               "interface\nfunction f: integer;\nimplementation\nfunction f: "
                               "integer;\nbegin\nend;\nend.\n");
    Result r = Run({"--script", file, "--main", "main"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Build: line 0:main：没找到。\n");
}

TEST_F(CliScript, RunTimeErrorsExitWithThree) {
    std::string file = Program("rt.pas", R"(interface
function main(n: integer): integer;
implementation
function main(n: integer): integer;
var a: array[3] of integer;
begin
  result := a[n] + n * 2;
end;
end.
)");
    Result r = Run({"--script", file, "--main", "main", "--arg", "n=3"});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err, "地址越界。\n");
    r = Run({"--script", file, "--main", "main", "--arg", "n=x"});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err, "Could not convert variant of type (String) into type (Integer)\n");
    r = Run({"--script", file, "--main", "main", "--arg", "n=2"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "4\n");
}

// Endless recursion and oversized arrays end with their messages, never by
// exhausting the stack or memory.
TEST_F(CliScript, DeepRecursionAndHugeArraysAreRefused) {
    std::string deep = Program("deep.pas", R"(interface
function main: integer;
function down(n: integer): integer;
implementation
function main: integer;
begin
  result := down(0);
end;
function down(n: integer): integer;
begin
  result := down(n + 1) + 1;
end;
end.
)");
    Result r = Run({"--script", deep, "--main", "main"});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err, "函数调用嵌套太深，最多允许1000层。\n");

    std::string huge = Program("huge.pas", R"(interface
function main: integer;
implementation
function main: integer;
var a: array[5000000] of integer;
begin
  result := 1;
end;
end.
)");
    r = Run({"--script", huge, "--main", "main"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Compile: line 5:数组太大，一个数组最多只能有262144个元素。\n");
}

TEST_F(CliScript, MessagesToStandardOutputTagsToStandardError) {
    std::string file = Program("hooks.pas", R"(interface
function main: string;
implementation
function main: string;
begin
  showmessage('first');
  tag some text
  for the host endtag;
  showmessage('second');
  result := 'done';
end;
end.
)");
    Result r = Run({"--script", file, "--main", "main"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "first\nsecond\ndone\n");
    EXPECT_EQ(r.err, "some text\r\nfor the host endtag;\n");
}

TEST_F(CliScript, DumpPrintsTheLinkedProgram) {
    std::string file = Program("dump.pas", R"(interface
var g: integer;
function main: integer;
implementation
function main: integer;
begin
  result := g + length('ab');
end;
initialization
  g := 40;
end.
)");
    Result r = Run({"--script", file, "--main", "main", "--dump"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("main 1, initialization 0\nglobal 0 g: integer\n#0 procedure "
                          "initialization  (head 0)\n",
                          0),
              0u)
        << r.out;
    EXPECT_NE(r.out.find("#1 function main: integer"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("callprep -1:0"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 3), "42\n");
}

TEST_F(CliScript, UsageErrors) {
    std::string file = Program("p.pas", R"(interface
function main(a: integer): integer;
implementation
function main(a: integer): integer;
begin
  result := a;
end;
end.
)");
    struct Case {
        std::vector<std::string> args;
        const char* err;
    } cases[] = {
        {{"--script", file}, "corvane-cli: --script needs --main NAME\n"},
        {{"--script", file, "--main", "main", "--arg", "b=1"},
         "corvane-cli: 'main' has no parameter 'b'\n"},
        {{"--script", file, "--main", "main", "--arg", "=1"},
         "corvane-cli: --arg needs NAME=VALUE, not '=1'\n"},
        {{"--script", file, "--main", "main", "--format", "csv"},
         "corvane-cli: '--format' cannot be used with --script\n"},
        {{"--script", (root_ / "missing.pas").string(), "--main", "main"},
         "corvane-cli: cannot read the script '"},
        // Sources are bounded like statements: read whole, they must fit.
        {{"--script", Program("long.pas", std::string((16 << 20) + 1, ' ')), "--main", "main"},
         "corvane-cli: the script '"},
    };
    for (auto& c : cases) {
        Result r = Run(c.args);
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    }
    Result tooLong = Run(cases[std::size(cases) - 1].args);
    EXPECT_NE(tooLong.err.find("' is longer than 16 MiB\n"), std::string::npos) << tooLong.err;
    Result r = Run({"--script", file, "--main", "MAIN", "--arg", "A=7"});
    EXPECT_EQ(r.out, "7\n");  // names ignore letter case
}

TEST_F(CliScript, CtrlCStopsAnEndlessLoop) {
    std::string file = Program("endless.pas", R"(interface
function main: integer;
implementation
function main: integer;
begin
  showmessage('started');
  while true do result := result + 1;
end;
end.
)");
    pid_t pid = Spawn({"--script", file, "--main", "main"});
    ASSERT_GT(pid, 0);
    // Interrupt once the loop has started (the message is written before).
    for (int k = 0; k < 2000 && Slurp(root_ / "stdout").find("started") == std::string::npos; ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    kill(pid, SIGINT);
    Result r = Wait(pid);
    EXPECT_EQ(r.code, 130);
    EXPECT_EQ(r.err, "corvane-cli: interrupted\n");
}

#endif  // CORVANE_CLI_PATH

}  // namespace
