// TempTree: a temporary directory for file-system tests, removed with
// everything below it (also trees deeper than PATH_MAX, read-only
// directories and FIFOs) when the object goes.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace corvane::testing {

class TempTree {
  public:
    TempTree() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "corvane-fs-XXXXXX").string();
        if (::mkdtemp(tmpl.data())) root_ = tmpl;
        // Searchable by everybody, so a test may look at it as another user.
        ::chmod(root_.c_str(), 0755);
    }
    ~TempTree() {
        if (root_.empty()) return;
        int fd = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (fd >= 0) {
            RemoveContents(fd);
            ::close(fd);
        }
        ::rmdir(root_.c_str());
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::string& Root() const { return root_; }
    std::string Path(const std::string& rel) const { return root_ + "/" + rel; }

    void File(const std::string& rel, const std::string& content = "", mode_t mode = 0644) const {
        int fd = ::open(Path(rel).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) return;
        if (!content.empty()) (void)!::write(fd, content.data(), content.size());
        ::close(fd);
        ::chmod(Path(rel).c_str(), mode);
    }
    void Bytes(const std::string& rel, const std::vector<uint8_t>& bytes) const {
        File(rel, std::string(bytes.begin(), bytes.end()));
    }
    void Dir(const std::string& rel, mode_t mode = 0755) const {
        ::mkdir(Path(rel).c_str(), 0755);
        ::chmod(Path(rel).c_str(), mode);
    }

  private:
    // Removes everything below the open directory fd, relative to
    // descriptors only, never following links.
    static void RemoveContents(int fd) {
        int dup = ::dup(fd);
        DIR* d = ::fdopendir(dup);
        if (!d) {
            ::close(dup);
            return;
        }
        std::vector<std::string> names;
        while (dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.emplace_back(e->d_name);
        ::closedir(d);
        for (const std::string& n : names) {
            if (::unlinkat(fd, n.c_str(), 0) == 0) continue;
            ::fchmodat(fd, n.c_str(), 0700, 0);
            int sub = ::openat(fd, n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
            if (sub >= 0) {
                RemoveContents(sub);
                ::close(sub);
            }
            ::unlinkat(fd, n.c_str(), AT_REMOVEDIR);
        }
    }

    std::string root_;
};

}  // namespace corvane::testing
