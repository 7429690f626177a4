#include "cli/CliOutput.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/Text.h"

namespace corvane::cli {

// ---- OutBuffer -------------------------------------------------------------

OutBuffer::~OutBuffer() {
    try {
        Flush();
    } catch (...) {
        // Destruction after a closed pipe: nothing left to tell anyone.
    }
}

namespace {

// Writes all bytes to fd; EPIPE raises OutputClosed.
void WriteAll(int fd, const char* p, size_t left) {
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EPIPE) throw OutputClosed();
            throw std::runtime_error(std::string("write failed: ") + std::strerror(errno));
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
}

}  // namespace

void OutBuffer::Flush() {
    try {
        WriteAll(fd_, buf_.data(), buf_.size());
    } catch (...) {
        buf_.clear();
        throw;
    }
    buf_.clear();
}

void OutBuffer::Write(std::string_view bytes) {
    if (buf_.empty() && bytes.size() >= kSize) {
        WriteAll(fd_, bytes.data(), bytes.size());
        return;
    }
    buf_.append(bytes);
    Maybe();
}

// ---- Text forms ----------------------------------------------------------------

namespace {

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

}  // namespace

// ---- Writers ------------------------------------------------------------------

namespace {

// CSV and JSON: the core's writers, handing their bytes to the OutBuffer.
class CoreWriter : public ResultWriter {
  public:
    CoreWriter(TResultFormat format, OutBuffer& out)
        : out_(out), writer_(MakeResultWriter(format, out)) {}
    void Begin(const std::vector<TSimpleFieldDef>& fields) override { writer_->Begin(fields); }
    void Row(std::span<const Variant* const> values) override { writer_->Row(values); }
    void Finish() override {
        writer_->Finish();
        out_.Flush();
    }

  private:
    OutBuffer& out_;
    std::unique_ptr<TResultWriter> writer_;
};

// Gathers every cell (the widths depend on all rows), then prints. What it
// gathers is charged to the query's budget as the buffers grow.
class TableWriter : public ResultWriter {
  public:
    TableWriter(OutBuffer& out, TMemoryBudget* budget)
        : out_(out), charge_(budget, TMemoryUse::Output) {}
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
            // A text renders as itself; any other value in a few dozen bytes.
            Reserve(v.type() == VarType::String ? v.RawString().size() : kShortCell);
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
    static constexpr size_t kShortCell = 64;
    // Room for one more cell of that length: the buffers grow by doubling,
    // and the grown size is charged before it is allocated.
    void Reserve(size_t length) {
        const size_t textCapacity = text_.capacity() - text_.size() < length
                                        ? std::max(text_.capacity() * 2, text_.size() + length)
                                        : text_.capacity();
        const size_t endsCapacity = ends_.capacity() == ends_.size()
                                        ? std::max<size_t>(ends_.capacity() * 2, 1024)
                                        : ends_.capacity();
        const int64_t held = static_cast<int64_t>(textCapacity + endsCapacity * sizeof(uint32_t));
        if (held == charge_.Held()) return;
        charge_.Set(held);
        text_.reserve(textCapacity);
        ends_.reserve(endsCapacity);
    }
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
    TMemoryCharge charge_;        // what text_ and ends_ hold
};

}  // namespace

std::unique_ptr<ResultWriter> MakeWriter(Format format, OutBuffer& out, TMemoryBudget* budget) {
    switch (format) {
        case Format::Csv:
            return std::make_unique<CoreWriter>(TResultFormat::rfCsv, out);
        case Format::Json:
            return std::make_unique<CoreWriter>(TResultFormat::rfJson, out);
        case Format::Table:
            break;
    }
    return std::make_unique<TableWriter>(out, budget);
}

}  // namespace corvane::cli
