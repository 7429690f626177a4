#include "platform/FileSystem.h"

#include "platform/DirectoryAnchors.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace corvane {

uint32_t AttributesFromMode(uint32_t mode, std::string_view name) {
    uint32_t attr = 0;
    if (S_ISDIR(mode))
        attr |= faDirectory;
    else if (S_ISREG(mode))
        attr |= faArchive;
    else
        attr |= faSysFile;  // link, FIFO, socket, device
    // A link's own permission bits are always rwx; it is never read-only.
    if (!S_ISLNK(mode) && (mode & S_IWUSR) == 0) attr |= faReadOnly;
    if (!name.empty() && name.front() == '.') attr |= faHidden;
    return attr;
}

bool WildcardMatch(std::string_view name, std::string_view mask) {
    while (!mask.empty() && mask.back() == ' ')
        mask.remove_suffix(1);
    // Greedy walk that remembers the last "*": on a mismatch the star takes
    // one more byte. Linear in practice, O(|name| * |mask|) at worst.
    size_t n = 0, m = 0;
    size_t starMask = std::string_view::npos, starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (m < mask.size() && (mask[m] == '?' || mask[m] == name[n])) {
            ++n;
            ++m;
        } else if (starMask != std::string_view::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
}

void FileHandle::Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

namespace {

bool HasNul(const std::string& path) {
    return path.find('\0') != std::string::npos;
}

// Opens path with flags; when the kernel refuses the path as too long, walks
// it one component at a time (each component is short), following links in
// the intermediate components as ordinary resolution would.
int OpenPathLong(const std::string& path, int flags) {
    if (path.empty() || HasNul(path)) {
        errno = ENOENT;
        return -1;
    }
    int fd = ::open(path.c_str(), flags);
    if (fd >= 0 || errno != ENAMETOOLONG) return fd;

    FileHandle cur(::open(path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!cur.Valid()) return -1;
    std::string component;
    size_t pos = 0;
    for (;;) {
        while (pos < path.size() && path[pos] == '/')
            ++pos;
        size_t end = path.find('/', pos);
        if (end == std::string::npos) end = path.size();
        component.assign(path, pos, end - pos);
        size_t next = end;
        while (next < path.size() && path[next] == '/')
            ++next;
        bool last = next >= path.size();
        // The path ended in "/". (assign: GCC 12 warns falsely about "=" here.)
        if (component.empty()) component.assign(1, '.');
        int nfd = ::openat(cur.Get(), component.c_str(),
                           last ? flags : (O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (nfd < 0) return -1;
        if (last) return nfd;
        cur.Reset(nfd);
        pos = next;
    }
}

size_t NameOffset() {
    return offsetof(struct dirent64, d_name);
}

}  // namespace

FileHandle OpenDirectoryPath(const std::string& path) {
    return FileHandle(OpenPathLong(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY));
}

FileHandle OpenSubDirectory(int parentFd, const char* name, bool followLink) {
    // O_DIRECTORY makes the kernel refuse anything else before opening it.
    return FileHandle(
        ::openat(parentFd, name,
                 O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY | (followLink ? 0 : O_NOFOLLOW)));
}

bool MountOf(int fd, MountIdentity& out) {
    struct statx sx {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC, STATX_MNT_ID, &sx) ==
        0) {
        out.isMountId = (sx.stx_mask & STATX_MNT_ID) != 0;
        out.id = out.isMountId ? sx.stx_mnt_id
                               : (static_cast<uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
        return true;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    out.isMountId = false;
    out.id = st.st_dev;
    return true;
}

std::string DescriptorPath(int fd) {
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    std::string buf(256, '\0');
    for (;;) {
        ssize_t got = ::readlink(link.c_str(), buf.data(), buf.size());
        if (got < 0) return {};
        if (static_cast<size_t>(got) < buf.size()) {
            buf.resize(static_cast<size_t>(got));
            break;
        }
        if (buf.size() >= (size_t{1} << 20)) return {};
        buf.resize(buf.size() * 2);
    }
    // The kernel marks what it cannot name as a path: " (deleted)" after
    // a removed file, "(unreachable)" before one outside this root.
    if (buf.empty() || buf.front() != '/') return {};
    constexpr std::string_view kDeleted = " (deleted)";
    if (buf.size() > kDeleted.size() &&
        std::string_view(buf).substr(buf.size() - kDeleted.size()) == kDeleted)
        return {};
    return buf;
}

namespace {

bool ReadSmallOpenFile(FileHandle file, size_t limit, std::string& out, bool* truncated) {
    out.clear();
    if (truncated) *truncated = false;
    struct stat st {};
    if (!file.Valid() || ::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    char buf[16384];
    for (;;) {
        ssize_t got = ::read(file.Get(), buf, sizeof buf);
        if (got < 0) {
            if (errno == EINTR) continue;
            out.clear();
            return false;
        }
        if (got == 0) return true;
        const size_t room = limit - out.size();
        if (static_cast<size_t>(got) > room) {
            out.append(buf, room);
            if (truncated) *truncated = true;
            return true;
        }
        out.append(buf, static_cast<size_t>(got));
    }
}

}  // namespace

bool ReadSmallFileAt(int dirFd, const char* name, size_t limit, std::string& out, bool* truncated) {
    // O_NONBLOCK: a FIFO put there instead opens at once and is refused.
    return ReadSmallOpenFile(
        FileHandle(
            ::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)),
        limit, out, truncated);
}

bool ReadSmallFile(const std::string& path, size_t limit, std::string& out, bool* truncated) {
    if (path.empty() || HasNul(path)) return false;
    return ReadSmallFileAt(AT_FDCWD, path.c_str(), limit, out, truncated);
}

bool DirectoryIdentity(int fd, uint64_t& dev, uint64_t& ino) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    dev = st.st_dev;
    ino = st.st_ino;
    return true;
}

FileHandle ReopenParentDirectory(int childFd, uint64_t expectDev, uint64_t expectIno) {
    FileHandle parent(OpenSubDirectory(childFd, ".."));
    uint64_t dev = 0, ino = 0;
    if (!parent.Valid() || !DirectoryIdentity(parent.Get(), dev, ino) || dev != expectDev ||
        ino != expectIno)
        return FileHandle();
    return parent;
}

bool DirectoryExists(const std::string& path) {
    if (path.empty() || HasNul(path)) return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    if (errno != ENAMETOOLONG) return false;
    return OpenDirectoryPath(path).Valid();
}

std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < (size_t{1} << 20))
        buffer.resize(buffer.size() * 2);
    if (found && found->pw_dir && *found->pw_dir) return found->pw_dir;
    return {};
}

DirBuffer::DirBuffer() : storage_(new uint64_t[kSize / sizeof(uint64_t)]) {}

bool DirReader::Next(RawDirEntry& entry) {
    for (;;) {
        if (pos_ < end_) {
            const char* rec = base_ + pos_;
            unsigned short reclen = 0;
            std::memcpy(&reclen, rec + offsetof(struct dirent64, d_reclen), sizeof reclen);
            // The kernel's records are well formed; a zero length would loop
            // for ever, so it ends the directory as an error instead.
            if (reclen <= NameOffset() || pos_ + reclen > end_) {
                error_ = EIO;
                done_ = true;
                end_ = pos_;
                return false;
            }
            pos_ += reclen;
            entry.name = rec + NameOffset();
            entry.nameLength = ::strnlen(entry.name, reclen - NameOffset());
            std::memcpy(&entry.type, rec + offsetof(struct dirent64, d_type), 1);
            return true;
        }
        if (done_) return false;
        ssize_t got = ::getdents64(fd_, buf_, DirBuffer::kSize);
        if (got < 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            done_ = true;
            return false;
        }
        if (got == 0) {
            done_ = true;
            return false;
        }
        base_ = buf_;
        pos_ = 0;
        end_ = static_cast<size_t>(got);
    }
}

bool ReadAheadDirectory(int fd, DirBuffer& buffer, size_t keepLimit, DirReadAhead& out) {
    out.records.clear();
    out.entries = 0;
    out.kept = true;
    char* base = buffer.Data();
    for (;;) {
        ssize_t got = ::getdents64(fd, base, DirBuffer::kSize);
        if (got < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (got == 0) return true;
        for (size_t pos = 0; pos < static_cast<size_t>(got);) {
            unsigned short reclen = 0;
            std::memcpy(&reclen, base + pos + offsetof(struct dirent64, d_reclen), sizeof reclen);
            if (reclen == 0) {
                got = -1;
                break;
            }
            pos += reclen;
            ++out.entries;
        }
        if (got < 0) break;
        if (out.kept && out.records.size() + static_cast<size_t>(got) <= keepLimit) {
            out.records.append(base, static_cast<size_t>(got));
        } else if (out.kept) {
            out.kept = false;
            std::string().swap(out.records);
        }
    }
    out.kept = false;
    std::string().swap(out.records);
    return false;
}

uint32_t CountSubDirectoryEntries(int parentFd, const char* name, DirBuffer& buffer,
                                  bool followLink) {
    FileHandle dir = OpenSubDirectory(parentFd, name, followLink);
    if (!dir.Valid()) return 0;
    return CountOpenDirectoryEntries(dir.Get(), buffer);
}

uint32_t CountOpenDirectoryEntries(int fd, DirBuffer& buffer) {
    char* base = buffer.Data();
    uint64_t count = 0;
    for (;;) {
        ssize_t got = ::getdents64(fd, base, DirBuffer::kSize);
        if (got < 0) {
            if (errno == EINTR) continue;
            return 0;  // cannot be read: counts 0
        }
        if (got == 0) break;
        for (size_t pos = 0; pos < static_cast<size_t>(got);) {
            unsigned short reclen = 0;
            std::memcpy(&reclen, base + pos + offsetof(struct dirent64, d_reclen), sizeof reclen);
            if (reclen == 0) return 0;
            pos += reclen;
            ++count;
        }
    }
    return count > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(count);
}

bool StatEntry(int dirFd, const char* name, EntryStat& out, bool followLink) {
    struct statx sx {};
    const unsigned mask = STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_ATIME | STATX_MTIME |
                          STATX_CTIME | STATX_BTIME | STATX_INO | STATX_MNT_ID;
    const int follow = followLink ? 0 : AT_SYMLINK_NOFOLLOW;
    if (::statx(dirFd, name, follow | AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC, mask, &sx) == 0) {
        out.mode = sx.stx_mode;
        out.size = sx.stx_size;
        out.modified = sx.stx_mtime.tv_sec;
        out.accessed = sx.stx_atime.tv_sec;
        // A birth time of 0 means "unknown" (files that came with a system
        // image show it), so the status-change time stands in.
        bool birthKnown = (sx.stx_mask & STATX_BTIME) != 0 &&
                          (sx.stx_btime.tv_sec != 0 || sx.stx_btime.tv_nsec != 0);
        out.birthOrChange = birthKnown ? sx.stx_btime.tv_sec : sx.stx_ctime.tv_sec;
        out.dev = (static_cast<uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
        out.ino = sx.stx_ino;
        out.mount.isMountId = (sx.stx_mask & STATX_MNT_ID) != 0;
        out.mount.id = out.mount.isMountId ? sx.stx_mnt_id : out.dev;
        return true;
    }
    if (errno != ENOSYS && errno != EPERM) return false;
    // Kernels or sandboxes without statx.
    struct stat st {};
    if (::fstatat(dirFd, name, &st, follow) != 0) return false;
    out.mode = st.st_mode;
    out.size = static_cast<uint64_t>(st.st_size);
    out.modified = st.st_mtim.tv_sec;
    out.accessed = st.st_atim.tv_sec;
    out.birthOrChange = st.st_ctim.tv_sec;
    out.dev = st.st_dev;
    out.ino = st.st_ino;
    out.mount = {st.st_dev, false};
    return true;
}

FileHandle OpenContainingDirectory(const std::string& path, std::string& name) {
    name.clear();
    if (path.empty() || HasNul(path) || path.back() == '/') return FileHandle();
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    // Below a directory a listing reached through a followed link, the
    // path goes through the directory it opened, not through the link.
    bool anchored = false;
    FileHandle below = OpenBelowAnchor(dir, O_PATH, anchored);
    if (anchored) return below;
    return FileHandle(OpenPathLong(dir, O_PATH | O_DIRECTORY | O_CLOEXEC));
}

FileHandle OpenRegularFile(const std::string& path, bool noAtime, struct stat& st) {
    std::string name;
    FileHandle parent = OpenContainingDirectory(path, name);
    if (!parent.Valid()) return FileHandle();
    // Look before opening: only a regular file is opened at all.
    struct stat before {};
    if (::fstatat(parent.Get(), name.c_str(), &before, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(before.st_mode))
        return FileHandle();
    // O_NONBLOCK: should the name be swapped for a FIFO in between, opening
    // returns at once and the check below closes it unread.
    // O_NOATIME: reading a file to describe it should not make it look
    // used. The kernel grants it only to the file's owner (or a privileged
    // caller); for other files the open is retried without it.
    const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    FileHandle file;
    if (noAtime) file.Reset(::openat(parent.Get(), name.c_str(), flags | O_NOATIME));
    if (!file.Valid() && (!noAtime || errno == EPERM))
        file.Reset(::openat(parent.Get(), name.c_str(), flags));
    if (!file.Valid() || ::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_dev != before.st_dev || st.st_ino != before.st_ino)
        return FileHandle();
    return file;
}

bool ReadOnlyFile::Open(const std::string& path) {
    fd_.Reset();
    size_ = 0;
    struct stat st {};
    FileHandle file = OpenRegularFile(path, true, st);
    if (!file.Valid()) return false;
    fd_ = std::move(file);
    size_ = static_cast<uint64_t>(st.st_size);
    return true;
}

bool ReadOnlyFile::ReadAt(uint64_t offset, void* dest, size_t length) const {
    if (!fd_.Valid()) return false;
    char* out = static_cast<char*>(dest);
    while (length > 0) {
        if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
        ssize_t got = ::pread(fd_.Get(), out, length, static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) return false;  // past the end
        out += got;
        offset += static_cast<uint64_t>(got);
        length -= static_cast<size_t>(got);
    }
    return true;
}

}  // namespace corvane
