#include "output/ResultWriter.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ostream>

#include "platform/Text.h"

namespace corvane {

// ---- Sinks -----------------------------------------------------------------

void TStreamSink::Write(std::string_view bytes) {
    out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out_) throw TOutputError("write failed");
}

void TResultWriter::Flush() {
    if (buf_.empty()) return;
    try {
        sink_.Write(buf_);
    } catch (...) {
        buf_.clear();  // a sink that raised must not see these bytes again
        throw;
    }
    buf_.clear();
}

// ---- Text forms ----------------------------------------------------------------

namespace {

// Whether any byte of w equals c (exact: the classic zero-byte test on
// w XOR c, which has no false positives in this form).
constexpr bool HasByte(uint64_t w, unsigned char c) {
    const uint64_t v = w ^ (0x0101010101010101ull * c);
    return ((v - 0x0101010101010101ull) & ~v & 0x8080808080808080ull) != 0;
}

// One pass over the bytes, eight at a time: every path and name of a
// listing goes through here.
bool NeedsCsvQuotes(std::string_view text) {
    const char* p = text.data();
    size_t n = text.size();
    for (; n >= 8; p += 8, n -= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        if (HasByte(w, ',') || HasByte(w, '"') || HasByte(w, '\r') || HasByte(w, '\n')) return true;
    }
    for (; n > 0; ++p, --n)
        if (*p == ',' || *p == '"' || *p == '\r' || *p == '\n') return true;
    return false;
}

}  // namespace

void AppendCsvField(std::string& out, std::string_view text) {
    if (!NeedsCsvQuotes(text)) {
        out.append(text);
        return;
    }
    out.push_back('"');
    for (char c : text) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
}

void AppendPlainDateTime(std::string& out, double dt) {
    int y, mo, d, h, mi, s, ms;
    DecodeDateTime(dt, y, mo, d, h, mi, s, ms);
    char buf[32];
    const int n =
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
    out.append(buf, static_cast<size_t>(n));
}

void AppendCsvValue(std::string& out, const Variant& v) {
    switch (v.type()) {
        case VarType::String:
            AppendCsvField(out, v.RawString());
            return;
        case VarType::Date:
            AppendPlainDateTime(out, v.RawDouble());
            return;
        default:
            break;
    }
    // A number may hold the regional decimal separator, which can be a
    // comma; booleans and empty values never need quotes.
    const size_t start = out.size();
    v.AppendString(out);
    if (NeedsCsvQuotes(std::string_view(out).substr(start))) {
        const std::string text = out.substr(start);
        out.resize(start);
        AppendCsvField(out, text);
    }
}

void AppendIsoDateTime(std::string& out, double dt, bool repeatedLater, UtcOffsetCache* offsets) {
    int y, mo, d, h, mi, s, ms;
    DecodeDateTime(dt, y, mo, d, h, mi, s, ms);
    char buf[48];
    int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", y, mo, d, h, mi, s);
    if (ms) n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ".%03d", ms);
    int32_t offset = 0;
    if (offsets ? offsets->OffsetOf(dt, repeatedLater, offset)
                : UtcOffsetOfLocal(dt, repeatedLater, offset)) {
        const char sign = offset < 0 ? '-' : '+';
        const int32_t a = offset < 0 ? -offset : offset;
        if (a % 60 == 0)
            n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), "%c%02d:%02d", sign,
                               a / 3600, a / 60 % 60);
        else
            n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), "%c%02d:%02d:%02d",
                               sign, a / 3600, a / 60 % 60, a % 60);
    }
    out.append(buf, static_cast<size_t>(n));
}

void AppendJsonString(std::string& out, std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    out.push_back('"');
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            // Names on Linux are bytes; a byte run that is not UTF-8 becomes
            // U+FFFD so the document stays valid.
            size_t n = Utf8SequenceLength(text, i);
            if (n == 0) {
                out += "\\ufffd";
                ++i;
            } else {
                out.append(text.substr(i, n));
                i += n;
            }
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out.push_back(kHex[c >> 4]);
                    out.push_back(kHex[c & 15]);
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
        ++i;
    }
    out.push_back('"');
}

void AppendJsonValue(std::string& out, const Variant& v, UtcOffsetCache* offsets) {
    switch (v.type()) {
        case VarType::Empty:
        case VarType::Null:
            out += "null";
            return;
        case VarType::Integer:
            AppendInteger(out, v.RawInteger());
            return;
        case VarType::Double:
            if (!std::isfinite(v.RawDouble())) {
                out += "null";
                return;
            }
            AppendGeneralFloat(out, v.RawDouble(), 15, '.');
            return;
        case VarType::Boolean:
            out += v.RawBoolean() ? "true" : "false";
            return;
        case VarType::Date:
            out.push_back('"');
            AppendIsoDateTime(out, v.RawDouble(), v.RepeatedLater(), offsets);
            out.push_back('"');
            return;
        case VarType::String:
            AppendJsonString(out, v.RawString());
            return;
    }
}

// ---- Writers ------------------------------------------------------------------

namespace {

class TCsvWriter : public TResultWriter {
  public:
    using TResultWriter::TResultWriter;
    void Begin(const std::vector<TSimpleFieldDef>& fields) override {
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i) buf_.push_back(',');
            AppendCsvField(buf_, fields[i].name);
        }
        buf_ += "\r\n";
        Maybe();
    }
    void Row(std::span<const Variant* const> values) override {
        const size_t start = buf_.size();
        for (size_t i = 0; i < values.size(); ++i) {
            if (i) buf_.push_back(',');
            AppendCsvValue(buf_, *values[i]);
        }
        // A row of one empty field would be an empty line, which readers
        // skip: quoted, it stays a row.
        if (values.size() == 1 && buf_.size() == start) buf_ += "\"\"";
        buf_ += "\r\n";
        Maybe();
    }
    void Finish() override { Flush(); }
};

class TJsonWriter : public TResultWriter {
  public:
    using TResultWriter::TResultWriter;
    void Begin(const std::vector<TSimpleFieldDef>& fields) override {
        keys_.clear();
        for (const TSimpleFieldDef& f : fields) {
            std::string key;
            AppendJsonString(key, f.name);
            key.push_back(':');
            keys_.push_back(std::move(key));
        }
        buf_ += "[";
        first_ = true;
    }
    void Row(std::span<const Variant* const> values) override {
        buf_ += first_ ? "\n{" : ",\n{";
        first_ = false;
        for (size_t i = 0; i < values.size() && i < keys_.size(); ++i) {
            if (i) buf_.push_back(',');
            buf_ += keys_[i];
            AppendJsonValue(buf_, *values[i], &offsets_);
        }
        buf_.push_back('}');
        Maybe();
    }
    void Finish() override {
        buf_ += first_ ? "]\n" : "\n]\n";
        Flush();
    }

  private:
    std::vector<std::string> keys_;
    UtcOffsetCache offsets_;
    bool first_ = true;
};

}  // namespace

std::unique_ptr<TResultWriter> MakeResultWriter(TResultFormat format, ITextSink& sink) {
    if (format == TResultFormat::rfJson) return std::make_unique<TJsonWriter>(sink);
    return std::make_unique<TCsvWriter>(sink);
}

void WriteResult(IXSimpleDataset& data, TResultFormat format, ITextSink& sink) {
    std::unique_ptr<TResultWriter> writer = MakeResultWriter(format, sink);
    const int count = data.GetFieldCount();
    std::vector<TSimpleFieldDef> fields(static_cast<size_t>(count < 0 ? 0 : count));
    for (int i = 0; i < count; ++i) {
        TSimpleFieldDef& f = fields[static_cast<size_t>(i)];
        f.name = data.GetFieldName(i);
        f.typeName = data.GetFieldType(i);
        f.position = i;
    }
    writer->Begin(fields);
    std::vector<Variant> values(fields.size());
    std::vector<const Variant*> row(fields.size());
    for (size_t i = 0; i < values.size(); ++i)
        row[i] = &values[i];
    const int current = data.GetRecNo();
    // Back on its record however the writing ends.
    struct Restore {
        IXSimpleDataset& data;
        int current;
        ~Restore() { data.SetRecNo(current); }
    } restore{data, current};
    for (data.First(); !data.Eof(); data.Next()) {
        for (int i = 0; i < count; ++i) {
            values[static_cast<size_t>(i)].Clear();
            data.GetFieldValue(i, values[static_cast<size_t>(i)]);
        }
        writer->Row(row);
    }
    writer->Finish();
}

void WriteResult(IXSimpleDataset& data, TResultFormat format, std::ostream& out) {
    TStreamSink sink(out);
    WriteResult(data, format, sink);
    out.flush();
    if (!out) throw TOutputError("write failed");
}

}  // namespace corvane
