// Interrupt: what both jobs of corvane-cli (statements and script programs)
// share about ending: the exit codes and Ctrl-C.
//
// The first Ctrl-C only sets a flag that the engine's progress object and
// the interpreter's cancel check poll, so the program finishes the output
// it has (CSV and JSON stay well-formed) and exits with kExitInterrupted.
// The handler resets itself: a second Ctrl-C ends the program at once.
#pragma once

namespace corvane::cli {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitRuntime = 3;
constexpr int kExitInterrupted = 130;

// Installs the Ctrl-C handler.
void CatchInterrupt();
// True once Ctrl-C was pressed.
bool Interrupted();

}  // namespace corvane::cli
