// corvane-cli end to end on a fixture tree made in a temporary directory:
// formats, --check, -f, exit codes, a closed pipe.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/CliProcess.h"

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
              "05T06:07:08\","
              "\"c\":\"x\"}\n]\n");
    r = Run({"--format", "json", "select filename from " + Table() + " where size > 1000"});
    EXPECT_EQ(r.out, "[]\n");
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
        {{"--check", "select nosuch from " + Table()}, 1, "", "nosuch is unkonwn.\n"},
        {{"select filename from " + Table() + " where size >> 1"},
         1,
         "",
         "不认识的关系运算符:>>\n"},
        {{"update t"}, 1, "", "无效的select语句\n"},
        {{}, 2, "", "corvane-cli: no statement given"},
        {{"--format", "xml", "select 1"}, 2, "", "corvane-cli: unknown format 'xml'"},
        {{"--bogus", "select 1"}, 2, "", "corvane-cli: unknown option '--bogus'"},
        {{"select 1", "select 2"}, 2, "", "corvane-cli: more than one statement"},
        {{"-f", (root_ / "missing.sql").string()}, 2, "", "corvane-cli: cannot read"},
        // A constant typed integer that is no number cannot be sorted.
        {{"select 1abc x from " + Table() + " order by x"},
         3,
         "",
         "Could not convert variant of type (String)"},
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
                for (int i = 0; i < 5000; ++i)
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
