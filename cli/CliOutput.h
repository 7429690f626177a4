// CliOutput: how corvane-cli writes a result.
//
// Three row sinks (IRowSink) render the engine's result rows as they
// arrive: an aligned text table headed by the output names, CSV after
// RFC 4180 (header line, CRLF line ends, fields quoted when they hold a
// comma, a quote or a line break), and a JSON array of objects keyed by
// output name with typed values. Text cells show values the way the
// Variant conversions render them (True/False, date-times by the regional
// settings, doubles with 15 significant digits), which is also what the
// desktop result list shows; JSON gives numbers, booleans, strings, null,
// and date-times as ISO 8601 local text.
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

#include "engine/U_simpleDS.h"

namespace corvane::cli {

// The reader of our output went away.
class OutputClosed : public std::runtime_error {
  public:
    OutputClosed() : std::runtime_error("output closed") {}
};

class OutBuffer {
  public:
    explicit OutBuffer(int fd) : fd_(fd) { buf_.reserve(kSize + 4096); }
    ~OutBuffer();
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

std::unique_ptr<ResultWriter> MakeWriter(Format format, OutBuffer& out);

// Exposed for tests of the renderers.
void AppendCsvField(std::string& out, std::string_view text);
void AppendJsonString(std::string& out, std::string_view text);
void AppendJsonValue(std::string& out, const Variant& v, std::string& scratch);

}  // namespace corvane::cli
