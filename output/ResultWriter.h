// ResultWriter: a query result as CSV or JSON, for tools to read.
//
// A result leaves the program in one of two text forms that other programs
// read back: CSV after RFC 4180 and a JSON array of objects. Both front ends
// write them with the writers here, so an export from the desktop program
// and the output of corvane-cli are the same bytes for the same result.
//
//   CSV   a header line with the output names, then one line per row; CRLF
//         line ends; a field is quoted ("...", a quote doubled) when it
//         holds a comma, a quote or a line break. Values as text the way
//         the Variant conversions render them (True/False, numbers in
//         general format with 15 significant digits and the regional
//         decimal separator), except date-times, which are always
//         "yyyy-mm-dd hh:nn:ss" (midnight included, no milliseconds), so a
//         date column reads back in one form.
//   JSON  "[", one object per row on a line of its own keyed by output
//         name, "]", a final LF ("[]" when there are no rows). Integers and
//         doubles as JSON numbers (a NaN or infinity as null), booleans as
//         true/false, empty and null as null, texts as strings (a byte run
//         that is not UTF-8 becomes U+FFFD, so the document stays valid),
//         date-times as ISO 8601 local time with the UTC offset:
//         "2024-10-27T02:45:00+01:00", ".zzz" milliseconds when the value
//         has them, "+hh:mm:ss" for an offset with seconds (local mean time
//         of old dates), no offset when the C library cannot tell one.
//
// Why the offset. A listing's times are local time; in the hour a clock is
// set back, the same local time shows twice, once on each side of the
// change, and the local value alone cannot say which. The file-system
// listing knows the instant, and its date-time values carry which of the
// two passes they are (Variant::RepeatedLater, DateTime's IsRepeatedLater),
// so the offset written is the right one for both. A date-time that was
// computed (an expression, a text converted to a date) carries no such bit
// and is taken as the first pass; a local time that a clock set forward
// skips gets the offset before the change.
//
// The API, for a host:
//
//   - To write a finished result (the desktop program's export):
//       std::ofstream file(path, std::ios::binary);
//       WriteResult(dataset, TResultFormat::rfCsv, file);
//     WriteResult reads the dataset through IXSimpleDataset (field names,
//     then every record from First to Eof) and puts the dataset back on the
//     record it was on. A stream that goes bad raises TOutputError.
//   - To write rows as the engine produces them (corvane-cli, which keeps no
//     rows in memory): MakeResultWriter(format, sink) gives a TResultWriter,
//     an IRowSink to hand to TVeskEngineCustomer::SetRowSink; Finish() ends
//     the document (JSON's "]") and hands the rest to the sink. After an
//     interrupted run Finish() still makes a well-formed document of the
//     rows so far.
//   - A sink (ITextSink) takes the bytes: TStreamSink writes them to a
//     std::ostream; corvane-cli has its own over a file descriptor. Writers
//     gather about 64 KiB before they hand bytes on. An exception a sink
//     raises reaches the caller of Row/Finish (and through the engine the
//     caller of Execute), which is how a closed pipe ends a run.
//
// What it does not do: the aligned text table of corvane-cli (cli/), which
// depends on a terminal's view of widths; choosing files or asking the user.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "datasource/U_simpleDS.h"
#include "platform/DateTime.h"

namespace corvane {

// Where a writer's bytes go.
class ITextSink {
  public:
    virtual ~ITextSink() = default;
    // Takes the bytes; raises to stop the writing.
    virtual void Write(std::string_view bytes) = 0;
};

// Writing to a stream failed.
class TOutputError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A sink over a std::ostream (not owned); a write that leaves the stream
// bad raises TOutputError.
class TStreamSink : public ITextSink {
  public:
    explicit TStreamSink(std::ostream& out) : out_(out) {}
    void Write(std::string_view bytes) override;

  private:
    std::ostream& out_;
};

enum class TResultFormat : uint8_t { rfCsv, rfJson };

// Renders rows into a buffer and hands it to the sink in large pieces. One
// writer writes one document: Begin once, Row per row, Finish once.
class TResultWriter : public IRowSink {
  public:
    explicit TResultWriter(ITextSink& sink) : sink_(sink) { buf_.reserve(kChunk + 4096); }
    // Ends the document and hands everything left to the sink.
    virtual void Finish() = 0;

  protected:
    static constexpr size_t kChunk = size_t{1} << 16;
    // Hands the buffer on once a chunk has gathered.
    void Maybe() {
        if (buf_.size() >= kChunk) Flush();
    }
    void Flush();

    ITextSink& sink_;
    std::string buf_;
};

// A writer for the format, over the sink (not owned; it must outlive the
// writer).
std::unique_ptr<TResultWriter> MakeResultWriter(TResultFormat format, ITextSink& sink);

// The whole dataset as one document: Begin with its fields (names and type
// names), every record from First to Eof, Finish. The dataset is left on
// the record it was on.
void WriteResult(IXSimpleDataset& data, TResultFormat format, ITextSink& sink);
void WriteResult(IXSimpleDataset& data, TResultFormat format, std::ostream& out);

// The pieces, for other writers and for tests.
// A CSV field: quoted when it holds a comma, a quote, CR or LF.
void AppendCsvField(std::string& out, std::string_view text);
// A value as a CSV field (date-times in the fixed form).
void AppendCsvValue(std::string& out, const Variant& v);
// A JSON string literal.
void AppendJsonString(std::string& out, std::string_view text);
// A value as a JSON value; a writer passes its offset cache along.
void AppendJsonValue(std::string& out, const Variant& v, UtcOffsetCache* offsets = nullptr);
// A date-time: "yyyy-mm-dd hh:nn:ss" (CSV).
void AppendPlainDateTime(std::string& out, double dt);
// A date-time as ISO 8601 with the UTC offset (JSON, without the quotes).
void AppendIsoDateTime(std::string& out, double dt, bool repeatedLater,
                       UtcOffsetCache* offsets = nullptr);

}  // namespace corvane
