// The file-system data source: the attribute selection, the
// fifteen columns, recursion, filtered loading, and the documented result
// for every kind of bad input.
#include "filesource/U_CorvaneAdptr.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "support/AsOtherUser.h"
#include "support/PeImageBuilder.h"
#include "support/TempTree.h"
#include "tests/filesource/TableTextFixture.h"

namespace corvane {
namespace {

using testing::AsOtherUser;
using testing::BuildPeImage;
using testing::TempTree;

// ---------------------------------------------------------------------------
// Catalogue and source

TEST(TFileInfo, FifteenColumnsInOrder) {
    const char* names[] = {
        "path",          "filename",       "extension", "shortname", "creationtime",
        "lastwritetime", "lastaccesstime", "size",      "attri",     "count",
        "version",       "isdir",          "readOnly",  "hidden",    "data"};
    const char* types[] = {"string", "string",  "string",  "string",  "date",
                           "date",   "date",    "integer", "integer", "integer",
                           "string", "boolean", "boolean", "boolean", "string"};
    TVeskDSAdapterForFile t("'/nowhere'");
    // "*" stands for the fifteen; depth follows them, used by name.
    ASSERT_EQ(t.GetStarFieldCount(), 15);
    ASSERT_EQ(t.GetFieldCount(), 16);
    EXPECT_EQ(t.GetFieldName(15), "depth");
    EXPECT_EQ(t.GetFieldType(15), "integer");
    EXPECT_EQ(t.FieldIndex("Depth"), fcDepth);
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(t.GetFieldName(i), names[i]);
        EXPECT_EQ(t.GetFieldType(i), types[i]);
        EXPECT_EQ(TFileInfo::At(i).one, 1);
        EXPECT_EQ(TFileInfo::At(i).weight, (i == fcLastAccessTime || i == fcData) ? 100 : 1);
    }
    EXPECT_EQ(t.FieldIndex("READONLY"), fcReadOnly);
    EXPECT_EQ(t.FieldIndex("Size"), fcSize);
    EXPECT_EQ(t.FieldIndex("nosuch"), -1);
    EXPECT_EQ(t.GetFieldName(16), "");
    EXPECT_EQ(t.GetFieldName(-1), "");
}

TEST(TFileRecord, StaysCompact) {
    // The record of one entry: its name's string plus a few numbers. The
    // path is shared per directory, so 150 bytes are never reached.
    EXPECT_LE(sizeof(TFileRecord), 96u);
}

TEST(TVeskDBAdapterForFile, HandsOutTablesWithoutLookingAtTheDisk) {
    TempTree t;
    t.File("f");
    TVeskDBAdapterForFile db;
    EXPECT_EQ(db.GetName(), "FileSystem");
    DataSetRef ds = db.GetDataset("'/no/such/dir/at/all'");
    ASSERT_NE(ds, nullptr);
    EXPECT_EQ(ds->GetName(), "'/no/such/dir/at/all'");
    EXPECT_FALSE(ds->Active());
    EXPECT_TRUE(ds->CanFilter());
    // Whether a table's directory is there is the platform's question.
    EXPECT_TRUE(DirectoryExists(t.Root()));
    EXPECT_FALSE(DirectoryExists(t.Path("f")));
    EXPECT_FALSE(DirectoryExists(t.Path("missing")));
}

// ---------------------------------------------------------------------------
// Listing

struct Row {
    std::string path, filename, extension, shortname, version, data;
    double created = 0, written = 0, accessed = 0;
    int64_t size = 0, attri = 0, count = 0;
    bool isdir = false, readOnly = false, hidden = false;
};

// Reads every record the way the engine does: First, GetFieldValue per
// field, Next, until Eof.
std::vector<Row> ReadRows(IXSimpleDataset& ds) {
    std::vector<Row> rows;
    if (ds.GetRecordCount() == 0) return rows;
    Variant v;
    for (ds.First(); !ds.Eof(); ds.Next()) {
        Row r;
        auto str = [&](int i) {
            ds.GetFieldValue(i, v);
            EXPECT_EQ(v.type(), VarType::String) << i;
            return v.RawString();
        };
        auto num = [&](int i) {
            ds.GetFieldValue(i, v);
            EXPECT_EQ(v.type(), VarType::Integer) << i;
            return v.RawInteger();
        };
        auto date = [&](int i) {
            ds.GetFieldValue(i, v);
            EXPECT_EQ(v.type(), VarType::Date) << i;
            return v.RawDouble();
        };
        auto boolean = [&](int i) {
            ds.GetFieldValue(i, v);
            EXPECT_EQ(v.type(), VarType::Boolean) << i;
            return v.RawBoolean();
        };
        r.path = str(fcPath);
        r.filename = str(fcFilename);
        r.extension = str(fcExtension);
        r.shortname = str(fcShortname);
        r.created = date(fcCreationTime);
        r.written = date(fcLastWriteTime);
        r.accessed = date(fcLastAccessTime);
        r.size = num(fcSize);
        r.attri = num(fcAttri);
        r.count = num(fcCount);
        r.version = str(fcVersion);
        r.isdir = boolean(fcIsDir);
        r.readOnly = boolean(fcReadOnly);
        r.hidden = boolean(fcHidden);
        r.data = str(fcData);
        rows.push_back(r);
    }
    return rows;
}

std::set<std::string> Names(const std::vector<Row>& rows) {
    std::set<std::string> names;
    for (auto& r : rows)
        names.insert(r.filename);
    return names;
}

std::map<std::string, Row> ByName(const std::vector<Row>& rows) {
    std::map<std::string, Row> m;
    for (auto& r : rows)
        m[r.filename] = r;
    return m;
}

// The fixture tree:
//   plain.txt  README  .profile  ro.txt (0444)  name.  a b.txt  中文.txt
//   big.bin (sparse, 5 GiB + 10)  app.exe (version 5.1)
//   link -> sub  fifo
//   sub/ inner.txt deeper/deep.log empty/
//   .hid/ secret.txt      rodir/ (0555) in_ro.txt      locked/ (0300) x.txt
class Listing : public ::testing::Test {
  protected:
    static constexpr int64_t kBig = (5ll << 30) + 10;

    void SetUp() override {
        t_.File("plain.txt", "hello");
        t_.File("README", "read me");
        t_.File(".profile");
        t_.File("ro.txt", "", 0444);
        t_.File("name.");
        t_.File("a b.txt");
        t_.File("中文.txt");
        int fd = ::open(t_.Path("big.bin").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, kBig), 0);
        ::close(fd);
        t_.Bytes("app.exe", BuildPeImage((5u << 16) | 1u).bytes);
        t_.Dir("sub");
        t_.File("sub/inner.txt");
        t_.Dir("sub/deeper");
        t_.File("sub/deeper/deep.log");
        t_.Dir("sub/empty");
        ASSERT_EQ(::symlink("sub", t_.Path("link").c_str()), 0);
        ASSERT_EQ(::mkfifo(t_.Path("fifo").c_str(), 0644), 0);
        t_.Dir(".hid");
        t_.File(".hid/secret.txt");
        t_.Dir("rodir");
        t_.File("rodir/in_ro.txt");
        ::chmod(t_.Path("rodir").c_str(), 0555);
        t_.Dir("locked");
        t_.File("locked/x.txt");
        ::chmod(t_.Path("locked").c_str(), 0300);
    }

    std::vector<Row> List(const std::string& text, IFilterObject* filter = nullptr,
                          bool* active = nullptr) {
        TVeskDBAdapterForFile db;
        DataSetRef ds = db.GetDataset(text);
        ds->Close();
        ds->SetFilter(filter);
        ds->Open();
        ds->SetFilter(nullptr);
        if (active) *active = ds->Active();
        return ReadRows(*ds);
    }
    // The table text for the fixture root with options.
    std::string Text(const std::string& rest = "") { return "'" + t_.Root() + rest + "'"; }

    TempTree t_;
};

TEST_F(Listing, DefaultMaskListsFilesDirectoriesAndHiddenEntriesOnly) {
    bool active = false;
    auto rows = List(Text(), nullptr, &active);
    EXPECT_TRUE(active);
    EXPECT_EQ(Names(rows),
              (std::set<std::string>{"plain.txt", "README", ".profile", "name.", "a b.txt",
                                     "中文.txt", "big.bin", "app.exe", "sub", ".hid", "locked"}));
}

TEST_F(Listing, AttributeWordOfEachKindOfEntry) {
    auto rows = ByName(List(Text(" /all")));
    struct Case {
        const char* name;
        int64_t attri;
    } cases[] = {
        {"plain.txt", 32}, {"ro.txt", 33}, {".profile", 34}, {"link", 4},    {"fifo", 4},
        {"sub", 16},       {".hid", 18},   {"rodir", 17},    {"locked", 16},
    };
    ASSERT_EQ(rows.size(), 15u);  // /all lists every entry
    for (auto& c : cases) {
        ASSERT_TRUE(rows.count(c.name)) << c.name;
        const Row& r = rows[c.name];
        EXPECT_EQ(r.attri, c.attri) << c.name;
        EXPECT_EQ(r.isdir, (c.attri & 16) != 0) << c.name;
        EXPECT_EQ(r.readOnly, (c.attri & 1) != 0) << c.name;
        EXPECT_EQ(r.hidden, (c.attri & 2) != 0) << c.name;
    }
}

TEST_F(Listing, OptionsChangeTheSelection) {
    std::set<std::string> base = Names(List(Text()));
    auto with = [&](std::set<std::string> s, std::initializer_list<const char*> add,
                    std::initializer_list<const char*> remove) {
        for (auto n : add)
            s.insert(n);
        for (auto n : remove)
            s.erase(n);
        return s;
    };
    struct Case {
        const char* options;
        std::set<std::string> names;
    } cases[] = {
        {" /ar", with(base, {"ro.txt", "rodir"}, {})},
        {" /as", with(base, {"link", "fifo"}, {})},
        {" /a-h", with(base, {}, {".profile", ".hid"})},
        {" /a-d", with(base, {}, {"sub", ".hid", "locked"})},
        {" /a-a", with(base, {},
                       {"plain.txt", "README", ".profile", "name.", "a b.txt", "中文.txt",
                        "big.bin", "app.exe"})},
        {" /none", {}},  // no entry has the attribute word 0 here
    };
    for (auto& c : cases)
        EXPECT_EQ(Names(List(Text(c.options))), c.names) << c.options;
}

TEST_F(Listing, ColumnValues) {
    auto rows = ByName(List(Text(" /all")));
    struct Case {
        const char* name;
        const char* extension;
        int64_t size;
        int64_t count;
    } cases[] = {
        {"plain.txt", "txt", 5, 0},  {"README", "", 7, 0},     {".profile", "profile", 0, 0},
        {"name.", "", 0, 0},         {"a b.txt", "txt", 0, 0}, {"中文.txt", "txt", 0, 0},
        {"big.bin", "bin", kBig, 0},  // the full size, not its low 32 bits
        {"link", "", 3, 0},           // the link itself: its target text
        {"sub", "", 0, 5},            // inner.txt, deeper, empty, ".", ".."
        {"locked", "", 0, 3},         // root may read it
    };
    for (auto& c : cases) {
        ASSERT_TRUE(rows.count(c.name)) << c.name;
        const Row& r = rows[c.name];
        EXPECT_EQ(r.extension, c.extension) << c.name;
        EXPECT_EQ(r.size, c.size) << c.name;
        if (c.name != std::string("locked") || ::geteuid() == 0) {
            EXPECT_EQ(r.count, c.count) << c.name;
        }
        EXPECT_EQ(r.path, t_.Root()) << c.name;  // exactly as written in the table text
        EXPECT_EQ(r.shortname, "");
        EXPECT_EQ(r.data, "");
    }
}

TEST_F(Listing, PathColumnKeepsTheTextsFinalSlash) {
    for (auto& r : List("'" + t_.Root() + "/* /s'")) {
        if (r.filename == "plain.txt") {
            EXPECT_EQ(r.path, t_.Root() + "/");
        }
        if (r.filename == "inner.txt") {
            EXPECT_EQ(r.path, t_.Root() + "/sub");
        }
    }
}

TEST_F(Listing, TimesAreLocalWholeSeconds) {
    struct timespec times[2] = {{1000000000, 999999999}, {1100000000, 0}};  // atime, mtime
    ASSERT_EQ(::utimensat(AT_FDCWD, t_.Path("plain.txt").c_str(), times, 0), 0);
    struct statx sx {};
    ASSERT_EQ(::statx(AT_FDCWD, t_.Path("plain.txt").c_str(), AT_SYMLINK_NOFOLLOW,
                      STATX_BTIME | STATX_CTIME, &sx),
              0);
    bool birth = (sx.stx_mask & STATX_BTIME) && sx.stx_btime.tv_sec != 0;
    Row r = ByName(List(Text()))["plain.txt"];
    EXPECT_EQ(r.accessed, DateTimeFromUnixLocal(1000000000));
    EXPECT_EQ(r.written, DateTimeFromUnixLocal(1100000000));
    EXPECT_EQ(r.created, DateTimeFromUnixLocal(birth ? sx.stx_btime.tv_sec : sx.stx_ctime.tv_sec));
}

TEST_F(Listing, SubDirectoriesDepthFirstSkippingHiddenAndLinks) {
    auto rows = List(Text(" /s"));
    auto names = Names(rows);
    for (const char* n : {"inner.txt", "deep.log", "deeper", "empty", "in_ro.txt"})
        EXPECT_TRUE(names.count(n)) << n;
    EXPECT_FALSE(names.count("secret.txt"));  // hidden directories are not entered
    EXPECT_FALSE(names.count("rodir"));       // read-only: not listed, but entered
    // Each directory's records form one block, the table's own first.
    std::vector<std::string> blocks;
    for (auto& r : rows)
        if (blocks.empty() || blocks.back() != r.path) blocks.push_back(r.path);
    std::set<std::string> distinct(blocks.begin(), blocks.end());
    EXPECT_EQ(distinct.size(), blocks.size());
    ASSERT_FALSE(blocks.empty());
    EXPECT_EQ(blocks.front(), t_.Root());
    // sub/deeper comes right after sub's own block or after sub/empty's
    // (empty has none), never before sub's.
    auto pos = [&](const std::string& p) {
        return std::find(blocks.begin(), blocks.end(), p) - blocks.begin();
    };
    EXPECT_LT(pos(t_.Path("sub")), pos(t_.Path("sub/deeper")));
    // Nothing is listed twice through the link to sub.
    int inner = 0;
    for (auto& r : rows)
        inner += r.filename == "inner.txt";
    EXPECT_EQ(inner, 1);
    auto by = ByName(rows);
    EXPECT_EQ(by["empty"].count, 2);
    EXPECT_EQ(by["deep.log"].path, t_.Path("sub/deeper"));
}

TEST_F(Listing, FilterMaskMatchesNamesCaseSensitively) {
    t_.File("UPPER.TXT");
    EXPECT_EQ(Names(List("'" + t_.Root() + "/*.txt'")),
              (std::set<std::string>{"plain.txt", "a b.txt", "中文.txt"}));
    std::set<std::string> deep{"plain.txt", "a b.txt",   "中文.txt",
                               "ro.txt",    "inner.txt", "in_ro.txt"};
    if (::geteuid() == 0) deep.insert("x.txt");  // root may read locked/
    EXPECT_EQ(Names(List("'" + t_.Root() + "/*.txt /s/ar'")), deep);
    EXPECT_EQ(Names(List("'" + t_.Root() + "/????.txt'")), (std::set<std::string>{}));
    EXPECT_EQ(Names(List("'" + t_.Root() + "/?????.txt'")), (std::set<std::string>{"plain.txt"}));
}

TEST_F(Listing, VersionIsReadLazilyAndOnce) {
    TVeskDBAdapterForFile db;
    DataSetRef ds = db.GetDataset(Text());
    ds->Open();
    // Replace the file after loading: the value read is the one on disk
    // when the column is first asked for, and it is kept from then on.
    t_.Bytes("app.exe", BuildPeImage((7u << 16) | 2u).bytes);
    Variant v;
    std::map<std::string, std::string> versions;
    for (ds->First(); !ds->Eof(); ds->Next()) {
        ds->GetFieldValue(fcFilename, v);
        std::string name = v.RawString();
        ds->GetFieldValue(fcVersion, v);
        versions[name] = v.RawString();
    }
    EXPECT_EQ(versions["app.exe"], std::to_string(7 * 65536 + 2));
    EXPECT_EQ(versions["plain.txt"], "");
    EXPECT_EQ(versions["sub"], "");
    t_.Bytes("app.exe", BuildPeImage((9u << 16) | 9u).bytes);
    for (ds->First(); !ds->Eof(); ds->Next()) {
        ds->GetFieldValue(fcFilename, v);
        if (v.RawString() != "app.exe") continue;
        ds->GetFieldValue(fcVersion, v);
        EXPECT_EQ(v.RawString(), std::to_string(7 * 65536 + 2));
    }
}

// version opens only regular files named like Windows executables: the
// same image under another name has no version, and reading it leaves the
// access time as it was (the owner may open with O_NOATIME).
TEST(ListingVersion, OnlyExecutableNamesAreReadAndAccessTimesStay) {
    TempTree t;
    const auto image = BuildPeImage((6u << 16) | 3u).bytes;
    const std::string number = std::to_string(6 * 65536 + 3);
    struct Case {
        const char* name;
        const char* version;
    } cases[] = {
        {"app.exe", number.c_str()},
        {"APP2.EXE", number.c_str()},
        {"lib.Dll", number.c_str()},
        {"app.bin", ""},
        {"exe", ""},
        {"app.exe.txt", ""},
    };
    for (const Case& c : cases)
        t.Bytes(c.name, image);
    t.Dir("dir.exe");
    struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};  // atime, mtime: 2001
    old[1].tv_sec = 1100000000;  // written after the last access, as relatime would refresh
    for (const Case& c : cases)
        ASSERT_EQ(::utimensat(AT_FDCWD, t.Path(c.name).c_str(), old, 0), 0);
    for (const char* text : {"", " /s"}) {
        TVeskDBAdapterForFile db;
        DataSetRef ds = db.GetDataset("'" + t.Root() + text + "'");
        ds->Open();
        auto rows = ByName(ReadRows(*ds));
        for (const Case& c : cases) {
            ASSERT_TRUE(rows.count(c.name)) << c.name << text;
            EXPECT_EQ(rows[c.name].version, c.version) << c.name << text;
        }
        ASSERT_TRUE(rows.count("dir.exe"));
        EXPECT_EQ(rows["dir.exe"].version, "");
    }
    for (const Case& c : cases) {
        struct stat st {};
        ASSERT_EQ(::stat(t.Path(c.name).c_str(), &st), 0);
        EXPECT_EQ(st.st_atim.tv_sec, 1000000000) << c.name;
    }
}

TEST_F(Listing, GetFieldValueOutsideLeavesTheValueAlone) {
    TVeskDBAdapterForFile db;
    DataSetRef ds = db.GetDataset(Text());
    ds->Open();
    ASSERT_GT(ds->GetRecordCount(), 0);
    Variant v("untouched");
    ds->First();
    ds->GetFieldValue(fcColumnCount, v);
    ds->GetFieldValue(-1, v);
    ds->SetRecNo(ds->GetRecordCount());
    ds->GetFieldValue(fcFilename, v);
    ds->SetRecNo(-5);
    ds->GetFieldValue(fcFilename, v);
    EXPECT_EQ(v.RawString(), "untouched");
    ds->Close();
    EXPECT_FALSE(ds->Active());
    EXPECT_EQ(ds->GetRecordCount(), 0);
    ds->First();
    EXPECT_TRUE(ds->Eof());
}

// A filter that records what it is handed and keeps what its predicate says.
class RecordingFilter : public IFilterObject {
  public:
    explicit RecordingFilter(std::function<Variant(const std::vector<Variant>&)> verdict)
        : verdict_(std::move(verdict)), values_(fcColumnCount) {}
    void SetValue(int i, const Variant& v) override {
        ASSERT_GE(i, 0);
        ASSERT_LT(i, fcColumnCount);
        values_[static_cast<size_t>(i)].Assign(v);
        ++setCalls;
        setSince_ |= 1u << i;
    }
    Variant Evaluate() override {
        ++candidates;
        if (setSince_ == (1u << fcColumnCount) - 1) ++complete;
        setSince_ = 0;
        seen[values_[fcFilename].RawString()] = values_;
        return verdict_(values_);
    }
    int setCalls = 0, candidates = 0;
    int complete = 0;  // candidates that were handed every value (depth too)
    std::map<std::string, std::vector<Variant>> seen;

  private:
    uint32_t setSince_ = 0;  // fields set since the last verdict
    std::function<Variant(const std::vector<Variant>&)> verdict_;
    std::vector<Variant> values_;
};

TEST_F(Listing, FilteredLoadHandsAllFifteenValuesAndKeepsOnlyAccepted) {
    RecordingFilter big([](const std::vector<Variant>& v) {
        return Variant(v[fcSize].RawInteger() > (int64_t{4} << 30));
    });
    bool active = false;
    auto rows = List(Text(), &big, &active);
    EXPECT_TRUE(active);
    EXPECT_EQ(Names(rows), (std::set<std::string>{"big.bin"}));
    EXPECT_EQ(big.candidates, 11);  // the default selection, before the filter
    // Every verdict comes after all fifteen values (the name may have been
    // handed out before, for an early verdict).
    EXPECT_EQ(big.complete, 11);
    const auto& sub = big.seen["sub"];
    EXPECT_EQ(sub[fcPath].RawString(), t_.Root());
    EXPECT_EQ(sub[fcCount].RawInteger(), 5);
    EXPECT_TRUE(sub[fcIsDir].RawBoolean());
    EXPECT_EQ(sub[fcVersion].type(), VarType::String);
    EXPECT_EQ(sub[fcVersion].RawString(), "");
    EXPECT_EQ(sub[fcData].RawString(), "");
    EXPECT_EQ(sub[fcCreationTime].type(), VarType::Date);
    EXPECT_TRUE(big.seen[".profile"][fcHidden].RawBoolean());
}

TEST_F(Listing, CountIsWorkedOutOnlyWhenTheStatementReadsIt) {
    // sub holds inner.txt, deeper/ and empty/: five entries with "." and "..".
    for (bool countUsed : {false, true}) {
        TVeskDBAdapterForFile db;
        DataSetRef ds = db.GetDataset(Text());
        ds->SetUsedFields(countUsed ? std::vector<int>{fcFilename, fcCount}
                                    : std::vector<int>{fcFilename});
        ds->Open();
        auto& table = static_cast<TVeskDSAdapterForFile&>(*ds);
        int sub = -1;
        for (int i = 0; i < table.GetRecordCount(); ++i)
            if (table.RecordAt(i).filename == "sub") sub = i;
        ASSERT_GE(sub, 0);
        EXPECT_EQ((table.RecordAt(sub).computed & TFileRecord::rcCountPending) != 0, !countUsed);
        EXPECT_EQ(ByName(ReadRows(*ds))["sub"].count, 5) << countUsed;  // read later: counted then
    }
}

// The extension is the part after the last dot whether or not a filter
// sees the entry (it once stood for the whole name in a filtered listing,
// so extension = '' found nothing).
TEST_F(Listing, FilteredLoadKeepsTheExtensionRule) {
    RecordingFilter all([](const std::vector<Variant>&) { return Variant(true); });
    auto rows = ByName(List(Text(), &all));
    struct Case {
        const char* name;
        const char* extension;
    } cases[] = {
        {"README", ""}, {"name.", ""}, {"sub", ""}, {".profile", "profile"}, {"plain.txt", "txt"}};
    for (auto& c : cases) {
        EXPECT_EQ(all.seen[c.name][fcExtension].RawString(), c.extension) << c.name;
        EXPECT_EQ(rows[c.name].extension, c.extension) << c.name;  // the record keeps it
    }
    EXPECT_EQ(ByName(List(Text()))["README"].extension, "");
}

TEST_F(Listing, FilterVerdictsThatAreNotTrueReject) {
    RecordingFilter none([](const std::vector<Variant>&) { return Variant(false); });
    RecordingFilter null([](const std::vector<Variant>&) { return Variant::Null(); });
    RecordingFilter text([](const std::vector<Variant>&) { return Variant("maybe"); });
    for (RecordingFilter* f : {&none, &null, &text}) {
        bool active = false;
        EXPECT_TRUE(List(Text(), f, &active).empty());
        EXPECT_TRUE(active);
    }
}

TEST_F(Listing, AFilterThatThrowsEndsTheLoadAsFailed) {
    int calls = 0;
    RecordingFilter thrower([&](const std::vector<Variant>&) -> Variant {
        if (++calls == 3) throw std::runtime_error("boom");
        return Variant(true);
    });
    bool active = true;
    auto rows = List(Text(), &thrower, &active);
    EXPECT_FALSE(active);
    EXPECT_EQ(rows.size(), 2u);  // what was gathered stays
}

TEST_F(Listing, BadTableTexts) {
    struct Case {
        std::string text;
        bool active;
    } cases[] = {
        {"", false},                                // too short
        {"x", false},                               // too short
        {"'*.txt'", false},                         // no directory
        {"''", false},                              // nothing at all
        {Text("/missing"), true},                   // lists nothing
        {"'" + t_.Path("plain.txt") + "/'", true},  // a file is no directory
        {"'" + t_.Path("fifo") + "/'", true},       // never opened
        {"'" + t_.Path("link") + "/x/'", true},
        {std::string("'") + t_.Root() + std::string("\0/x'", 4), true},  // NUL in the path
    };
    for (auto& c : cases) {
        bool active = !c.active;
        EXPECT_TRUE(List(c.text, nullptr, &active).empty()) << c.text;
        EXPECT_EQ(active, c.active) << c.text;
    }
}

TEST_F(Listing, TableDirectoryMayBeALinkButLinksBelowAreNot) {
    // The path the user typed is resolved as usual; the link entry inside is
    // listed as itself.
    auto rows = Names(List("'" + t_.Path("link") + "'"));
    EXPECT_EQ(rows, (std::set<std::string>{"inner.txt", "deeper", "empty"}));
}

TEST_F(Listing, BlanksAtTheEndOfThePathAreDroppedWhenNeeded) {
    auto rows = List("'" + t_.Root() + "  /s'");  // path is root + " "
    auto by = ByName(rows);
    ASSERT_TRUE(by.count("inner.txt"));
    EXPECT_EQ(by["plain.txt"].path, t_.Root() + " ");
    EXPECT_EQ(by["inner.txt"].path, t_.Root() + " /sub");
    EXPECT_EQ(by["app.exe"].version, "327681");  // the file is still found
    // A directory whose name really ends in a blank is preferred.
    t_.Dir("blank ");
    t_.File("blank /in.txt");
    EXPECT_EQ(Names(List("'" + t_.Path("blank ") + "'")), (std::set<std::string>{"in.txt"}));
}

TEST_F(Listing, UnreadableDirectoryListsNothingAndTheRestGoesOn) {
    AsOtherUser other;
    FileHandle probe = OpenDirectoryPath(t_.Path("locked"));
    if (probe.Valid()) GTEST_SKIP() << "permissions cannot be shown in this environment";
    bool active = false;
    auto rows = List(Text(" /s"), nullptr, &active);
    EXPECT_TRUE(active);
    auto by = ByName(rows);
    ASSERT_TRUE(by.count("locked"));
    EXPECT_EQ(by["locked"].count, 0);
    EXPECT_FALSE(by.count("x.txt"));
    for (const char* n : {"inner.txt", "deep.log", "in_ro.txt"})
        EXPECT_TRUE(by.count(n)) << n;
}

TEST(ListingOddNames, NamesComeBackByteForByte) {
    TempTree t;
    const std::string names[] = {"new\nline.txt", "bad\xff\xfe.txt", "quote'\".txt",
                                 " lead.txt",     "tab\t.txt",       "trail.txt "};
    for (auto& n : names)
        t.File(n);
    ASSERT_EQ(::symlink("missing-target", t.Path("broken.txt").c_str()), 0);
    TVeskDBAdapterForFile db;
    DataSetRef ds = db.GetDataset("'" + t.Root() + "/*.txt /as'");
    ds->Open();
    EXPECT_TRUE(ds->Active());
    auto rows = ByName(ReadRows(*ds));
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(rows.count(names[i])) << i;
        EXPECT_EQ(rows[names[i]].extension, "txt") << i;
    }
    // "trail.txt " does not end in ".txt" (blanks at the end of the filter
    // are ignored, not those of names).
    EXPECT_FALSE(rows.count("trail.txt "));
    ASSERT_TRUE(rows.count("broken.txt"));  // a broken link is listed as itself
    EXPECT_EQ(rows["broken.txt"].attri, faSysFile);
    EXPECT_EQ(rows["broken.txt"].size, 14);
    EXPECT_EQ(rows["broken.txt"].version, "");
}

// Records per directory of a deep tree: deeper than the descriptors kept
// open and with paths longer than PATH_MAX.
TEST(ListingDeep, TreesDeeperThanPathMaxAndOpenDescriptors) {
    TempTree t;
    const std::string name(60, 'd');
    const int levels = 80;  // 80 * 61 bytes > 4096; 80 > descriptors kept open
    FileHandle dir = OpenDirectoryPath(t.Root());
    std::string path = t.Root();
    for (int i = 0; i < levels; ++i) {
        ASSERT_EQ(::mkdirat(dir.Get(), name.c_str(), 0755), 0);
        ASSERT_EQ(::mkdirat(dir.Get(), "e", 0755), 0);  // visited after the deep branch
        int fd = ::openat(dir.Get(), "f.txt", O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
        dir = OpenSubDirectory(dir.Get(), name.c_str());
        path += "/" + name;
    }
    auto image = BuildPeImage(0x00030004).bytes;
    int fd = ::openat(dir.Get(), "bottom.exe", O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(::write(fd, image.data(), image.size()), static_cast<ssize_t>(image.size()));
    ::close(fd);

    TVeskDBAdapterForFile db;
    DataSetRef ds = db.GetDataset("'" + t.Root() + " /s'");
    ds->Open();
    EXPECT_TRUE(ds->Active());
    auto rows = ReadRows(*ds);
    int files = 0, leaves = 0;
    for (auto& r : rows) {
        files += r.filename == "f.txt";
        leaves += r.filename == "e";
        if (r.filename == "bottom.exe") {
            EXPECT_EQ(r.path, path);
            EXPECT_GT(r.path.size(), 4096u);
            EXPECT_EQ(r.version, std::to_string(3 * 65536 + 4));
        }
    }
    EXPECT_EQ(files, levels);
    EXPECT_EQ(leaves, levels);
    EXPECT_EQ(rows.size(), static_cast<size_t>(levels * 3 + 1));
}

class CountingProgress : public IProgress {
  public:
    explicit CountingProgress(bool cancel) : cancel_(cancel) {}
    void Listed(long long n) override {
        ++calls;
        last = n;
    }
    bool Cancelled() const override { return cancel_; }
    int calls = 0;
    long long last = 0;

  private:
    bool cancel_;
};

TEST(ListingProgress, ReportsAndStopsWhenCancelled) {
    TempTree t;
    const int n = 4200;  // just past one progress step
    for (int i = 0; i < n; ++i)
        t.File("f" + std::to_string(i));
    TVeskDBAdapterForFile db;
    DataSetRef ds = db.GetDataset("'" + t.Root() + "'");

    CountingProgress watch(false);
    ds->SetProgress(&watch);
    ds->Open();
    EXPECT_TRUE(ds->Active());
    EXPECT_EQ(ds->GetRecordCount(), n);
    EXPECT_GE(watch.calls, 2);
    EXPECT_EQ(watch.last, n);

    CountingProgress stop(true);
    ds->SetProgress(&stop);
    ds->Open();
    EXPECT_FALSE(ds->Active());  // incomplete: not reported as success
    EXPECT_LT(ds->GetRecordCount(), n);
    EXPECT_EQ(stop.calls, 2);  // the first report, and the final count
    ds->SetProgress(nullptr);
}

// ---------------------------------------------------------------------------
// Listing what a Linux user names

// Lists text with the given base directory; the rows and the warnings.
struct Loaded {
    std::vector<Row> rows;
    std::vector<std::string> warnings;
    bool active = false;
};

Loaded LoadTable(const std::string& text, const std::string& baseDir = {},
                 IFilterObject* filter = nullptr) {
    TVeskDBAdapterForFile db(baseDir);
    DataSetRef ds = db.GetDataset(text);
    ds->SetFilter(filter);
    ds->Open();
    ds->SetFilter(nullptr);
    Loaded l;
    l.active = ds->Active();
    l.rows = ReadRows(*ds);
    l.warnings = ds->Warnings();
    return l;
}

// The table-text fixture, as a suite of its own in this file: a test suite
// must have one fixture class, and the table-text tests have theirs.
class TableTextListing : public TableTexts {};

std::set<std::string> PathsAndNames(const std::vector<Row>& rows) {
    std::set<std::string> out;
    for (auto& r : rows)
        out.insert(r.path + "|" + r.filename);
    return out;
}

TEST_F(TableTextListing, DotsTildeAndDottedDirectoriesListTheirContents) {
    const std::string r = R();
    const std::set<std::string> top = {r + "|proj.git", r + "|plain", r + "|a.txt"};
    const std::set<std::string> git = {r + "/proj.git|HEAD", r + "/proj.git|inner"};
    std::set<std::string> gitDeep = git;
    gitDeep.insert(r + "/proj.git/inner|x");
    struct Case {
        std::string text, base;
        std::set<std::string> rows;
    } cases[] = {
        {"'.'", r, top},  // the base directory itself
        {"'./'", r, top},
        {"'~'", "", top},
        {"'~/proj.git'", "", git},
        {"'~/proj.git /s'", "", gitDeep},
        {"'" + r + "/proj.git'", "", git},
        {"'" + r + "/proj.git /s'", "", gitDeep},
        {"'" + r + "/proj.git/.'", "", git},
        {"'proj.git'", r, git},
        {"'./proj.git /s'", r, gitDeep},
        {"'plain/..'", r, {r + "/plain/..|proj.git", r + "/plain/..|plain", r + "/plain/..|a.txt"}},
        {"'" + r + "/proj.gi?'", "", {r + "/|proj.git"}},  // its own entry, through a wildcard
    };
    for (auto& c : cases) {
        Loaded l = LoadTable(c.text, c.base);
        EXPECT_TRUE(l.active) << c.text;
        EXPECT_EQ(PathsAndNames(l.rows), c.rows) << c.text;
        EXPECT_TRUE(l.warnings.empty()) << c.text << ": " << l.warnings.front();
    }
}

TEST_F(TableTextListing, VersionAndCountStillFindTheFilesOfAResolvedPath) {
    // Columns read later go back to the disk from the resolved directory.
    t_.Bytes("proj.git/app.exe", BuildPeImage((5u << 16) | 1u).bytes);
    auto by = ByName(LoadTable("'~/proj.git'").rows);
    EXPECT_EQ(by["app.exe"].version, "327681");
    EXPECT_EQ(by["inner"].count, 3);  // ".", ".." and x
}

// A table text that names an entry other than a directory lists that entry
// alone, whatever its attributes (a FIFO is a "system" entry).
TEST_F(TableTextListing, AFileNamedAsATableListsItself) {
    const std::string r = R();
    t_.File("README", "hello");
    ASSERT_EQ(::mkfifo(t_.Path("pipe").c_str(), 0600), 0);
    struct Case {
        std::string text;
        std::string name;
    } cases[] = {
        {"'" + r + "/README'", "README"},
        {"'" + r + "/pipe'", "pipe"},
        {"'" + r + "/README /s/ar'", "README"},
    };
    for (auto& c : cases) {
        Loaded l = LoadTable(c.text);
        EXPECT_TRUE(l.active) << c.text;
        EXPECT_TRUE(l.warnings.empty()) << c.text;
        ASSERT_EQ(l.rows.size(), 1u) << c.text;
        EXPECT_EQ(l.rows[0].filename, c.name);
        EXPECT_EQ(l.rows[0].path.rfind(r, 0), 0u) << l.rows[0].path;
        EXPECT_LE(l.rows[0].path.size(), r.size() + 1) << l.rows[0].path;
    }
}

TEST_F(TableTextListing, MissingTableDirectoryIsNamedInAWarning) {
    const std::string r = R();
    struct Case {
        std::string text, base, warning;
        bool active;
    } cases[] = {
        {"'" + r + "/missing'", "", "表 '" + r + "/missing' 的目录不存在或无法打开", true},
        {"\"" + r + "/missing /s\"", "", "表 '" + r + "/missing /s' 的目录不存在或无法打开", true},
        {"'" + r + "/a.txt/'", "", "表 '" + r + "/a.txt/' 的目录不存在或无法打开", true},
        {"'~/missing'", "", "表 '~/missing' 的目录不存在或无法打开（" + r + "/missing）", true},
        {"'missing'", r, "表 'missing' 的目录不存在或无法打开（" + r + "/missing）", true},
        {"'" + r + "/gone.git/.'", "", "表 '" + r + "/gone.git/.' 的目录不存在或无法打开", true},
        {"'*.txt'", "", "表 '*.txt' 的目录不存在或无法打开", false},  // no directory at all
        {"x", "", "表 'x' 的目录不存在或无法打开", false},            // too short
    };
    for (auto& c : cases) {
        Loaded l = LoadTable(c.text, c.base);
        EXPECT_TRUE(l.rows.empty()) << c.text;
        EXPECT_EQ(l.active, c.active) << c.text;
        EXPECT_EQ(l.warnings, std::vector<std::string>{c.warning}) << c.text;
    }
}

TEST_F(TableTextListing, WarningsLastUntilTheNextOpen) {
    TVeskDBAdapterForFile db;
    DataSetRef ds = db.GetDataset("'" + t_.Path("later") + "'");
    EXPECT_TRUE(ds->Warnings().empty());  // nothing loaded yet
    ds->Open();
    EXPECT_EQ(ds->Warnings().size(), 1u);
    ds->Close();
    EXPECT_EQ(ds->Warnings().size(), 1u);  // a walk closes its tables before the engine asks
    t_.Dir("later");
    ds->Open();
    EXPECT_TRUE(ds->Warnings().empty());
}

TEST(ListingWarnings, UnreadableSubDirectoriesAreCountedWithTheFirstFewPaths) {
    // locked1/ at the top, sub/locked2..5 below, .hidlocked/ (never entered),
    // open/ readable; each locked one holds a file.
    TempTree t;
    t.File("top.txt");
    t.Dir("open");
    t.File("open/o.txt");
    t.Dir("sub");
    for (const char* d :
         {"locked1", "sub/locked2", "sub/locked3", "sub/locked4", "sub/locked5", ".hidlocked"}) {
        t.Dir(d);
        t.File(std::string(d) + "/secret.txt");
        ::chmod(t.Path(d).c_str(), 0300);
    }
    std::optional<AsOtherUser> other;
    other.emplace();
    if (OpenDirectoryPath(t.Path("locked1")).Valid())
        GTEST_SKIP() << "permissions cannot be shown in this environment";
    const std::string text = "'" + t.Root() + " /s'";
    const std::string head = "表 '" + t.Root() + " /s' 中有 5 个子目录无法读取：";

    RecordingFilter all([](const std::vector<Variant>&) { return Variant(true); });
    for (IFilterObject* filter :
         {static_cast<IFilterObject*>(nullptr), static_cast<IFilterObject*>(&all)}) {
        Loaded l = LoadTable(text, {}, filter);
        EXPECT_TRUE(l.active);
        auto by = ByName(l.rows);
        EXPECT_TRUE(by.count("o.txt"));  // the rest is listed
        EXPECT_TRUE(by.count("locked3"));
        EXPECT_FALSE(by.count("secret.txt"));
        ASSERT_EQ(l.warnings.size(), 1u);
        const std::string& w = l.warnings[0];
        ASSERT_EQ(w.rfind(head, 0), 0u) << w;
        // Three of the five paths, then "…".
        std::string list = w.substr(head.size());
        ASSERT_GE(list.size(), 3u);
        EXPECT_EQ(list.substr(list.size() - 3), "…") << w;
        list.resize(list.size() - 3);
        std::vector<std::string> paths;
        for (size_t from = 0;;) {
            size_t sep = list.find("、", from);
            paths.push_back(list.substr(from, sep - from));
            if (sep == std::string::npos) break;
            from = sep + std::string("、").size();
        }
        ASSERT_EQ(paths.size(), 3u) << w;
        std::set<std::string> locked;
        for (const char* d :
             {"locked1", "sub/locked2", "sub/locked3", "sub/locked4", "sub/locked5"})
            locked.insert(t.Path(d));
        for (auto& p : paths)
            EXPECT_TRUE(locked.count(p)) << p;
    }

    // The walk enters directories it does not list; without /s nothing is
    // entered, so nothing is skipped.
    Loaded files = LoadTable("'" + t.Root() + "/open/.. /s/a-d'");
    ASSERT_EQ(files.warnings.size(), 1u);
    EXPECT_EQ(files.warnings[0].rfind("表 '" + t.Root() + "/open/.. /s/a-d' 中有 5 个", 0), 0u);
    EXPECT_TRUE(LoadTable("'" + t.Root() + "'").warnings.empty());
    // One unreadable directory: its path alone (permissions are changed as
    // the owner).
    other.reset();
    for (const char* d : {"sub/locked2", "sub/locked3", "sub/locked4", "sub/locked5"})
        ::chmod(t.Path(d).c_str(), 0755);
    other.emplace();
    EXPECT_EQ(LoadTable("'" + t.Path("sub") + "/ /s'").warnings, std::vector<std::string>{});
    EXPECT_EQ(LoadTable("'" + t.Root() + " /s'").warnings,
              std::vector<std::string>{"表 '" + t.Root() + " /s' 中有 1 个子目录无法读取：" +
                                       t.Root() + "/locked1"});
}

TEST(ListingWarnings, TheWarningTexts) {
    EXPECT_EQ(TableDirectoryWarning("'/x y'", ""), "表 '/x y' 的目录不存在或无法打开");
    EXPECT_EQ(TableDirectoryWarning("\"~/x\"", "/h/x"), "表 '~/x' 的目录不存在或无法打开（/h/x）");
    EXPECT_EQ(TableDirectoryWarning("'a\"", ""), "表 ''a\"' 的目录不存在或无法打开");
    EXPECT_EQ(UnreadableSubDirsWarning("'/d /s'", 2, {"/d/a", "/d/b"}),
              "表 '/d /s' 中有 2 个子目录无法读取：/d/a、/d/b");
    EXPECT_EQ(UnreadableSubDirsWarning("/d /s", 7, {"/d/a", "/d/b", "/d/c"}),
              "表 '/d /s' 中有 7 个子目录无法读取：/d/a、/d/b、/d/c…");
}

}  // namespace
}  // namespace corvane
