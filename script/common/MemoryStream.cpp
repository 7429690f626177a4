#include "script/common/MemoryStream.h"

#include <cstring>

namespace corvane {

// ---------------------------------------------------------------------------
// TMemoryStream

void TMemoryStream::Seek(size_t pos) {
    if (pos > data_.size()) throw EStreamError();
    pos_ = pos;
}

void TMemoryStream::WriteRaw(const void* p, size_t n) {
    if (n == 0) return;
    if (pos_ + n > data_.size()) data_.resize(pos_ + n);
    std::memcpy(data_.data() + pos_, p, n);
    pos_ += n;
}

void TMemoryStream::WriteU32(uint32_t v) {
    const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                          static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    WriteRaw(b, 4);
}

void TMemoryStream::WriteString(std::string_view s) {
    WriteU32(static_cast<uint32_t>(s.size()));
    WriteRaw(s.data(), s.size());
}

uint8_t TMemoryStream::ReadU8() {
    if (Remaining() < 1) throw EStreamError();
    return data_[pos_++];
}

uint32_t TMemoryStream::ReadU32() {
    if (Remaining() < 4) throw EStreamError();
    const uint8_t* b = data_.data() + pos_;
    pos_ += 4;
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

std::string TMemoryStream::ReadString() {
    const size_t start = pos_;
    const uint32_t n = ReadU32();
    if (n > Remaining()) {
        pos_ = start;
        throw EStreamError();
    }
    std::string s(reinterpret_cast<const char*>(data_.data() + pos_), n);
    pos_ += n;
    return s;
}

size_t TMemoryStream::ReadCount(size_t minEntryBytes) {
    const size_t start = pos_;
    const int32_t n = ReadI32();
    if (n < 0 || static_cast<size_t>(n) > Remaining() / (minEntryBytes ? minEntryBytes : 1)) {
        pos_ = start;
        throw EStreamError();
    }
    return static_cast<size_t>(n);
}

}  // namespace corvane
