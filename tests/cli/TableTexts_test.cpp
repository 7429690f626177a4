// corvane-cli on table texts as a shell user types them: ".", "..", "~",
// relative paths and directories whose names hold a dot; and what it says
// on standard error about what it could not read (the exit code stays 0).
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/support/CliProcess.h"

extern char** environ;

namespace {

#ifdef CORVANE_CLI_PATH

namespace fs = std::filesystem;

using corvane::testing::CliResult;

// Runs corvane-cli in the working directory cwd with HOME set to home; its
// output goes to outDir/stdout and outDir/stderr. With keepPermissions the
// program runs without the capabilities that let root ignore file
// permissions (dropped from the bounding set before exec), so a directory
// nobody may read is unreadable to it as well; running it as another user
// instead would need the build tree to be readable by that user.
CliResult RunIn(const std::string& cwd, const std::string& home,
                const std::vector<std::string>& args, const std::string& outDir,
                bool keepPermissions = false) {
    std::vector<std::string> all = {CORVANE_CLI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "HOME=", 5) != 0) env.emplace_back(*e);
    env.push_back("HOME=" + home);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string out = outDir + "/stdout", err = outDir + "/stderr";

    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here on.
        if (::chdir(cwd.c_str()) != 0) ::_exit(126);
        const int in = ::open("/dev/null", O_RDONLY);
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || o < 0 || e < 0) ::_exit(126);
        ::dup2(in, 0);
        ::dup2(o, 1);
        ::dup2(e, 2);
        if (keepPermissions) {
            ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
            ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
        }
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    return corvane::testing::WaitCli(pid, outDir);
}

// The data lines of a CSV result (header and CRLF dropped), as a set.
std::set<std::string> Lines(const std::string& csv) {
    std::set<std::string> lines;
    size_t from = csv.find("\r\n");
    if (from == std::string::npos) return lines;
    for (from += 2; from < csv.size();) {
        size_t end = csv.find("\r\n", from);
        if (end == std::string::npos) end = csv.size();
        lines.insert(csv.substr(from, end - from));
        from = end + 2;
    }
    return lines;
}

// The fixture: tree/ with a.txt, b.log, proj.git/ (HEAD, inner/x) and
// plain/ (p).
class CliTableTexts : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/corvane-cli-tables-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        tree_ = (fs::path(root_) / "tree").string();
        fs::create_directories(tree_ + "/proj.git/inner");
        fs::create_directories(tree_ + "/plain");
        for (const char* f : {"a.txt", "b.log", "proj.git/HEAD", "proj.git/inner/x", "plain/p"})
            std::ofstream(tree_ + "/" + f) << "x";
    }
    void TearDown() override {
        std::error_code ec;
        for (auto& e : fs::recursive_directory_iterator(root_, ec))
            if (e.is_directory(ec)) fs::permissions(e.path(), fs::perms::owner_all, ec);
        fs::remove_all(root_, ec);
    }

    CliResult Csv(const std::string& cwd, const std::string& sql, bool keepPermissions = false) {
        return RunIn(cwd, tree_, {"--format", "csv", sql}, root_, keepPermissions);
    }

    std::string root_, tree_;
};

TEST_F(CliTableTexts, DotsTildeRelativeAndDottedDirectoriesListTheirContents) {
    const std::string t = tree_;
    const std::set<std::string> top = {"a.txt", "b.log", "proj.git", "plain"};
    struct Case {
        std::string cwd, sql;
        std::set<std::string> lines;
    } cases[] = {
        {t, "select filename from '.'", top},
        {t, "select filename from \".\"", top},
        {t + "/plain", "select filename from '..'", top},
        {t,
         "select path, filename from '.'",
         {".,a.txt", ".,b.log", ".,proj.git", ".,plain"}},  // `path` as written
        {t, "select filename from '" + t + "/.'", top},
        {root_, "select filename from '~'", top},
        {root_,
         "select path, filename from '~/proj.git'",
         {t + "/proj.git,HEAD", t + "/proj.git,inner"}},  // `path` resolved
        {t, "select path, filename from 'proj.git'", {"proj.git,HEAD", "proj.git,inner"}},
        {t,
         "select path, filename from 'proj.git /s'",
         {"proj.git,HEAD", "proj.git,inner", "proj.git/inner,x"}},
        {root_, "select filename from '" + t + "/proj.git'", {"HEAD", "inner"}},
        {root_, "select filename from '" + t + "/proj.git /s'", {"HEAD", "inner", "x"}},
        {root_, "select filename from '" + t + "/proj.gi?'", {"proj.git"}},  // its own entry
        {t, "select filename from './plain/../proj.git/inner'", {"x"}},
    };
    for (const Case& c : cases) {
        CliResult r = Csv(c.cwd, c.sql);
        EXPECT_EQ(r.code, 0) << c.sql << "\n" << r.err;
        EXPECT_EQ(r.err, "") << c.sql;
        EXPECT_EQ(Lines(r.out), c.lines) << c.sql << " in " << c.cwd;
    }
}

TEST_F(CliTableTexts, MissingTableDirectoryIsNamedOnStandardError) {
    struct Case {
        std::string sql, err;
    } cases[] = {
        {"select filename from '" + tree_ + "/missing'",
         "表 '" + tree_ + "/missing' 的目录不存在或无法打开\n"},
        {"select filename from 'missing.d /s'", "表 'missing.d /s' 的目录不存在或无法打开\n"},
        {"select filename from '~/gone'",
         "表 '~/gone' 的目录不存在或无法打开（" + tree_ + "/gone）\n"},
        {"select x.filename from '.' x, '" + tree_ + "/no1' y, \"" + tree_ + "/no2\" z",
         "表 '" + tree_ + "/no1' 的目录不存在或无法打开\n表 '" + tree_ +
             "/no2' 的目录不存在或无法打开\n"},
    };
    for (const Case& c : cases) {
        CliResult r = Csv(tree_, c.sql);
        EXPECT_EQ(r.code, 0) << c.sql;
        EXPECT_EQ(r.err, c.err) << c.sql;
        EXPECT_EQ(Lines(r.out), std::set<std::string>{}) << c.sql;
        EXPECT_NE(r.out.find("filename\r\n"), std::string::npos) << c.sql;  // the header
    }
    // In the table format too, after the result.
    CliResult r = RunIn(tree_, tree_, {"select filename from 'nope'"}, root_);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "filename\n--------\n");
    EXPECT_EQ(r.err, "表 'nope' 的目录不存在或无法打开\n");
}

TEST_F(CliTableTexts, UnreadableSubDirectoriesGiveOneCountLine) {
    fs::create_directories(tree_ + "/plain/locked");
    std::ofstream(tree_ + "/plain/locked/secret") << "x";
    ::chmod((tree_ + "/plain/locked").c_str(), 0300);
    CliResult r = Csv(tree_, "select filename from '. /s'", /*keepPermissions=*/true);
    if (Lines(r.out).count("secret")) GTEST_SKIP() << "permissions cannot be shown here";
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "表 '. /s' 中有 1 个子目录无法读取：./plain/locked\n");
    EXPECT_TRUE(Lines(r.out).count("locked"));  // its own entry is listed
    EXPECT_TRUE(Lines(r.out).count("x"));       // and the rest of the tree
}

TEST_F(CliTableTexts, ListingControlsAndTheDepthColumn) {
    fs::create_directories(tree_ + "/plain/deep/er");
    std::ofstream(tree_ + "/plain/deep/er/d") << "x";
    struct Case {
        std::string sql;
        std::set<std::string> lines;
    } cases[] = {
        {"select filename, depth from '. /maxdepth:2'",
         {"a.txt,1", "b.log,1", "proj.git,1", "plain,1", "HEAD,2", "inner,2", "p,2", "deep,2"}},
        {"select filename from '. /s /exclude:proj.git /exclude:*.txt /mindepth:3'", {"er", "d"}},
        {"select filename from '. /s' where depth = 4", {"d"}},
        {"select depth, count(*) n from '. /s /exclude:**/deep' group by depth",
         {"1,4", "2,3", "3,1"}},
    };
    for (const Case& c : cases) {
        CliResult r = Csv(tree_, c.sql);
        EXPECT_EQ(r.code, 0) << c.sql << "\n" << r.err;
        EXPECT_EQ(r.err, "") << c.sql;
        EXPECT_EQ(Lines(r.out), c.lines) << c.sql;
    }
    // "*" stays the fifteen described columns.
    CliResult star = Csv(tree_, "select * from '. /maxdepth:1' t where filename = 'a.txt'");
    EXPECT_EQ(star.code, 0) << star.err;
    const std::string header = star.out.substr(0, star.out.find("\r\n"));
    EXPECT_EQ(header,
              "t.path,t.filename,t.extension,t.shortname,t.creationtime,t.lastwritetime,"
              "t.lastaccesstime,t.size,t.attri,t.count,t.version,t.isdir,t.readOnly,t.hidden,"
              "t.data");
}

TEST_F(CliTableTexts, AnOptionTheTableTextDoesNotKnowIsNamed) {
    // A typo keeps its old meaning (the attribute rule: "a" adds archive)
    // and is named on standard error; a bad value is dropped and named.
    CliResult r = Csv(tree_, "select filename from '. /maxdept:1 /maxdepth:x'");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Lines(r.out), (std::set<std::string>{"a.txt", "b.log", "proj.git", "plain"}));
    EXPECT_EQ(
        r.err,
        "表 '. /maxdept:1 /maxdepth:x' 的选项 'maxdept:1' 无法识别，已按属性规则处理（一个字符、"
        "可选的 \"-\" 和 a d h r s 之一）\n"
        "表 '. /maxdept:1 /maxdepth:x' 的选项 'maxdepth:x' 缺少值或值无效，已忽略\n");
}

#endif  // CORVANE_CLI_PATH

}  // namespace
