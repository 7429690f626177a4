// Interrupt: what both jobs of corvane-cli (statements and script programs)
// share about ending: the exit codes, Ctrl-C, running out of memory and the
// bound on what they read.
//
// The first Ctrl-C only sets a flag that the engine's progress object and
// the interpreter's cancel check poll, so the program finishes the output
// it has (CSV and JSON stay well-formed) and exits with kExitInterrupted.
// The handler resets itself: a second Ctrl-C ends the program at once.
#pragma once

#include <cstddef>

namespace corvane::cli {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitRuntime = 3;
constexpr int kExitInterrupted = 130;

// The longest statement (-f FILE, -f -) or script source (--script FILE)
// read: far above any real one, far below what would exhaust memory.
constexpr size_t kMaxSourceBytes = size_t{16} << 20;
constexpr const char* kMaxSourceText = "16 MiB";

// Running out of memory (std::bad_alloc) ends either job with this message
// on standard error and kExitRuntime, never with an abort.
void ReportOutOfMemory();

// Installs the Ctrl-C handler.
void CatchInterrupt();
// True once Ctrl-C was pressed.
bool Interrupted();

}  // namespace corvane::cli
