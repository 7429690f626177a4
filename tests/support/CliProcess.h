// CliProcess: runs the corvane-cli program the build made, as a user would,
// for the end-to-end tests. Standard input comes from a file (or
// /dev/null); standard output and standard error go to files "stdout" and
// "stderr" in a directory of the test's own, so a test can watch a running
// program's output and interrupt it. SpawnCliAs starts it under conditions
// a test sets up: a bound on its address space, the rights of the user
// "nobody", standard output on a descriptor of the test's (a pipe).
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace corvane::testing {

struct CliResult {
    std::string out, err;
    int code = -1;  // exit code, or 128 + signal; -1 when it did not start
};

inline std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Starts `exe` with the arguments; its output goes to `dir`/stdout and
// `dir`/stderr. The process id, or -1.
inline pid_t SpawnCli(const std::string& exe, const std::vector<std::string>& args,
                      const std::string& dir, const std::string& input = "/dev/null") {
    const std::string out = dir + "/stdout", err = dir + "/stderr";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> all = {exe};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

// Waits for a process SpawnCli started and collects what it wrote.
inline CliResult WaitCli(pid_t pid, const std::string& dir) {
    CliResult r;
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = Slurp(dir + "/stdout");
    r.err = Slurp(dir + "/stderr");
    return r;
}

struct CliConditions {
    rlim_t addressSpace = 0;  // bytes; 0: no bound
    bool asNobody = false;    // when running as root
    int stdoutFd = -1;        // standard output; -1: `dir`/stdout
};

// SpawnCli under the conditions (fork and exec, so the child can take them
// on before it starts). The process id, or -1.
inline pid_t SpawnCliAs(const std::string& exe, const std::vector<std::string>& args,
                        const std::string& dir, const CliConditions& c,
                        const std::string& input = "/dev/null") {
    const std::string out = dir + "/stdout", err = dir + "/stderr";
    std::vector<std::string> all = {exe};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int in = ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
    const int o =
        c.stdoutFd >= 0 ? -1 : ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        ::dup2(in, 0);
        ::dup2(c.stdoutFd >= 0 ? c.stdoutFd : o, 1);
        ::dup2(e, 2);
        if (c.addressSpace) {
            const struct rlimit limit = {c.addressSpace, c.addressSpace};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        if (c.asNobody && ::geteuid() == 0) {
            const gid_t nogroup = 65534;
            if (::setgroups(1, &nogroup) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(125);
        }
        ::execve(exe.c_str(), argv.data(), environ);
        ::_exit(127);
    }
    for (int fd : {in, o, e})
        if (fd >= 0) ::close(fd);
    return pid;
}

inline CliResult RunCli(const std::string& exe, const std::vector<std::string>& args,
                        const std::string& dir, const std::string& input = "/dev/null") {
    return WaitCli(SpawnCli(exe, args, dir, input), dir);
}

}  // namespace corvane::testing
