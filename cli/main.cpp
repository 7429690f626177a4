// corvane-cli: the command-line front end.
//
// Runs one SELECT statement over directory tables and writes the result to
// standard output as a table, CSV or JSON (CliOutput). The statement comes
// from the argument or from a file; --check only parses it. The engine
// streams rows straight into the writer, so a listing of a large tree keeps
// no result rows in memory (except for the table format, which needs every
// cell for its column widths, and ORDER BY, which sorts first).
//
// Around the engine this program handles what a terminal user expects: a
// one-line progress report on a terminal's standard error once a query runs
// longer than about a second, Ctrl-C to stop a running query (the rows
// already written stay; exit code 130; a second Ctrl-C kills at once), and
// a quiet end when the reader of the output goes away. It does not know
// SQL (engine/) nor how rows are rendered (CliOutput).
#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliOutput.h"
#include "cli/Interrupt.h"
#include "cli/ScriptMode.h"
#include "corvane_version.h"
#include "engine/UVeskEngine.h"
#include "filesource/U_CorvaneAdptr.h"
#include "platform/Memory.h"

using namespace corvane;
using namespace corvane::cli;

namespace {

constexpr int kExitStatementErrors = 1;

const char* const kHelp = R"(Usage: corvane-cli [options] [STATEMENT]
       corvane-cli --script FILE --main NAME [--arg NAME=VALUE]... [--units DIR] [--dump]

Runs one SELECT statement over directory tables and writes the result to
standard output.

Options:
  -f, --file FILE  read the statement from FILE ("-" for standard input);
                   at most 16 MiB
  --format FORMAT  table (default): aligned columns headed by the output names
                   csv:   RFC 4180, a header line, CRLF line ends
                   json:  an array of objects keyed by output name; numbers,
                          booleans, strings, null; date-times as ISO 8601
                          local time with the UTC offset
  --check          parse only: print "OK", or the errors (exit code 1)
  --memory-limit SIZE
                   what a query may hold in memory (result rows, join
                   intermediates, sort keys, the table format's cells):
                   e.g. 512M, 2G; suffixes K, M, G, T (powers of 1024);
                   0 removes the bound. Default: a quarter of the memory,
                   at most 4G. Beyond it the query stops (exit code 3)
  --threads N      threads that read directories of a listing with /s:
                   1 to 64; default: the number of cores. The rows and
                   their order are the same whatever N
  -h, --help       show this text
  --version        print the version and exit

A table is a quoted directory, optionally with a file-name filter and
options after a blank: '/var/log/*.log /s' lists *.log files in /var/log
and all its sub-directories. '.', '..', '~', '~/src' and relative paths
work as in the shell; a last part with * or ? is a filter, and so is one
with a dot unless it is an existing directory ('/etc/apt/sources.list.d'
lists that directory; '/data/v1.2/.' always means the directory). A table
directory that cannot be opened, or sub-directories that /s could not read,
are named on standard error. Options: /s recurse, /all every kind of entry,
/ar add read-only files, /ah hidden, /ad directories, /as other entries
(links, devices), /a-d etc. remove a kind. The default lists regular files,
directories and hidden entries that the owner may write.
Listing controls, together (/s/xdev) or apart (/s /maxdepth:2):
  /maxdepth:N  entries of depth N at most (the directory's own entries
               have depth 1; implies /s); /mindepth:N at least N
  /xdev        enter no directory on another mount (bind mounts too)
  /exclude:P   leave out P, repeatable: a name pattern (node_modules, *.o)
               or a path below the table directory (**/build, src/gen);
               a final / means directories only; never opened
  /gitignore   honour .gitignore, .ignore, .git/info/exclude and the
               user's excludes file, as git does
  /follow      enter links to directories (loops are named and skipped)
A value runs to the next blank. An option the table text does not know is
named on standard error.

Columns: path, filename, extension, shortname, creationtime, lastwritetime,
lastaccesstime, size, attri, count, version, isdir, readOnly, hidden, data
("*" stands for these), and depth.

Statements are standard SQL (SQLite's dialect where standards differ):
expressions anywhere (size * 2, filename || '.bak', CASE, CAST, IS NULL,
NOT IN, ILIKE, BETWEEN), SQL functions (lower, substr, coalesce, round,
date, datetime, strftime, year...) beside the script built-ins, size
literals (10M), ORDER BY 2, GROUP BY 1, LIMIT, FETCH FIRST, comments.
Null is unknown: WHERE keeps a row only when its condition is true. Rows
left out because a condition could not be decided (an unreadable file, a
text that is no number) are counted in one warning on standard error.
The manual's "SQL reference" lists it all.

Examples:
  corvane-cli "select filename, size from '/var/log' where size > 100K order by size desc"
  corvane-cli "select extension, count(*), sum(size) from '/home/me /s' group by 1 order by 3 desc"
  corvane-cli "select name from '/home/me/docs /s' where modified > now() - interval '7 days'"
  corvane-cli --format csv "select * from '/home/me/src /s' t where t.extension = 'cpp'"
  corvane-cli "select a.filename from '/backup' a, '/data' b where a.filename = b.filename"
  echo "select top 10 filename from '/tmp'" | corvane-cli -f -

Values print as the program's value conversions render them: booleans as
True/False, date-times in the regional format (CSV: yyyy-mm-dd hh:nn:ss;
JSON: ISO 8601 with the UTC offset), numbers in general format with 15
significant digits.

Progress: on a terminal, a query that runs longer than about a second shows
the number of entries listed so far on standard error; Ctrl-C stops it.

Exit codes: 0 success, 1 statement errors (the messages on standard error,
each with its line and column),
2 bad usage, 3 a run-time error (its message on standard error) or out of
memory, 130 interrupted by Ctrl-C. Output to a closed pipe ends quietly.

Script mode (--script) compiles FILE, a program in the script language,
and runs its function NAME:
  --arg NAME=VALUE  a parameter of the function, by name (repeatable);
                    parameters left out receive "0"
  --units DIR       where used units are found and where units compiled from
                    source ("uses util.pas") are saved; default: FILE's
                    directory. An image replaces only an image: a file of
                    the unit's name that is none, or a directory that is not
                    writable, leaves the image unsaved (a warning on
                    standard error) and the program runs all the same
  --dump            print the linked program's instructions before running
The result is printed as text on standard output; showmessage prints its
text as a line on standard output; tag ... endtag texts go to standard
error. Exit codes: 0 success, 1 the program does not compile or link (the
diagnostics on standard error, e.g. "Compile: line 3:期待“;”出现。"), 2 bad
usage, 3 a run-time error (its message on standard error) or out of
memory, 130 Ctrl-C. The script is at most 16 MiB. Output to a closed pipe
ends quietly.
Example:
  corvane-cli --script fact.pas --main fact --arg n=10
)";

int Usage(const std::string& message) {
    std::fprintf(stderr, "corvane-cli: %s\nTry 'corvane-cli --help'.\n", message.c_str());
    return kExitUsage;
}

// Progress on a terminal's standard error, and Ctrl-C.
class CliProgress : public IProgress {
  public:
    CliProgress() : tty_(::isatty(2) == 1), start_(Clock::now()), last_(start_) {}
    ~CliProgress() override { Clear(); }
    void Listed(long long entries) override {
        if (!tty_) return;
        const auto now = Clock::now();
        if (now - start_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(100))
            return;
        last_ = now;
        char line[80];
        const int n = std::snprintf(line, sizeof line, "\r\033[Klisted %lld entries", entries);
        WriteErr(line, static_cast<size_t>(n));
        shown_ = true;
    }
    bool Cancelled() const override { return Interrupted(); }
    void Clear() {
        if (!shown_) return;
        WriteErr("\r\033[K", 4);
        shown_ = false;
    }

  private:
    using Clock = std::chrono::steady_clock;
    static void WriteErr(const char* p, size_t n) {
        while (n > 0) {
            ssize_t w = ::write(2, p, n);
            if (w <= 0) return;
            p += w;
            n -= static_cast<size_t>(w);
        }
    }
    bool tty_;
    bool shown_ = false;
    Clock::time_point start_, last_;
};

// What the tables could not read, one line each on standard error after
// the result; the exit code stays what the run gave.
void PrintWarnings(const TVeskEngineCustomer& engine) {
    for (const std::string& w : engine.Warnings())
        std::fprintf(stderr, "%s\n", w.c_str());
}

enum class ReadResult { Read, TooLong, Failed };

// The whole statement, at most kMaxSourceBytes of it: -f /dev/zero or an
// endless pipe is refused, not gathered until memory runs out.
ReadResult ReadStatement(std::istream& in, std::string& out) {
    char chunk[1 << 16];
    for (;;) {
        in.read(chunk, sizeof chunk);
        const size_t n = static_cast<size_t>(in.gcount());
        if (n > kMaxSourceBytes - out.size()) return ReadResult::TooLong;
        out.append(chunk, n);
        if (!in) break;
    }
    return in.bad() ? ReadResult::Failed : ReadResult::Read;
}

}  // namespace

static int RunStatementMode(int argc, char** argv) {
    Format format = Format::Table;
    bool check = false;
    int64_t memoryLimit = -1;  // -1: the engine's default
    int threads = 0;           // 0: the number of cores
    std::string file;
    bool haveFile = false;
    std::vector<std::string> positional;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (optionsDone || a.empty() || a[0] != '-' || a == "-") {
            positional.push_back(a);
        } else if (a == "--") {
            optionsDone = true;
        } else if (a == "-h" || a == "--help") {
            std::fputs(kHelp, stdout);
            return kExitOk;
        } else if (a == "--version") {
            std::printf("corvane-cli %s\n", CORVANE_VERSION_TEXT);
            return kExitOk;
        } else if (a == "--check") {
            check = true;
        } else if (a == "--memory-limit" || a.rfind("--memory-limit=", 0) == 0) {
            std::string value;
            if (a == "--memory-limit") {
                if (i + 1 >= argc) return Usage("option --memory-limit needs a size");
                value = argv[++i];
            } else {
                value = a.substr(15);
            }
            if (!ParseByteSize(value, memoryLimit))
                return Usage("bad size '" + value + "' for --memory-limit (e.g. 512M, 2G)");
        } else if (a == "--threads" || a.rfind("--threads=", 0) == 0) {
            std::string value;
            if (a == "--threads") {
                if (i + 1 >= argc) return Usage("option --threads needs a number");
                value = argv[++i];
            } else {
                value = a.substr(10);
            }
            int n = 0;
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
            if (ec != std::errc() || end != value.data() + value.size() || n < 1 ||
                n > kMaxListingThreads)
                return Usage("bad number '" + value + "' for --threads (1 to " +
                             std::to_string(kMaxListingThreads) + ")");
            threads = n;
        } else if (a == "-f" || a == "--file") {
            if (i + 1 >= argc) return Usage("option " + a + " needs a file name");
            file = argv[++i];
            haveFile = true;
        } else if (a == "--format" || a.rfind("--format=", 0) == 0) {
            std::string value;
            if (a == "--format") {
                if (i + 1 >= argc) return Usage("option --format needs a value");
                value = argv[++i];
            } else {
                value = a.substr(9);
            }
            if (value == "table")
                format = Format::Table;
            else if (value == "csv")
                format = Format::Csv;
            else if (value == "json")
                format = Format::Json;
            else
                return Usage("unknown format '" + value + "' (table, csv or json)");
        } else {
            return Usage("unknown option '" + a + "'");
        }
    }

    std::string sql;
    if (haveFile) {
        if (!positional.empty())
            return Usage("give the statement either as an argument or with -f, not both");
        ReadResult read;
        if (file == "-") {
            read = ReadStatement(std::cin, sql);
            if (read == ReadResult::Failed)
                return Usage("cannot read the statement from standard input");
        } else {
            std::ifstream in(file, std::ios::binary);
            if (!in) return Usage("cannot read '" + file + "': " + std::strerror(errno));
            read = ReadStatement(in, sql);
            if (read == ReadResult::Failed)
                return Usage("cannot read '" + file + "': " + std::strerror(errno));
        }
        if (read == ReadResult::TooLong)
            return Usage(std::string("the statement is longer than ") + kMaxSourceText);
    } else if (positional.size() == 1) {
        sql = positional[0];
    } else if (positional.empty()) {
        return Usage("no statement given");
    } else {
        return Usage("more than one statement argument (quote the statement)");
    }

    ::signal(SIGPIPE, SIG_IGN);
    TVeskEngineCustomer engine;
    auto files = std::make_shared<TVeskDBAdapterForFile>();
    files->SetListingThreads(threads);
    engine.AddDataBase(files);
    if (memoryLimit >= 0) engine.SetMemoryLimit(memoryLimit);
    engine.SetSQL(sql);
    engine.Parse();
    if (!engine.GetErrorText().empty()) {
        // Each message with its place as line and column.
        std::fputs(engine.Errors().TextWithPlaces(sql).c_str(), stderr);
        return kExitStatementErrors;
    }
    if (check) {
        std::fputs("OK\n", stdout);
        return kExitOk;
    }

    CatchInterrupt();

    OutBuffer out(1);
    std::unique_ptr<ResultWriter> writer = MakeWriter(format, out, &engine.MemoryBudget());
    CliProgress progress;
    engine.SetRowSink(writer.get());
    engine.SetProgress(&progress);
    try {
        try {
            engine.Execute();
        } catch (const QueryCancelledError&) {
            progress.Clear();
            writer->Finish();
            PrintWarnings(engine);
            std::fputs("corvane-cli: interrupted\n", stderr);
            return kExitInterrupted;
        }
        progress.Clear();
        writer->Finish();
    } catch (const OutputClosed&) {
        return kExitOk;
    } catch (const std::bad_alloc&) {
        progress.Clear();
        try {
            writer->Finish();
        } catch (...) {
        }
        ReportOutOfMemory();
        return kExitRuntime;
    } catch (const std::exception& e) {
        progress.Clear();
        try {
            writer->Finish();
        } catch (...) {
        }
        PrintWarnings(engine);
        std::fprintf(stderr, "%s\n", e.what());
        return kExitRuntime;
    }
    PrintWarnings(engine);
    return kExitOk;
}

int main(int argc, char** argv) {
    try {
        if (WantsScriptMode(argc, argv)) return RunScriptMode(argc, argv);
        return RunStatementMode(argc, argv);
    } catch (const std::bad_alloc&) {
        ReportOutOfMemory();
        return kExitRuntime;
    }
}
