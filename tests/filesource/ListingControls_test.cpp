// The listing controls on real trees: depth limits and the depth column,
// excludes (an excluded directory is never opened), one file system
// (a tmpfs and a bind mount, where the test may mount), ignore files
// compared with git check-ignore on the same tree, and following links
// with a loop, read later through the directory the walk opened.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "filesource/IgnoreRules.h"
#include "filesource/U_CorvaneAdptr.h"
#include "platform/DirectoryAnchors.h"
#include "platform/FileSystem.h"
#include "support/AsOtherUser.h"
#include "support/TempTree.h"

namespace corvane {
namespace {

using testing::AsOtherUser;
using testing::TempTree;

struct Entry {
    std::string rel;  // path below the table's directory, with the name
    int64_t depth = 0;
    bool isDir = false;
    bool operator<(const Entry& o) const { return rel < o.rel; }
};

struct Listed {
    std::vector<Entry> entries;  // in listing order
    std::vector<std::string> warnings;
    uint64_t stats = 0;
    bool active = false;

    std::set<std::string> Rels() const {
        std::set<std::string> out;
        for (const Entry& e : entries)
            out.insert(e.rel);
        return out;
    }
};

// Lists root with options (the text after the directory) on threads.
Listed List(const std::string& root, const std::string& options, int threads = 1) {
    TVeskDSAdapterForFile t("'" + root + " " + options + "'");
    t.SetListingThreads(threads);
    t.Open();
    Listed l;
    l.active = t.Active();
    l.warnings = t.Warnings();
    l.stats = t.StatCalls();
    Variant v;
    for (int i = 0; i < t.GetRecordCount(); ++i) {
        t.SetRecNo(i);
        Entry e;
        t.GetFieldValue(fcPath, v);
        std::string path = v.RawString();
        t.GetFieldValue(fcFilename, v);
        const std::string name = v.RawString();
        path = path.size() > root.size() ? path.substr(root.size() + 1) : std::string();
        e.rel = path.empty() ? name : path + "/" + name;
        t.GetFieldValue(fcDepth, v);
        e.depth = v.RawInteger();
        t.GetFieldValue(fcIsDir, v);
        e.isDir = v.RawBoolean();
        l.entries.push_back(e);
    }
    return l;
}

std::set<std::string> Set(std::initializer_list<const char*> items) {
    std::set<std::string> out;
    for (const char* i : items)
        out.insert(i);
    return out;
}

// The components of a relative path.
int64_t Components(const std::string& rel) {
    int64_t n = 1;
    for (char c : rel)
        n += c == '/';
    return n;
}

// ---------------------------------------------------------------------------
// Depth

class Depth : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* d : {"a", "a/b", "a/b/c"})
            t_.Dir(d);
        for (const char* f : {"f1", "a/f2", "a/b/f3", "a/b/c/f4"})
            t_.File(f);
    }
    TempTree t_;
};

TEST_F(Depth, LimitsCountAsFindCounts) {
    struct Case {
        const char* options;
        std::set<std::string> rels;
    } cases[] = {
        {"/maxdepth:1", Set({"a", "f1"})},
        {"/s /maxdepth:1", Set({"a", "f1"})},
        {"/maxdepth:2", Set({"a", "f1", "a/b", "a/f2"})},
        {"/maxdepth:0", Set({})},
        {"/s", Set({"a", "f1", "a/b", "a/f2", "a/b/c", "a/b/f3", "a/b/c/f4"})},
        {"/s /maxdepth:99", Set({"a", "f1", "a/b", "a/f2", "a/b/c", "a/b/f3", "a/b/c/f4"})},
        {"/s /mindepth:2", Set({"a/b", "a/f2", "a/b/c", "a/b/f3", "a/b/c/f4"})},
        {"/mindepth:3", Set({"a/b/c", "a/b/f3", "a/b/c/f4"})},  // recursion is implied
        {"/mindepth:2 /maxdepth:3", Set({"a/b", "a/f2", "a/b/c", "a/b/f3"})},
        {"/mindepth:4 /maxdepth:3", Set({})},
        {"/mindepth:1", Set({"a", "f1"})},
        {"", Set({"a", "f1"})},
    };
    for (const Case& c : cases)
        for (int threads : {1, 4}) {
            const Listed l = List(t_.Root(), c.options, threads);
            EXPECT_TRUE(l.active) << c.options;
            EXPECT_TRUE(l.warnings.empty()) << c.options;
            EXPECT_EQ(l.Rels(), c.rels) << c.options << " threads " << threads;
            for (const Entry& e : l.entries)
                EXPECT_EQ(e.depth, Components(e.rel)) << e.rel;
        }
}

TEST_F(Depth, MaximumEntersNoDirectoryDeeperThanItLists) {
    // a/b/c (depth 3) cannot be read: with /maxdepth:3 the walk lists it
    // but never enters it, with /maxdepth:4 it must say that it could not.
    ::chmod(t_.Path("a/b/c").c_str(), 0300);
    std::optional<AsOtherUser> other;
    other.emplace();
    if (OpenDirectoryPath(t_.Path("a/b/c")).Valid())
        GTEST_SKIP() << "permissions cannot be shown in this environment";
    EXPECT_EQ(List(t_.Root(), "/maxdepth:4").warnings.size(), 1u);
    const Listed l = List(t_.Root(), "/maxdepth:3");
    EXPECT_TRUE(l.warnings.empty());
    EXPECT_TRUE(l.Rels().count("a/b/c"));
    other.reset();
    ::chmod(t_.Path("a/b/c").c_str(), 0755);
}

TEST_F(Depth, TheFilterSeesTheDepthBeforeTheMetadata) {
    // A filter on depth alone decides on the name: entries it turns down
    // are never examined.
    class DepthFilter : public IFilterObject {
      public:
        void SetValue(int i, const Variant& v) override {
            if (i == fcDepth) depth_ = v.RawInteger();
        }
        Variant Evaluate() override { return Variant(depth_ == 2); }
        bool Reads(int i) override { return i == fcDepth; }
        bool RejectsKnowing(uint64_t known) override {
            return ((known >> fcDepth) & 1) != 0 && depth_ != 2;
        }

      private:
        int64_t depth_ = 0;
    } filter;
    TVeskDSAdapterForFile t("'" + t_.Root() + " /s'");
    t.SetListingThreads(1);
    t.SetFilter(&filter);
    t.Open();
    std::set<std::string> names;
    Variant v;
    for (int i = 0; i < t.GetRecordCount(); ++i) {
        t.SetRecNo(i);
        t.GetFieldValue(fcFilename, v);
        names.insert(v.RawString());
        t.GetFieldValue(fcDepth, v);
        EXPECT_EQ(v.RawInteger(), 2);
    }
    EXPECT_EQ(names, Set({"b", "f2"}));
    EXPECT_EQ(t.StatCalls(), 2u);  // b and f2; the walk enters a, b and c on their type
}

// ---------------------------------------------------------------------------
// Excludes

class Excludes : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* d : {"src", "src/node_modules", "src/node_modules/pkg", "node_modules",
                              "build", "src/build", "doc", "doc/c"})
            t_.Dir(d);
        for (const char* f :
             {"a.txt", "src/m.c", "src/m.o", "src/node_modules/pkg/i.js", "node_modules/x.js",
              "build/out", "src/build/out", "doc/build", "doc/c/n.txt"})
            t_.File(f);
    }
    TempTree t_;
};

TEST_F(Excludes, NamesPathsAndDirectoriesOnly) {
    const std::set<std::string> all = List(t_.Root(), "/s").Rels();
    auto without = [&](std::initializer_list<const char*> gone) {
        std::set<std::string> out;
        for (const std::string& r : all) {
            bool keep = true;
            for (const char* g : gone)
                if (r == g || r.rfind(std::string(g) + "/", 0) == 0) keep = false;
            if (keep) out.insert(r);
        }
        return out;
    };
    struct Case {
        const char* options;
        std::set<std::string> rels;
    } cases[] = {
        // A name at any depth.
        {"/s /exclude:node_modules", without({"node_modules", "src/node_modules"})},
        {"/s /exclude:**/node_modules", without({"node_modules", "src/node_modules"})},
        // A path below the table's directory, anchored.
        {"/s /exclude:src/node_modules", without({"src/node_modules"})},
        {"/s /exclude:/build", without({"build"})},
        {"/s /exclude:*/build", without({"src/build", "doc/build"})},
        // Directories only: the file doc/build stays.
        {"/s /exclude:build/", without({"build", "src/build"})},
        {"/s /exclude:build", without({"build", "src/build", "doc/build"})},
        {"/s /exclude:*.o /exclude:*.txt", without({"src/m.o", "a.txt", "doc/c/n.txt"})},
        {"/s /exclude:doc/**", without({"doc/c", "doc/build"})},
        {"/s /exclude:Build", all},  // letter case counts
        {"/exclude:src",
         without({"src", "src/m.c", "src/m.o", "src/node_modules", "src/node_modules/pkg",
                  "src/node_modules/pkg/i.js", "src/build", "src/build/out", "node_modules/x.js",
                  "build/out", "doc/build", "doc/c", "doc/c/n.txt"})},
    };
    for (const Case& c : cases)
        for (int threads : {1, 4}) {
            const Listed l = List(t_.Root(), c.options, threads);
            EXPECT_TRUE(l.warnings.empty()) << c.options;
            EXPECT_EQ(l.Rels(), c.rels) << c.options << " threads " << threads;
        }
}

TEST_F(Excludes, AnExcludedDirectoryIsNeverOpened) {
    t_.Dir("src/locked");
    t_.File("src/locked/secret");
    ::chmod(t_.Path("src/locked").c_str(), 0300);
    std::optional<AsOtherUser> other;
    other.emplace();
    if (OpenDirectoryPath(t_.Path("src/locked")).Valid())
        GTEST_SKIP() << "permissions cannot be shown in this environment";
    // Listed without the exclude, the walk must report it ...
    EXPECT_EQ(List(t_.Root(), "/s").warnings.size(), 1u);
    for (int threads : {1, 4}) {
        // ... excluded, it is never tried: no warning.
        const Listed l = List(t_.Root(), "/s /exclude:locked", threads);
        EXPECT_TRUE(l.warnings.empty()) << l.warnings.front();
        EXPECT_FALSE(l.Rels().count("src/locked"));
    }
    other.reset();
    ::chmod(t_.Path("src/locked").c_str(), 0755);
    // Excluded entries are not even examined.
    const Listed plain = List(t_.Root(), "/s");
    const Listed excluded = List(t_.Root(), "/s /exclude:*.o /exclude:node_modules");
    EXPECT_EQ(excluded.stats + 6, plain.stats);  // m.o, both node_modules, pkg, i.js, x.js
}

// ---------------------------------------------------------------------------
// One file system

class OneFileSystem : public ::testing::Test {
  protected:
    void SetUp() override {
        t_.Dir("local");
        t_.File("local/l");
        t_.Dir("tmp");
        t_.Dir("src");
        t_.File("src/s");
        t_.Dir("bound");
        if (::mount("corvane-test", t_.Path("tmp").c_str(), "tmpfs", 0, "size=1m") != 0) {
            reason_ = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
            return;
        }
        mounted_.push_back(t_.Path("tmp"));
        std::ofstream(t_.Path("tmp/t")) << "x";
        if (::mount(t_.Path("src").c_str(), t_.Path("bound").c_str(), nullptr, MS_BIND, nullptr) !=
            0) {
            reason_ = std::string("cannot bind-mount here: ") + std::strerror(errno);
            return;
        }
        mounted_.push_back(t_.Path("bound"));
    }
    void TearDown() override {
        for (auto it = mounted_.rbegin(); it != mounted_.rend(); ++it)
            ::umount2(it->c_str(), MNT_DETACH);
    }
    TempTree t_;
    std::vector<std::string> mounted_;
    std::string reason_;
};

TEST_F(OneFileSystem, XdevListsMountPointsButEntersNone) {
    if (!reason_.empty()) GTEST_SKIP() << reason_;
    // The bind mount has the device of its source: only the mount id tells.
    struct stat a {
    }, b{};
    ASSERT_EQ(::stat(t_.Path("src").c_str(), &a), 0);
    ASSERT_EQ(::stat(t_.Path("bound").c_str(), &b), 0);
    EXPECT_EQ(a.st_dev, b.st_dev);
    for (int threads : {1, 4}) {
        EXPECT_EQ(List(t_.Root(), "/s", threads).Rels(),
                  Set({"local", "local/l", "tmp", "tmp/t", "src", "src/s", "bound", "bound/s"}));
        EXPECT_EQ(List(t_.Root(), "/s /xdev", threads).Rels(),
                  Set({"local", "local/l", "tmp", "src", "src/s", "bound"}));
    }
    // A table on the mount itself lists it.
    EXPECT_EQ(List(t_.Path("tmp"), "/s /xdev").Rels(), Set({"t"}));
}

// ---------------------------------------------------------------------------
// Ignore files, compared with git

// Runs a shell command; its standard output, or nothing when it failed.
std::optional<std::string> Shell(const std::string& command) {
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return std::nullopt;
    std::string out;
    char buf[4096];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, got);
    const int status = ::pclose(p);
    if (status == -1 || !WIFEXITED(status)) return std::nullopt;
    return out;
}

// The environment for git and for the walker: a home of its own, no
// system configuration.
class GitEnvironment {
  public:
    explicit GitEnvironment(const std::string& home) {
        for (const char* name : {"HOME", "XDG_CONFIG_HOME", "GIT_CONFIG_NOSYSTEM",
                                 "GIT_CONFIG_GLOBAL", "GIT_CONFIG_SYSTEM"}) {
            const char* v = std::getenv(name);
            saved_.push_back({name, v ? std::optional<std::string>(v) : std::nullopt});
            ::unsetenv(name);
        }
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("GIT_CONFIG_NOSYSTEM", "1", 1);
    }
    ~GitEnvironment() {
        for (auto& [name, value] : saved_)
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
    }
    GitEnvironment(const GitEnvironment&) = delete;
    GitEnvironment& operator=(const GitEnvironment&) = delete;

  private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

class GitIgnore : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!Shell("git --version >/dev/null 2>&1 && echo yes").value_or("").starts_with("yes"))
            GTEST_SKIP() << "git is not installed";
        home_.Dir("cfg");
        env_.emplace(home_.Root());
        repo_ = t_.Root();
        if (!Shell("cd '" + repo_ + "' && git init -q . && echo yes")
                 .value_or("")
                 .starts_with("yes"))
            GTEST_SKIP() << "git init failed";
        // The cases: negation, directory-only, anchored, nested ignore
        // files, "**", sets, escapes and trailing blanks.
        t_.File(".gitignore",
                "# a comment\n"
                "*.log\n"
                "!keep.log\n"
                "build/\n"
                "/top.txt\n"
                "docs/*.tmp\n"
                "**/cache\n"
                "gen/**\n"
                "a/**/z.dat\n"
                "file[0-9].c\n"
                "\\#hash\n"
                "trail   \n"
                "space\\ \n"
                "*.o\n"
                "!important.o\n"
                "node_modules\n");
        for (const char* d :
             {"src", "src/build", "docs", "docs/sub", "lib", "lib/cache", "gen", "gen/x", "a",
              "a/b", "a/b/c", "nested", "nested/deeper", "build", "other", "other/build.d"})
            t_.Dir(d);
        for (const char* f : {"a.log",
                              "keep.log",
                              "src/build/out.bin",
                              "src/main.c",
                              "top.txt",
                              "src/top.txt",
                              "docs/x.tmp",
                              "docs/sub/y.tmp",
                              "lib/cache/c1",
                              "gen/g",
                              "gen/x/g2",
                              "a/z.dat",
                              "a/b/z.dat",
                              "a/b/c/z.dat",
                              "file1.c",
                              "filex.c",
                              "#hash",
                              "trail",
                              "space ",
                              "m.o",
                              "important.o",
                              "nested/n.txt",
                              "nested/n.skip",
                              "nested/deeper/d.txt",
                              "nested/deeper/d.skip",
                              "nested/deeper/keep.log",
                              "other/build.d/f",
                              "src/file7.c",
                              "plain.txt"})
            t_.File(f);
        // build at the top is a directory ("build/" matches it); a file
        // named build elsewhere is not.
        t_.File("nested/build");
        t_.File("nested/.gitignore", "*.skip\n!d.skip\n/n.txt\n");
        t_.File("nested/deeper/.gitignore", "!keep.log\nd.txt\n");
        t_.File(".git/info/exclude", "plain.txt\n");
    }

    // The entries git leaves out: every path of the tree (but .git's
    // contents) that git check-ignore names, and what lies below those.
    std::set<std::string> ExpectedListing(const std::string& below = {}) {
        const std::string root = below.empty() ? repo_ : repo_ + "/" + below;
        const std::string paths =
            Shell("cd '" + root + "' && find . -mindepth 1 -path ./.git -prune -o -print")
                .value_or("");
        std::vector<std::string> all;
        std::istringstream in(paths);
        for (std::string line; std::getline(in, line);)
            all.push_back(line.substr(2));
        std::string list;
        for (const std::string& p : all)
            list += p + "\n";
        const std::string listFile = home_.Path("paths");
        std::ofstream(listFile) << list;
        const std::string ignored =
            Shell("cd '" + root + "' && git check-ignore --no-index --stdin < '" + listFile +
                  "'; true")
                .value_or("");
        std::set<std::string> gone;
        std::istringstream ig(ignored);
        for (std::string line; std::getline(ig, line);)
            gone.insert(line);
        std::set<std::string> out;
        for (const std::string& p : all) {
            bool kept = !gone.count(p);
            for (size_t slash = p.find('/'); kept && slash != std::string::npos;
                 slash = p.find('/', slash + 1))
                if (gone.count(p.substr(0, slash))) kept = false;
            if (kept) out.insert(p);
        }
        out.insert(".git");  // the walk lists it (hidden) and never enters it
        return out;
    }

    TempTree home_;
    TempTree t_;
    std::optional<GitEnvironment> env_;
    std::string repo_;
};

TEST_F(GitIgnore, TheListingLeavesOutWhatGitIgnores) {
    const std::set<std::string> expected = ExpectedListing();
    // Spot checks that the cases are there at all.
    EXPECT_TRUE(expected.count("keep.log"));
    EXPECT_FALSE(expected.count("a.log"));
    EXPECT_FALSE(expected.count("src/build"));
    EXPECT_TRUE(expected.count("nested/build"));
    EXPECT_FALSE(expected.count("nested/deeper/d.txt"));
    EXPECT_TRUE(expected.count("nested/deeper/d.skip"));
    EXPECT_FALSE(expected.count("plain.txt"));
    for (int threads : {1, 4}) {
        const Listed l = List(repo_, "/s /all /gitignore", threads);
        EXPECT_TRUE(l.warnings.empty());
        EXPECT_EQ(l.Rels(), expected) << "threads " << threads;
    }
    // Without the option everything is there.
    EXPECT_TRUE(List(repo_, "/s /all").Rels().count("a.log"));
}

TEST_F(GitIgnore, ATableBelowTheRootHonoursTheFilesAboveIt) {
    std::set<std::string> expected = ExpectedListing("nested");
    expected.erase(".git");
    EXPECT_FALSE(expected.count("n.txt"));   // anchored in nested/.gitignore
    EXPECT_FALSE(expected.count("n.skip"));  // from nested/.gitignore
    EXPECT_TRUE(expected.count("deeper/keep.log"));
    EXPECT_EQ(List(repo_ + "/nested", "/s /all /gitignore").Rels(), expected);
}

TEST_F(GitIgnore, TheUsersExcludesFileCounts) {
    std::ofstream(home_.Path(".gitconfig")) << "[core]\n\texcludesFile = ~/cfg/global-ignore\n";
    std::ofstream(home_.Path("cfg/global-ignore")) << "*.c\n";
    const std::set<std::string> expected = ExpectedListing();
    EXPECT_FALSE(expected.count("src/main.c"));
    EXPECT_EQ(List(repo_, "/s /all /gitignore").Rels(), expected);
}

TEST(IgnoreFiles, OutsideARepositoryOnlyDotIgnoreCounts) {
    TempTree home;
    GitEnvironment env(home.Root());
    TempTree t;
    t.File(".gitignore", "*.a\n");
    t.File(".ignore", "*.b\n");
    t.Dir("d");
    t.File("d/.ignore", "!keep.b\n");
    for (const char* f : {"x.a", "x.b", "d/keep.b", "d/other.b"})
        t.File(f);
    EXPECT_EQ(List(t.Root(), "/s /gitignore").Rels(),
              Set({".gitignore", ".ignore", "d", "d/.ignore", "x.a", "d/keep.b"}));
    // Inside one, .ignore comes first, then .gitignore.
    t.Dir(".git");
    t.File(".gitignore", "*.a\nx.c\n");
    t.File(".ignore", "*.b\n!x.c\n");
    t.File("x.c");
    EXPECT_EQ(List(t.Root(), "/s /gitignore").Rels(),
              Set({".git", ".gitignore", ".ignore", "d", "d/.ignore", "d/keep.b", "x.c"}));
}

TEST(IgnoreWildMatch, GitsRules) {
    struct Case {
        const char* pattern;
        std::string text;
        bool pathname;
        bool match;
    } cases[] = {
        {"*.c", "a.c", false, true},
        {"*.c", "a/b.c", true, false},
        {"*.c", "a/b.c", false, true},
        {"a/*/c", "a/b/c", true, true},
        {"a/*/c", "a/b/x/c", true, false},
        {"a/**/c", "a/c", true, true},
        {"a/**/c", "a/b/x/c", true, true},
        {"**/c", "c", true, true},
        {"**/c", "x/y/c", true, true},
        {"a/**", "a/x/y", true, true},
        {"a/**", "a", true, false},
        {"a**b", "axb", true, true},
        {"a**b", "a/b", true, false},  // not "**" between slashes: a plain "*"
        {"?", "/", true, false},
        {"[a-c]x", "bx", true, true},
        {"[!a-c]x", "bx", true, false},
        {"[^a-c]x", "dx", true, true},
        {"[]]", "]", true, true},
        {"[a-]", "-", true, true},
        {"[[:digit:]]z", "7z", true, true},
        {"[[:alpha:]]z", "7z", true, false},
        {"[[:nosuch:]]", "a", true, false},
        {"[abc", "a", true, false},  // a set that does not end matches nothing
        {"\\*", "*", true, true},
        {"\\*", "x", true, false},
        {"x\\", "x", true, false},
        {"*a*a*a*a*a*a*a*a*a*a*b", std::string(200, 'a'), true, false},
        {"**/**/**/**/**/**/**/**/x", "a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/y", true, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IgnoreWildMatch(c.pattern, c.text, c.pathname), c.match)
            << c.pattern << " ~ " << c.text;
}

// ---------------------------------------------------------------------------
// Following links

class Follow : public ::testing::Test {
  protected:
    void SetUp() override {
        t_.Dir("real");
        t_.File("real/x", "real");
        t_.Dir("other");
        t_.File("other/x", "other");
        ASSERT_EQ(::symlink("..", t_.Path("real/loop").c_str()), 0);
        ASSERT_EQ(::symlink("real", t_.Path("link").c_str()), 0);
        ASSERT_EQ(::symlink("x", t_.Path("real/file-link").c_str()), 0);
    }
    TempTree t_;
};

TEST_F(Follow, LinksToDirectoriesAreEnteredAndLoopsWarnedAbout) {
    EXPECT_EQ(List(t_.Root(), "/s").Rels(), Set({"real", "real/x", "other", "other/x"}));
    for (int threads : {1, 4}) {
        const Listed l = List(t_.Root(), "/s /follow", threads);
        // The links are listed as the directories they lead to; the one
        // back to the table's directory is listed but not entered, once
        // from real and once from link.
        EXPECT_EQ(l.Rels(), Set({"real", "real/x", "real/loop", "other", "other/x", "link",
                                 "link/x", "link/loop"}));
        for (const Entry& e : l.entries)
            if (e.rel == "link" || e.rel == "real/loop") {
                EXPECT_TRUE(e.isDir) << e.rel;
            }
        const std::string text = "'" + t_.Root() + " /s /follow'";
        EXPECT_EQ(std::set<std::string>(l.warnings.begin(), l.warnings.end()),
                  (std::set<std::string>{LinkLoopWarning(text, t_.Path("real/loop"), t_.Root()),
                                         LinkLoopWarning(text, t_.Path("link/loop"), t_.Root())}));
        for (const Entry& e : l.entries)
            EXPECT_EQ(e.depth, Components(e.rel)) << e.rel;
    }
    // A link to a file stays a link (system), and is not followed.
    EXPECT_TRUE(List(t_.Root(), "/s /follow /all").Rels().count("real/file-link"));
}

TEST_F(Follow, WhatLiesBelowALinkIsReadThroughTheDirectoryTheWalkOpened) {
    TVeskDSAdapterForFile t("'" + t_.Root() + " /s /follow'");
    t.SetListingThreads(1);
    t.Open();
    ASSERT_TRUE(t.Active());
    int linkRow = -1;
    for (int i = 0; i < t.GetRecordCount(); ++i)
        if (t.PathOf(t.RecordAt(i)) == t_.Root() && t.RecordAt(i).filename == "link") linkRow = i;
    ASSERT_GE(linkRow, 0);
    // The link is pointed elsewhere after the listing.
    ASSERT_EQ(::unlink(t_.Path("link").c_str()), 0);
    ASSERT_EQ(::symlink("other", t_.Path("link").c_str()), 0);
    auto read = [&](const std::string& path) {
        ReadOnlyFile f;
        std::string s(5, '\0');
        if (!f.Open(path)) return std::string("unreadable");
        s.resize(static_cast<size_t>(f.Size()));
        return f.ReadAt(0, s.data(), s.size()) ? s : std::string("unreadable");
    };
    // While the table holds its records, link/x is the file listed.
    EXPECT_EQ(read(t_.Path("link/x")), "real");
    // Its count too: the followed link, counted through its parent.
    Variant v;
    t.SetRecNo(linkRow);
    t.GetFieldValue(fcCount, v);
    EXPECT_EQ(v.RawInteger(), 5);  // ., .., x, loop, file-link
    t.Close();
    EXPECT_EQ(AnchorCount(), 0u);
    // Without the table the path is resolved as usual again.
    EXPECT_EQ(read(t_.Path("link/x")), "other");
}

TEST_F(Follow, BelowAnAnchorNoLinkIsFollowed) {
    TVeskDSAdapterForFile t("'" + t_.Root() + " /s /follow'");
    t.SetListingThreads(1);
    t.Open();
    // real/loop is a link inside the anchored directory: a path through
    // it is refused rather than resolved.
    ReadOnlyFile f;
    EXPECT_TRUE(f.Open(t_.Path("link/x")));
    EXPECT_FALSE(f.Open(t_.Path("link/loop/real/x")));
    EXPECT_FALSE(f.Open(t_.Path("link/../real/x")));
    EXPECT_TRUE(f.Open(t_.Path("real/loop/real/x")));  // real is not below a followed link
}

}  // namespace
}  // namespace corvane
