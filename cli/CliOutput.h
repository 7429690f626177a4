// CliOutput: how corvane-cli writes a result.
//
// Three row sinks (IRowSink) render the engine's result rows as they
// arrive: an aligned text table headed by the output names, made here, and
// CSV and JSON, made by the core's result writers (output/ResultWriter,
// which the desktop program's export shares; the formats are described
// there). Table cells show values the way the Variant conversions render
// them (True/False, date-times by the regional settings in local time,
// doubles with 15 significant digits), which is also what the desktop
// result list shows.
//
// Everything goes through one OutBuffer: large buffered writes on the file
// descriptor, no iostreams. A closed pipe (EPIPE) raises OutputClosed, so
// the program can end quietly. This unit knows nothing about statements or
// options (main.cpp).
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "datasource/U_simpleDS.h"
#include "evaluation/U_memBudget.h"
#include "output/ResultWriter.h"

namespace corvane::cli {

// The reader of our output went away.
class OutputClosed : public std::runtime_error {
  public:
    OutputClosed() : std::runtime_error("output closed") {}
};

class OutBuffer : public ITextSink {
  public:
    explicit OutBuffer(int fd) : fd_(fd) { buf_.reserve(kSize + 4096); }
    ~OutBuffer() override;
    // ITextSink: the core writers hand their bytes over here.
    void Write(std::string_view bytes) override;
    std::string& Text() { return buf_; }
    // Writes when enough has gathered.
    void Maybe() {
        if (buf_.size() >= kSize) Flush();
    }
    void Flush();

  private:
    static constexpr size_t kSize = 1 << 16;
    int fd_;
    std::string buf_;
};

enum class Format { Table, Csv, Json };

// A row sink that can finish its output once the rows are done.
class ResultWriter : public IRowSink {
  public:
    virtual void Finish() = 0;
};

// The table format keeps every cell until the end (its column widths
// depend on all rows) and charges them to budget (TMemoryUse::Output) when
// one is given; CSV and JSON keep nothing.
std::unique_ptr<ResultWriter> MakeWriter(Format format, OutBuffer& out,
                                         TMemoryBudget* budget = nullptr);

}  // namespace corvane::cli
