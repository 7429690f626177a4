// The file adapter: local files confined to Dir, the cache, host callbacks.
#include "script/runtime/u_fileadapter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "support/TempTree.h"

namespace corvane {
namespace {

using testing::TempTree;

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

TEST(FileAdapter, ReadsFromDirOnceAndKeepsTheCachedContent) {
    TempTree tree;
    tree.File("unit1", "first");
    TCachedFileAdapter a;
    a.Dir = tree.Root();
    TMemoryStream* s = a.GetFile("unit1");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->View(), "first");
    tree.File("unit1", "changed");
    EXPECT_EQ(a.GetFile("UNIT1"), s);  // cached, names ignore letter case
    EXPECT_EQ(a.GetFile("unit1")->View(), "first");
    EXPECT_EQ(a.GetFile("absent"), nullptr);
    EXPECT_EQ(a.Count(), 1);
    a.ClearCache();
    EXPECT_EQ(a.GetFile("unit1")->View(), "changed");
}

TEST(FileAdapter, DirAndNameJoinWithASlash) {
    TCachedFileAdapter a;
    a.Dir = "/tmp/units";
    EXPECT_EQ(a.PathOf("x"), "/tmp/units/x");
    a.Dir = "/tmp/units/";
    EXPECT_EQ(a.PathOf("x"), "/tmp/units/x");
    a.Dir = "";
    EXPECT_EQ(a.PathOf("x"), "x");
}

TEST(FileAdapter, SetFileWritesEveryTimeButTheCacheKeepsTheFirst) {
    TempTree tree;
    TCachedFileAdapter a;
    a.Dir = tree.Root();
    EXPECT_TRUE(a.SetFile("u", TMemoryStream(std::string_view("one"))));
    EXPECT_TRUE(a.SetFile("u", TMemoryStream(std::string_view("two"))));
    EXPECT_EQ(Read(tree.Path("u")), "two");
    EXPECT_EQ(a.GetFile("u")->View(), "one");
    EXPECT_FALSE(Exists(tree.Path("u.tmp~")));
}

TEST(FileAdapter, NamesNeverLeaveDir) {
    TempTree tree;
    tree.Dir("units");
    tree.File("secret", "outside");
    TCachedFileAdapter a;
    a.Dir = tree.Path("units");
    for (const char* bad : {"../secret", "..", "a/b", "/etc/passwd", "", "x..y"}) {
        EXPECT_EQ(a.GetFile(bad), nullptr) << bad;
        EXPECT_FALSE(a.SetFile(bad, TMemoryStream(std::string_view("x")))) << bad;
    }
    EXPECT_EQ(Read(tree.Path("secret")), "outside");
    EXPECT_EQ(a.Count(), 0);
}

TEST(FileAdapter, OnlyRegularFilesAreRead) {
    TempTree tree;
    ASSERT_EQ(::mkfifo(tree.Path("fifo").c_str(), 0644), 0);
    tree.Dir("sub");
    TCachedFileAdapter a;
    a.Dir = tree.Root();
    EXPECT_EQ(a.GetFile("fifo"), nullptr);  // refused, never waits for a writer
    EXPECT_EQ(a.GetFile("sub"), nullptr);
}

TEST(FileAdapter, WriteFailureRaises) {
    TCachedFileAdapter a;
    a.Dir = "/nonexistent-corvane-dir";
    EXPECT_THROW(a.SetFile("u", TMemoryStream(std::string_view("x"))), EScriptError);
}

TEST(FileAdapter, HostCallbacksWhenNotLocal) {
    TCachedFileAdapter a;
    a.LocalFile = false;
    EXPECT_EQ(a.GetFile("u"), nullptr);  // no callback: nothing
    EXPECT_FALSE(a.SetFile("v", TMemoryStream(std::string_view("x"))));
    std::vector<std::string> asked, stored;
    a.OnGetFile = [&](const std::string& name, TMemoryStream& s, bool& handled) {
        asked.push_back(name);
        if (name == "known") {
            s.WriteString("abc");
            handled = true;
        }
    };
    a.OnSetFile = [&](const std::string& name, TMemoryStream& s, bool& handled) {
        stored.push_back(name + ":" + std::to_string(s.Size()));
        handled = true;
    };
    TMemoryStream* s = a.GetFile("known");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->Position(), 0u);
    EXPECT_EQ(a.GetFile("unknown"), nullptr);
    EXPECT_EQ(a.GetFile("known"), s);
    EXPECT_EQ(asked, (std::vector<std::string>{"known", "unknown"}));
    EXPECT_TRUE(a.SetFile("w", TMemoryStream(std::string_view("12345"))));
    EXPECT_EQ(stored, std::vector<std::string>{"w:5"});
    // Host names are the host's business: no confinement to a directory.
    EXPECT_TRUE(a.SetFile("a/b", TMemoryStream(std::string_view("x"))));
}

TEST(FileAdapter, CachePutKeepsTheFirstStream) {
    TCachedFileAdapter a;
    EXPECT_EQ(a.CachePut("x", nullptr), -1);
    EXPECT_EQ(a.CachePut("x", std::make_unique<TMemoryStream>(std::string_view("1"))), 0);
    EXPECT_EQ(a.CachePut("X", std::make_unique<TMemoryStream>(std::string_view("2"))), 0);
    EXPECT_EQ(a.StreamAt(0)->View(), "1");
    EXPECT_EQ(a.StreamAt(5), nullptr);
    EXPECT_EQ(a.IndexOf("nope"), -1);
}

TEST(FileAdapter, BuildersLearnWhenTheAdapterGoes) {
    struct Client : TAdapterClient {
        TFileAdapter* gone = nullptr;
        void AdapterGone(TFileAdapter* a) override { gone = a; }
    } kept, left;
    TFileAdapter* address;
    {
        TCachedFileAdapter a;
        address = &a;
        a.RegisterBuilder("b1", &kept);
        a.RegisterBuilder("b2", &left);
        a.UnregisterBuilder(&left);
    }
    EXPECT_EQ(kept.gone, address);
    EXPECT_EQ(left.gone, nullptr);
}

}  // namespace
}  // namespace corvane
