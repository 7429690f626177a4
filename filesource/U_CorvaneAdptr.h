// U_CorvaneAdptr: the file system as a data source.
//
// The source is named "FileSystem"; its tables are directory listings. A
// table is named by a table text: a directory, an optional wildcard filter
// and options, for example
//     '/home/me/docs/*.log /s/ar'
// Options begin at the first blank followed by "/" (the blank belongs to the
// separator); "/" separates directories. The last component is a filter
// when it holds "*" or "?", or when it holds "." and is not an existing
// directory; "." and ".." are always directories, and "/." after a name
// that would read as a filter marks it as the directory (the formatter
// writes "/data/v1.2/." so that a project file means the same on every
// machine). A leading "~" or "~/" is the user's home directory; a relative
// path is taken from the current directory, or from the data source's base
// directory when it has one (the desktop program: the project's
// directory). The `path` column shows the directory resolved that way, as
// written otherwise. Options: "s" recurses into sub-directories,
// "all" selects every attribute, "none" clears the mask, "a" + letter adds
// an attribute (r read-only, h hidden, s system, d directory, a archive) and
// "a-" + letter removes one. The default mask 58 keeps regular files,
// directories and hidden entries, but not read-only files nor links.
// The listing controls (TableText): "maxdepth:N" and "mindepth:N" keep
// the entries of depth N at most / at least (the table directory's own
// entries have depth 1; a maximum implies "s", and no directory is entered
// whose entries would lie deeper), "xdev" enters no directory on another
// mount (statx mount ids, so a bind mount counts as another), "exclude:P"
// and "gitignore" leave entries out by pattern (IgnoreRules; a directory
// left out is never opened), "follow" enters links to directories.
//
// Every listed entry is one record of fifteen described columns and a
// sixteenth, `depth`, used by name only: "*" stands for the fifteen
// (GetStarFieldCount). Records come in this order: the kept entries of a
// directory in the order the kernel yields them, then, with "s", the
// records of each non-hidden sub-directory in that same order, depth
// first. Links are listed as themselves and never followed; a directory
// that cannot be opened or read lists nothing and the listing goes on with
// the rest, also when the tree changes while it is listed. What could not
// be read is not silent: the table's Warnings() name a table directory
// that could not be opened, the sub-directories a listing had to skip
// (their count and the first few paths), option tokens the table text
// could not take as written, and the links "follow" did not enter.
//
// Following links ("follow"): a link to a directory is listed as the
// directory it leads to (its metadata, the directory attribute) and
// entered, opened through the link relative to its parent's descriptor;
// below it nothing is followed but further links to directories. A link
// that leads back to a directory on the walk's own branch (same device and
// inode) is listed but not entered, and warned about, as is the link past
// kMaxFollowedLinks on one branch. What lies below a followed link is read
// later (count, version, the content functions) through the directory the
// walk opened there, never through the link again (DirectoryAnchors: the
// table holds an anchor per followed link for as long as its records).
//
// Speed: per entry one directory-record read and one statx relative to the
// open directory; a directory's `count` comes from the walk's own reading
// of it where the walk enters it anyway (see TDirLister), and local times
// from a per-day offset cache (LocalTimeCache).
//
// Memory: a loaded record is about 90 bytes plus its name. The `path`
// column is shared by every record of one directory (a node in the table's
// tree of directory names), the extension is a position in the name, and
// `version` is read from the file only when asked for.
//
// What this unit does not do: reading and writing table texts (TableText),
// the system calls (platform/FileSystem), the
// version resource parsing (platform/PeVersion), the WHERE condition that a
// filter evaluates (the where executor supplies the IFilterObject), and
// binding tables to a FROM clause (the engine).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "datasource/UveskInterface.h"
#include "filesource/TableText.h"
#include "platform/DateTime.h"
#include "platform/DirectoryAnchors.h"
#include "platform/FileSystem.h"

namespace corvane {

// The warnings a table load gives (Warnings()), built here so that every
// host shows the same texts. tableText is the table text as written in the
// statement; resolved is the directory looked for when it differs from the
// text's path (else empty); paths are the first few directories skipped.
std::string TableDirectoryWarning(std::string_view tableText, std::string_view resolved);
std::string UnreadableSubDirsWarning(std::string_view tableText, uint64_t count,
                                     const std::vector<std::string>& paths);
// An option token the table text could not take as written.
std::string OptionIssueWarning(std::string_view tableText, const TDirOptionIssue& issue);
// A link "follow" did not enter: it leads back to target, a directory on
// its own branch (target empty: past the limit of links on one branch).
std::string LinkLoopWarning(std::string_view tableText, std::string_view link,
                            std::string_view target);

// Links followed at most on one branch of a walk (the kernel's own limit
// for one path): a chain of links to ever new directories ends there.
constexpr uint32_t kMaxFollowedLinks = 40;
// Warnings about links not followed that a load gives one by one; past
// them, one more names how many there were besides.
constexpr size_t kMaxLinkWarnings = 10;

// Column indexes of a directory table.
enum TFileColumn : int {
    fcPath,
    fcFilename,
    fcExtension,
    fcShortname,
    fcCreationTime,
    fcLastWriteTime,
    fcLastAccessTime,
    fcSize,
    fcAttri,
    fcCount,
    fcVersion,
    fcIsDir,
    fcReadOnly,
    fcHidden,
    fcData,
    fcDepth,  // not among the fifteen "*" stands for
    fcColumnCount
};
// The columns "*" stands for: the fifteen described ones.
constexpr int kStarColumnCount = fcDepth;

// One column of the catalogue. The two integers are carried for the
// catalogue's users; the engine reads neither.
struct TFileAttr {
    const char* name;
    const char* typeName;  // "string", "integer", "date", "boolean"
    int32_t one;           // 1 for every column
    int32_t weight;        // 100 for lastaccesstime and data, else 1
};

// The column catalogue: the fixed columns in TFileColumn order.
class TFileInfo {
  public:
    static int Count() { return fcColumnCount; }
    static const TFileAttr& At(int index);
    // Index of the column named name ignoring ASCII letter case; -1 if none.
    static int IndexOf(std::string_view name);
};

// One loaded entry. Flags readOnly, isdir and hidden are bits of attri.
struct TFileRecord {
    // Computed flags. rcCountPending: count is not known yet (the walk
    // fills it when it lists the directory; see TDirLister).
    // rcFollowed: a link listed as the directory it leads to.
    enum : uint8_t { rcData = 1, rcVersion = 2, rcCountPending = 4, rcFollowed = 8 };

    std::string filename;
    int64_t size = 0;  // full byte count; 0 for directories
    TDateTime creationtime = 0;
    TDateTime lastwritetime = 0;
    TDateTime lastaccesstime = 0;
    uint32_t pathIndex = 0;       // the table's node of the record's directory
    uint32_t attri = 0;           // attribute word
    uint32_t count = 0;           // entries of a directory, "." and ".." included
    uint32_t extensionStart = 0;  // extension = filename from here
    int32_t version = -1;         // file version number; -1 = empty text
    uint8_t computed = 0;         // rcData | rcVersion once worked out; rcCountPending
    // IsRepeatedLater of the three times (1 creation, 2 last write, 4 last
    // access): which pass through a repeated local hour each one was.
    uint8_t repeatedLater = 0;

    std::string_view Extension() const { return std::string_view(filename).substr(extensionStart); }
    bool IsDir() const { return (attri & faDirectory) != 0; }
    bool ReadOnly() const { return (attri & faReadOnly) != 0; }
    bool Hidden() const { return (attri & faHidden) != 0; }
};

// The loaded records of a table, in fixed blocks: growing never moves a
// record, so a listing of 200 000 entries neither copies them over and over
// nor holds an old and a new array at once, and access by index stays a
// shift and a mask.
class TRecordList {
  public:
    size_t size() const { return count_; }
    TFileRecord& operator[](size_t index) { return blocks_[index >> kShift][index & kMask]; }
    const TFileRecord& at(size_t index) const;  // throws std::out_of_range
    TFileRecord& emplace_back();
    void clear();  // releases the memory too

  private:
    static constexpr size_t kShift = 12;  // 4096 records (about 400 KB) per block
    static constexpr size_t kMask = (size_t{1} << kShift) - 1;
    std::vector<std::unique_ptr<TFileRecord[]>> blocks_;
    size_t count_ = 0;
};

// Threads a listing uses at most, and by default (0): the number of cores.
constexpr int kMaxListingThreads = 64;
int DefaultListingThreads();

// The data source "FileSystem". Its state is the base directory of
// relative table paths (empty: the current directory, as on the command
// line; the desktop program gives the project's directory) and the number
// of threads its tables list with. Every GetDataset makes a new table
// object without looking at the disk.
class TVeskDBAdapterForFile : public IXSimpleDataBase {
  public:
    explicit TVeskDBAdapterForFile(std::string baseDir = {}) : baseDir_(std::move(baseDir)) {}

    std::shared_ptr<IXSimpleDataset> GetDataset(const std::string& name) override;
    std::string GetName() override { return "FileSystem"; }

    // For tables made afterwards.
    void SetBaseDirectory(std::string baseDir) { baseDir_ = std::move(baseDir); }
    const std::string& BaseDirectory() const { return baseDir_; }
    // For tables made afterwards: threads a recursive listing reads with
    // (0: the number of cores; 1: this thread alone). The records and their
    // order are the same whatever the number. The command line's
    // "--threads", the desktop program's key "listingThreads" of section
    // "setting" in config.ini.
    void SetListingThreads(int threads) { threads_ = threads; }

  private:
    std::string baseDir_;
    int threads_ = 0;
};

// One directory table.
class TVeskDSAdapterForFile : public IXSimpleDataset {
  public:
    // baseDir: where relative paths lead (see ResolveTablePath).
    explicit TVeskDSAdapterForFile(std::string tableText, std::string baseDir = {});

    std::string GetName() override { return tableText_; }
    int GetFieldCount() override { return TFileInfo::Count(); }
    int GetStarFieldCount() override { return kStarColumnCount; }
    std::string GetFieldType(int index) override;
    std::string GetFieldName(int index) override;
    void GetFieldValue(int index, Variant& value) override;
    int FieldIndex(const std::string& name) override { return TFileInfo::IndexOf(name); }
    int GetRecordCount() override { return static_cast<int>(records_.size()); }
    bool Eof() override { return current_ >= static_cast<int>(records_.size()); }
    void SetRecNo(int index) override { current_ = index; }
    void First() override { current_ = 0; }
    void Next() override { ++current_; }
    // Drops the records; active turns false.
    void Close() override;
    // Reloads from the file system; active tells whether the load finished
    // (false for a text that does not parse, an empty path, a cancelled or
    // failed listing; the records gathered so far are kept).
    void Open() override;
    bool Active() override { return active_; }
    int GetRecNo() override { return current_; }
    bool CanFilter() override { return true; }
    void SetFilter(IFilterObject* filter) override { filter_ = filter; }
    void SetProgress(IProgress* progress) override { progress_ = progress; }
    // Threads the next Open reads directories with (see
    // TVeskDBAdapterForFile::SetListingThreads).
    void SetListingThreads(int threads);
    // A statement that does not read count spares the listing the counting
    // of directories it does not enter (they are counted when read).
    void SetUsedFields(const std::vector<int>& fields) override;
    // A table directory that could not be opened (also a text without a
    // directory), and sub-directories that a listing could not open or
    // read; those that vanished or turned into something else meanwhile are
    // not reported. At most one message of each kind per load.
    std::vector<std::string> Warnings() override { return warnings_; }

    // Direct access for tests and tools: the record as stored (a count
    // still pending after an incomplete load reads 0 here; GetFieldValue
    // works it out).
    const TFileRecord& RecordAt(int index) const { return records_.at(static_cast<size_t>(index)); }
    // The `path` column of a record.
    std::string PathOf(const TFileRecord& record) const { return PathText(record.pathIndex); }
    // How many entries the last load read the metadata of (for tests and
    // tools: a filter that turns entries down by name spares the others).
    uint64_t StatCalls() const { return statCalls_; }

  private:
    friend class TDirLister;
    bool Load();
    // The version number of a record, read from disk on first request.
    int32_t VersionOf(TFileRecord& record);
    // The count of a directory whose listing did not finish, worked out now.
    uint32_t CountOf(TFileRecord& record);
    // Where a record's entry is on disk: its directory as opened, and the
    // full name.
    std::string DirectoryOnDisk(const TFileRecord& record) const;
    // The `path` text of a directory node, put together from the names.
    const std::string& PathText(uint32_t node) const;

    bool active_ = false;
    std::string tableText_;
    std::string baseDir_;
    std::vector<std::string> warnings_;  // of the last load
    int current_ = 0;
    TRecordList records_;
    // The directories that records were listed from, as a tree of names:
    // the `path` text of a deep directory is not stored again for each
    // level (which would make memory grow with the square of the depth).
    // Node 0 is the table's directory, its name the resolved path.
    struct TDirNode {
        uint32_t parent;     // kNoParent for the table's directory
        std::string name;    // joined to the parent's text with "/"
        uint32_t depth = 0;  // 0 for the table's directory; its entries have depth + 1
    };
    static constexpr uint32_t kNoParent = UINT32_MAX;
    std::vector<TDirNode> dirNodes_;
    // The last path text put together: a directory's records are adjacent.
    mutable uint32_t pathCacheNode_ = kNoParent;
    mutable std::string pathCache_;
    mutable std::vector<uint32_t> pathChain_;  // scratch for PathText
    // The table's path resolved ("~", base directory), and as actually
    // opened (they differ when blanks at its end had to be dropped to find
    // the directory).
    std::string rootText_;
    std::string rootOpened_;
    uint64_t usedFields_ = ~uint64_t{0};               // bit per column the statement reads
    int threads_ = 0;                                  // 0: the number of cores
    uint64_t statCalls_ = 0;                           // of the last load
    IFilterObject* filter_ = nullptr;                  // borrowed; applied by Open
    IProgress* progress_ = nullptr;                    // borrowed
    std::array<Variant, fcColumnCount> filterValues_;  // reused per candidate
    // The directories the last load reached through followed links.
    std::vector<std::unique_ptr<DirectoryAnchor>> anchors_;
};

}  // namespace corvane
