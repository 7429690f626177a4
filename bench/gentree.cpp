// corvane-bench-gentree: a deterministic synthetic directory tree.
//
//   corvane-bench-gentree ROOT ENTRIES [SEED]
//
// Creates ROOT with about ENTRIES entries: nested folders (up to 6 levels),
// files with mixed extensions (and some without), hidden files, sparse
// files of many sizes (holes: the tree takes almost no disk space) and
// last-write times spread over five years. The same arguments always give
// the same names, sizes and times.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

uint64_t state;
uint64_t Next() {  // splitmix64
    uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}
uint64_t Below(uint64_t n) { return Next() % n; }

const char* const kExt[] = {"txt", "log", "cpp", "h", "jpg", "dat", "md", "json", "log", "tar.gz", ""};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: corvane-bench-gentree ROOT ENTRIES [SEED]\n");
        return 2;
    }
    const std::string root = argv[1];
    const long long total = std::atoll(argv[2]);
    state = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 42;
    if (mkdir(root.c_str(), 0755) != 0) {
        std::perror(root.c_str());
        return 1;
    }
    std::vector<std::pair<std::string, int>> dirs{{root, 0}};  // path, depth
    const time_t now = 1767225600;                              // 2026-01-01, fixed
    long long made = 0;
    while (made < total) {
        // Pick a directory; deeper ones less often so the tree stays bushy.
        const auto& [dir, depth] = dirs[Below(dirs.size())];
        const std::string parent = dir;
        const int parentDepth = depth;
        const bool makeDir = parentDepth < 6 && Below(20) == 0;
        std::string name = (Below(25) == 0 && !makeDir) ? "." : "";
        name += (makeDir ? "d" : "f") + std::to_string(made);
        if (makeDir) {
            std::string path = parent + "/" + name;
            if (mkdir(path.c_str(), 0755) != 0) continue;
            dirs.emplace_back(path, parentDepth + 1);
        } else {
            const char* ext = kExt[Below(sizeof kExt / sizeof kExt[0])];
            if (*ext) name += std::string(".") + ext;
            std::string path = parent + "/" + name;
            int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0) continue;
            // Sizes from 0 to about 16 MB, spread over the orders of magnitude.
            const int bits = static_cast<int>(Below(25));
            const off_t size = bits == 0 ? 0 : static_cast<off_t>(Below(1ULL << bits));
            if (ftruncate(fd, size) != 0) std::perror("ftruncate");
            struct timespec times[2];
            times[0].tv_sec = times[1].tv_sec = now - static_cast<time_t>(Below(5LL * 365 * 86400));
            times[0].tv_nsec = times[1].tv_nsec = 0;
            futimens(fd, times);
            close(fd);
        }
        ++made;
    }
    std::printf("%lld entries in %zu directories under %s\n", made, dirs.size(), root.c_str());
    return 0;
}
