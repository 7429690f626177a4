#include "cli/ScriptMode.h"

#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "cli/CliOutput.h"
#include "cli/Interrupt.h"
#include "platform/FileIO.h"
#include "platform/Text.h"
#include "script/common/ImageDisassembler.h"
#include "script/runtime/qv_build.h"
#include "script/runtime/u_paramDlg.h"

namespace corvane::cli {

namespace {

constexpr int kExitCompile = 1;

int RunScript(int argc, char** argv);

int Usage(const std::string& message) {
    std::fprintf(stderr, "corvane-cli: %s\nTry 'corvane-cli --help'.\n", message.c_str());
    return kExitUsage;
}

struct Options {
    std::string file, main, units;
    bool haveUnits = false, dump = false;
    std::vector<std::pair<std::string, std::string>> args;
};

// script-args -> "--script" FILE "--main" NAME { "--arg" NAME=VALUE }
//                [ "--units" DIR ] [ "--dump" ]   (in any order)
bool ParseOptions(int argc, char** argv, Options& o, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = "option " + a + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        if (a == "--script") {
            if (!value(o.file)) return false;
        } else if (a == "--main") {
            if (!value(o.main)) return false;
        } else if (a == "--units") {
            if (!value(o.units)) return false;
            o.haveUnits = true;
        } else if (a == "--dump") {
            o.dump = true;
        } else if (a == "--arg") {
            std::string pair;
            if (!value(pair)) return false;
            const size_t eq = pair.find('=');
            if (eq == std::string::npos || eq == 0) {
                error = "--arg needs NAME=VALUE, not '" + pair + "'";
                return false;
            }
            o.args.emplace_back(pair.substr(0, eq), pair.substr(eq + 1));
        } else {
            error = "'" + a + "' cannot be used with --script";
            return false;
        }
    }
    if (o.file.empty()) {
        error = "--script needs a file";
        return false;
    }
    if (o.main.empty()) {
        error = "--script needs --main NAME";
        return false;
    }
    return true;
}

std::vector<std::string> SplitLines(const std::vector<uint8_t>& bytes) {
    std::vector<std::string> lines;
    std::string line;
    for (uint8_t b : bytes) {
        if (b == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(std::move(line));
            line.clear();
        } else {
            line.push_back(static_cast<char>(b));
        }
    }
    if (!line.empty()) lines.push_back(std::move(line));
    return lines;
}

void PrintLines(FILE* to, const std::vector<std::string>& lines) {
    for (const std::string& l : lines)
        std::fprintf(to, "%s\n", l.c_str());
}

// Hands what stdout holds to the reader. A reader that went away ends the
// run quietly (OutputClosed), as in statement mode; another failure is a
// run-time error.
void FlushOut() {
    if (std::fflush(stdout) == 0) return;
    if (errno == EPIPE) throw OutputClosed();
    throw std::runtime_error(std::string("write failed: ") + std::strerror(errno));
}

// One line of output at once.
void PrintOut(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    FlushOut();
}

// The linked program: main and initialization numbers, globals, functions.
void Dump(TProgramPlus& program) {
    const TProgramImage& image = program.Image();
    std::printf("main %d, initialization", image.Main);
    if (image.InitList.empty()) std::printf(" none");
    for (int32_t n : image.InitList)
        std::printf(" %d", n);
    std::printf("\n");
    for (size_t g = 0; g < image.Globals.size(); ++g) {
        const Tvardef& def = image.Globals[g];
        std::printf("global %zu %s: %s", g, def.Name.c_str(),
                    std::string(TypeNameOf(def.DataType)).c_str());
        if (def.Size != 1) std::printf(" [size %d]", def.Size);
        std::printf("\n");
    }
    for (int n = 0; n < program.FuncCount(); ++n)
        std::printf("#%d %s", n, DisassembleFunction(program.FuncAt(n)).c_str());
    FlushOut();
}

}  // namespace

bool WantsScriptMode(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--script") == 0) return true;
    return false;
}

int RunScriptMode(int argc, char** argv) {
    // A closed pipe is an error of the write (EPIPE), not a signal.
    ::signal(SIGPIPE, SIG_IGN);
    try {
        return RunScript(argc, argv);
    } catch (const OutputClosed&) {
        return kExitOk;
    }
}

namespace {

int RunScript(int argc, char** argv) {
    Options o;
    std::string error;
    if (!ParseOptions(argc, argv, o, error)) return Usage(error);

    std::vector<uint8_t> source;
    if (!ReadWholeFile(o.file, source, kMaxSourceBytes)) {
        struct stat st;
        if (::stat(o.file.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            static_cast<uint64_t>(st.st_size) > kMaxSourceBytes)
            return Usage("the script '" + o.file + "' is longer than " + kMaxSourceText);
        return Usage("cannot read the script '" + o.file + "'");
    }

    TCachedFileAdapter adapter;
    adapter.Dir = o.haveUnits ? o.units : std::filesystem::path(o.file).parent_path().string();
    TBuildObj builder;
    builder.SetFileAdapter(&adapter);
    // Unit images that could not be saved: the program runs from the
    // images in memory all the same.
    auto warnings = [&adapter] {
        for (const std::string& w : adapter.Warnings())
            std::fprintf(stderr, "corvane-cli: %s\n", w.c_str());
        adapter.ClearWarnings();
    };
    try {
        const bool built = builder.Build(SplitLines(source), o.main);
        warnings();
        if (!built) {
            PrintLines(stderr, builder.ErrorTexts());
            return kExitCompile;
        }
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        // A missing or unlinkable main function: recorded as a diagnostic.
        warnings();
        PrintLines(stderr, builder.ErrorTexts());
        return kExitCompile;
    }
    if (!builder.ErrorTexts().empty()) {
        // Linked with faults (a function or global of a used unit missing):
        // the program would call the wrong code, so it does not run.
        PrintLines(stderr, builder.ErrorTexts());
        return kExitCompile;
    }

    TProgramPlus& program = builder.Program();
    if (o.dump) Dump(program);

    // The main function's parameters by name; an --arg that names none is a
    // usage error.
    const TClassDefInf& main = program.FuncAt(program.Main());
    for (const auto& [name, value] : o.args) {
        bool known = false;
        for (int i = 1; i < main.HeadCount && i < static_cast<int>(main.varDefs.size()); ++i)
            known = known || SameTextAscii(main.varDefs[static_cast<size_t>(i)].Name, name);
        if (!known) return Usage("'" + o.main + "' has no parameter '" + name + "'");
    }
    program.OnParam = [&o](Tparamlist& params, bool& handled) {
        for (TparamInf& p : params)
            for (const auto& [name, value] : o.args)
                if (SameTextAscii(p.Name, name)) p.Value = Variant(value);
        handled = true;
    };
    program.ReportResult = false;
    program.OnTag = [](const std::string& text, TVarMngr&, TVarMngr&) {
        std::fprintf(stderr, "%s\n", text.c_str());
    };
    SetMessageHook([](const std::string& text) { PrintOut(text); });
    // The hook is global: it goes when this run does, however it ends.
    struct Unhook {
        ~Unhook() { SetMessageHook(nullptr); }
    } unhook;
    program.SetCancelCheck([] { return Interrupted(); });
    CatchInterrupt();

    try {
        const Variant result = program.ExecuteMain();
        PrintOut(result.AsString());
    } catch (const OutputClosed&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        std::fflush(stdout);
        if (Interrupted()) {
            std::fputs("corvane-cli: interrupted\n", stderr);
            return kExitInterrupted;
        }
        std::fprintf(stderr, "%s\n", e.what());
        return kExitRuntime;
    }
    return kExitOk;
}

}  // namespace

}  // namespace corvane::cli
