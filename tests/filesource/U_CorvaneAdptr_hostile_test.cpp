// The file source on hostile and large trees, made by the tests in
// temporary folders: directories that change, vanish or are swapped for
// links and FIFOs while they are listed, directories the user may not read
// or enter, names and paths beyond the kernel's limits, symbolic link
// loops, FIFOs, sockets and devices (proved never opened), sparse files
// beyond 4 GiB, a directory of 100 000 entries, and the `count` column,
// which comes from the walk itself wherever it can and must read exactly
// as a counting pass would.
#include <fcntl.h>
#include <malloc.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "filesource/U_CorvaneAdptr.h"
#include "platform/FileSystem.h"
#include "support/AsOtherUser.h"
#include "support/PeImageBuilder.h"
#include "support/TempTree.h"

namespace corvane {
namespace {

using testing::AsOtherUser;
using testing::BuildPeImage;
using testing::TempTree;

struct Rec {
    std::string path, filename, version;
    int64_t size = 0, attri = 0, count = 0;
    bool isdir = false;
};

// Reads every record the way the engine does; version only when asked
// (it opens files).
std::vector<Rec> ReadAll(IXSimpleDataset& ds, bool withVersion = true) {
    std::vector<Rec> rows;
    if (ds.GetRecordCount() == 0) return rows;
    Variant v;
    for (ds.First(); !ds.Eof(); ds.Next()) {
        Rec r;
        ds.GetFieldValue(fcPath, v);
        r.path = v.RawString();
        ds.GetFieldValue(fcFilename, v);
        r.filename = v.RawString();
        ds.GetFieldValue(fcSize, v);
        r.size = v.RawInteger();
        ds.GetFieldValue(fcAttri, v);
        r.attri = v.RawInteger();
        ds.GetFieldValue(fcCount, v);
        r.count = v.RawInteger();
        ds.GetFieldValue(fcIsDir, v);
        r.isdir = v.RawBoolean();
        if (withVersion) {
            ds.GetFieldValue(fcVersion, v);
            r.version = v.RawString();
        }
        rows.push_back(r);
    }
    return rows;
}

struct Loaded {
    bool active = false;
    std::vector<Rec> rows;
};

Loaded Load(const std::string& text, IFilterObject* filter = nullptr,
            IProgress* progress = nullptr) {
    TVeskDSAdapterForFile table(text);
    table.SetFilter(filter);
    table.SetProgress(progress);
    table.Open();
    table.SetFilter(nullptr);
    table.SetProgress(nullptr);
    return {table.Active(), ReadAll(table)};
}

// How often each name was listed.
std::map<std::string, int> Tally(const std::vector<Rec>& rows) {
    std::map<std::string, int> n;
    for (const Rec& r : rows)
        ++n[r.filename];
    return n;
}

// The count a counting pass gives for directory name in dir, now.
int64_t CountNow(const std::string& dir, const std::string& name) {
    FileHandle parent = OpenDirectoryPath(dir);
    if (!parent.Valid()) return 0;
    DirBuffer buffer;
    return CountSubDirectoryEntries(parent.Get(), name.c_str(), buffer);
}

void ExpectCountsAsACountingPass(const std::vector<Rec>& rows, const std::string& what) {
    int dirs = 0;
    for (const Rec& r : rows) {
        if (!r.isdir) continue;
        ++dirs;
        EXPECT_EQ(r.count, CountNow(r.path, r.filename))
            << what << ": " << r.path << " / " << r.filename;
    }
    EXPECT_GT(dirs, 0) << what;
}

// Creation relative to a directory descriptor: works at any depth.
void MakeFile(int dirFd, const std::string& name, const std::string& content = "") {
    int fd = ::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << name << ": " << std::strerror(errno);
    if (!content.empty()) {
        ASSERT_EQ(::write(fd, content.data(), content.size()),
                  static_cast<ssize_t>(content.size()));
    }
    ::close(fd);
}

FileHandle MakeDir(int dirFd, const std::string& name) {
    EXPECT_EQ(::mkdirat(dirFd, name.c_str(), 0755), 0) << name << ": " << std::strerror(errno);
    return OpenSubDirectory(dirFd, name.c_str());
}

// n entries that are hard links to a few files: the cheapest way to fill a
// directory (a file takes at most 65 000 links on ext4).
void FillWithLinks(int dirFd, int n, const char* prefix) {
    std::string base;
    for (int i = 0; i < n; ++i) {
        const std::string name = prefix + std::to_string(i);
        if (i % 50000 == 0) {
            MakeFile(dirFd, name);
            base = name;
            continue;
        }
        ASSERT_EQ(::linkat(dirFd, base.c_str(), dirFd, name.c_str(), 0), 0) << std::strerror(errno);
    }
}

// Removes a tree, whatever is in it.
void RemoveTree(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

// Accepts every candidate; runs an action (once) when it is handed an
// entry of a given name: the hook through which tests change the tree
// while it is being listed.
class HookFilter : public IFilterObject {
  public:
    std::map<std::string, std::function<void()>> actions;
    void SetValue(int i, const Variant& v) override {
        if (i == fcFilename) name_ = v.RawString();
    }
    Variant Evaluate() override {
        auto it = actions.find(name_);
        if (it != actions.end()) {
            auto action = std::move(it->second);
            actions.erase(it);
            action();
        }
        return Variant(true);
    }

  private:
    std::string name_;
};

class CancelAtFirstReport : public IProgress {
  public:
    void Listed(long long) override { ++calls; }
    bool Cancelled() const override { return calls > 0; }
    int calls = 0;
};

// ---------------------------------------------------------------------------
// count

// Fixture: a/ (files), a/b/ (empty), a/b/c/ (a file), .hid/ (hidden: listed
// but not entered by /s), ro/ (0555), locked/ (nobody may read it), link ->
// a, a FIFO.
class Counts : public ::testing::Test {
  protected:
    void SetUp() override {
        t_.Dir("a");
        for (const char* n : {"a/1", "a/2", "a/3"})
            t_.File(n);
        t_.Dir("a/b");
        t_.Dir("a/b/c");
        t_.File("a/b/c/x");
        t_.Dir(".hid");
        t_.File(".hid/1");
        t_.File(".hid/2");
        t_.Dir("ro");
        t_.File("ro/1");
        ::chmod(t_.Path("ro").c_str(), 0555);
        t_.Dir("locked", 0700);
        t_.File("locked/1");
        ASSERT_EQ(::symlink("a", t_.Path("link").c_str()), 0);
        ASSERT_EQ(::mkfifo(t_.Path("fifo").c_str(), 0644), 0);
    }
    TempTree t_;
};

TEST_F(Counts, ReadAsACountingPassWithAndWithoutRecursionOrFilter) {
    HookFilter acceptAll;
    for (const char* options : {" /s/all", " /s", " /all", " /s/all/a-h", " /s/ar"}) {
        const std::string text = "'" + t_.Root() + options + "'";
        ExpectCountsAsACountingPass(Load(text).rows, text);
        ExpectCountsAsACountingPass(Load(text, &acceptAll).rows, text + " filtered");
    }
    AsOtherUser other;
    if (!other.Active()) return;
    ExpectCountsAsACountingPass(Load("'" + t_.Root() + " /s/all'").rows, "as nobody");
    for (const Rec& r : Load("'" + t_.Root() + " /s/all'").rows)
        if (r.filename == "locked") {
            EXPECT_EQ(r.count, 0);
        }
}

// With a filter, directories are read ahead for their count and listed
// later from that reading, within a budget of 128 held directories: more
// sub-directories than that in one directory take both ways. Either way the
// records and their order are those of the plain listing.
TEST(FilteredListing, GivesThePlainListingsRecordsInItsOrder) {
    TempTree t;
    FileHandle root = OpenDirectoryPath(t.Root());
    for (int i = 0; i < 150; ++i) {
        FileHandle d = MakeDir(root.Get(), "d" + std::to_string(i));
        MakeFile(d.Get(), "f.txt", "x");
        FileHandle inner = MakeDir(d.Get(), "inner");
        MakeFile(inner.Get(), "g" + std::to_string(i));
    }
    MakeFile(root.Get(), "top.txt");
    const std::string text = "'" + t.Root() + " /s'";
    HookFilter acceptAll;
    auto plain = Load(text).rows;
    auto filtered = Load(text, &acceptAll).rows;
    ASSERT_EQ(plain.size(), 150u * 4 + 1);
    ASSERT_EQ(filtered.size(), plain.size());
    for (size_t i = 0; i < plain.size(); ++i) {
        EXPECT_EQ(filtered[i].path, plain[i].path) << i;
        EXPECT_EQ(filtered[i].filename, plain[i].filename) << i;
        EXPECT_EQ(filtered[i].count, plain[i].count) << i;
        EXPECT_EQ(filtered[i].attri, plain[i].attri) << i;
        EXPECT_EQ(filtered[i].size, plain[i].size) << i;
    }
}

// A listing stopped part-way leaves the counts of directories it did not
// finish; reading the column works them out, also below PATH_MAX.
TEST(CountsOfAnUnfinishedListing, AreWorkedOutWhenRead) {
    TempTree t;
    FileHandle dir = OpenDirectoryPath(t.Root());
    std::string path = t.Root();
    const std::string longName(250, 'p');
    for (int i = 0; i < 20; ++i) {  // about 5 000 bytes of path
        dir = MakeDir(dir.Get(), longName);
        path += "/" + longName;
    }
    for (const char* name : {"big1", "big2"}) {
        FileHandle big = MakeDir(dir.Get(), name);
        FillWithLinks(big.Get(), 2100, "f");
    }
    FileHandle small = MakeDir(dir.Get(), "small");
    MakeFile(small.Get(), "s");

    TVeskDSAdapterForFile table("'" + path + " /s'");
    CancelAtFirstReport cancel;
    table.SetProgress(&cancel);
    table.Open();
    table.SetProgress(nullptr);
    EXPECT_FALSE(table.Active());
    ASSERT_GT(table.GetRecordCount(), 0);
    // Whichever order the walk took, the second big directory was cut short.
    int pending = 0;
    for (int i = 0; i < table.GetRecordCount(); ++i)
        pending += (table.RecordAt(i).computed & TFileRecord::rcCountPending) != 0;
    EXPECT_GE(pending, 1);
    auto rows = ReadAll(table, false);
    std::map<std::string, int64_t> counts;
    for (const Rec& r : rows)
        if (r.isdir) counts[r.filename] = r.count;
    EXPECT_EQ(counts,
              (std::map<std::string, int64_t>{{"big1", 2102}, {"big2", 2102}, {"small", 3}}));
    for (int i = 0; i < table.GetRecordCount(); ++i)
        EXPECT_EQ(table.RecordAt(i).computed & TFileRecord::rcCountPending, 0);
}

// ---------------------------------------------------------------------------
// Trees that change while they are listed

// Fixture: t.txt, d1/x1.txt, d1/sub/y.txt, d2/x2.txt, d3/x3.txt. The
// action runs when the listing meets the trigger entry; t.txt is met while
// the table's own directory is read, before any sub-directory is entered.
TEST(ChangingTree, EachChangeGivesASoundListing) {
    TempTree outside;
    outside.File("secret.txt");
    struct Case {
        const char* name;
        const char* trigger;
        std::function<void(const TempTree&)> change;
        std::set<std::string> present;  // listed exactly once
        std::set<std::string> absent;
    } cases[] = {
        {"queued directory removed",
         "t.txt",
         [](const TempTree& t) { RemoveTree(t.Path("d2")); },
         {"t.txt", "d1", "x1.txt", "sub", "y.txt", "d3", "x3.txt"},
         {"x2.txt"}},
        {"queued directory swapped for a link to elsewhere",
         "t.txt",
         [&](const TempTree& t) {
             RemoveTree(t.Path("d2"));
             ASSERT_EQ(::symlink(outside.Root().c_str(), t.Path("d2").c_str()), 0);
         },
         {"t.txt", "x1.txt", "y.txt", "x3.txt"},
         {"x2.txt", "secret.txt"}},
        {"queued directory swapped for a FIFO",
         "t.txt",
         [](const TempTree& t) {
             RemoveTree(t.Path("d2"));
             ASSERT_EQ(::mkfifo(t.Path("d2").c_str(), 0644), 0);
         },
         {"t.txt", "x1.txt", "y.txt", "x3.txt"},
         {"x2.txt"}},
        {"directory removed while it is read",
         "x1.txt",
         [](const TempTree& t) { RemoveTree(t.Path("d1")); },
         {"t.txt", "x1.txt", "x3.txt", "x2.txt"},
         {"y.txt"}},
        {"entries added while it is read",
         "x1.txt",
         [](const TempTree& t) {
             for (int i = 0; i < 300; ++i)
                 t.File("d1/new" + std::to_string(i));
         },
         {"t.txt", "x1.txt", "sub", "y.txt", "x2.txt", "x3.txt"},
         {}},
        {"table's own directory emptied",
         "t.txt",
         [](const TempTree& t) {
             for (const char* d : {"d1", "d2", "d3"})
                 RemoveTree(t.Path(d));
         },
         {"t.txt"},
         {"x1.txt", "x2.txt", "x3.txt", "y.txt"}},
    };
    for (const Case& c : cases) {
        TempTree t;
        t.File("t.txt");
        t.Dir("d1");
        t.File("d1/x1.txt");
        t.Dir("d1/sub");
        t.File("d1/sub/y.txt");
        t.Dir("d2");
        t.File("d2/x2.txt");
        t.Dir("d3");
        t.File("d3/x3.txt");
        HookFilter hook;
        hook.actions[c.trigger] = [&] { c.change(t); };
        Loaded got = Load("'" + t.Root() + " /s/all'", &hook);
        EXPECT_TRUE(hook.actions.empty()) << c.name << ": the change did not happen";
        EXPECT_TRUE(got.active) << c.name;
        auto tally = Tally(got.rows);
        for (const std::string& n : c.present)
            EXPECT_EQ(tally[n], 1) << c.name << ": " << n;
        for (const std::string& n : c.absent)
            EXPECT_EQ(tally.count(n), 0u) << c.name << ": " << n;
        for (const Rec& r : got.rows)
            EXPECT_EQ(r.path.compare(0, t.Root().size(), t.Root()), 0) << c.name << ": " << r.path;
    }
}

// Deeper than the descriptors kept open, a directory is moved out from
// under the walk. The way back through ".." then leads elsewhere; the walk
// finds its way down from the table's directory and lists the rest.
TEST(ChangingTree, DirectoryMovedBelowParkedAncestorsLosesNothing) {
    TempTree t;
    const int levels = 72;
    FileHandle dir = OpenDirectoryPath(t.Root());
    std::string rel;
    std::vector<std::string> levelPaths;  // relative, of levels 0..levels
    std::set<std::string> siblingFiles;
    for (int i = 0; i <= levels; ++i) {
        levelPaths.push_back(rel);
        if (i <= 8) {
            // Siblings of the deep branch at the levels whose directories
            // get parked; some come after it in enumeration order.
            for (int k = 0; k < 8; ++k) {
                FileHandle s = MakeDir(dir.Get(), "s" + std::to_string(k));
                const std::string file = "s" + std::to_string(i) + "_" + std::to_string(k) + ".txt";
                MakeFile(s.Get(), file);
                siblingFiles.insert(file);
            }
        }
        if (i == levels) break;
        dir = MakeDir(dir.Get(), "n");
        rel += rel.empty() ? "n" : "/n";
    }
    MakeFile(dir.Get(), "bottom.txt");

    HookFilter hook;
    hook.actions["bottom.txt"] = [&] {
        // Level 7 moves to the table's directory: its ".." is no longer
        // level 6, which is parked by now.
        ASSERT_EQ(::rename(t.Path(levelPaths[7]).c_str(), t.Path("moved").c_str()), 0);
    };
    Loaded got = Load("'" + t.Root() + " /s'", &hook);
    EXPECT_TRUE(hook.actions.empty());
    EXPECT_TRUE(got.active);
    auto tally = Tally(got.rows);
    EXPECT_EQ(tally["bottom.txt"], 1);
    for (const std::string& f : siblingFiles)
        EXPECT_EQ(tally[f], 1) << f;
    EXPECT_EQ(tally["n"], levels);
}

// ---------------------------------------------------------------------------
// Permissions

TEST(Permissions, UnreadableAndUnenterableDirectoriesAsAnotherUser) {
    TempTree t;
    // Group and others alike: the other user keeps the group of the test.
    struct Dir {
        const char* name;
        mode_t mode;
    } dirs[] = {{"fine", 0755}, {"noread", 0711}, {"noenter", 0744}, {"nothing", 0700}};
    for (const Dir& d : dirs) {
        t.Dir(d.name);
        t.File(std::string(d.name) + "/in.txt");
        t.Dir(std::string(d.name) + "/deeper");
        t.File(std::string(d.name) + "/deeper/d.txt");
        ::chmod(t.Path(d.name).c_str(), d.mode);
    }
    t.Bytes("secret.exe", BuildPeImage(0x00010002).bytes);
    ::chmod(t.Path("secret.exe").c_str(), 0600);

    AsOtherUser other;
    if (!other.Active() && ::geteuid() == 0) GTEST_SKIP() << "cannot act as another user";
    if (OpenDirectoryPath(t.Path("nothing")).Valid())
        GTEST_SKIP() << "permissions cannot be shown in this environment";

    Loaded got = Load("'" + t.Root() + " /s/all'");
    EXPECT_TRUE(got.active);
    std::map<std::string, std::vector<std::string>> byDir;
    std::map<std::string, Rec> top;
    for (const Rec& r : got.rows) {
        byDir[r.path].push_back(r.filename);
        if (r.path == t.Root()) top[r.filename] = r;
    }
    EXPECT_EQ(byDir[t.Path("fine")].size(), 2u);
    EXPECT_EQ(byDir[t.Path("fine/deeper")].size(), 1u);
    for (const char* d : {"noread", "noenter", "nothing"}) {
        EXPECT_EQ(byDir.count(t.Path(d)), 0u) << d;  // nothing inside is listed
        EXPECT_EQ(top[d].count, CountNow(t.Root(), d)) << d;
    }
    EXPECT_EQ(top["noenter"].count, 4);  // its names can be read, not examined
    EXPECT_EQ(top["noread"].count, 0);
    EXPECT_EQ(top["secret.exe"].version, "");  // unreadable: no version, no fault

    for (const char* d : {"nothing", "noread", "nothing/deeper", "noenter/deeper"}) {
        Loaded inside = Load("'" + t.Path(d) + " /s/all'");
        EXPECT_TRUE(inside.active) << d;
        EXPECT_TRUE(inside.rows.empty()) << d;
    }
}

// ---------------------------------------------------------------------------
// Long names and paths

TEST(LongNames, LongestNamesAndPathsSeveralTimesPathMax) {
    TempTree t;
    const std::string dirName(255, 'd');
    std::string exeName(251, 'e');
    exeName += ".exe";
    std::string wide;
    for (int i = 0; i < 85; ++i)
        wide += "中";  // 255 bytes
    ASSERT_EQ(wide.size(), 255u);

    FileHandle dir = OpenDirectoryPath(t.Root());
    std::string path = t.Root();
    const int levels = 40;  // 40 * 256 bytes: about 2.5 times PATH_MAX
    for (int i = 0; i < levels; ++i) {
        MakeFile(dir.Get(), wide);
        dir = MakeDir(dir.Get(), dirName);
        path += "/" + dirName;
    }
    auto image = BuildPeImage(0x00060007).bytes;
    MakeFile(dir.Get(), exeName, std::string(image.begin(), image.end()));
    FileHandle leaf = MakeDir(dir.Get(), "leaf");
    ASSERT_GT(path.size(), 2u * 4096u);

    for (const std::string& root : {t.Root(), path}) {
        Loaded got = Load("'" + root + " /s'");
        EXPECT_TRUE(got.active);
        bool sawExe = false;
        for (const Rec& r : got.rows) {
            if (r.filename == exeName) {
                sawExe = true;
                EXPECT_EQ(r.path, path);
                EXPECT_EQ(r.version, std::to_string(6 * 65536 + 7));
            }
            if (r.filename == "leaf") {
                EXPECT_EQ(r.count, 2);
            }
            if (r.filename == dirName) {
                EXPECT_EQ(r.count, 4) << r.path.size();  // ., .., wide, next
            }
        }
        EXPECT_TRUE(sawExe) << root.size();
        if (root == t.Root()) {
            EXPECT_EQ(Tally(got.rows)[wide], levels);
            EXPECT_EQ(got.rows.size(), static_cast<size_t>(levels * 2 + 2));
        }
    }
    EXPECT_TRUE(DirectoryExists(path));
    EXPECT_TRUE(DirectoryExists(path + "/leaf"));
}

// Every level of a deep chain has records, so every level's `path` is
// served; stored whole per directory they would take the square of the
// depth (here about 80 MB), stored as a tree of names they take the names.
TEST(LongNames, DeepTreeMemoryGrowsWithTheNamesNotTheSquareOfTheDepth) {
    TempTree t;
    const std::string name(255, 'd');
    const int levels = 800;
    FileHandle dir = OpenDirectoryPath(t.Root());
    for (int i = 0; i < levels; ++i) {
        MakeFile(dir.Get(), "f");
        dir = MakeDir(dir.Get(), name);
        ASSERT_TRUE(dir.Valid());
    }
    const size_t before = ::mallinfo2().uordblks;
    TVeskDSAdapterForFile table("'" + t.Root() + " /s'");
    table.Open();
    const size_t after = ::mallinfo2().uordblks;
    EXPECT_TRUE(table.Active());
    ASSERT_EQ(table.GetRecordCount(), 2 * levels);
    // (An allocator that reports nothing, as under a sanitizer, shows 0.)
    EXPECT_LT(after > before ? after - before : 0, size_t{16} << 20);
    // The deepest path reads in full.
    const TFileRecord& last = table.RecordAt(table.GetRecordCount() - 1);
    EXPECT_EQ(table.PathOf(last).size(), t.Root().size() + (levels - 1) * 256u);
}

TEST(OddNames, ComeBackByteForByteAlsoAsDirectoriesAndInPaths) {
    TempTree t;
    const std::vector<std::string> names = {
        "new\nline",   "cr\rlf\r\n",      "quote\"d", "apo's",  "back\\slash", "bad\xff\xfe",
        "cut\xe4\xb8", "\x01\x1b[31mred", "-dash",    "star*?", "   ",         "comma,semi;"};
    for (const std::string& n : names) {
        t.Dir(n);
        t.File(n + "/" + n + ".txt");
    }
    Loaded got = Load("'" + t.Root() + " /s'");
    EXPECT_TRUE(got.active);
    std::map<std::string, std::string> pathOf;
    for (const Rec& r : got.rows)
        pathOf[r.filename] = r.path;
    for (const std::string& n : names) {
        ASSERT_TRUE(pathOf.count(n)) << n;
        EXPECT_EQ(pathOf[n], t.Root());
        EXPECT_EQ(pathOf[n + ".txt"], t.Root() + "/" + n);
    }
    // A filter that holds the odd bytes matches them literally.
    Loaded one = Load("'" + t.Root() + "/new\nline/*e.txt'");
    ASSERT_EQ(one.rows.size(), 1u);
    EXPECT_EQ(one.rows[0].filename, "new\nline.txt");
}

// ---------------------------------------------------------------------------
// Links, FIFOs, sockets, devices

TEST(SymlinkLoops, AreListedAsLinksAndNeverFollowed) {
    TempTree t;
    t.Dir("real");
    t.File("real/inside.txt");
    struct Link {
        const char* name;
        const char* target;
    } links[] = {{"a", "b"},   {"b", "a"},   {"self", "self"},
                 {"dot", "."}, {"up", ".."}, {"x.exe", "real/inside.txt"}};
    for (const Link& l : links)
        ASSERT_EQ(::symlink(l.target, t.Path(l.name).c_str()), 0);
    // A chain longer than the kernel follows (40).
    for (int i = 0; i < 45; ++i)
        ASSERT_EQ(::symlink(i == 44 ? "real" : ("c" + std::to_string(i + 1)).c_str(),
                            t.Path("c" + std::to_string(i)).c_str()),
                  0);

    Loaded got = Load("'" + t.Root() + " /s/all'");
    EXPECT_TRUE(got.active);
    auto tally = Tally(got.rows);
    EXPECT_EQ(tally["inside.txt"], 1);
    EXPECT_EQ(got.rows.size(), 2u + 6u + 45u);
    for (const Rec& r : got.rows) {
        if (r.filename == "real" || r.filename == "inside.txt") continue;
        EXPECT_EQ(r.attri, faSysFile) << r.filename;
        EXPECT_EQ(r.count, 0) << r.filename;
        EXPECT_EQ(r.version, "") << r.filename;
    }
    // The table's own path is resolved as typed, so a loop or an overlong
    // chain there finds no directory: the table names an entry that is no
    // directory, the link itself, and lists that alone.
    for (const char* root : {"a", "self", "c0"}) {
        Loaded loop = Load("'" + t.Path(root) + " /s/all'");
        EXPECT_TRUE(loop.active) << root;
        ASSERT_EQ(loop.rows.size(), 1u) << root;
        EXPECT_EQ(loop.rows[0].filename, root);
        EXPECT_EQ(loop.rows[0].attri, faSysFile) << root;
    }
    EXPECT_EQ(Load("'" + t.Path("c40") + "'").rows.size(), 1u);  // a chain the kernel follows
}

// Watches opens of the entries of one directory (inotify), and unblocks
// any reader of its FIFOs should the code under test open one after all,
// so that a fault shows as a failure, not as a hung test.
class OpenWatch {
  public:
    OpenWatch(const std::string& dir, std::vector<std::string> fifos)
        : dir_(dir), fifos_(std::move(fifos)) {
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0) ::inotify_add_watch(fd_, dir.c_str(), IN_OPEN);
        guard_ = std::thread([this] {
            std::unique_lock<std::mutex> lock(m_);
            if (cv_.wait_for(lock, std::chrono::seconds(30), [this] { return done_; })) return;
            for (const std::string& f : fifos_) {
                int w = ::open((dir_ + "/" + f).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (w >= 0) ::close(w);
            }
        });
    }
    ~OpenWatch() {
        {
            std::lock_guard<std::mutex> lock(m_);
            done_ = true;
        }
        cv_.notify_all();
        guard_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    bool Active() const { return fd_ >= 0; }
    // Names opened since the last call.
    std::multiset<std::string> Opened() {
        std::multiset<std::string> names;
        alignas(inotify_event) char buf[8192];
        for (;;) {
            ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) break;
            for (char* p = buf; p < buf + n;) {
                auto* ev = reinterpret_cast<inotify_event*>(p);
                if (ev->len > 0) names.insert(ev->name);
                p += sizeof(inotify_event) + ev->len;
            }
        }
        return names;
    }

  private:
    std::string dir_;
    std::vector<std::string> fifos_;
    int fd_ = -1;
    std::mutex m_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread guard_;
};

TEST(SpecialFiles, FifosSocketsAndDevicesAreNeverOpened) {
    TempTree t;
    t.Bytes("app.exe", BuildPeImage(0x00010002).bytes);
    ASSERT_EQ(::mkfifo(t.Path("pipe.exe").c_str(), 0644), 0);
    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sockPath = t.Path("sock.exe");
    ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, sockPath.c_str(), sockPath.size() + 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    // A device that would never end reading, where the system allows one.
    const bool device = ::mknod(t.Path("zero.exe").c_str(), S_IFCHR | 0666, makedev(1, 5)) == 0;

    OpenWatch watch(t.Root(), {"pipe.exe", "swapped.exe"});
    ASSERT_TRUE(watch.Active());
    Loaded got = Load("'" + t.Root() + " /all'");  // every column, version included
    ::close(sock);
    EXPECT_TRUE(got.active);
    std::map<std::string, Rec> by;
    for (const Rec& r : got.rows)
        by[r.filename] = r;
    EXPECT_EQ(by["app.exe"].version, std::to_string(65536 + 2));
    for (const char* n : {"pipe.exe", "sock.exe"}) {
        ASSERT_TRUE(by.count(n)) << n;
        EXPECT_EQ(by[n].attri, faSysFile) << n;
        EXPECT_EQ(by[n].version, "") << n;
    }
    if (device) {
        EXPECT_EQ(by["zero.exe"].attri, faSysFile);
    }
    auto opened = watch.Opened();
    EXPECT_EQ(opened.count("app.exe"), 1u);  // the watch sees opens at all
    EXPECT_EQ(opened.count("pipe.exe"), 0u);
    EXPECT_EQ(opened.count("sock.exe"), 0u);
    EXPECT_EQ(opened.count("zero.exe"), 0u);

    // A file swapped for a FIFO after the listing, before its version is
    // read, is not opened either.
    t.Bytes("swapped.exe", BuildPeImage(0x00010002).bytes);
    TVeskDSAdapterForFile table("'" + t.Root() + "/swapped.exe'");
    table.Open();
    ASSERT_EQ(table.GetRecordCount(), 1);
    ASSERT_EQ(::unlink(t.Path("swapped.exe").c_str()), 0);
    ASSERT_EQ(::mkfifo(t.Path("swapped.exe").c_str(), 0644), 0);
    watch.Opened();
    table.First();
    Variant v;
    table.GetFieldValue(fcVersion, v);
    EXPECT_EQ(v.RawString(), "");
    EXPECT_EQ(watch.Opened().count("swapped.exe"), 0u);
}

// ---------------------------------------------------------------------------
// Large files and directories

TEST(LargeFiles, SparseFilesBeyondFourGiB) {
    TempTree t;
    auto image = BuildPeImage(0x00020003).bytes;
    t.Bytes("huge.exe", image);
    struct Case {
        const char* name;
        int64_t size;
    } cases[] = {{"huge.exe", (int64_t{5} << 30) + 10},
                 {"four.dat", int64_t{4} << 30},
                 {"tib.dat", int64_t{1} << 40}};
    for (const Case& c : cases) {
        int fd = ::open(t.Path(c.name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, c.size), 0) << c.name;
        ::close(fd);
    }
    HookFilter acceptAll;
    for (IFilterObject* filter :
         {static_cast<IFilterObject*>(nullptr), static_cast<IFilterObject*>(&acceptAll)}) {
        std::map<std::string, Rec> by;
        for (const Rec& r : Load("'" + t.Root() + "'", filter).rows)
            by[r.filename] = r;
        for (const Case& c : cases)
            EXPECT_EQ(by[c.name].size, c.size) << c.name;
        EXPECT_EQ(by["huge.exe"].version, std::to_string(2 * 65536 + 3));
    }
}

TEST(LargeDirectory, HundredThousandEntries) {
    TempTree t;
    const int n = 100000;
    t.Dir("big");
    {
        FileHandle big = OpenDirectoryPath(t.Path("big"));
        FillWithLinks(big.Get(), n, "f");
    }
    struct Watch : IProgress {
        void Listed(long long) override { ++calls; }
        bool Cancelled() const override { return false; }
        int calls = 0;
    } progress;

    Loaded got = Load("'" + t.Root() + " /s'", nullptr, &progress);
    EXPECT_TRUE(got.active);
    ASSERT_EQ(got.rows.size(), static_cast<size_t>(n) + 1);
    EXPECT_GE(progress.calls, n / 4096);
    std::set<std::string> names;
    for (const Rec& r : got.rows) {
        names.insert(r.filename);
        if (r.filename == "big") {
            EXPECT_EQ(r.count, n + 2);
        }
    }
    EXPECT_EQ(names.size(), static_cast<size_t>(n) + 1);

    HookFilter acceptAll;  // the count then comes from a counting pass
    Loaded filtered = Load("'" + t.Root() + " /s'", &acceptAll);
    ASSERT_EQ(filtered.rows.size(), static_cast<size_t>(n) + 1);
    for (const Rec& r : filtered.rows)
        if (r.filename == "big") {
            EXPECT_EQ(r.count, n + 2);
        }

    EXPECT_EQ(Load("'" + t.Path("big") + "/f9999?'").rows.size(), 10u);
}

}  // namespace
}  // namespace corvane
