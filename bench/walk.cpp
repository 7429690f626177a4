// corvane-bench-walk: the floor for listing a tree.
//
// Walks a directory tree with opendir/readdir and one fstatat per entry
// (links not followed), exactly the system work any lister must do, and
// prints only the number of entries. Nothing is kept, formatted or sorted.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

static long long Walk(int parentFd, const char* name) {
    int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return 0;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return 0;
    }
    long long count = 0;
    while (dirent* e = readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        struct stat st;
        if (fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        ++count;
        if (S_ISDIR(st.st_mode)) count += Walk(fd, e->d_name);
    }
    closedir(dir);
    return count;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: corvane-bench-walk DIR\n");
        return 2;
    }
    std::printf("%lld\n", Walk(AT_FDCWD, argv[1]));
    return 0;
}
