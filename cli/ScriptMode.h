// ScriptMode: corvane-cli's second job, running a script program.
//
//   corvane-cli --script FILE --main NAME [--arg NAME=VALUE]... [--units DIR] [--dump]
//
// compiles FILE with the build driver and runs the function NAME. Used
// units are found in (and units compiled from source are saved to) DIR,
// by default the directory of FILE. --arg supplies a parameter of the main
// function by name (the program's OnParam event, handled; parameters left
// out receive "0"); --dump prints the linked program before running it.
//
// Output: the function's result as text on standard output; showmessage
// writes its text as one line to standard output; a tag's text goes to
// standard error. Exit codes: 0 success, 1 the source does not compile, does
// not link or has no such function (the rendered diagnostics on standard
// error), 2 bad
// usage, 3 a run-time error (its message on standard error), 130 stopped by
// Ctrl-C.
//
// This file only handles the command line and the host hooks; compiling,
// linking and running are the script runtime's (qv_build, u_ExeFile).
#pragma once

namespace corvane::cli {

// Whether the arguments ask for script mode (they contain --script).
bool WantsScriptMode(int argc, char** argv);
// Runs script mode over the whole argument list; the exit code.
int RunScriptMode(int argc, char** argv);

}  // namespace corvane::cli
