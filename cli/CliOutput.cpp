#include "cli/CliOutput.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/DateTime.h"

namespace corvane::cli {

// ---- OutBuffer -------------------------------------------------------------

OutBuffer::~OutBuffer() {
    try {
        Flush();
    } catch (...) {
        // Destruction after a closed pipe: nothing left to tell anyone.
    }
}

void OutBuffer::Flush() {
    const char* p = buf_.data();
    size_t left = buf_.size();
    while (left > 0) {
        ssize_t n = ::write(fd_, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            buf_.clear();
            if (errno == EPIPE) throw OutputClosed();
            throw std::runtime_error(std::string("write failed: ") + std::strerror(errno));
        }
        p += n;
        left -= static_cast<size_t>(n);
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

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0 when the bytes there are
// not one.
size_t Utf8SequenceLength(std::string_view s, size_t i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) return 1;
    size_t n;
    uint32_t cp;
    if ((c & 0xE0) == 0xC0) {
        n = 2;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) ||
        (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

// Display width of a cell: code points, East Asian wide ones counting two.
size_t DisplayWidth(std::string_view s) {
    size_t width = 0;
    for (size_t i = 0; i < s.size();) {
        size_t n = Utf8SequenceLength(s, i);
        if (n == 0) {
            ++width;
            ++i;
            continue;
        }
        uint32_t cp = static_cast<unsigned char>(s[i]);
        if (n > 1) {
            cp &= (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
            for (size_t k = 1; k < n; ++k)
                cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                          (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                          (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                          (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
        width += wide ? 2 : 1;
        i += n;
    }
    return width;
}

void AppendIsoDateTime(std::string& out, double dt) {
    int y, mo, d, h, mi, s, ms;
    DecodeDate(dt, y, mo, d);
    DecodeTime(dt, h, mi, s, ms);
    char buf[40];
    int n =
        ms ? std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", y, mo, d, h, mi,
                           s, ms)
           : std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", y, mo, d, h, mi, s);
    out.append(buf, static_cast<size_t>(n));
}

}  // namespace

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

void AppendJsonValue(std::string& out, const Variant& v, std::string& scratch) {
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
            AppendIsoDateTime(out, v.RawDouble());
            out.push_back('"');
            return;
        case VarType::String:
            AppendJsonString(out, v.RawString());
            return;
    }
    (void)scratch;
}

// ---- Writers ------------------------------------------------------------------

namespace {

class CsvWriter : public ResultWriter {
  public:
    explicit CsvWriter(OutBuffer& out) : out_(out) {}
    void Begin(const std::vector<TSimpleFieldDef>& fields) override {
        std::string& o = out_.Text();
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i) o.push_back(',');
            AppendCsvField(o, fields[i].name);
        }
        o += "\r\n";
        out_.Maybe();
    }
    void Row(std::span<const Variant* const> values) override {
        std::string& o = out_.Text();
        for (size_t i = 0; i < values.size(); ++i) {
            if (i) o.push_back(',');
            const Variant& v = *values[i];
            if (v.type() == VarType::String) {
                AppendCsvField(o, v.RawString());
            } else {
                // Only texts and dates can hold a separator; numbers and
                // booleans go straight in.
                const size_t start = o.size();
                v.AppendString(o);
                if (NeedsCsvQuotes(std::string_view(o).substr(start))) {
                    scratch_.assign(o, start);
                    o.resize(start);
                    AppendCsvField(o, scratch_);
                }
            }
        }
        o += "\r\n";
        out_.Maybe();
    }
    void Finish() override { out_.Flush(); }

  private:
    OutBuffer& out_;
    std::string scratch_;
};

class JsonWriter : public ResultWriter {
  public:
    explicit JsonWriter(OutBuffer& out) : out_(out) {}
    void Begin(const std::vector<TSimpleFieldDef>& fields) override {
        keys_.clear();
        for (const TSimpleFieldDef& f : fields) {
            std::string key;
            AppendJsonString(key, f.name);
            key.push_back(':');
            keys_.push_back(std::move(key));
        }
        out_.Text() += "[";
        first_ = true;
    }
    void Row(std::span<const Variant* const> values) override {
        std::string& o = out_.Text();
        o += first_ ? "\n{" : ",\n{";
        first_ = false;
        for (size_t i = 0; i < values.size() && i < keys_.size(); ++i) {
            if (i) o.push_back(',');
            o += keys_[i];
            AppendJsonValue(o, *values[i], scratch_);
        }
        o.push_back('}');
        out_.Maybe();
    }
    void Finish() override {
        out_.Text() += first_ ? "]\n" : "\n]\n";
        out_.Flush();
    }

  private:
    OutBuffer& out_;
    std::vector<std::string> keys_;
    std::string scratch_;
    bool first_ = true;
};

// Gathers every cell (the widths depend on all rows), then prints.
class TableWriter : public ResultWriter {
  public:
    explicit TableWriter(OutBuffer& out) : out_(out) {}
    void Begin(const std::vector<TSimpleFieldDef>& fields) override {
        names_.clear();
        for (const TSimpleFieldDef& f : fields)
            names_.push_back(Clean(f.name));
        widths_.assign(names_.size(), 0);
        numeric_.assign(names_.size(), true);
        for (size_t i = 0; i < names_.size(); ++i)
            widths_[i] = DisplayWidth(names_[i]);
    }
    void Row(std::span<const Variant* const> values) override {
        for (size_t i = 0; i < values.size() && i < widths_.size(); ++i) {
            const Variant& v = *values[i];
            const size_t start = text_.size();
            v.AppendString(text_);
            for (size_t k = start; k < text_.size(); ++k)
                if (static_cast<unsigned char>(text_[k]) < 0x20) text_[k] = '?';
            ends_.push_back(static_cast<uint32_t>(text_.size()));
            widths_[i] = std::max(widths_[i], DisplayWidth(std::string_view(text_).substr(start)));
            if (v.type() != VarType::Integer && v.type() != VarType::Double && !v.IsEmpty())
                numeric_[i] = false;
        }
        if (text_.size() > 0xF0000000u)
            throw std::runtime_error("result too large for the table format");
    }
    void Finish() override {
        std::string& o = out_.Text();
        const size_t cols = names_.size();
        if (cols == 0) return out_.Flush();
        auto cell = [&](std::string_view s, size_t col, bool last) {
            const size_t pad = widths_[col] - std::min(widths_[col], DisplayWidth(s));
            if (numeric_[col]) o.append(pad, ' ');
            o.append(s);
            if (!numeric_[col] && !last) o.append(pad, ' ');
            if (!last) o += "  ";
        };
        for (size_t c = 0; c < cols; ++c)
            cell(names_[c], c, c + 1 == cols);
        o.push_back('\n');
        for (size_t c = 0; c < cols; ++c) {
            o.append(widths_[c], '-');
            if (c + 1 < cols) o += "  ";
        }
        o.push_back('\n');
        size_t start = 0;
        for (size_t k = 0; k < ends_.size(); ++k) {
            const size_t c = k % cols;
            cell(std::string_view(text_).substr(start, ends_[k] - start), c, c + 1 == cols);
            start = ends_[k];
            if (c + 1 == cols) {
                o.push_back('\n');
                out_.Maybe();
            }
        }
        out_.Flush();
    }

  private:
    static std::string Clean(std::string s) {
        for (char& c : s)
            if (static_cast<unsigned char>(c) < 0x20) c = '?';
        return s;
    }
    OutBuffer& out_;
    std::vector<std::string> names_;
    std::vector<size_t> widths_;
    std::vector<bool> numeric_;
    std::string text_;            // every cell, one after another
    std::vector<uint32_t> ends_;  // end of each cell in text_
};

}  // namespace

std::unique_ptr<ResultWriter> MakeWriter(Format format, OutBuffer& out) {
    switch (format) {
        case Format::Csv:
            return std::make_unique<CsvWriter>(out);
        case Format::Json:
            return std::make_unique<JsonWriter>(out);
        case Format::Table:
            break;
    }
    return std::make_unique<TableWriter>(out);
}

}  // namespace corvane::cli
