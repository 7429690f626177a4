// corvane-bench-time: times whole processes, interleaved.
//
//   corvane-bench-time RUNS CMD1 ARGS... [--- CMD2 ARGS...]...
//
// Runs every command once to warm up, then RUNS rounds in which each
// command runs once, in turn (so that a burst of load from elsewhere on a
// shared machine hits all of them alike, not one). Standard input, output
// and error of the commands are /dev/null. Prints one line per command:
//
//   <median wall ms> <median CPU ms> <median user ms> <median sys ms> <peak KB>
//
// CPU is user + system time of the child as wait4 reports it (microsecond
// resolution); peak is the largest resident set seen in any run. A command
// that exits non-zero is reported on standard error and counts as run.
// This tool only measures; bench/run.sh decides what to measure.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Sample {
    double wallMs, userMs, sysMs;
    long maxRssKb;
};

double Ms(const timeval& tv) {
    return static_cast<double>(tv.tv_sec) * 1000.0 + static_cast<double>(tv.tv_usec) / 1000.0;
}

double NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

bool RunOnce(std::vector<char*>& argv, Sample& s) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    const double t0 = NowMs();
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) {
        std::fprintf(stderr, "corvane-bench-time: cannot start %s: %s\n", argv[0],
                     std::strerror(rc));
        return false;
    }
    int status = 0;
    rusage ru{};
    while (wait4(pid, &status, 0, &ru) < 0)
        ;
    s.wallMs = NowMs() - t0;
    s.userMs = Ms(ru.ru_utime);
    s.sysMs = Ms(ru.ru_stime);
    s.maxRssKb = ru.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "corvane-bench-time: %s exited with status %d\n", argv[0], status);
    return true;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: corvane-bench-time RUNS CMD ARGS... [--- CMD ARGS...]...\n");
        return 2;
    }
    const int runs = std::max(1, std::atoi(argv[1]));
    std::vector<std::vector<char*>> commands(1);
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "---") == 0) {
            commands.emplace_back();
            continue;
        }
        commands.back().push_back(argv[i]);
    }
    for (auto& c : commands) {
        if (c.empty()) {
            std::fprintf(stderr, "corvane-bench-time: empty command\n");
            return 2;
        }
        c.push_back(nullptr);
    }
    std::vector<std::vector<Sample>> samples(commands.size());
    Sample s{};
    for (auto& c : commands)
        if (!RunOnce(c, s)) return 1;  // warm-up
    for (int r = 0; r < runs; ++r)
        for (size_t k = 0; k < commands.size(); ++k) {
            if (!RunOnce(commands[k], s)) return 1;
            samples[k].push_back(s);
        }
    for (auto& v : samples) {
        std::vector<double> wall, cpu, user, sys;
        long peak = 0;
        for (const Sample& x : v) {
            wall.push_back(x.wallMs);
            cpu.push_back(x.userMs + x.sysMs);
            user.push_back(x.userMs);
            sys.push_back(x.sysMs);
            peak = std::max(peak, x.maxRssKb);
        }
        std::printf("%.0f %.0f %.0f %.0f %ld\n", Median(wall), Median(cpu), Median(user),
                    Median(sys), peak);
    }
    return 0;
}
