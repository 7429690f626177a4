// The OS side of listings: attribute mapping, name matching, reading and
// counting directories, statx without following links, and opening files
// safely.
#include "platform/FileSystem.h"

#include <fcntl.h>
#include <linux/limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "support/AsOtherUser.h"
#include "support/TempTree.h"

namespace corvane {
namespace {

using testing::AsOtherUser;
using testing::TempTree;

TEST(AttributesFromMode, MapsLinuxTypesOntoTheSixBits) {
    struct Case {
        uint32_t mode;
        const char* name;
        uint32_t attr;
    } cases[] = {
        {S_IFREG | 0644, "a.txt", faArchive},
        {S_IFREG | 0444, "a.txt", faArchive | faReadOnly},
        {S_IFREG | 0244, "w-only", faArchive},  // only the owner write bit counts
        {S_IFREG | 0577, "a", faArchive | faReadOnly},
        {S_IFREG | 0644, ".profile", faArchive | faHidden},
        {S_IFDIR | 0755, "sub", faDirectory},
        {S_IFDIR | 0555, "ro", faDirectory | faReadOnly},
        {S_IFDIR | 0755, ".git", faDirectory | faHidden},
        {S_IFLNK | 0777, "link", faSysFile},
        {S_IFLNK | 0777, ".link", faSysFile | faHidden},
        {S_IFIFO | 0644, "fifo", faSysFile},
        {S_IFIFO | 0444, "fifo", faSysFile | faReadOnly},
        {S_IFSOCK | 0755, "sock", faSysFile},
        {S_IFCHR | 0666, "null", faSysFile},
        {S_IFBLK | 0660, "sda", faSysFile},
    };
    for (auto& c : cases)
        EXPECT_EQ(AttributesFromMode(c.mode, c.name), c.attr)
            << c.name << " " << std::oct << c.mode;
}

TEST(WildcardMatch, StarAndQuestionMarkCaseSensitive) {
    struct Case {
        const char* name;
        const char* mask;
        bool match;
    } cases[] = {
        {"report.txt", "*", true},
        {"report.txt", "*.txt", true},
        {"report.TXT", "*.txt", false},  // names compare case-sensitively
        {"report.txt", "r?port.*", true},
        {"report.txt", "*.t?", false},
        {"README", "*.*", false},  // no special meaning for "*.*"
        {".profile", "*", true},
        {".profile", "*profile", true},
        {"", "*", true},
        {"a", "", false},
        {"abc", "a*b*c", true},
        {"aXbYc", "a*b*c", true},
        {"ab", "a*b*c", false},
        {"mississippi", "*iss*ppi", true},
        {"mississippi", "m*iss*iss*", true},
        {"mississippi", "m*iss*iss*iss*", false},
        {"a*b", "a*b", true},
        {"a.txt", "*.txt ", true},  // blanks at the end of the mask are ignored
        {"a.txt ", "*.txt", false},
        {"中文.txt", "??????.txt", true},  // bytes: two characters are six bytes
        {"中文.txt", "中*", true},
    };
    for (auto& c : cases)
        EXPECT_EQ(WildcardMatch(c.name, c.mask), c.match) << c.name << " ~ " << c.mask;
}

std::set<std::string> ReadAll(int fd, bool& failed) {
    DirBuffer buf;
    DirReader reader(fd, buf);
    std::set<std::string> names;
    RawDirEntry e;
    while (reader.Next(e))
        names.insert(std::string(e.name, e.nameLength));
    failed = reader.Failed();
    return names;
}

TEST(DirReader, YieldsEveryEntryWithDotAndDotDot) {
    TempTree t;
    t.File("a b.txt");
    t.File("中文");
    t.Dir("sub");
    ASSERT_EQ(::symlink("sub", t.Path("link").c_str()), 0);
    FileHandle dir = OpenDirectoryPath(t.Root());
    ASSERT_TRUE(dir.Valid());
    bool failed = true;
    EXPECT_EQ(ReadAll(dir.Get(), failed),
              (std::set<std::string>{".", "..", "a b.txt", "中文", "sub", "link"}));
    EXPECT_FALSE(failed);
}

TEST(DirReader, ManyEntriesSpanSeveralBufferFills) {
    TempTree t;
    // About 64 bytes per record: more than one 32 KiB buffer.
    for (int i = 0; i < 700; ++i)
        t.File("file-with-a-rather-long-name-to-fill-buffers-" + std::to_string(i));
    FileHandle dir = OpenDirectoryPath(t.Root());
    bool failed = true;
    EXPECT_EQ(ReadAll(dir.Get(), failed).size(), 702u);
    EXPECT_FALSE(failed);
}

TEST(ReadAheadDirectory, CountsAndKeepsRecordsWithinTheLimitForReplay) {
    TempTree t;
    for (int i = 0; i < 700; ++i)  // more than one buffer fill
        t.File("file-with-a-rather-long-name-to-fill-buffers-" + std::to_string(i));
    FileHandle dir = OpenDirectoryPath(t.Root());
    DirBuffer buf;
    DirReadAhead all;
    ASSERT_TRUE(ReadAheadDirectory(dir.Get(), buf, size_t{1} << 20, all));
    EXPECT_EQ(all.entries, 702u);
    ASSERT_TRUE(all.kept);
    DirReader replay(all.records);
    std::set<std::string> replayed;
    RawDirEntry e;
    while (replay.Next(e))
        replayed.insert(std::string(e.name, e.nameLength));
    EXPECT_FALSE(replay.Failed());
    FileHandle again = OpenDirectoryPath(t.Root());
    bool failed = true;
    EXPECT_EQ(replayed, ReadAll(again.Get(), failed));

    DirReadAhead counted;  // past the limit: counted only
    FileHandle third = OpenDirectoryPath(t.Root());
    ASSERT_TRUE(ReadAheadDirectory(third.Get(), buf, 1000, counted));
    EXPECT_EQ(counted.entries, 702u);
    EXPECT_FALSE(counted.kept);
    EXPECT_TRUE(counted.records.empty());
}

TEST(DirReader, ReplayOfDamagedRecordsEndsAsAnError) {
    std::string records(64, '\0');  // a record length of 0
    DirReader reader(records);
    RawDirEntry e;
    EXPECT_FALSE(reader.Next(e));
    EXPECT_TRUE(reader.Failed());
}

TEST(CountSubDirectoryEntries, CountsDotsAndNeverFollowsOrOpensOthers) {
    TempTree t;
    t.Dir("empty");
    t.Dir("three");
    for (const char* n : {"three/a", "three/b", "three/c"})
        t.File(n);
    t.File("file");
    ASSERT_EQ(::symlink("three", t.Path("link").c_str()), 0);
    ASSERT_EQ(::mkfifo(t.Path("fifo").c_str(), 0644), 0);
    FileHandle dir = OpenDirectoryPath(t.Root());
    DirBuffer buf;
    struct Case {
        const char* name;
        uint32_t count;
    } cases[] = {{"empty", 2}, {"three", 5}, {"file", 0}, {"link", 0}, {"fifo", 0}, {"missing", 0}};
    for (auto& c : cases)
        EXPECT_EQ(CountSubDirectoryEntries(dir.Get(), c.name, buf), c.count) << c.name;
}

TEST(CountSubDirectoryEntries, UnreadableDirectoryCountsZero) {
    TempTree t;
    t.Dir("locked", 0300);  // owner may write and search, nobody may read
    t.File("locked/x");
    FileHandle dir = OpenDirectoryPath(t.Root());
    AsOtherUser other;
    if (OpenSubDirectory(dir.Get(), "locked").Valid())
        GTEST_SKIP() << "permissions cannot be shown in this environment";
    DirBuffer buf;
    EXPECT_EQ(CountSubDirectoryEntries(dir.Get(), "locked", buf), 0u);
}

TEST(OpenSubDirectory, RefusesLinksAndNonDirectories) {
    TempTree t;
    t.Dir("sub");
    t.File("file");
    ASSERT_EQ(::symlink("sub", t.Path("link").c_str()), 0);
    ASSERT_EQ(::mkfifo(t.Path("fifo").c_str(), 0644), 0);
    FileHandle dir = OpenDirectoryPath(t.Root());
    EXPECT_TRUE(OpenSubDirectory(dir.Get(), "sub").Valid());
    for (const char* n : {"link", "file", "fifo", "missing"})
        EXPECT_FALSE(OpenSubDirectory(dir.Get(), n).Valid()) << n;
}

TEST(OpenDirectoryPath, FailsForWhatIsNoDirectory) {
    TempTree t;
    t.File("file");
    ASSERT_EQ(::mkfifo(t.Path("fifo").c_str(), 0644), 0);
    for (std::string p : {t.Path("file"), t.Path("fifo"), t.Path("missing"), std::string(),
                          t.Root() + std::string("\0x", 2)})
        EXPECT_FALSE(OpenDirectoryPath(p).Valid()) << p;
    EXPECT_TRUE(OpenDirectoryPath(t.Root() + "/").Valid());
    EXPECT_TRUE(DirectoryExists(t.Root()));
    EXPECT_FALSE(DirectoryExists(t.Path("file")));
}

TEST(StatEntry, ReportsTheLinkItselfAndFullSizes) {
    TempTree t;
    t.Dir("sub");
    ASSERT_EQ(::symlink("sub", t.Path("link").c_str()), 0);
    int fd = ::open(t.Path("sparse").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    const uint64_t big = (5ull << 30) + 10;  // 5 GiB + 10, sparse
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(big)), 0);
    ::close(fd);
    FileHandle dir = OpenDirectoryPath(t.Root());
    EntryStat st;
    ASSERT_TRUE(StatEntry(dir.Get(), "link", st));
    EXPECT_TRUE(S_ISLNK(st.mode));
    EXPECT_EQ(st.size, 3u);  // the length of "sub"
    ASSERT_TRUE(StatEntry(dir.Get(), "sparse", st));
    EXPECT_EQ(st.size, big);
    EXPECT_FALSE(StatEntry(dir.Get(), "missing", st));
}

TEST(StatEntry, TimesAreModificationAccessAndBirthElseChange) {
    TempTree t;
    t.File("f");
    struct timespec times[2] = {{1000000000, 0}, {1100000000, 500}};  // atime, mtime
    ASSERT_EQ(::utimensat(AT_FDCWD, t.Path("f").c_str(), times, 0), 0);
    FileHandle dir = OpenDirectoryPath(t.Root());
    EntryStat st;
    ASSERT_TRUE(StatEntry(dir.Get(), "f", st));
    EXPECT_EQ(st.accessed, 1000000000);
    EXPECT_EQ(st.modified, 1100000000);
    struct statx sx {};
    ASSERT_EQ(::statx(dir.Get(), "f", AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_CTIME, &sx), 0);
    bool birth = (sx.stx_mask & STATX_BTIME) && sx.stx_btime.tv_sec != 0;
    EXPECT_EQ(st.birthOrChange, birth ? sx.stx_btime.tv_sec : sx.stx_ctime.tv_sec);
}

TEST(ReadOnlyFile, OpensRegularFilesOnly) {
    TempTree t;
    t.File("f", "hello");
    ASSERT_EQ(::symlink("f", t.Path("link").c_str()), 0);
    ASSERT_EQ(::mkfifo(t.Path("fifo").c_str(), 0644), 0);
    t.Dir("d");
    ReadOnlyFile file;
    ASSERT_TRUE(file.Open(t.Path("f")));
    EXPECT_EQ(file.Size(), 5u);
    char buf[3] = {};
    EXPECT_TRUE(file.ReadAt(1, buf, 3));
    EXPECT_EQ(std::string(buf, 3), "ell");
    EXPECT_FALSE(file.ReadAt(3, buf, 3));  // short read
    EXPECT_FALSE(file.ReadAt(UINT64_MAX - 1, buf, 1));
    // A FIFO opened for reading would block; it is never opened.
    for (const char* n : {"link", "fifo", "d", "missing", "d/"})
        EXPECT_FALSE(file.Open(t.Path(n))) << n;
}

TEST(ReadOnlyFile, OpensPathsLongerThanPathMax) {
    TempTree t;
    const std::string name(200, 'n');
    FileHandle dir = OpenDirectoryPath(t.Root());
    std::string path = t.Root();
    while (path.size() <= PATH_MAX + 100) {
        ASSERT_EQ(::mkdirat(dir.Get(), name.c_str(), 0755), 0);
        dir = OpenSubDirectory(dir.Get(), name.c_str());
        ASSERT_TRUE(dir.Valid());
        path += "/" + name;
    }
    int fd = ::openat(dir.Get(), "deep.txt", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "xyz", 3), 3);
    ::close(fd);
    ReadOnlyFile file;
    ASSERT_TRUE(file.Open(path + "/deep.txt"));
    EXPECT_EQ(file.Size(), 3u);
    EXPECT_TRUE(OpenDirectoryPath(path).Valid());
    EXPECT_TRUE(DirectoryExists(path));
}

}  // namespace
}  // namespace corvane
