#include "platform/FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
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

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, size_t maxBytes) {
    out.clear();
    // O_NONBLOCK: opening a FIFO never waits for a writer.
    Fd f(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (f.fd < 0) return false;
    struct stat st;
    if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (static_cast<uint64_t>(st.st_size) > maxBytes) return false;
    out.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < out.size()) {
        ssize_t n = ::read(f.fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;  // the file shrank meanwhile
        done += static_cast<size_t>(n);
    }
    out.resize(done);
    return true;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t size,
                    std::string& errorText) {
    std::string temp = path + ".tmp~";
    Fd f(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (f.fd < 0) {
        errorText = path + ": " + std::strerror(errno);
        return false;
    }
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(f.fd, p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            errorText = path + ": " + std::strerror(errno);
            ::unlink(temp.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(f.fd) != 0) {
        f.fd = -1;
        errorText = path + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    f.fd = -1;
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        errorText = path + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace corvane
