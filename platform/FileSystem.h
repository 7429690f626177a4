// FileSystem: the operating-system side of directory listings.
//
// Everything the file-system data source needs from Linux is here and only
// here: opening a directory (by path for the table's own directory, relative
// to its parent's descriptor below it), reading its entries with getdents64,
// the metadata of one entry with statx relative to the open directory, a
// counting pass that only counts entries, and opening a regular file for
// reading (the version reader).
//
// Decisions this unit carries for the whole product:
//   - Symbolic links are never followed below the table's own directory: an
//     entry's metadata is its own (AT_SYMLINK_NOFOLLOW) and sub-directories
//     are opened with O_NOFOLLOW|O_DIRECTORY, so a listing cannot loop and
//     cannot leave the tree. The table's own path is resolved as any program
//     resolves a path the user typed. Only a table that asks to follow
//     links (StatEntry and OpenSubDirectory with followLink) resolves the
//     one link it names, relative to the open directory; what it reaches
//     is read through the descriptor then opened (see DirectoryAnchors).
//   - Nothing but a directory or a regular file is ever opened: a FIFO,
//     socket or device entry is only looked at with statx.
//   - The attribute word maps Linux file types onto the six classic bits:
//     read-only 1 = owner write bit clear, hidden 2 = name begins with ".",
//     system 4 = neither regular file nor directory, directory 16, archive
//     32 = regular file. Volume label 8 never occurs.
//   - Time stamps are seconds since the Unix epoch; creation is the birth
//     time when statx reports a non-zero one, else the status-change time.
//
// What it does not do: decide which entries a table keeps, build records,
// convert times to date-time values or match LIKE patterns. The file source
// (filesource/U_CorvaneAdptr) does the listing logic on top of these calls;
// PeVersion parses executables read through ReadOnlyFile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct stat;

namespace corvane {

// Attribute bits of an entry and of a table's attribute mask.
enum : uint32_t {
    faReadOnly = 1,
    faHidden = 2,
    faSysFile = 4,
    faVolumeId = 8,
    faDirectory = 16,
    faArchive = 32,
    faAnyFile = 63,
};

// The attribute word of an entry from its st_mode and its name.
uint32_t AttributesFromMode(uint32_t mode, std::string_view name);

// Whether name matches mask: "*" any run of bytes (also none), "?" exactly
// one byte, every other byte itself, case-sensitively. Blanks at the end of
// the mask are ignored, as a table text may leave some there.
bool WildcardMatch(std::string_view name, std::string_view mask);

// An owned file descriptor (closed on destruction). Move-only.
class FileHandle {
  public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    FileHandle(FileHandle&& other) noexcept : fd_(other.Release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { Reset(); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd = -1);

  private:
    int fd_ = -1;
};

// Opens the directory a user named (ordinary path resolution). Invalid on
// failure: missing, not a directory, permission denied.
FileHandle OpenDirectoryPath(const std::string& path);
// Opens sub-directory name of the open directory parentFd. Never follows a
// link and never opens anything that is not a directory. name must be
// NUL-terminated (entry names from DirReader are). On failure errno tells
// why (ENOENT gone, ENOTDIR or ELOOP not a directory any more, EACCES...).
// followLink: a link named name is followed (the walk's "follow" option);
// the result is still refused when it is not a directory.
FileHandle OpenSubDirectory(int parentFd, const char* name, bool followLink = false);
// The mount an open file belongs to: statx's mount id where the kernel has
// one (a bind mount differs from its source although the device is the
// same), else the device number; kind tells which, so that two ids are
// compared only when they are of the same kind. False when fd cannot be
// examined.
struct MountIdentity {
    uint64_t id = 0;
    bool isMountId = false;  // false: id is the device number
    bool operator==(const MountIdentity&) const = default;
};
bool MountOf(int fd, MountIdentity& out);
// The path the kernel gives an open file (/proc/self/fd); empty when it
// has none (no /proc, a file removed meanwhile, or one outside this
// process's root).
std::string DescriptorPath(int fd);
// Reads the regular file name below dirFd (a relative path; the last
// component is never followed as a link) or at path: at most limit bytes
// into out (what lies beyond is dropped, truncated tells). False when it
// is missing, not a regular file or cannot be read.
bool ReadSmallFileAt(int dirFd, const char* name, size_t limit, std::string& out,
                     bool* truncated = nullptr);
bool ReadSmallFile(const std::string& path, size_t limit, std::string& out,
                   bool* truncated = nullptr);
// Reopens the parent of an open directory ("..") and checks that it is the
// directory with the given identity; invalid when it is not (the tree was
// moved meanwhile).
FileHandle ReopenParentDirectory(int childFd, uint64_t expectDev, uint64_t expectIno);
// Identity of an open directory, for ReopenParentDirectory.
bool DirectoryIdentity(int fd, uint64_t& dev, uint64_t& ino);
// Whether path names an existing directory (links in the path followed).
bool DirectoryExists(const std::string& path);
// The user's home directory: HOME when set and not empty, else the
// password database's entry for the real user; empty when neither knows.
std::string HomeDirectory();

// Buffer for DirReader and CountDirectoryEntries; reuse one per listing.
class DirBuffer {
  public:
    static constexpr size_t kSize = 32 * 1024;
    DirBuffer();
    char* Data() { return reinterpret_cast<char*>(storage_.get()); }

  private:
    std::unique_ptr<uint64_t[]> storage_;  // 8-byte alignment for dirent64
};

// One entry as the directory yields it. name points into the DirBuffer and
// stays valid until the next call of Next; it is NUL-terminated.
struct RawDirEntry {
    const char* name = nullptr;
    size_t nameLength = 0;
    unsigned char type = 0;  // DT_* hint; DT_UNKNOWN when the file system gives none
};

// Reads the entries of an open directory in the order the kernel yields
// them ("." and ".." included). Does not own the descriptor.
class DirReader {
  public:
    DirReader(int fd, DirBuffer& buffer) : fd_(fd), buf_(buffer.Data()) {}
    // Replays records that ReadAheadDirectory kept; never reads the
    // directory. records must outlive the reader.
    explicit DirReader(std::string_view records)
        : base_(records.data()), end_(records.size()), done_(true) {}
    // The next entry; false at the end or on a read error (see Failed).
    bool Next(RawDirEntry& entry);
    // True when reading stopped because of an error rather than the end.
    bool Failed() const { return error_ != 0; }

  private:
    int fd_ = -1;
    char* buf_ = nullptr;         // DirBuffer the kernel fills
    const char* base_ = nullptr;  // records being walked
    size_t pos_ = 0;
    size_t end_ = 0;
    int error_ = 0;
    bool done_ = false;
};

// A directory read ahead: the number of its entries ("." and ".."
// included) and, when they fit the limit given, its records in the
// kernel's format for a DirReader to replay.
struct DirReadAhead {
    uint64_t entries = 0;
    bool kept = false;    // records holds every record of the directory
    std::string records;  // empty unless kept
};

// Reads the whole open directory fd. Memory stays within keepLimit: past
// it, the records are dropped and only counted. False on a read error.
bool ReadAheadDirectory(int fd, DirBuffer& buffer, size_t keepLimit, DirReadAhead& out);

// Number of entries an enumeration of sub-directory name of parentFd yields,
// "." and ".." included; 0 when it cannot be opened or read. Only counts:
// one getdents64 loop, no per-entry work beyond walking the records.
uint32_t CountSubDirectoryEntries(int parentFd, const char* name, DirBuffer& buffer,
                                  bool followLink = false);
// The same for a directory open already (read from its current position).
uint32_t CountOpenDirectoryEntries(int fd, DirBuffer& buffer);

// Metadata of one entry.
struct EntryStat {
    uint32_t mode = 0;          // st_mode: file type and permission bits
    uint64_t size = 0;          // bytes
    int64_t birthOrChange = 0;  // seconds: birth time when known, else ctime
    int64_t modified = 0;       // mtime
    int64_t accessed = 0;       // atime
    uint64_t dev = 0, ino = 0;
    MountIdentity mount;  // the mount the entry is on (a mount point: the one mounted there)
};

// statx of entry name relative to dirFd, never following a link unless
// followLink (then the metadata is that of what the link leads to). False
// when the entry is gone or cannot be examined.
bool StatEntry(int dirFd, const char* name, EntryStat& out, bool followLink = false);

// Opens the directory that holds path's last component (O_PATH, ordinary
// resolution of the components before it, long paths walked; below a
// directory anchor, from the anchor without following links) and gives
// that component in name. Invalid when path is empty, holds a NUL or ends
// in "/" (it then names no single entry).
FileHandle OpenContainingDirectory(const std::string& path, std::string& name);

// Opens path for reading only when it is a regular file: looked at first
// without following a link, opened with O_NOFOLLOW|O_NONBLOCK (a FIFO swapped
// in between cannot block) and checked again with fstat, which must show the
// same regular file; st receives that fstat. noAtime asks for O_NOATIME,
// dropped when the kernel refuses it for a file of another owner. Invalid
// on any failure.
FileHandle OpenRegularFile(const std::string& path, bool noAtime, struct stat& st);

// A regular file opened for reading. Opening refuses everything that is not
// a regular file without ever opening it (a FIFO or a device would block or
// have side effects), and the final component is never followed as a link.
// Paths longer than the kernel accepts are opened component by component.
// The file is opened with O_NOATIME where the caller may (it owns the file,
// or holds CAP_FOWNER), so reading it leaves its access time alone.
class ReadOnlyFile {
  public:
    bool Open(const std::string& path);
    bool IsOpen() const { return fd_.Valid(); }
    uint64_t Size() const { return size_; }
    // Reads exactly length bytes at offset; false on a short read or error.
    bool ReadAt(uint64_t offset, void* dest, size_t length) const;

  private:
    FileHandle fd_;
    uint64_t size_ = 0;
};

}  // namespace corvane
