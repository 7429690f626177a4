#include "platform/DirectoryAnchors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>

namespace corvane {

namespace {

struct Anchor {
    uint64_t id = 0;
    FileHandle fd;         // O_PATH; invalid past kMaxAnchorDescriptors
    std::string realPath;  // where the kernel names it, when fd is not held
    uint64_t dev = 0, ino = 0;
};

struct Registry {
    std::mutex lock;
    std::multimap<std::string, Anchor, std::less<>> byText;
    uint64_t nextId = 1;
    size_t heldDescriptors = 0;
    std::atomic<size_t> count{0};  // lets an open skip the lock when there are none
};

Registry& TheRegistry() {
    static Registry* registry = new Registry;  // lives as long as the process
    return *registry;
}

std::string_view WithoutFinalSlashes(std::string_view path) {
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

// Walks rest (components separated by "/") down from dir, following no
// link; the last component is opened with flags. Refuses "..".
FileHandle WalkDown(FileHandle dir, std::string_view rest, int flags) {
    std::string component;
    for (;;) {
        while (!rest.empty() && rest.front() == '/')
            rest.remove_prefix(1);
        if (rest.empty()) break;
        const size_t end = std::min(rest.find('/'), rest.size());
        component.assign(rest.substr(0, end));
        rest.remove_prefix(end);
        if (component == ".") continue;
        if (component == ".." || component.find('\0') != std::string::npos) return FileHandle();
        FileHandle next(
            ::openat(dir.Get(), component.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.Valid()) return FileHandle();
        dir = std::move(next);
    }
    if ((flags & O_PATH) != 0) return dir;
    return FileHandle(::openat(dir.Get(), ".", flags | O_DIRECTORY | O_CLOEXEC | O_NOCTTY));
}

}  // namespace

DirectoryAnchor::DirectoryAnchor(std::string pathText, int dirFd) {
    Anchor a;
    struct stat st {};
    if (::fstat(dirFd, &st) == 0) {
        a.dev = st.st_dev;
        a.ino = st.st_ino;
    }
    Registry& r = TheRegistry();
    const std::lock_guard<std::mutex> guard(r.lock);
    if (r.heldDescriptors < kMaxAnchorDescriptors) {
        a.fd.Reset(::openat(dirFd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (a.fd.Valid()) ++r.heldDescriptors;
    }
    if (!a.fd.Valid()) a.realPath = DescriptorPath(dirFd);  // empty: every open below fails
    a.id = id_ = r.nextId++;
    r.byText.emplace(std::string(WithoutFinalSlashes(pathText)), std::move(a));
    r.count.fetch_add(1);
}

DirectoryAnchor::~DirectoryAnchor() {
    Registry& r = TheRegistry();
    const std::lock_guard<std::mutex> guard(r.lock);
    for (auto it = r.byText.begin(); it != r.byText.end(); ++it)
        if (it->second.id == id_) {
            if (it->second.fd.Valid()) --r.heldDescriptors;
            r.byText.erase(it);
            r.count.fetch_sub(1);
            return;
        }
}

FileHandle OpenBelowAnchor(std::string_view path, int flags, bool& covered) {
    covered = false;
    Registry& r = TheRegistry();
    if (r.count.load() == 0 || path.empty() || path.front() != '/') return FileHandle();
    path = WithoutFinalSlashes(path);
    FileHandle start;
    std::string realPath;
    uint64_t dev = 0, ino = 0;
    size_t anchorLength = 0;
    {
        const std::lock_guard<std::mutex> guard(r.lock);
        // The longest anchor text that is path or a leading part of it
        // ending at a "/". Of anchors with the same text the newest wins.
        for (size_t end = path.size(); end > 0; end = path.rfind('/', end - 1)) {
            auto [first, last] = r.byText.equal_range(path.substr(0, end));
            if (first != last) {
                const Anchor& a = std::prev(last)->second;
                if (a.fd.Valid()) start.Reset(::fcntl(a.fd.Get(), F_DUPFD_CLOEXEC, 0));
                realPath = a.realPath;
                dev = a.dev;
                ino = a.ino;
                anchorLength = end;
                covered = true;
                break;
            }
            if (end == 1) break;
        }
    }
    if (!covered) return FileHandle();
    if (!start.Valid()) {
        // The directory by the path the kernel gave it, no link followed,
        // and only when it is the same directory still.
        if (realPath.empty()) return FileHandle();
        start =
            WalkDown(FileHandle(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)), realPath, O_PATH);
        struct stat st {};
        if (!start.Valid() || ::fstat(start.Get(), &st) != 0 || st.st_dev != dev ||
            st.st_ino != ino)
            return FileHandle();
    }
    return WalkDown(std::move(start), path.substr(anchorLength), flags);
}

FileHandle OpenDirectoryAnchored(const std::string& path) {
    bool covered = false;
    FileHandle dir = OpenBelowAnchor(path, O_RDONLY, covered);
    if (covered) return dir;
    return OpenDirectoryPath(path);
}

size_t AnchorCount() {
    return TheRegistry().count.load();
}

}  // namespace corvane
