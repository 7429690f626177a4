#include "cli/Interrupt.h"

#include <signal.h>

#include <cstdio>

namespace corvane::cli {

namespace {

volatile sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) {
    g_interrupted = 1;
}

}  // namespace

void CatchInterrupt() {
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESETHAND;  // a second Ctrl-C ends the program at once
    ::sigaction(SIGINT, &sa, nullptr);
}

void ReportOutOfMemory() {
    // A fixed text through the unbuffered stream: nothing to allocate.
    std::fputs("corvane-cli: 内存不足，运行已停止。\n", stderr);
}

bool Interrupted() {
    return g_interrupted != 0;
}

}  // namespace corvane::cli
