#include "platform/FileIO.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace corvane {

namespace {

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

// Opens a regular file for reading; -1 (errno set) for anything else.
// O_NONBLOCK: opening a FIFO never waits for a writer.
int OpenRegular(const std::string& path, struct stat& st) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

// Reads up to out.size() bytes; out keeps what was read.
bool ReadUpTo(int fd, std::vector<uint8_t>& out) {
    size_t done = 0;
    while (done < out.size()) {
        ssize_t n = ::read(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;  // the file shrank meanwhile
        done += static_cast<size_t>(n);
    }
    out.resize(done);
    return true;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, size_t maxBytes) {
    out.clear();
    struct stat st;
    Fd f(OpenRegular(path, st));
    if (f.fd < 0) return false;
    if (static_cast<uint64_t>(st.st_size) > maxBytes) return false;
    out.resize(static_cast<size_t>(st.st_size));
    return ReadUpTo(f.fd, out);
}

bool ReadFileStart(const std::string& path, size_t maxBytes, std::vector<uint8_t>& out) {
    out.clear();
    struct stat st;
    Fd f(OpenRegular(path, st));
    if (f.fd < 0) return false;
    out.resize(std::min<uint64_t>(static_cast<uint64_t>(st.st_size), maxBytes));
    return ReadUpTo(f.fd, out);
}

namespace {

// A temporary file beside path, created exclusively under a fresh random
// name (what mkstemp does, but with the mode 0644 that the umask narrows, as
// for any file this program creates; mkstemp would fix 0600). The name is
// hidden: ".<target name>.<12 random letters>~".
int CreateTemporary(const std::string& path, std::string& temp) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    // At most 200 bytes of the name, so the temporary name stays within
    // the 255 bytes a directory entry may have.
    const std::string name =
        (slash == std::string::npos ? path : path.substr(slash + 1)).substr(0, 200);
    for (int attempt = 0; attempt < 100; ++attempt) {
        uint8_t random[12];
        if (::getrandom(random, sizeof random, GRND_NONBLOCK) !=
            static_cast<ssize_t>(sizeof random)) {
            // No entropy yet (early boot) or no such call: the clock and a
            // counter still make names that O_EXCL then proves unused.
            static std::atomic<uint64_t> counter{0};
            uint64_t seed =
                static_cast<uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ull ^
                static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                (counter.fetch_add(1) << 40);
            for (uint8_t& b : random) {
                seed = seed * 6364136223846793005ull + 1442695040888963407ull;
                b = static_cast<uint8_t>(seed >> 56);
            }
        }
        temp = dir + "." + name + ".";
        for (uint8_t b : random)
            temp.push_back(kLetters[b % (sizeof kLetters - 1)]);
        temp.push_back('~');
        const int fd =
            ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// Moves temp to path unless something is at path: RENAME_NOREPLACE where the
// file system has it, else a hard link (which fails on an existing name).
bool MoveIntoPlace(const std::string& temp, const std::string& path, TWriteMode mode) {
    if (mode == TWriteMode::wmReplace) return ::rename(temp.c_str(), path.c_str()) == 0;
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (::link(temp.c_str(), path.c_str()) != 0) return false;
    ::unlink(temp.c_str());
    return true;
}

}  // namespace

bool WriteWholeFile(const std::string& path, const void* data, size_t size, std::string& errorText,
                    TWriteMode mode, bool* exists) {
    if (exists) *exists = false;
    auto fail = [&](const std::string& temp) {
        const int saved = errno;
        errorText = path + ": " + std::strerror(saved);
        if (!temp.empty()) ::unlink(temp.c_str());
        if (exists && saved == EEXIST) *exists = true;
        return false;
    };
    std::string temp;
    Fd f(CreateTemporary(path, temp));
    if (f.fd < 0) return fail(std::string());
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(f.fd, p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = ENOSPC;
        if (n <= 0) return fail(temp);
        done += static_cast<size_t>(n);
    }
    const int fd = f.fd;
    f.fd = -1;
    if (::close(fd) != 0) return fail(temp);
    if (!MoveIntoPlace(temp, path, mode)) return fail(temp);
    return true;
}

}  // namespace corvane
