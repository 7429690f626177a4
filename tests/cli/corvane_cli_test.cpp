// corvane-cli end to end on a fixture tree made in a temporary directory:
// formats, --check, -f, exit codes, a closed pipe.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/CliProcess.h"
#include "tests/support/ScopedTimeZone.h"

namespace {

#ifdef CORVANE_CLI_PATH

namespace fs = std::filesystem;

using Result = corvane::testing::CliResult;
using corvane::testing::Slurp;

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/corvane-cli-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        tree_ = root_ / "tree";
        fs::create_directories(tree_ / "sub");
        Write(tree_ / "a.txt", "hello");     // 5 bytes
        Write(tree_ / "b,\"q\".log", "xy");  // a name CSV must quote
        Write(tree_ / "sub" / "c.txt", "1234567");
        Write(tree_ / ".hidden", "");
        // A fixed last-write time: 2024-03-05 06:07:08 local time.
        std::tm tm{};
        tm.tm_year = 124;
        tm.tm_mon = 2;
        tm.tm_mday = 5;
        tm.tm_hour = 6;
        tm.tm_min = 7;
        tm.tm_sec = 8;
        tm.tm_isdst = -1;
        const time_t t = std::mktime(&tm);
        struct timespec times[2] = {{t, 0}, {t, 0}};
        utimensat(AT_FDCWD, (tree_ / "a.txt").c_str(), times, 0);
    }
    void TearDown() override { fs::remove_all(root_); }

    static void Write(const fs::path& p, const std::string& text) {
        std::ofstream(p, std::ios::binary) << text;
    }

    Result Run(const std::vector<std::string>& args, const std::string& input = "") {
        Write(root_ / "stdin", input);
        return corvane::testing::RunCli(CORVANE_CLI_PATH, args, root_, root_ / "stdin");
    }

    std::string Table(const std::string& options = "") {
        return "'" + tree_.string() + options + "'";
    }

    // A file whose last write was at a UTC instant.
    static void WrittenAt(const fs::path& p, time_t utc) {
        Write(p, "");
        struct timespec times[2] = {{utc, 0}, {utc, 0}};
        utimensat(AT_FDCWD, p.c_str(), times, 0);
    }

    // The UTC offset of a file's last-write time here, as JSON writes it.
    static std::string OffsetText(const fs::path& p) {
        struct stat st;
        stat(p.c_str(), &st);
        std::tm tm{};
        localtime_r(&st.st_mtime, &tm);
        const long a = tm.tm_gmtoff < 0 ? -tm.tm_gmtoff : tm.tm_gmtoff;
        char text[48];
        std::snprintf(text, sizeof text, "%c%02ld:%02ld", tm.tm_gmtoff < 0 ? '-' : '+', a / 3600,
                      a / 60 % 60);
        return text;
    }

    fs::path root_, tree_;
};

TEST_F(CliTest, TableFormatAlignsColumnsUnderTheOutputNames) {
    Result r =
        Run({"select filename, size from " + Table() + " where isdir = false order by size desc"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "filename   size\n"
              "---------  ----\n"
              "a.txt         5\n"
              "b,\"q\".log     2\n"
              ".hidden       0\n");
}

TEST_F(CliTest, CsvFollowsRfc4180) {
    Result r =
        Run({"--format", "csv",
             "select filename f, size, isdir from " + Table() + " where size > 1 order by f"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "f,size,isdir\r\na.txt,5,False\r\n\"b,\"\"q\"\".log\",2,False\r\n");
}

TEST_F(CliTest, JsonHasTypedValuesAndIsoDateTimes) {
    Result r = Run({"--format=json", "select filename, size, isdir, lastwritetime, 'x' c from " +
                                         Table() + " where filename = 'a.txt'"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "[\n{\"filename\":\"a.txt\",\"size\":5,\"isdir\":false,\"lastwritetime\":\"2024-03-"
              "05T06:07:08" +
                  OffsetText(tree_ / "a.txt") +
                  "\","
                  "\"c\":\"x\"}\n]\n");
    r = Run({"--format", "json", "select filename from " + Table() + " where size > 1000"});
    EXPECT_EQ(r.out, "[]\n");
    // Literals and computed values keep their kind.
    r = Run({"--format=json",
             "select 1 a, 2.5 b, true c, null d, size * 2 e, size > 1 f, "
             "'5' g from " +
                 Table() + " where filename = 'a.txt'"});
    EXPECT_EQ(r.out,
              "[\n{\"a\":1,\"b\":2.5,\"c\":true,\"d\":null,\"e\":10,\"f\":true,\"g\":\"5\"}\n]\n");
}

// Rows left out because their condition could not be decided are named
// once on standard error; the exit code stays 0.
TEST_F(CliTest, RowsLeftOutForAnUndecidedConditionAreWarnedAbout) {
    Result r = Run(
        {"select filename from " + Table() + " where linecount(path, filename || '.gone') > 0"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("行因条件无法判断而未列出，第一个原因：无法读取“"), std::string::npos)
        << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
}

// One form for every date-time of a CSV column, midnight included (it used
// to be the date alone there).
TEST_F(CliTest, CsvWritesEveryDateTimeInOneForm) {
    std::tm tm{};
    tm.tm_year = 124;
    tm.tm_mon = 2;
    tm.tm_mday = 5;
    tm.tm_isdst = -1;
    WrittenAt(tree_ / "midnight.txt", std::mktime(&tm));
    Result r = Run({"--format", "csv",
                    "select filename, lastwritetime from " + Table() +
                        " where extension = 'txt' order by filename"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "filename,lastwritetime\r\na.txt,2024-03-05 06:07:08\r\nmidnight.txt,2024-03-05 "
              "00:00:00\r\n");
}

// The night the clock goes back shows 02:45 twice. The JSON texts carry the
// offset of each pass; the table stays local time.
TEST_F(CliTest, JsonDateTimesCarryTheUtcOffsetOfTheirPass) {
    fs::create_directories(root_ / "dst");
    WrittenAt(root_ / "dst" / "1-first", 1729989900);                       // 2024-10-27 00:45 UTC
    WrittenAt(root_ / "dst" / "2-second", 1729993500);                      // 2024-10-27 01:45 UTC
    WrittenAt(root_ / "dst" / "3-summer", 1719835200);                      // 2024-07-01 12:00 UTC
    corvane::testing::ScopedTimeZone berlin("CET-1CEST,M3.5.0,M10.5.0/3");  // as Europe/Berlin
    const std::string sql =
        "select filename, lastwritetime from '" + (root_ / "dst").string() + "' order by filename";
    Result r = Run({"--format", "json", sql});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "[\n"
              "{\"filename\":\"1-first\",\"lastwritetime\":\"2024-10-27T02:45:00+02:00\"},\n"
              "{\"filename\":\"2-second\",\"lastwritetime\":\"2024-10-27T02:45:00+01:00\"},\n"
              "{\"filename\":\"3-summer\",\"lastwritetime\":\"2024-07-01T14:00:00+02:00\"}\n"
              "]\n");
    r = Run({sql});
    EXPECT_EQ(r.out,
              "filename  lastwritetime\n"
              "--------  -------------------\n"
              "1-first   2024-10-27 02:45:00\n"
              "2-second  2024-10-27 02:45:00\n"
              "3-summer  2024-07-01 14:00:00\n");
}

TEST_F(CliTest, RecursiveListingWithOptions) {
    Result r = Run(
        {"--format", "csv",
         "select filename from " + Table(" /s") + " where extension = 'txt' order by filename"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "filename\r\na.txt\r\nc.txt\r\n");
}

TEST_F(CliTest, StatementFromFileAndStandardInput) {
    const std::string sql = "select filename from " + Table() + " where size = 5";
    Write(root_ / "q.sql", sql);
    Result r = Run({"--format", "csv", "-f", (root_ / "q.sql").string()});
    EXPECT_EQ(r.out, "filename\r\na.txt\r\n");
    r = Run({"--format", "csv", "-f", "-"}, sql);
    EXPECT_EQ(r.out, "filename\r\na.txt\r\n");
}

TEST_F(CliTest, CheckAndExitCodes) {
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string out;
        std::string errStart;
    } cases[] = {
        {{"--check", "select filename from " + Table()}, 0, "OK\n", ""},
        // Each message with its place as line and column.
        {{"--check", "select nosuch from " + Table()}, 1, "", "nosuch is unkonwn.（第1行第8列）\n"},
        {{"select filename from\n " + Table() + " where size >> 1"},
         1,
         "",
         "不认识的关系运算符:>>（第2行第" + std::to_string(Table().size() + 14) + "列）\n"},
        {{"update t"}, 1, "", "无效的select语句（第1行第1列）\n"},
        {{}, 2, "", "corvane-cli: no statement given"},
        {{"--format", "xml", "select 1"}, 2, "", "corvane-cli: unknown format 'xml'"},
        {{"--bogus", "select 1"}, 2, "", "corvane-cli: unknown option '--bogus'"},
        {{"select 1", "select 2"}, 2, "", "corvane-cli: more than one statement"},
        {{"-f", (root_ / "missing.sql").string()}, 2, "", "corvane-cli: cannot read"},
        // A run-time fault of a select item stops the statement.
        {{"select filename, size % 0 from " + Table()}, 3, "", "Division by zero"},
        {{"select 1abc x from " + Table()}, 1, "", "无效的数字（第1行第8列）\n"},
    };
    for (const Case& c : cases) {
        Result r = Run(c.args);
        const std::string what = c.args.empty() ? "(none)" : c.args.back();
        EXPECT_EQ(r.code, c.code) << what << "\n" << r.err;
        EXPECT_EQ(r.out.substr(0, c.out.size()), c.out) << what;
        if (c.out.empty() && c.code != 3) {
            EXPECT_EQ(r.out, "") << what;
        }
        EXPECT_EQ(r.err.rfind(c.errStart, 0), 0u) << what << "\n" << r.err;
    }
    Result help = Run({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("Exit codes"), std::string::npos);
}

// A statement read with -f is bounded: an endless source is refused with
// exit code 2, never gathered until memory runs out.
TEST_F(CliTest, StatementsLongerThanTheLimitAreRefused) {
    const std::string longer = "select filename from " + Table() + " where filename = '" +
                               std::string(16 << 20, 'x') + "'";
    Write(root_ / "long.sql", longer);
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string input;
    } cases[] = {
        {"-f /dev/zero", {"-f", "/dev/zero"}, "/dev/null"},
        {"-f - from an endless pipe", {"-f", "-"}, "/dev/zero"},
        {"-f FILE over the limit", {"-f", (root_ / "long.sql").string()}, "/dev/null"},
        {"-f - over the limit", {"-f", "-"}, (root_ / "long.sql").string()},
    };
    // Should the bound ever be lost, the program fails here within 1 GiB
    // rather than taking the machine's memory (the sanitizers need more
    // address space than that).
    corvane::testing::CliConditions bounded;
#if !defined(__SANITIZE_ADDRESS__)
    bounded.addressSpace = rlim_t{1} << 30;
#endif
    for (const Case& c : cases) {
        Result r = corvane::testing::WaitCli(
            corvane::testing::SpawnCliAs(CORVANE_CLI_PATH, c.args, root_.string(), bounded,
                                         c.input),
            root_.string());
        EXPECT_EQ(r.code, 2) << c.what;
        EXPECT_EQ(r.err,
                  "corvane-cli: the statement is longer than 16 MiB\n"
                  "Try 'corvane-cli --help'.\n")
            << c.what;
        EXPECT_EQ(r.out, "") << c.what;
    }
}

// Running out of memory (here under a bound on the address space) ends
// either job with a message and exit code 3, never with an abort.
TEST_F(CliTest, RunningOutOfMemoryEndsWithExitCodeThree) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs more address space than the bound allows";
#endif
    Write(root_ / "big.sql",
          "select '" + std::string(15 << 20, 'x') + "' x from " + Table() + " where size = 5");
    Write(root_ / "grow.pas", R"(interface
function main: integer;
implementation
function main: integer;
var s: string; i: integer;
begin
  s := 'xxxxxxxxxxxxxxxx';
  for i := 1 to 40 do s := s + s;
  result := length(s);
end;
end.
)");
    const std::vector<std::vector<std::string>> runs = {
        {"-f", (root_ / "big.sql").string()},
        {"--script", (root_ / "grow.pas").string(), "--main", "main"},
    };
    corvane::testing::CliConditions bounded;
    bounded.addressSpace = rlim_t{100} << 20;
    for (const auto& args : runs) {
        Result r = corvane::testing::WaitCli(
            corvane::testing::SpawnCliAs(CORVANE_CLI_PATH, args, root_.string(), bounded),
            root_.string());
        EXPECT_EQ(r.code, 3) << args[0];
        EXPECT_EQ(r.err, "corvane-cli: 内存不足，运行已停止。\n") << args[0];
    }
}

// --memory-limit bounds what a query holds: the table format's cells and
// sorted rows count, rows streamed as CSV do not.
TEST_F(CliTest, MemoryLimitBoundsWhatAQueryHolds) {
    // 200 names of 100 bytes: a self-join has 40 000 rows, about 8 MB of
    // cells.
    const fs::path many = root_ / "many";
    fs::create_directories(many);
    for (int i = 0; i < 200; ++i)
        Write(many / (std::string(97, 'n') + std::to_string(100 + i)), "");
    const std::string join =
        "select a.filename, b.filename from '" + many.string() + "' a, '" + many.string() + "' b";
    const std::string stopped = "查询占用的内存超过1 MiB（";
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string err;  // the whole of standard error
        size_t lines;     // of standard output; 0: not checked
    } cases[] = {
        {{"--memory-limit", "1M", join}, 3, stopped + "输出缓冲），已停止。\n", 0},
        {{"--memory-limit=1M", "--format", "csv", join}, 0, "", 40001},
        {{"--memory-limit", "1M", "--format", "csv", join + " order by a.filename"},
         3,
         stopped + "结果行），已停止。\n",
         1},
        {{"--memory-limit", "64M", join}, 0, "", 40002},
        {{"--memory-limit", "0", join}, 0, "", 40002},
        {{"--memory-limit", "lots", join}, 2, "", 0},
        {{"--memory-limit=1.5G", join}, 2, "", 0},
        {{join, "--memory-limit"}, 2, "", 0},
    };
    for (const Case& c : cases) {
        Result r = Run(c.args);
        const std::string what = c.args[0] + " " + c.args[1];
        EXPECT_EQ(r.code, c.code) << what << "\n" << r.err;
        if (c.code == 2) {
            EXPECT_EQ(r.err.rfind("corvane-cli: ", 0), 0u) << what << "\n" << r.err;
        } else {
            EXPECT_EQ(r.err, c.err) << what;
        }
        if (c.lines > 0) {
            EXPECT_EQ(static_cast<size_t>(std::count(r.out.begin(), r.out.end(), '\n')), c.lines)
                << what;
        }
    }
}

// True once the process has a handler for SIGINT (corvane-cli installs it
// right before it executes the statement).
bool CatchesSigint(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) & (1ull << (SIGINT - 1))) != 0;
    return false;
}

// Statements that would run for ages: an astronomically large join with
// output, the same with no row qualifying, sorted (rows held), and a script
// loop inside a computed expression. Ctrl-C stops each with exit code 130.
TEST_F(CliTest, CtrlCStopsEndlessQueries) {
    std::string twelve;
    for (char c = 'a'; c < 'a' + 12; ++c)
        twelve += std::string(twelve.empty() ? "" : ", ") + Table(" /s") + " " + c;
    const std::vector<std::string> statements = {
        "select a.filename, l.size from " + twelve,
        "select a.filename from " + twelve +
            " where "
            "a.size+b.size+c.size+d.size+e.size+f.size+g.size+h.size+i.size+j.size+k.size+l.size < "
            "0",
        "select a.filename from " + twelve + " order by a.filename",
        // Every row runs longer than the interpreter's poll interval, so
        // the interrupt is likely seen inside the expression.
        "select (a.size" +
            [] {
                std::string sum;
                for (int i = 0; i < 900; ++i)
                    sum += "+b.size";
                return sum;
            }() +
            ") from " + twelve,
    };
    for (const std::string& sql : statements) {
        SCOPED_TRACE(sql.substr(0, 60));
        const pid_t pid =
            corvane::testing::SpawnCli(CORVANE_CLI_PATH, {"--format=csv", sql}, root_);
        ASSERT_GT(pid, 0);
        int status = 0;
        bool ended = false;
        while (!CatchesSigint(pid) && !(ended = waitpid(pid, &status, WNOHANG) == pid))
            usleep(1000);
        ASSERT_FALSE(ended) << "ended by itself: " << Slurp(root_ / "stderr");
        kill(pid, SIGINT);
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 130);
        EXPECT_EQ(Slurp(root_ / "stderr"), "corvane-cli: interrupted\n");
    }
}

TEST_F(CliTest, ClosedPipeEndsQuietly) {
    for (int i = 0; i < 3000; ++i)
        Write(tree_ / "sub" / ("f" + std::to_string(i) + ".dat"), "");
    const std::string cmd = "set -o pipefail; '" + std::string(CORVANE_CLI_PATH) +
                            "' --format csv \"select * from " + Table(" /s") + "\" 2>'" +
                            (root_ / "pipe.err").string() + "' | head -c 100 >/dev/null";
    const int status = std::system(("bash -c " + std::string("\"") +
                                    [&] {
                                        std::string escaped;
                                        for (char c : cmd) {
                                            if (c == '"' || c == '\\' || c == '$' || c == '`')
                                                escaped.push_back('\\');
                                            escaped.push_back(c);
                                        }
                                        return escaped;
                                    }() +
                                    "\"")
                                       .c_str());
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Slurp(root_ / "pipe.err"), "");
}

#endif  // CORVANE_CLI_PATH

}  // namespace
