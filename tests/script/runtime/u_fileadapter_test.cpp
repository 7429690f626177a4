// The file adapter: local files confined to Dir, stores that replace only
// unit images and are atomic when two programs store at once, the cache,
// host callbacks.
#include "script/runtime/u_fileadapter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "platform/FileIO.h"
#include "support/AsOtherUser.h"
#include "support/TempTree.h"

namespace corvane {
namespace {

using testing::AsOtherUser;
using testing::TempTree;

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
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

// The names in a directory, sorted.
std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// The bytes of a unit image; the source name makes images differ (and, at
// length n, in size).
TMemoryStream Image(const std::string& sourceName) {
    TVMC_OBJ image;
    image.SourceName = sourceName;
    TMemoryStream s;
    image.SaveToStream(s);
    return s;
}

TEST(FileAdapter, SetFileWritesEveryTimeButTheCacheKeepsTheFirst) {
    TempTree tree;
    TCachedFileAdapter a;
    a.Dir = tree.Root();
    const TMemoryStream one = Image("one"), two = Image("two");
    EXPECT_TRUE(a.SetFile("u", one));
    EXPECT_TRUE(a.SetFile("u", two));  // an image replaces an image
    EXPECT_EQ(Read(tree.Path("u")), std::string(two.View()));
    EXPECT_EQ(a.GetFile("u")->View(), one.View());
    EXPECT_EQ(Names(tree.Root()), std::vector<std::string>{"u"});  // no temporary left
    EXPECT_TRUE(a.Warnings().empty());
}

// A unit image is stored under the unit's bare name, which a user's own
// file may have: only nothing or an image is ever replaced.
TEST(FileAdapter, NeverReplacesWhatIsNotAUnitImage) {
    const std::string image(Image("x").View());
    struct Case {
        const char* what;
        std::function<void(const TempTree&)> make;
        std::string content;  // what "u" holds before and after; "" for no file
    } cases[] = {
        {"a text file", [](const TempTree& t) { t.File("u", "my notes"); }, "my notes"},
        {"an empty file", [](const TempTree& t) { t.File("u", ""); }, ""},
        {"a file that starts like an image but is not one",
         [](const TempTree& t) { t.File("u", "qv_p_compiler(1.00.00)"); },
         "qv_p_compiler(1.00.00)"},
        {"a link to an image",
         [&](const TempTree& t) {
             t.File("target", image);
             ASSERT_EQ(::symlink("target", t.Path("u").c_str()), 0);
         },
         image},
        {"a directory", [](const TempTree& t) { t.Dir("u"); }, ""},
        {"a FIFO", [](const TempTree& t) { ASSERT_EQ(::mkfifo(t.Path("u").c_str(), 0644), 0); },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempTree tree;
        tree.File("u.tmp~", "keep me too");
        c.make(tree);
        const std::vector<std::string> before = Names(tree.Root());
        TCachedFileAdapter a;
        a.Dir = tree.Root();
        EXPECT_FALSE(a.SetFile("u", Image("new")));
        ASSERT_EQ(a.Warnings().size(), 1u);
        EXPECT_EQ(a.Warnings()[0],
                  "单元映像没有保存：“" + tree.Path("u") + "”不是单元映像，保留原文件。");
        EXPECT_EQ(Names(tree.Root()), before);
        EXPECT_EQ(Read(tree.Path("u.tmp~")), "keep me too");
        struct stat st;
        ASSERT_EQ(::lstat(tree.Path("u").c_str(), &st), 0);
        if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
            EXPECT_EQ(Read(tree.Path("u")), c.content);
        }
        // The program being built still has the image, from the cache.
        ASSERT_NE(a.GetFile("u"), nullptr);
        EXPECT_EQ(a.GetFile("u")->View(), Image("new").View());
    }
}

TEST(FileAdapter, AWriteThatFailsIsAWarningNotAnError) {
    TCachedFileAdapter a;
    a.Dir = "/nonexistent-corvane-dir";
    EXPECT_FALSE(a.SetFile("u", Image("x")));
    EXPECT_EQ(a.Warnings(),
              std::vector<std::string>{"单元映像没有保存：/nonexistent-corvane-dir/u: "
                                       "No such file or directory"});
    ASSERT_NE(a.GetFile("u"), nullptr);  // kept for this run
    a.ClearWarnings();
    EXPECT_TRUE(a.Warnings().empty());

    TempTree tree;
    tree.Dir("units", 0555);
    AsOtherUser other;  // root would write anyway
    if (!other.Active() && ::geteuid() == 0) GTEST_SKIP() << "cannot drop root's rights";
    TCachedFileAdapter b;
    b.Dir = tree.Path("units");
    EXPECT_FALSE(b.SetFile("u", Image("x")));
    EXPECT_EQ(b.Warnings(), std::vector<std::string>{"单元映像没有保存：" + tree.Path("units/u") +
                                                     ": Permission denied"});
}

// Two programs storing the same unit at once (here two adapters on two
// threads, as two processes would): every store succeeds, and a reader of
// the file meanwhile always finds a whole image, never a part of one.
TEST(FileAdapter, StoresOfTheSameUnitAtOnceAreEachWholeAndAtomic) {
    TempTree tree;
    const std::string path = tree.Path("big");
    // Images of different sizes, so that a mixed or cut file shows.
    std::vector<TMemoryStream> images;
    for (int k = 0; k < 4; ++k)
        images.push_back(Image(std::string(static_cast<size_t>(20000 + 7919 * k), 'a' + k)));
    std::atomic<bool> done{false};
    std::atomic<int> failures{0}, torn{0}, reads{0};
    auto writer = [&](int first) {
        TCachedFileAdapter a;
        a.Dir = tree.Root();
        for (int i = 0; i < 300; ++i) {
            try {
                if (!a.SetFile("big", images[static_cast<size_t>((first + i) % 4)])) ++failures;
            } catch (const std::exception&) {
                ++failures;
            }
            a.ClearCache();
        }
    };
    std::thread reader([&] {
        while (!done) {
            std::vector<uint8_t> bytes;
            if (!ReadWholeFile(path, bytes)) continue;  // not there yet
            ++reads;
            const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            bool whole = false;
            for (const TMemoryStream& image : images)
                whole = whole || view == image.View();
            if (!whole) ++torn;
        }
    });
    std::thread w1(writer, 0), w2(writer, 1);
    w1.join();
    w2.join();
    done = true;
    reader.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";
    EXPECT_EQ(Names(tree.Root()), std::vector<std::string>{"big"});
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
