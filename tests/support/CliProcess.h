// CliProcess: runs the corvane-cli program the build made, as a user would,
// for the end-to-end tests. Standard input comes from a file (or
// /dev/null); standard output and standard error go to files "stdout" and
// "stderr" in a directory of the test's own, so a test can watch a running
// program's output and interrupt it.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

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

inline CliResult RunCli(const std::string& exe, const std::vector<std::string>& args,
                        const std::string& dir, const std::string& input = "/dev/null") {
    return WaitCli(SpawnCli(exe, args, dir, input), dir);
}

}  // namespace corvane::testing
