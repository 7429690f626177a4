#include "cli/Interrupt.h"

#include <signal.h>

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

bool Interrupted() {
    return g_interrupted != 0;
}

}  // namespace corvane::cli
