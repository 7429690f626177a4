// FileContent: digests against published values, byte search and line
// counts at block edges, the first bytes, content types, ownership and
// permission bits, links, and the files that must never be read (FIFOs,
// files without read permission) — over a fixture each test makes.
#include "platform/FileContent.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "tests/support/TempTree.h"

namespace corvane {
namespace {

using testing::TempTree;

const std::string kMillionA(1000000, 'a');  // many blocks of kContentBlock

struct DigestCase {
    const char* name;
    const std::string* content;
    DigestKind kind;
    const char* hex;
};

const std::string kEmpty;
const std::string kAbc = "abc";

const DigestCase kDigests[] = {
    {"md5_empty", &kEmpty, DigestKind::Md5, "d41d8cd98f00b204e9800998ecf8427e"},
    {"sha1_empty", &kEmpty, DigestKind::Sha1, "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {"sha256_empty", &kEmpty, DigestKind::Sha256,
     "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"sha512_empty", &kEmpty, DigestKind::Sha512,
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877ee"
     "c2f63b931bd47417a81a538327af927da3e"},
    {"xxh128_empty", &kEmpty, DigestKind::Xxh128, "99aa06d3014798d86001c324468d497f"},
    {"md5_abc", &kAbc, DigestKind::Md5, "900150983cd24fb0d6963f7d28e17f72"},
    {"sha1_abc", &kAbc, DigestKind::Sha1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {"sha256_abc", &kAbc, DigestKind::Sha256,
     "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"sha512_abc", &kAbc, DigestKind::Sha512,
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3fee"
     "bbd454d4423643ce80e2a9ac94fa54ca49f"},
    {"xxh128_abc", &kAbc, DigestKind::Xxh128, "06b05ab6733a618578af5f94892f3950"},
    {"md5_million_a", &kMillionA, DigestKind::Md5, "7707d6ae4e027c70eea2a935c2296f21"},
    {"sha1_million_a", &kMillionA, DigestKind::Sha1, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    {"sha256_million_a", &kMillionA, DigestKind::Sha256,
     "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    {"sha512_million_a", &kMillionA, DigestKind::Sha512,
     "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce57"
     "7c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
    {"xxh128_million_a", &kMillionA, DigestKind::Xxh128, "a545df8e384a9579b1fd6fae5285c4eb"},
};

class FileDigestTest : public ::testing::TestWithParam<DigestCase> {};

TEST_P(FileDigestTest, MatchesThePublishedValue) {
    TempTree tree;
    tree.File("f", *GetParam().content);
    std::string hex;
    ASSERT_EQ(FileDigest(tree.Path("f"), GetParam().kind, hex), ContentStatus::Ok);
    EXPECT_EQ(hex, GetParam().hex);
}

INSTANTIATE_TEST_SUITE_P(Known, FileDigestTest, ::testing::ValuesIn(kDigests),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FileContent, DigestCacheReadsAFileOncePerSession) {
    TempTree tree;
    tree.File("f", "abc");
    ContentSession session;
    ContentSession::Scope scope(session);
    std::string a, b, c;
    ASSERT_EQ(FileDigest(tree.Path("f"), DigestKind::Sha256, a), ContentStatus::Ok);
    ASSERT_EQ(FileDigest(tree.Path("f"), DigestKind::Sha256, b), ContentStatus::Ok);
    EXPECT_EQ(a, b);
    EXPECT_EQ(session.FilesRead(), 1u);
    EXPECT_EQ(session.CacheHits(), 1u);
    // Another algorithm is another entry; a changed file is another key.
    ASSERT_EQ(FileDigest(tree.Path("f"), DigestKind::Md5, c), ContentStatus::Ok);
    EXPECT_EQ(session.FilesRead(), 2u);
    tree.File("f", "abcd");
    ASSERT_EQ(FileDigest(tree.Path("f"), DigestKind::Sha256, c), ContentStatus::Ok);
    EXPECT_NE(c, a);
    EXPECT_EQ(session.FilesRead(), 3u);
}

TEST(FileContent, CancelStopsAHugeSparseFileAndReadsInBoundedBlocks) {
    TempTree tree;
    tree.File("big");
    ASSERT_EQ(::truncate(tree.Path("big").c_str(), 5LL << 30), 0);  // 5 GiB, sparse
    int polls = 0;
    ContentSession session([&] { return ++polls < 20; });
    ContentSession::Scope scope(session);
    std::string hex;
    EXPECT_EQ(FileDigest(tree.Path("big"), DigestKind::Sha256, hex), ContentStatus::Cancelled);
    EXPECT_EQ(hex, "");
    EXPECT_EQ(polls, 20);
    EXPECT_EQ(session.BytesRead(), 19u * kContentBlock);
    bool found = true;
    polls = 0;
    EXPECT_EQ(FileContains(tree.Path("big"), "x", found), ContentStatus::Cancelled);
    EXPECT_FALSE(found);
}

TEST(FileContent, ContainsFindsBytesAcrossBlockEdges) {
    TempTree tree;
    std::string text(kContentBlock - 2, '.');
    text += "needle";  // straddles the first block's end
    text += std::string(100, '.');
    tree.File("f", text);
    struct Case {
        const char* needle;
        bool found;
    } cases[] = {{"needle", true}, {"needles", false}, {"", true}, {"..n", true}, {"x", false}};
    for (const Case& c : cases) {
        bool found = !c.found;
        EXPECT_EQ(FileContains(tree.Path("f"), c.needle, found), ContentStatus::Ok) << c.needle;
        EXPECT_EQ(found, c.found) << c.needle;
    }
}

TEST(FileContent, LineCountWithAndWithoutAFinalBreak) {
    struct Case {
        const char* content;
        int64_t lines;
    } cases[] = {{"", 0},       {"a", 1},    {"a\n", 1}, {"a\nb", 2},
                 {"a\nb\n", 2}, {"\n\n", 2}, {"\n", 1},  {"a\r\nb\r\n", 2}};
    TempTree tree;
    for (const Case& c : cases) {
        tree.File("f", c.content);
        int64_t lines = -1;
        ASSERT_EQ(FileLineCount(tree.Path("f"), lines), ContentStatus::Ok);
        EXPECT_EQ(lines, c.lines) << '"' << c.content << '"';
    }
    std::string many(3 * kContentBlock, 'x');
    for (size_t i = kContentBlock - 1; i < many.size(); i += kContentBlock)
        many[i] = '\n';  // the last byte of every block
    tree.File("f", many);
    int64_t lines = -1;
    ASSERT_EQ(FileLineCount(tree.Path("f"), lines), ContentStatus::Ok);
    EXPECT_EQ(lines, 3);
}

TEST(FileContent, AnyLineSplitsAtBreaksAcrossBlocks) {
    TempTree tree;
    std::string text = "first\n" + std::string(kContentBlock, 'y') + "tail\nlast";
    tree.File("f", text);
    auto ask = [&](auto pred) {
        bool found = false;
        EXPECT_EQ(FileAnyLine(tree.Path("f"), pred, found), ContentStatus::Ok);
        return found;
    };
    EXPECT_TRUE(ask([](std::string_view l) { return l == "last"; }));
    EXPECT_TRUE(ask([](std::string_view l) { return l == "first"; }));
    EXPECT_TRUE(ask([](std::string_view l) {
        return l.size() == kContentBlock + 4 && l.substr(kContentBlock) == "tail";
    }));
    EXPECT_FALSE(ask([](std::string_view l) { return l.find('\n') != std::string_view::npos; }));
}

// A line longer than kRegexpLineLimit is looked at in pieces of that size;
// the lines after it are whole again.
TEST(FileContent, AnyLineMatchesAVeryLongLineInPieces) {
    TempTree tree;
    const std::string longLine = std::string(kRegexpLineLimit, 'a') + "MARK" +
                                 std::string(kRegexpLineLimit - 4, 'b') + "END";
    tree.File("f", longLine + "\nnext\n");
    std::vector<size_t> sizes;
    bool found = false;
    auto record = [&](std::string_view l) {
        sizes.push_back(l.size());
        return false;
    };
    EXPECT_EQ(FileAnyLine(tree.Path("f"), record, found), ContentStatus::Ok);
    EXPECT_FALSE(found);
    EXPECT_EQ(sizes, (std::vector<size_t>{kRegexpLineLimit, kRegexpLineLimit, 3, 4}));
    auto ask = [&](auto pred) {
        EXPECT_EQ(FileAnyLine(tree.Path("f"), pred, found), ContentStatus::Ok);
        return found;
    };
    EXPECT_TRUE(ask([](std::string_view l) { return l.substr(0, 4) == "MARK"; }));
    EXPECT_TRUE(ask([](std::string_view l) { return l == "END"; }));
    EXPECT_TRUE(ask([](std::string_view l) { return l == "next"; }));
    EXPECT_FALSE(ask([](std::string_view l) { return l.size() > kRegexpLineLimit; }));

    // A line of exactly the limit whose break opens the next block is one
    // piece, with no empty line after it.
    tree.File("g", std::string(kRegexpLineLimit, 'a') + "\nnext\n");
    sizes.clear();
    EXPECT_EQ(FileAnyLine(tree.Path("g"), record, found), ContentStatus::Ok);
    EXPECT_EQ(sizes, (std::vector<size_t>{kRegexpLineLimit, 4}));
}

TEST(FileContent, HeadGivesTheFirstBytesCapped) {
    TempTree tree;
    tree.File("f", "hello world");
    struct Case {
        int64_t n;
        const char* bytes;
    } cases[] = {{0, ""}, {5, "hello"}, {-3, ""}, {100, "hello world"}};
    for (const Case& c : cases) {
        std::string bytes = "junk";
        ASSERT_EQ(FileHead(tree.Path("f"), c.n, bytes), ContentStatus::Ok);
        EXPECT_EQ(bytes, c.bytes) << c.n;
    }
    tree.File("big", std::string(kHeadLimit + 10, 'z'));
    std::string bytes;
    ASSERT_EQ(FileHead(tree.Path("big"), INT64_MAX, bytes), ContentStatus::Ok);
    EXPECT_EQ(bytes.size(), static_cast<size_t>(kHeadLimit));
}

TEST(FileContent, MimeTypeOfAPngAndATextFile) {
    TempTree tree;
    // A 1x1 PNG: signature, IHDR, IDAT, IEND.
    tree.Bytes("p.png",
               {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
                0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00,
                0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x44, 0x41, 0x54, 0x78,
                0x9C, 0x63, 0x00, 0x01, 0x00, 0x00, 0x05, 0x00, 0x01, 0x0D, 0x0A, 0x2D, 0xB4, 0x00,
                0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82});
    tree.File("notes", "plain words on a line\nand another one\n");
    // The name says nothing: the type comes from the bytes.
    tree.Bytes("disguised.txt", {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00,
                                 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
                                 0x00, 0x01, 0x08, 0x06, 0x00, 0x00, 0x00, 0x1F, 0x15, 0xC4, 0x89});
    std::string type;
    ASSERT_EQ(FileMimeType(tree.Path("p.png"), type), ContentStatus::Ok);
    EXPECT_EQ(type, "image/png");
    ASSERT_EQ(FileMimeType(tree.Path("notes"), type), ContentStatus::Ok);
    EXPECT_EQ(type, "text/plain");
    ASSERT_EQ(FileMimeType(tree.Path("disguised.txt"), type), ContentStatus::Ok);
    EXPECT_EQ(type, "image/png");
}

TEST(FileContent, OwnershipAndModeComeFromLstat) {
    TempTree tree;
    struct Case {
        const char* name;
        mode_t mode;
    } cases[] = {{"a", 0644}, {"b", 0600}, {"c", 0755}, {"d", 04711}, {"e", 0}};
    for (const Case& c : cases) {
        tree.File(c.name, "x");
        ASSERT_EQ(::chmod(tree.Path(c.name).c_str(), c.mode), 0);
        EntryOwnership o;
        ASSERT_TRUE(LinkStatus(tree.Path(c.name), o)) << c.name;
        EXPECT_EQ(o.mode & 07777, c.mode) << c.name;
        EXPECT_EQ(o.uid, ::getuid());
        EXPECT_EQ(o.gid, ::getgid());
        EXPECT_EQ(o.links, 1u);
    }
    EXPECT_EQ(UserName(0), "root");
    EXPECT_EQ(GroupName(0), "root");
    EXPECT_EQ(UserName(4000000000u), "4000000000");  // no account: the number
    ASSERT_EQ(::link(tree.Path("a").c_str(), tree.Path("a2").c_str()), 0);
    EntryOwnership o;
    ASSERT_TRUE(LinkStatus(tree.Path("a"), o));
    EXPECT_EQ(o.links, 2u);
    EXPECT_FALSE(LinkStatus(tree.Path("missing"), o));
    EXPECT_FALSE(LinkStatus(tree.Root() + "/", o));  // names no single entry
}

TEST(FileContent, LinksAreNeverFollowed) {
    TempTree tree;
    tree.File("target", "abc");
    ASSERT_EQ(::symlink("target", tree.Path("link").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent/nowhere", tree.Path("dangling").c_str()), 0);
    std::string target;
    ASSERT_TRUE(LinkTarget(tree.Path("dangling"), target));
    EXPECT_EQ(target, "/nonexistent/nowhere");
    ASSERT_TRUE(LinkTarget(tree.Path("link"), target));
    EXPECT_EQ(target, "target");
    EXPECT_FALSE(LinkTarget(tree.Path("target"), target));
    EXPECT_EQ(target, "");
    // The content functions refuse the link itself.
    std::string hex;
    EXPECT_EQ(FileDigest(tree.Path("link"), DigestKind::Md5, hex), ContentStatus::Unreadable);
    EntryOwnership o;
    ASSERT_TRUE(LinkStatus(tree.Path("link"), o));
    EXPECT_TRUE(S_ISLNK(o.mode));
}

// Every content function on path, run on another thread; the test fails
// (rather than hangs) should one of them block.
void ExpectAllUnreadableAtOnce(const std::string& path) {
    auto all = std::async(std::launch::async, [path] {
        int unreadable = 0;
        std::string s;
        bool b = true;
        int64_t n = 5;
        for (DigestKind k : {DigestKind::Md5, DigestKind::Sha1, DigestKind::Sha256,
                             DigestKind::Sha512, DigestKind::Xxh128})
            unreadable += FileDigest(path, k, s) == ContentStatus::Unreadable && s.empty();
        unreadable += FileContains(path, "x", b) == ContentStatus::Unreadable && !b;
        unreadable +=
            FileAnyLine(
                path, [](std::string_view) { return true; }, b) == ContentStatus::Unreadable &&
            !b;
        unreadable += FileLineCount(path, n) == ContentStatus::Unreadable && n == 0;
        unreadable += FileHead(path, 10, s) == ContentStatus::Unreadable && s.empty();
        unreadable += FileMimeType(path, s) == ContentStatus::Unreadable && s.empty();
        return unreadable;
    });
    ASSERT_EQ(all.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << path << " blocked a content function";
    EXPECT_EQ(all.get(), 10) << path;
}

TEST(FileContent, FifoDirectoryAndMissingAreNeverRead) {
    TempTree tree;
    ASSERT_EQ(::mkfifo(tree.Path("fifo").c_str(), 0666), 0);
    tree.Dir("dir");
    ExpectAllUnreadableAtOnce(tree.Path("fifo"));
    ExpectAllUnreadableAtOnce(tree.Path("dir"));
    ExpectAllUnreadableAtOnce(tree.Path("missing"));
    ExpectAllUnreadableAtOnce("");
    ExpectAllUnreadableAtOnce("/dev/zero");
}

TEST(FileContent, AFileWithoutReadPermissionIsUnreadable) {
    TempTree tree;
    tree.File("secret", "abc", 0600);
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(tree.Path("secret").c_str(), 0), 0);
        std::string hex;
        EXPECT_EQ(FileDigest(tree.Path("secret"), DigestKind::Md5, hex), ContentStatus::Unreadable);
        return;
    }
    // Root reads everything: the check runs as nobody in a child process.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        std::string hex;
        bool found = true;
        int64_t n = 7;
        const std::string path = tree.Path("secret");
        const bool ok = FileDigest(path, DigestKind::Sha256, hex) == ContentStatus::Unreadable &&
                        FileContains(path, "a", found) == ContentStatus::Unreadable &&
                        FileLineCount(path, n) == ContentStatus::Unreadable &&
                        FileMimeType(path, hex) == ContentStatus::Unreadable && hex.empty();
        // lstat still works: the directory is searchable.
        EntryOwnership o;
        ::_exit(ok && LinkStatus(path, o) && o.uid == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot switch to the user nobody here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(FileContent, JoinFileNameAsThePathColumnGivesIt) {
    struct Case {
        const char* dir;
        const char* name;
        const char* full;
    } cases[] = {{"/a/b/", "c", "/a/b/c"}, {"/a/b", "c", "/a/b/c"}, {"/", "c", "/c"},
                 {"", "c", "c"},           {"/a/", "", "/a/"},      {"/a", "", "/a"}};
    for (const Case& c : cases)
        EXPECT_EQ(JoinFileName(c.dir, c.name), c.full) << c.dir << " + " << c.name;
}

}  // namespace
}  // namespace corvane
