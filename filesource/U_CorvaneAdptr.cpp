#include "filesource/U_CorvaneAdptr.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "filesource/IgnoreRules.h"
#include "platform/PeVersion.h"
#include "platform/Text.h"

namespace corvane {

namespace {

constexpr TFileAttr kColumns[fcColumnCount] = {
    {"path", "string", 1, 1},           {"filename", "string", 1, 1},
    {"extension", "string", 1, 1},      {"shortname", "string", 1, 1},
    {"creationtime", "date", 1, 1},     {"lastwritetime", "date", 1, 1},
    {"lastaccesstime", "date", 1, 100}, {"size", "integer", 1, 1},
    {"attri", "integer", 1, 1},         {"count", "integer", 1, 1},
    {"version", "string", 1, 1},        {"isdir", "boolean", 1, 1},
    {"readOnly", "boolean", 1, 1},      {"hidden", "boolean", 1, 1},
    {"data", "string", 1, 100},         {"depth", "integer", 1, 1},
};
constexpr TFileAttr kNoColumn = {"", "", 0, 0};

// Progress is reported, and cancellation checked, once per this many
// entries examined.
constexpr long long kProgressStep = 4096;
// Directory descriptors held open along the current branch of a recursive
// listing; deeper ancestors are closed and reopened through "..".
constexpr size_t kMaxOpenDirs = 64;

// Where the extension starts: after the last "."; at the end (empty) when
// the name holds no "." or ends with one.
uint32_t ExtensionStart(std::string_view name) {
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == name.size())
        return static_cast<uint32_t>(name.size());
    return static_cast<uint32_t>(dot + 1);
}

// The directory that holds path's last component (with its final "/")
// and that component; false when path names no single entry.
bool SplitEntryPath(const std::string& path, std::string& parent, std::string& name) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 >= path.size()) return false;
    name = path.substr(slash + 1);
    if (name == "." || name == "..") return false;
    parent = path.substr(0, slash + 1);
    return true;
}

// Messages of a load; every host shows these texts as they are.
constexpr std::string_view kWarnTableDir = "表 '%s' 的目录不存在或无法打开";
constexpr std::string_view kWarnResolvedDir = "（%s）";
constexpr std::string_view kWarnSubDirs = "表 '%s' 中有 %s 个子目录无法读取：%s";
constexpr std::string_view kWarnUnknownOption =
    "表 '%s' 的选项 '%s' 无法识别，已按属性规则处理（一个字符、可选的 \"-\" 和 a d h r s "
    "之一）";
constexpr std::string_view kWarnBadOptionValue = "表 '%s' 的选项 '%s' 缺少值或值无效，已忽略";
constexpr std::string_view kWarnArchiveOption = "表 '%s' 的选项 archive 尚不支持，已按没有它列出";
constexpr std::string_view kWarnLinkLoop = "表 '%s' 中的链接 %s 指回 %s，没有再进入";
constexpr std::string_view kWarnLinkChain =
    "表 '%s' 中的链接 %s 没有跟随：一条分支上最多跟随 %s 个链接";
constexpr std::string_view kWarnMoreLinks = "表 '%s' 中还有 %s 个链接因为同样的原因没有进入";
constexpr std::string_view kWarnPathSeparator = "、";
constexpr std::string_view kWarnMorePaths = "…";
// How many skipped sub-directories a warning names.
constexpr size_t kWarnPathsShown = 3;

// pattern with each "%s" replaced by the next argument.
std::string Fill(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    auto arg = args.begin();
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's' &&
            arg != args.end()) {
            out += *arg++;
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

}  // namespace

std::string TableDirectoryWarning(std::string_view tableText, std::string_view resolved) {
    std::string text = Fill(kWarnTableDir, {UnquotedTableText(tableText)});
    if (!resolved.empty()) text += Fill(kWarnResolvedDir, {resolved});
    return text;
}

std::string UnreadableSubDirsWarning(std::string_view tableText, uint64_t count,
                                     const std::vector<std::string>& paths) {
    std::string list;
    for (size_t i = 0; i < paths.size() && i < kWarnPathsShown; ++i) {
        if (i > 0) list += kWarnPathSeparator;
        list += paths[i];
    }
    if (count > std::min<uint64_t>(paths.size(), kWarnPathsShown)) list += kWarnMorePaths;
    return Fill(kWarnSubDirs, {UnquotedTableText(tableText), std::to_string(count), list});
}

std::string OptionIssueWarning(std::string_view tableText, const TDirOptionIssue& issue) {
    return Fill(issue.kind == TDirOptionIssue::Unknown ? kWarnUnknownOption : kWarnBadOptionValue,
                {UnquotedTableText(tableText), issue.token});
}

std::string LinkLoopWarning(std::string_view tableText, std::string_view link,
                            std::string_view target) {
    if (target.empty())
        return Fill(kWarnLinkChain,
                    {UnquotedTableText(tableText), link, std::to_string(kMaxFollowedLinks)});
    return Fill(kWarnLinkLoop, {UnquotedTableText(tableText), link, target});
}

const TFileAttr& TFileInfo::At(int index) {
    if (index < 0 || index >= fcColumnCount) return kNoColumn;
    return kColumns[index];
}

int TFileInfo::IndexOf(std::string_view name) {
    for (int i = 0; i < fcColumnCount; ++i)
        if (SameTextAscii(kColumns[i].name, name)) return i;
    return -1;
}

// ---------------------------------------------------------------------------
// Records

const TFileRecord& TRecordList::at(size_t index) const {
    if (index >= count_) throw std::out_of_range("TRecordList::at");
    return blocks_[index >> kShift][index & kMask];
}

TFileRecord& TRecordList::emplace_back() {
    if ((count_ >> kShift) == blocks_.size())
        blocks_.push_back(std::make_unique<TFileRecord[]>(kMask + 1));
    return (*this)[count_++];
}

void TRecordList::clear() {
    blocks_.clear();
    blocks_.shrink_to_fit();
    count_ = 0;
}

// ---------------------------------------------------------------------------
// Listing

// Walks one table's tree and fills its records. The walk is iterative (a
// stack of directories, not recursion), so depth is limited by memory only;
// each directory is opened relative to its parent's descriptor, so paths
// longer than the kernel accepts are no obstacle.
//
// Per entry: one getdents64 record and, when the entry can be kept (name
// filter, what the entry type reveals, and the pushed-down filter as far as
// the name and the type decide it) or must be recursed into, one statx
// relative to the open directory. A directory entry the walk enters but
// does not keep needs none: its type is in the directory already. Nothing
// is allocated for an entry that is not kept.
//
// The `count` of a kept directory is the number of entries an enumeration
// of it yields. When the walk will list that directory anyway (with /s, a
// directory that is not hidden), the count comes from that listing: its
// record is marked pending and filled when the walk reaches it, which
// saves a second open and read of every directory. A filter that reads
// count must see it before it decides, so then the directory is read at
// once instead, and the walk later lists it from what
// was read then (within a budget of descriptors and memory; past it, the
// reading is only counted and the walk reads the directory again). For
// directories the walk does not enter, a counting pass runs at once when
// the statement reads count, else when the column is read. A
// count still pending when the walk ends early (cancelled, or the tree
// moved under it) is worked out from the path when the column is read.
//
// Reading ahead in parallel. With more than one thread and "s", reader
// threads read the directories the walk will enter next (getdents64 and
// the statx calls above, relative to the directory's descriptor) into
// batches, while this thread (the caller's) builds the records from them
// in exactly the order it would have read them itself: the order of the
// records does not depend on the number of threads. When the walk is about
// to enter a directory, it hands the next few sub-directories of the same
// directory (kWindow) to the readers, opened already; the readers take the
// one the walk needs soonest (the deepest, then the first). The directory
// the walk enters it reads itself, as it does one that no reader has taken
// yet. The read-ahead is bounded: at most kMaxPending directories (each an
// open descriptor) and about kMaxPendingEntries entries. The pushed-down
// filter is not thread-safe: every use of it holds filterLock_. Progress,
// cancellation, warnings and records stay on this thread; readers only
// notice that the listing was given up (stop_).
class TDirLister {
  public:
    // exactName: list only the entry of that name (a table text that names
    // a file rather than a directory), whatever its attributes.
    TDirLister(TVeskDSAdapterForFile& table, const TFileDirOption& option,
               std::optional<std::string> exactName = std::nullopt)
        : t_(table), o_(option), exactName_(std::move(exactName)) {
        mask_ = o_.nameMask.empty() ? std::string_view("*") : std::string_view(o_.nameMask);
        while (!mask_.empty() && mask_.back() == ' ')
            mask_.remove_suffix(1);
        anyName_ = mask_ == "*";
        IFilterObject* filter = t_.filter_;
        countForFilter_ = filter && filter->Reads(fcCount);
        countUsed_ = ((t_.usedFields_ >> fcCount) & 1) != 0;
        if (filter)
            for (int c : {fcPath, fcFilename, fcExtension, fcShortname, fcVersion, fcIsDir,
                          fcHidden, fcData, fcDepth})
                prefilter_ = prefilter_ || filter->Reads(c);
        recursive_ = o_.Recursive();
        maxDepth_ = o_.maxDepth.value_or(UINT32_MAX);
        follow_ = o_.followLinks;
        xdev_ = o_.oneFileSystem;
        ignoring_ = o_.gitIgnore;
        for (const std::string& pattern : o_.excludes)
            excludes_.AddLine(pattern, false);
        matching_ = ignoring_ || !excludes_.Empty();
    }

    ~TDirLister() { StopReaders(); }
    TDirLister(const TDirLister&) = delete;
    TDirLister& operator=(const TDirLister&) = delete;

    // Lists the tree below root; false when cancelled.
    bool Run(FileHandle root) {
        if (maxDepth_ == 0) return true;  // no entry has depth 0
        Frame top;
        top.level = 1;
        if (follow_ && !DirectoryIdentity(root.Get(), top.dev, top.ino)) top.ino = 0;
        if (xdev_) {
            uint64_t ino = 0;
            xdevKnown_ =
                MountOf(root.Get(), rootMount_) && DirectoryIdentity(root.Get(), rootDev_, ino);
        }
        if (ignoring_) {
            loader_.Start(root.Get());
            top.relDir = loader_.TablePrefix();
            top.ignore = loader_.ForDirectory(root.Get(), top.relDir, loader_.Top());
        }
        tablePrefixLength_ = top.relDir.size();
        const int threads = t_.threads_ > 0 ? t_.threads_ : DefaultListingThreads();
        if (recursive_)
            for (int i = 1; i < threads; ++i)
                readers_.emplace_back([this] { ReaderLoop(); });
        path_ = t_.rootText_;
        top.fd = std::move(root);
        top.pathLength = path_.size();
        stack_.push_back(std::move(top));
        ListResult first = ListOne(stack_.back());
        if (first.readFailed) NoteUnreadable(path_.size(), {});
        bool ok = first.completed && Walk();
        if (t_.progress_) t_.progress_->Listed(examined_);
        return ok;
    }

    // Directories that could not be opened or read to the end, and the
    // `path` texts of the first few.
    uint64_t UnreadableCount() const { return unreadable_; }
    const std::vector<std::string>& UnreadablePaths() const { return unreadablePaths_; }
    // Entries whose metadata was read.
    uint64_t StatCalls() const { return statCalls_; }
    // Warnings about links "follow" did not enter, and how many there were.
    const std::vector<std::string>& LinkWarnings() const { return linkWarnings_; }
    uint64_t LinksNotEntered() const { return linksNotEntered_; }

  private:
    static constexpr uint32_t kNoRecord = UINT32_MAX;

    // A directory read when its entry was met (filtered listing), kept
    // open with its records until the walk lists it.
    struct ReadAhead {
        FileHandle fd;
        std::string records;
    };

    // One entry of a directory read in one go: its name (in the batch),
    // its type, what may be done with it, and its metadata when read.
    struct TReadEntry {
        uint64_t ordinal = 0;  // entries of the directory examined before it
        uint32_t nameStart = 0;
        uint32_t nameLength = 0;
        unsigned char type = 0;
        bool mayKeep = false;
        bool mayRecurse = false;
        bool stated = false;    // false: entered, not kept; no metadata needed
        bool followed = false;  // a link to a directory, st what it leads to
        EntryStat st;
    };

    // A directory read in one go by a reader.
    struct TDirBatch {
        std::string names;                // entry names, each NUL-terminated
        std::vector<TReadEntry> entries;  // those worth a look, in the kernel's order
        uint64_t listed = 0;              // as an enumeration yields them, "." and ".." included
        uint64_t examined = 0;            // all but "." and ".."
        uint64_t statCalls = 0;
        bool readFailed = false;
        bool stopped = false;  // reading was given up
    };

    // A sub-directory handed to the readers, opened, before the walk
    // reaches it. Shared by the walk and the reader that reads it.
    struct TPending {
        enum class State : uint8_t { Queued, Reading, Read };
        FileHandle fd;
        std::string path;                                  // its `path` text
        size_t depth = 0;                                  // of the frame it belongs to
        size_t index = 0;                                  // among that frame's sub-directories
        uint32_t level = 0;                                // depth of its entries
        std::string relDir;                                // see Frame
        std::shared_ptr<const TIgnoreLevel> parentIgnore;  // the parent's rules
        std::shared_ptr<const TIgnoreLevel> ignore;        // its own, made by the reader
        TDirBatch batch;
        State state = State::Queued;  // guarded by poolLock_
        bool dropped = false;         // the walk gave it up while it was read
        std::exception_ptr fault;     // what a reader could not handle
    };

    // A sub-directory the walk will enter.
    struct Queued {
        uint32_t record = kNoRecord;        // record awaiting its count from the walk
        size_t nameAt = 0;                  // its name in the frame's subdirs
        ReadAhead ahead;                    // fd valid when it was read ahead
        std::shared_ptr<TPending> pending;  // handed to the readers
        bool handedOut = false;             // tried once already
        bool followed = false;              // a link to a directory: opened through it
    };

    // One directory of the walk.
    struct Frame {
        FileHandle fd;                    // closed while parked (see kMaxOpenDirs)
        uint64_t dev = 0, ino = 0;        // identity, taken when parked
        size_t pathLength = 0;            // its `path` text is path_ cut to this
        size_t nameStart = 0;             // its own name is path_ from here to pathLength
        int64_t node = -1;                // its node in dirNodes_, once a record needs it
        std::string subdirs;              // names still to visit, each NUL-terminated
        std::vector<Queued> queued;       // per name in subdirs, in the same order
        size_t next = 0;                  // first unvisited name in subdirs
        size_t nextIndex = 0;             // its position in queued
        std::string readAhead;            // records to list it from, when read ahead
        bool replay = false;              // list from readAhead, not from the directory
        std::shared_ptr<TPending> batch;  // read by a reader: list from its batch
        uint32_t level = 1;               // depth of its entries
        bool followed = false;            // entered through a link (identity in dev, ino)
        uint32_t followedLinks = 0;       // links followed on the way here
        // Its path below the origin of the ignore rules (see TIgnoreLoader),
        // kept while excludes or ignore files are matched, and its rules.
        std::string relDir;
        std::shared_ptr<const TIgnoreLevel> ignore;
    };

    // What the decisions about one directory's entries need to know of it.
    struct TDirContext {
        std::string_view path;  // its `path` text
        uint32_t level;
        const TIgnoreLevel* ignore;
        std::string_view relDir;
    };

    // What PlanEntry decided about one entry.
    struct TPlan {
        bool mayKeep = false;
        bool mayRecurse = false;
        bool stated = false;
        bool followed = false;
        EntryStat st;
    };

    // What reading one directory gave.
    struct ListResult {
        bool completed = true;  // false when cancelled
        bool readFailed = false;
        uint64_t entries = 0;  // as an enumeration yields them, "." and ".." included
    };

    static uint32_t CountFrom(const ListResult& r) {
        if (r.readFailed) return 0;  // as a counting pass that cannot read counts 0
        return r.entries > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(r.entries);
    }

    void SettleCount(uint32_t record, uint32_t count) {
        if (record == kNoRecord) return;
        TFileRecord& r = t_.records_[record];
        r.count = count;
        r.computed &= static_cast<uint8_t>(~TFileRecord::rcCountPending);
    }

    // Depth first over the sub-directories gathered by ListOne.
    bool Walk() {
        size_t firstOpen = 0;  // frames from here up hold open descriptors
        while (!stack_.empty()) {
            Frame& top = stack_.back();
            if (top.next < top.subdirs.size()) {
                const char* name = top.subdirs.c_str() + top.next;
                size_t len = std::strlen(name);
                top.next += len + 1;
                Queued& q = top.queued[top.nextIndex++];
                const uint32_t record = q.record;
                const bool followed = q.followed;
                std::string readAhead;
                bool replay = false;
                FileHandle child;
                std::shared_ptr<TPending> batch = std::move(q.pending);
                HandOut(top);
                if (q.ahead.fd.Valid()) {
                    child = std::move(q.ahead.fd);
                    readAhead = std::move(q.ahead.records);
                    replay = true;
                    --heldDirs_;
                    heldBytes_ -= readAhead.size();
                } else if (batch) {
                    Acquire(*batch);
                    child = std::move(batch->fd);
                } else {
                    child = OpenSubDirectory(top.fd.Get(), name, followed);
                    if (!child.Valid() && errno != ENOENT && errno != ENOTDIR && errno != ELOOP)
                        NoteUnreadable(top.pathLength, std::string_view(name, len));
                }
                if (!child.Valid()) {
                    // Unreadable or gone: lists nothing and counts 0, as a
                    // counting pass would.
                    SettleCount(record, 0);
                    continue;
                }
                Frame frame;
                if (follow_ && !DirectoryIdentity(child.Get(), frame.dev, frame.ino)) frame.ino = 0;
                if (followed) {
                    // Where the link leads: back to a directory of this
                    // branch (a loop), or one link too many.
                    size_t loopAt = stack_.size();
                    for (size_t k = 0; k < stack_.size(); ++k)
                        if (stack_[k].ino != 0 && stack_[k].dev == frame.dev &&
                            stack_[k].ino == frame.ino)
                            loopAt = k;
                    if (loopAt < stack_.size() || top.followedLinks >= kMaxFollowedLinks) {
                        NoteLinkNotEntered(
                            top.pathLength, std::string_view(name, len),
                            loopAt < stack_.size() ? stack_[loopAt].pathLength : std::string::npos);
                        SettleCount(
                            record,
                            replay ? 0 : CountOpenDirectoryEntries(child.Get(), countBuffer_));
                        continue;
                    }
                }
                frame.level = top.level + 1;
                frame.followed = followed;
                frame.followedLinks = top.followedLinks + (followed ? 1 : 0);
                if (matching_) {
                    frame.relDir = top.relDir;
                    if (!frame.relDir.empty()) frame.relDir += '/';
                    frame.relDir.append(name, len);
                }
                if (ignoring_)
                    frame.ignore =
                        batch ? batch->ignore
                              : loader_.ForDirectory(child.Get(), frame.relDir, top.ignore);
                path_.resize(top.pathLength);
                if (path_.empty() || path_.back() != '/') path_ += '/';
                frame.nameStart = path_.size();
                path_.append(name, len);
                if (followed) Anchor(child.Get());
                frame.fd = std::move(child);
                frame.pathLength = path_.size();
                frame.readAhead = std::move(readAhead);
                frame.replay = replay;
                frame.batch = std::move(batch);
                if (stack_.size() - firstOpen >= kMaxOpenDirs) {
                    // Park the outermost open ancestor; its identity lets
                    // the way back through ".." be checked. One whose child
                    // was entered through a link stays open: ".." of the
                    // child leads where the link pointed, not back.
                    Frame& park = stack_[firstOpen++];
                    const bool childFollowed =
                        firstOpen < stack_.size() ? stack_[firstOpen].followed : frame.followed;
                    if (!childFollowed) {
                        if (!follow_ && !DirectoryIdentity(park.fd.Get(), park.dev, park.ino))
                            park.ino = 0;
                        park.fd.Reset();
                    }
                }
                stack_.push_back(std::move(frame));
                ListResult listed = ListOne(stack_.back());
                if (!listed.completed) return false;
                if (listed.readFailed) NoteUnreadable(path_.size(), {});
                SettleCount(record, CountFrom(listed));
            } else {
                size_t topIndex = stack_.size() - 1;
                if (topIndex > 0 && topIndex - 1 < firstOpen) {
                    // The parent was parked: reopen it through "..".
                    Frame& parent = stack_[topIndex - 1];
                    if (!parent.fd.Valid())
                        parent.fd = ReopenParentDirectory(top.fd.Get(), parent.dev, parent.ino);
                    if (!parent.fd.Valid()) {
                        // ".." leads elsewhere: this directory was moved
                        // meanwhile. Find the way down from the table's
                        // directory instead; ancestors that moved as well
                        // are given up like directories removed meanwhile,
                        // and the listing goes on with the rest.
                        const size_t reached = Reconnect(topIndex - 1);
                        for (size_t k = reached; k < stack_.size(); ++k)
                            Forget(stack_[k]);
                        if (reached == 0) return true;  // nothing is where it was
                        stack_.resize(reached);
                        firstOpen = reached - 1;
                        continue;
                    }
                    firstOpen = topIndex - 1;
                }
                stack_.pop_back();
            }
        }
        return true;
    }

    // Reopens the parked frame target by walking down from the table's
    // directory, name by name, checking each directory's identity. Returns
    // how many frames from the bottom are still where they were: target + 1
    // when all are, k when frame k was moved or removed. The deepest of
    // those, frame (result - 1), is left open; the others stay parked.
    size_t Reconnect(size_t target) {
        FileHandle cur = OpenDirectoryPath(t_.rootOpened_);
        if (!IsFrameDirectory(cur, stack_[0])) return 0;
        for (size_t k = 1; k <= target; ++k) {
            const Frame& f = stack_[k];
            const std::string name(path_, f.nameStart, f.pathLength - f.nameStart);
            FileHandle next = OpenSubDirectory(cur.Get(), name.c_str(), f.followed);
            if (!IsFrameDirectory(next, f)) {
                stack_[k - 1].fd = std::move(cur);
                return k;
            }
            cur = std::move(next);
        }
        stack_[target].fd = std::move(cur);
        return target + 1;
    }

    // Gives back the budget of what a dropped frame still held read ahead.
    void Forget(Frame& f) {
        for (size_t k = f.nextIndex; k < f.queued.size(); ++k) {
            if (f.queued[k].pending) Drop(*f.queued[k].pending);
            ReadAhead& a = f.queued[k].ahead;
            if (!a.fd.Valid()) continue;
            --heldDirs_;
            heldBytes_ -= a.records.size();
            a.fd.Reset();
            std::string().swap(a.records);
        }
    }

    static bool IsFrameDirectory(const FileHandle& fd, const Frame& frame) {
        uint64_t dev = 0, ino = 0;
        return fd.Valid() && DirectoryIdentity(fd.Get(), dev, ino) && dev == frame.dev &&
               ino == frame.ino;
    }

    // Whether an entry of this type could pass the attribute mask at all.
    bool Possible(unsigned char type, bool hidden) const {
        uint32_t m = o_.attrMask;
        if (hidden && !(m & faHidden)) return false;
        switch (type) {
            case DT_UNKNOWN:
                return true;
            case DT_DIR:
                return (m & faDirectory) != 0;
            case DT_REG:
                return (m & faArchive) != 0;
            case DT_LNK:
                // Followed, a link to a directory is listed as one.
                return (m & faSysFile) != 0 || (follow_ && (m & faDirectory) != 0);
            default:
                return (m & faSysFile) != 0;
        }
    }

    // Reads one directory: keeps its entries and gathers the sub-directories
    // to visit.
    ListResult ListOne(Frame& f) {
        ListResult result = f.batch    ? ListBatch(f, f.batch->batch)
                            : f.replay ? ListEntries(f, DirReader(f.readAhead))
                                       : ListEntries(f, DirReader(f.fd.Get(), listBuffer_));
        std::string().swap(f.readAhead);
        f.batch.reset();
        return result;
    }

    // Moves the count of entries examined on to to, reporting progress at
    // every step passed; false when cancelled.
    bool Advance(long long to) {
        const bool passed = to / kProgressStep != examined_ / kProgressStep;
        examined_ = to;
        return !passed || Tick();
    }

    // Lists a directory from what a reader read.
    ListResult ListBatch(Frame& f, TDirBatch& b) {
        ListResult result;
        result.entries = b.listed;
        result.readFailed = b.readFailed;
        statCalls_ += b.statCalls;
        const long long base = examined_;
        for (const TReadEntry& r : b.entries) {
            if (!Advance(base + static_cast<long long>(r.ordinal) + 1)) {
                result.completed = false;
                return result;
            }
            const char* cname = b.names.data() + r.nameStart;
            const std::string_view name(cname, r.nameLength);
            if (r.stated)
                Take(f, cname, name, r.mayKeep, r.mayRecurse, r.st, r.followed);
            else
                Enqueue(f, name, kNoRecord, false);
        }
        if (!Advance(base + static_cast<long long>(b.examined)) || b.stopped)
            result.completed = false;
        return result;
    }

    ListResult ListEntries(Frame& f, DirReader reader) {
        ListResult result;
        const TDirContext c{std::string_view(path_).substr(0, f.pathLength), f.level,
                            f.ignore.get(), f.relDir};
        RawDirEntry e;
        TPlan plan;
        while (reader.Next(e)) {
            ++result.entries;
            std::string_view name(e.name, e.nameLength);
            if (name == "." || name == ".." || name.empty()) continue;
            if (!Advance(examined_ + 1)) {
                result.completed = false;
                return result;
            }
            if (!PlanEntry(f.fd.Get(), c, e, plan, statCalls_, scratch_)) continue;
            if (!plan.stated) {
                // Entered but not kept: the entry type says all the walk
                // needs, and opening refuses anything but a directory.
                Enqueue(f, name, kNoRecord, false);
                continue;
            }
            Take(f, e.name, name, plan.mayKeep, plan.mayRecurse, plan.st, plan.followed);
        }
        result.readFailed = reader.Failed();
        return result;
    }

    // Decides about one entry of the directory c describes (open as fd)
    // before anything is built for it: whether it may be kept (name
    // filter, depth, what its type reveals, the pushed-down filter as far
    // as the name decides it), whether the walk may enter it, and whether
    // excludes or ignore files leave it out; reads its metadata when a
    // record may be made, the entry is a link to look through, or the
    // mount matters. False when nothing is to be done with it. Runs on
    // reader threads too: it touches nothing but its arguments and, under
    // filterLock_, the filter.
    bool PlanEntry(int fd, const TDirContext& c, const RawDirEntry& e, TPlan& plan,
                   uint64_t& statCalls, std::string& scratch) {
        const std::string_view name(e.name, e.nameLength);
        const bool hidden = name.front() == '.';
        const bool mayBeLink = follow_ && (e.type == DT_LNK || e.type == DT_UNKNOWN);
        plan.stated = plan.followed = false;
        const bool named =
            exactName_ ? name == *exactName_ : (anyName_ || WildcardMatch(name, mask_));
        plan.mayKeep = c.level >= o_.minDepth && named && Possible(e.type, hidden);
        if (plan.mayKeep && prefilter_) {
            const std::lock_guard<std::mutex> lock(filterLock_);
            if (RejectedByName(c.path, name, e.type, c.level)) plan.mayKeep = false;
        }
        plan.mayRecurse = recursive_ && c.level < maxDepth_ && !hidden &&
                          (e.type == DT_DIR || e.type == DT_UNKNOWN || mayBeLink);
        if (!plan.mayKeep && !plan.mayRecurse) return false;
        if (e.type == DT_UNKNOWN || mayBeLink) {
            // What the entry is decides what the patterns say of it.
            ++statCalls;
            if (!StatEntry(fd, e.name, plan.st)) return false;  // gone meanwhile
            plan.stated = true;
            if (follow_ && S_ISLNK(plan.st.mode)) {
                EntryStat target;
                if (StatEntry(fd, e.name, target, true) && S_ISDIR(target.mode)) {
                    plan.st = target;
                    plan.followed = true;
                }
            }
        }
        if (matching_) {
            const bool isDir = plan.stated ? S_ISDIR(plan.st.mode) : e.type == DT_DIR;
            if (LeftOut(c, name, isDir, scratch)) return false;  // never opened, never read
        }
        if (plan.stated) return true;
        if (!plan.mayKeep && e.type == DT_DIR && !xdev_) return true;  // no metadata needed
        ++statCalls;
        if (!StatEntry(fd, e.name, plan.st)) return false;
        plan.stated = true;
        return true;
    }

    // Whether the excludes or the ignore files leave the entry out.
    bool LeftOut(const TDirContext& c, std::string_view name, bool isDir,
                 std::string& scratch) const {
        scratch.assign(c.relDir);
        if (!scratch.empty()) scratch += '/';
        scratch += name;
        if (!excludes_.Empty()) {
            // Exclude patterns are relative to the table's directory.
            std::string_view below(scratch);
            below.remove_prefix(tablePrefixLength_ == 0 ? 0 : tablePrefixLength_ + 1);
            if (excludes_.Match(below, name, isDir) == TIgnoreList::kIgnored) return true;
        }
        return ignoring_ && IgnoredByLevels(c.ignore, scratch, name, isDir);
    }

    // Whether an entry on mount m stays on the table directory's file
    // system.
    bool SameFileSystem(const EntryStat& st) const {
        if (!xdevKnown_) return true;
        if (st.mount.isMountId == rootMount_.isMountId) return st.mount.id == rootMount_.id;
        return st.dev == rootDev_;
    }

    // An entry whose metadata is known: kept when it passes the mask (and
    // the filter), queued when the walk enters it.
    void Take(Frame& f, const char* cname, std::string_view name, bool mayKeep, bool mayRecurse,
              const EntryStat& st, bool followed) {
        uint32_t attr = AttributesFromMode(st.mode, name);
        // Recursion selects directories alone: hidden, system and
        // volume entries are skipped, read-only ones are not; with "xdev"
        // only those of the table directory's file system.
        const bool recurse = mayRecurse && (attr & faDirectory) &&
                             !(attr & (faHidden | faSysFile | faVolumeId)) &&
                             (!xdev_ || SameFileSystem(st));
        uint32_t record = kNoRecord;
        if (mayKeep && (attr & ~o_.attrMask) == 0)
            record = Keep(f, cname, name, st, attr, recurse, followed);
        if (recurse) Enqueue(f, name, record, followed);
        ahead_ = ReadAhead{};  // read ahead only for a directory the walk enters
    }

    // Reads the directory of p into its batch as ListEntries would list
    // it, without keeping anything: on a reader thread, or on this one for
    // a directory no reader took. Gives up when the listing is (stop_) or,
    // on this thread, when it is cancelled.
    void ReadBatch(TPending& p, DirBuffer& buffer, bool here) {
        TDirBatch& b = p.batch;
        const int fd = p.fd.Get();
        if (ignoring_) p.ignore = loader_.ForDirectory(fd, p.relDir, p.parentIgnore);
        const TDirContext c{p.path, p.level, p.ignore.get(), p.relDir};
        std::string scratch;
        DirReader reader(fd, buffer);
        RawDirEntry e;
        TPlan plan;
        while (reader.Next(e)) {
            ++b.listed;
            std::string_view name(e.name, e.nameLength);
            if (name == "." || name == ".." || name.empty()) continue;
            const uint64_t ordinal = b.examined++;
            if ((ordinal + 1) % kProgressStep == 0 &&
                (stop_.load(std::memory_order_relaxed) ||
                 (here && t_.progress_ && t_.progress_->Cancelled()))) {
                b.stopped = true;
                return;
            }
            if (!PlanEntry(fd, c, e, plan, b.statCalls, scratch)) continue;
            TReadEntry& r = b.entries.emplace_back();
            r.ordinal = ordinal;
            r.nameStart = static_cast<uint32_t>(b.names.size());
            r.nameLength = static_cast<uint32_t>(name.size());
            r.type = e.type;
            r.mayKeep = plan.mayKeep;
            r.mayRecurse = plan.mayRecurse;
            r.stated = plan.stated;
            r.followed = plan.followed;
            if (plan.stated) r.st = plan.st;
            b.names.append(name);
            b.names.push_back('\0');
        }
        b.readFailed = reader.Failed();
    }

    // ---- The readers (see the class comment) ----

    // The next few sub-directories of f after the one the walk enters now,
    // handed to the readers as far as the budget allows.
    void HandOut(Frame& f) {
        if (readers_.empty() || !f.fd.Valid()) return;
        const size_t depth = stack_.size();
        const size_t end = std::min(f.queued.size(), f.nextIndex + kWindow);
        for (size_t k = f.nextIndex; k < end; ++k) {
            Queued& q = f.queued[k];
            // A link to follow is left to the walk, which checks where it leads.
            if (q.pending || q.ahead.fd.Valid() || q.handedOut || q.followed) continue;
            {
                const std::lock_guard<std::mutex> lock(poolLock_);
                if (pendingCount_ >= kMaxPending) return;
            }
            q.handedOut = true;  // once: a directory that would not open is left to the walk
            const char* name = f.subdirs.c_str() + q.nameAt;
            FileHandle fd = OpenSubDirectory(f.fd.Get(), name);
            if (!fd.Valid()) continue;  // the walk tries again and tells why
            auto p = std::make_shared<TPending>();
            p->fd = std::move(fd);
            p->path.assign(path_, 0, f.pathLength);
            if (p->path.empty() || p->path.back() != '/') p->path += '/';
            p->path += name;
            p->depth = depth;
            p->index = k;
            p->level = f.level + 1;
            if (matching_) {
                p->relDir = f.relDir;
                if (!p->relDir.empty()) p->relDir += '/';
                p->relDir += name;
            }
            p->parentIgnore = f.ignore;
            {
                const std::lock_guard<std::mutex> lock(poolLock_);
                ++pendingCount_;
                work_.push_back(p);
            }
            q.pending = std::move(p);
            poolWake_.notify_one();
        }
    }

    // Waits until p is read; reads it here when no reader has taken it.
    void Acquire(TPending& p) {
        std::unique_lock<std::mutex> lock(poolLock_);
        if (p.state == TPending::State::Queued) {
            p.state = TPending::State::Reading;
            Unlist(p);
            lock.unlock();
            ReadBatch(p, listBuffer_, true);
            lock.lock();
            p.state = TPending::State::Read;
        } else {
            poolDone_.wait(lock, [&p] { return p.state == TPending::State::Read; });
            pendingEntries_ -= p.batch.entries.size();
        }
        --pendingCount_;
        lock.unlock();
        poolWake_.notify_all();
        if (p.fault) std::rethrow_exception(p.fault);
    }

    // The walk gives p up (its directory moved away).
    void Drop(TPending& p) {
        {
            const std::lock_guard<std::mutex> lock(poolLock_);
            switch (p.state) {
                case TPending::State::Queued:
                    Unlist(p);
                    p.state = TPending::State::Read;
                    --pendingCount_;
                    break;
                case TPending::State::Reading:
                    p.dropped = true;  // the reader gives the budget back
                    break;
                case TPending::State::Read:
                    pendingEntries_ -= p.batch.entries.size();
                    --pendingCount_;
                    break;
            }
        }
        poolWake_.notify_all();
    }

    // Removes p from the readers' list (poolLock_ held).
    void Unlist(TPending& p) {
        for (size_t k = 0; k < work_.size(); ++k)
            if (work_[k].get() == &p) {
                work_.erase(work_.begin() + static_cast<std::ptrdiff_t>(k));
                return;
            }
    }

    void ReaderLoop() {
        DirBuffer buffer;
        std::unique_lock<std::mutex> lock(poolLock_);
        for (;;) {
            poolWake_.wait(lock, [this] {
                return stop_.load() || (!work_.empty() && pendingEntries_ < kMaxPendingEntries);
            });
            if (stop_.load()) return;
            // The walk needs the deepest first, and of those the first.
            size_t best = 0;
            for (size_t k = 1; k < work_.size(); ++k) {
                const TPending& a = *work_[k];
                const TPending& b = *work_[best];
                if (a.depth > b.depth || (a.depth == b.depth && a.index < b.index)) best = k;
            }
            std::shared_ptr<TPending> p = std::move(work_[best]);
            work_.erase(work_.begin() + static_cast<std::ptrdiff_t>(best));
            p->state = TPending::State::Reading;
            lock.unlock();
            try {
                ReadBatch(*p, buffer, false);
            } catch (...) {
                p->fault = std::current_exception();
            }
            lock.lock();
            p->state = TPending::State::Read;
            if (p->dropped)
                --pendingCount_;
            else
                pendingEntries_ += p->batch.entries.size();
            poolDone_.notify_all();
        }
    }

    void StopReaders() {
        if (readers_.empty()) return;
        {
            const std::lock_guard<std::mutex> lock(poolLock_);
            stop_.store(true);
        }
        poolWake_.notify_all();
        for (std::thread& t : readers_)
            t.join();
        readers_.clear();
    }

    // Queues sub-directory name of f for the walk; record is its record
    // when that awaits its count from the walk.
    void Enqueue(Frame& f, std::string_view name, uint32_t record, bool followed) {
        Queued& q = f.queued.emplace_back();
        q.nameAt = f.subdirs.size();
        q.record = record;
        q.followed = followed;
        q.ahead = std::move(ahead_);
        f.subdirs.append(name);
        f.subdirs.push_back('\0');
    }

    // Whether the filter turns the entry down on what is known before its
    // metadata is read: the name and what follows from it, the directory,
    // the columns a filtered listing leaves empty and, when the directory
    // says it, whether the entry is a directory.
    // filterLock_ must be held.
    bool RejectedByName(std::string_view path, std::string_view name, unsigned char type,
                        uint32_t level) {
        IFilterObject* filter = t_.filter_;
        uint32_t extStart = ExtensionStart(name);
        if (extStart == name.size()) extStart = 0;  // as Keep gives it to the filter
        auto& v = t_.filterValues_;
        v[fcPath].SetString(path);
        v[fcFilename].SetString(name);
        v[fcExtension].SetString(name.substr(extStart));
        v[fcShortname].SetString(std::string_view());
        v[fcVersion].SetString(std::string_view());
        v[fcHidden].SetBoolean(name.front() == '.');
        v[fcData].SetString(std::string_view());
        v[fcDepth].SetInteger(level);
        uint64_t known = 0;
        for (int c :
             {fcPath, fcFilename, fcExtension, fcShortname, fcVersion, fcHidden, fcData, fcDepth}) {
            filter->SetValue(c, v[static_cast<size_t>(c)]);
            known |= uint64_t{1} << c;
        }
        // A link may turn out to be a directory when links are followed.
        if (type != DT_UNKNOWN && !(follow_ && type == DT_LNK)) {
            v[fcIsDir].SetBoolean(type == DT_DIR);
            filter->SetValue(fcIsDir, v[fcIsDir]);
            known |= uint64_t{1} << fcIsDir;
        }
        return filter->RejectsKnowing(known);
    }

    // Builds the record of an entry that passed the mask (and, with a
    // filter, the filter). Returns its index when its count is left for the
    // walk to fill (see the class comment), else kNoRecord.
    uint32_t Keep(Frame& f, const char* cname, std::string_view name, const EntryStat& st,
                  uint32_t attr, bool willList, bool followed) {
        bool dir = (attr & faDirectory) != 0;
        int64_t size = dir                                          ? 0
                       : st.size > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX
                                                                    : static_cast<int64_t>(st.size);
        // The count of a directory the walk enters comes from the walk,
        // unless the filter needs it now; of any other directory, it is
        // counted now when the statement reads it, else when it is read.
        const bool deferCount = dir && willList && !countForFilter_;
        // (A followed link is counted now: later, only its path is known,
        // and the link is never resolved again.)
        const bool lateCount = dir && !willList && !countForFilter_ && !countUsed_ && !followed;
        uint32_t count = 0;
        if (dir && countForFilter_ && willList && heldDirs_ < kMaxHeldDirs &&
            heldBytes_ < kMaxHeldBytes)
            count = ReadAheadCount(f, cname, followed);
        else if (dir && !deferCount && !lateCount)
            count = CountSubDirectoryEntries(f.fd.Get(), cname, countBuffer_, followed);
        uint32_t extStart = ExtensionStart(name);
        bool createdLater, writtenLater, accessedLater;
        TDateTime created = times_.FromUnix(st.birthOrChange, createdLater);
        TDateTime written = times_.FromUnix(st.modified, writtenLater);
        TDateTime accessed = times_.FromUnix(st.accessed, accessedLater);

        if (IFilterObject* filter = t_.filter_) {
            const std::lock_guard<std::mutex> lock(filterLock_);
            auto& v = t_.filterValues_;
            v[fcPath].SetString(std::string_view(path_).substr(0, f.pathLength));
            v[fcFilename].SetString(name);
            v[fcExtension].SetString(name.substr(extStart));
            v[fcShortname].SetString(std::string_view());
            v[fcCreationTime].SetDate(created);
            v[fcLastWriteTime].SetDate(written);
            v[fcLastAccessTime].SetDate(accessed);
            v[fcSize].SetInteger(size);
            v[fcAttri].SetInteger(attr);
            v[fcCount].SetInteger(count);
            v[fcVersion].SetString(std::string_view());
            v[fcIsDir].SetBoolean(dir);
            v[fcReadOnly].SetBoolean((attr & faReadOnly) != 0);
            v[fcHidden].SetBoolean((attr & faHidden) != 0);
            v[fcData].SetString(std::string_view());
            v[fcDepth].SetInteger(f.level);
            for (int i = 0; i < fcColumnCount; ++i)
                filter->SetValue(i, v[static_cast<size_t>(i)]);
            bool keep = false;
            if (!filter->Evaluate().TryAsBoolean(keep) || !keep) return kNoRecord;
        }

        const uint32_t node = NodeOfTop();
        TFileRecord& r = t_.records_.emplace_back();
        r.filename.assign(name);
        r.size = size;
        r.creationtime = created;
        r.lastwritetime = written;
        r.lastaccesstime = accessed;
        r.repeatedLater = static_cast<uint8_t>((createdLater ? 1 : 0) | (writtenLater ? 2 : 0) |
                                               (accessedLater ? 4 : 0));
        r.pathIndex = node;
        r.attri = attr;
        r.count = count;
        r.extensionStart = extStart;
        if (followed) r.computed |= TFileRecord::rcFollowed;
        if (lateCount) r.computed |= TFileRecord::rcCountPending;
        if (!deferCount) return kNoRecord;
        r.computed |= TFileRecord::rcCountPending;
        return static_cast<uint32_t>(t_.records_.size() - 1);
    }

    // The directory node of the frame being listed (the top of the stack),
    // made with those of its ancestors that have none yet.
    uint32_t NodeOfTop() {
        size_t k = stack_.size() - 1;
        if (stack_[k].node >= 0) return static_cast<uint32_t>(stack_[k].node);
        while (k > 0 && stack_[k - 1].node < 0)
            --k;
        auto& nodes = t_.dirNodes_;
        for (; k < stack_.size(); ++k) {
            Frame& f = stack_[k];
            if (k == 0)
                nodes.push_back(
                    {TVeskDSAdapterForFile::kNoParent, path_.substr(0, f.pathLength), 0});
            else
                nodes.push_back({static_cast<uint32_t>(stack_[k - 1].node),
                                 path_.substr(f.nameStart, f.pathLength - f.nameStart),
                                 f.level - 1});
            f.node = static_cast<int64_t>(nodes.size() - 1);
        }
        return static_cast<uint32_t>(stack_.back().node);
    }

    // Counts the entries of sub-directory name as a counting pass would,
    // keeping what it read in ahead_ for the walk when the budget allows.
    uint32_t ReadAheadCount(Frame& f, const char* name, bool followed) {
        FileHandle dir = OpenSubDirectory(f.fd.Get(), name, followed);
        if (!dir.Valid()) return 0;
        DirReadAhead read;
        if (!ReadAheadDirectory(dir.Get(), countBuffer_, kMaxHeldBytes - heldBytes_, read))
            return 0;
        if (read.kept) {
            ++heldDirs_;
            heldBytes_ += read.records.size();
            ahead_.fd = std::move(dir);
            ahead_.records = std::move(read.records);
        }
        return read.entries > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(read.entries);
    }

    // Counts a directory the walk could not read: name below the directory
    // whose `path` text is path_ cut to parentLength, or that directory
    // itself when name is empty.
    void NoteUnreadable(size_t parentLength, std::string_view name) {
        if (unreadable_++ >= kWarnPathsShown) return;
        std::string& p = unreadablePaths_.emplace_back(path_, 0, parentLength);
        if (name.empty()) return;
        if (p.empty() || p.back() != '/') p += '/';
        p += name;
    }

    // A followed link the walk did not enter: name below the directory
    // whose `path` text is path_ cut to parentLength leads back to the
    // directory path_ cut to targetLength (npos: one link too many).
    void NoteLinkNotEntered(size_t parentLength, std::string_view name, size_t targetLength) {
        if (linksNotEntered_++ >= kMaxLinkWarnings) return;
        std::string link(path_, 0, parentLength);
        if (link.empty() || link.back() != '/') link += '/';
        link += name;
        const std::string target =
            targetLength == std::string::npos ? std::string() : path_.substr(0, targetLength);
        linkWarnings_.push_back(LinkLoopWarning(t_.tableText_, link, target));
    }

    // Registers the directory just entered through a link (its `path`
    // text is path_) as an anchor, so that it is read later through fd
    // and not through the link.
    void Anchor(int fd) {
        t_.anchors_.push_back(std::make_unique<DirectoryAnchor>(path_, fd));
        if (t_.rootOpened_ != t_.rootText_) {
            // The text as opened as well, as DirectoryOnDisk gives it.
            std::string onDisk = t_.rootOpened_;
            onDisk.append(path_, std::min(t_.rootText_.size(), path_.size()));
            t_.anchors_.push_back(std::make_unique<DirectoryAnchor>(onDisk, fd));
        }
    }

    bool Tick() {
        if (!t_.progress_) return true;
        t_.progress_->Listed(examined_);
        return !t_.progress_->Cancelled();
    }

    TVeskDSAdapterForFile& t_;
    const TFileDirOption& o_;
    std::string_view mask_;
    bool anyName_;  // the mask is "*": no need to match
    std::optional<std::string> exactName_;
    std::string path_;  // `path` text of the directory being read
    // The filter reads count: a directory's count is found when its entry
    // is, not when the walk lists it.
    bool countForFilter_ = false;
    bool countUsed_ = true;   // the statement reads count
    bool prefilter_ = false;  // the filter may turn entries down by name
    DirBuffer listBuffer_;
    DirBuffer countBuffer_;
    // Directories read ahead and not listed yet, and the budget for them.
    static constexpr size_t kMaxHeldDirs = 128;
    static constexpr size_t kMaxHeldBytes = size_t{8} << 20;
    size_t heldDirs_ = 0;
    size_t heldBytes_ = 0;
    ReadAhead ahead_;  // what Keep read for the entry ListEntries is at
    LocalTimeCache times_;
    std::vector<Frame> stack_;
    long long examined_ = 0;
    uint64_t unreadable_ = 0;
    uint64_t statCalls_ = 0;
    std::vector<std::string> unreadablePaths_;
    std::vector<std::string> linkWarnings_;
    uint64_t linksNotEntered_ = 0;
    // The listing controls (see TFileDirOption).
    bool recursive_ = false;
    uint32_t maxDepth_ = UINT32_MAX;
    bool follow_ = false;
    bool xdev_ = false;
    bool xdevKnown_ = false;  // the table directory's mount could be found out
    MountIdentity rootMount_;
    uint64_t rootDev_ = 0;
    bool ignoring_ = false;  // "gitignore"
    bool matching_ = false;  // excludes or ignore files to match
    TIgnoreList excludes_;
    TIgnoreLoader loader_;
    size_t tablePrefixLength_ = 0;  // of the table's directory below the rules' origin
    std::string scratch_;           // this thread's entry path for matching

    // Every use of the table's filter (and of filterValues_) holds it.
    std::mutex filterLock_;
    // The readers and what they share (poolLock_ guards all but stop_).
    static constexpr size_t kWindow = 8;
    static constexpr size_t kMaxPending = 64;
    static constexpr size_t kMaxPendingEntries = size_t{1} << 17;
    std::mutex poolLock_;
    std::condition_variable poolWake_;             // work for the readers, or room for it
    std::condition_variable poolDone_;             // a directory has been read
    std::vector<std::shared_ptr<TPending>> work_;  // handed out, not taken yet
    size_t pendingCount_ = 0;                      // handed out and not listed yet
    size_t pendingEntries_ = 0;                    // entries of those that are read
    std::atomic<bool> stop_{false};
    std::vector<std::thread> readers_;
};

// ---------------------------------------------------------------------------
// The data source

int DefaultListingThreads() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0                                          ? 1
           : n > static_cast<unsigned>(kMaxListingThreads) ? kMaxListingThreads
                                                           : static_cast<int>(n);
}

std::shared_ptr<IXSimpleDataset> TVeskDBAdapterForFile::GetDataset(const std::string& name) {
    auto table = std::make_shared<TVeskDSAdapterForFile>(name, baseDir_);
    table->SetListingThreads(threads_);
    return table;
}

// ---------------------------------------------------------------------------
// The table

TVeskDSAdapterForFile::TVeskDSAdapterForFile(std::string tableText, std::string baseDir)
    : tableText_(std::move(tableText)), baseDir_(std::move(baseDir)) {}

void TVeskDSAdapterForFile::SetListingThreads(int threads) {
    threads_ = threads < 0 ? 0 : std::min(threads, kMaxListingThreads);
}

void TVeskDSAdapterForFile::SetUsedFields(const std::vector<int>& fields) {
    usedFields_ = fields.empty() ? ~uint64_t{0} : 0;
    for (int f : fields)
        if (f >= 0 && f < fcColumnCount) usedFields_ |= uint64_t{1} << f;
}

std::string TVeskDSAdapterForFile::GetFieldType(int index) {
    return TFileInfo::At(index).typeName;
}

std::string TVeskDSAdapterForFile::GetFieldName(int index) {
    return TFileInfo::At(index).name;
}

void TVeskDSAdapterForFile::Close() {
    active_ = false;
    records_.clear();
    anchors_.clear();
    dirNodes_.clear();
    dirNodes_.shrink_to_fit();
    pathCacheNode_ = kNoParent;
    std::string().swap(pathCache_);
}

void TVeskDSAdapterForFile::Open() {
    Close();
    warnings_.clear();
    try {
        active_ = Load();
    } catch (const std::exception&) {
        // Out of memory or a filter that threw: the listing stops, what was
        // gathered stays, and the load counts as failed.
        active_ = false;
    }
}

bool TVeskDSAdapterForFile::Load() {
    TFileDirOption option;
    std::vector<TDirOptionIssue> issues;
    const bool parsed = ParseDirOption(tableText_, option, baseDir_, &issues);
    for (const TDirOptionIssue& issue : issues)
        warnings_.push_back(OptionIssueWarning(tableText_, issue));
    if (option.archives)
        warnings_.push_back(Fill(kWarnArchiveOption, {UnquotedTableText(tableText_)}));
    if (!parsed || option.path.empty()) {
        // Too short, or only a filter: there is no directory to list.
        warnings_.push_back(TableDirectoryWarning(tableText_, {}));
        return false;
    }
    rootText_ = ResolveTablePath(option.path, baseDir_);
    rootOpened_ = rootText_;
    FileHandle root = OpenDirectoryPath(rootOpened_);
    if (!root.Valid()) {
        // A Linux name may end in blanks, so the path is tried as written
        // first; a typed "/data  /s" still finds /data.
        size_t end = option.path.find_last_not_of(' ');
        if (end != std::string::npos && end + 1 < option.path.size()) {
            rootOpened_ =
                ResolveTablePath(std::string_view(option.path).substr(0, end + 1), baseDir_);
            root = OpenDirectoryPath(rootOpened_);
        }
    }
    std::optional<std::string> exactName;
    if (!root.Valid()) {
        // A table text that names an entry other than a directory (a file,
        // a FIFO) lists that entry alone, from the directory that holds it.
        std::string parent, name;
        if (SplitEntryPath(rootOpened_, parent, name)) {
            FileHandle dir = OpenDirectoryPath(parent);
            EntryStat st;
            if (dir.Valid() && StatEntry(dir.Get(), name.c_str(), st) && !S_ISDIR(st.mode)) {
                root = std::move(dir);
                rootOpened_ = parent;
                rootText_ = parent;
                option.attrMask = faAnyFile;
                option.subDirs = false;
                option.maxDepth.reset();
                option.minDepth = 0;
                exactName = name;
            }
        }
    }
    if (!root.Valid()) {
        // Missing or unreadable: no records, and the user is told.
        warnings_.push_back(TableDirectoryWarning(
            tableText_, rootText_ == option.path ? std::string_view() : rootText_));
        return true;
    }
    TDirLister lister(*this, option, std::move(exactName));
    const bool done = lister.Run(std::move(root));
    statCalls_ = lister.StatCalls();
    if (lister.UnreadableCount() > 0)
        warnings_.push_back(UnreadableSubDirsWarning(tableText_, lister.UnreadableCount(),
                                                     lister.UnreadablePaths()));
    for (const std::string& w : lister.LinkWarnings())
        warnings_.push_back(w);
    if (lister.LinksNotEntered() > lister.LinkWarnings().size())
        warnings_.push_back(Fill(kWarnMoreLinks, {UnquotedTableText(tableText_),
                                                  std::to_string(lister.LinksNotEntered() -
                                                                 lister.LinkWarnings().size())}));
    return done;
}

const std::string& TVeskDSAdapterForFile::PathText(uint32_t node) const {
    if (node == pathCacheNode_) return pathCache_;
    pathChain_.clear();
    for (uint32_t n = node; n != kNoParent; n = dirNodes_.at(n).parent)
        pathChain_.push_back(n);
    pathCache_.clear();
    for (size_t i = pathChain_.size(); i-- > 0;) {
        const TDirNode& d = dirNodes_[pathChain_[i]];
        if (d.parent != kNoParent && (pathCache_.empty() || pathCache_.back() != '/'))
            pathCache_ += '/';
        pathCache_ += d.name;
    }
    pathCacheNode_ = node;
    return pathCache_;
}

std::string TVeskDSAdapterForFile::DirectoryOnDisk(const TFileRecord& record) const {
    // The `path` text starts with the table's path as written; the
    // directory really opened may lack blanks at its end.
    const std::string& shown = PathText(record.pathIndex);
    std::string dir = rootOpened_;
    dir.append(shown, rootText_.size() <= shown.size() ? rootText_.size() : shown.size());
    return dir;
}

int32_t TVeskDSAdapterForFile::VersionOf(TFileRecord& record) {
    if (record.computed & TFileRecord::rcVersion) return record.version;
    record.computed |= TFileRecord::rcVersion;
    record.version = -1;
    // Only regular files named like Windows executables are ever opened:
    // any other file would be opened and read for nothing.
    if (!(record.attri & faArchive) || !HasExecutableExtension(record.filename))
        return record.version;
    std::string full = DirectoryOnDisk(record);
    if (full.empty() || full.back() != '/') full += '/';
    full += record.filename;
    int64_t number = FileVersionNumber(full);
    record.version = number < 0 ? -1 : static_cast<int32_t>(number);
    return record.version;
}

uint32_t TVeskDSAdapterForFile::CountOf(TFileRecord& record) {
    if (!(record.computed & TFileRecord::rcCountPending)) return record.count;
    record.computed &= static_cast<uint8_t>(~TFileRecord::rcCountPending);
    // Below a followed link, through the directory the walk opened there.
    FileHandle dir = OpenDirectoryAnchored(DirectoryOnDisk(record));
    if (dir.Valid()) {
        DirBuffer buffer;
        record.count = CountSubDirectoryEntries(dir.Get(), record.filename.c_str(), buffer,
                                                (record.computed & TFileRecord::rcFollowed) != 0);
    }
    return record.count;
}

void TVeskDSAdapterForFile::GetFieldValue(int index, Variant& value) {
    if (index < 0 || index >= fcColumnCount) return;
    if (current_ < 0 || current_ >= static_cast<int>(records_.size())) return;
    TFileRecord& r = records_[static_cast<size_t>(current_)];
    switch (index) {
        case fcPath:
            value.SetString(PathText(r.pathIndex));
            break;
        case fcFilename:
            value.SetString(r.filename);
            break;
        case fcExtension:
            value.SetString(r.Extension());
            break;
        case fcShortname:
            value.SetString(std::string_view());
            break;
        case fcCreationTime:
            value.SetDate(r.creationtime, (r.repeatedLater & 1) != 0);
            break;
        case fcLastWriteTime:
            value.SetDate(r.lastwritetime, (r.repeatedLater & 2) != 0);
            break;
        case fcLastAccessTime:
            value.SetDate(r.lastaccesstime, (r.repeatedLater & 4) != 0);
            break;
        case fcSize:
            value.SetInteger(r.size);
            break;
        case fcAttri:
            value.SetInteger(r.attri);
            break;
        case fcCount:
            value.SetInteger(CountOf(r));
            break;
        case fcVersion: {
            int32_t v = VersionOf(r);
            if (v < 0) {
                value.SetString(std::string_view());
            } else {
                char buf[16];
                auto res = std::to_chars(buf, buf + sizeof buf, v);
                value.SetString(std::string_view(buf, static_cast<size_t>(res.ptr - buf)));
            }
            break;
        }
        case fcIsDir:
            value.SetBoolean(r.IsDir());
            break;
        case fcReadOnly:
            value.SetBoolean(r.ReadOnly());
            break;
        case fcHidden:
            value.SetBoolean(r.Hidden());
            break;
        case fcData:
            r.computed |= TFileRecord::rcData;
            value.SetString(std::string_view());
            break;
        case fcDepth:
            value.SetInteger(static_cast<int64_t>(dirNodes_.at(r.pathIndex).depth) + 1);
            break;
        default:
            break;
    }
}

}  // namespace corvane
