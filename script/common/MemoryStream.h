// MemoryStream: the byte buffer images are written to and read from.
//
// Both image formats (qv_vmc) are written into and read from a
// TMemoryStream; file adapters hand images over as one. Reading past the
// end is an EStreamError carrying "目标代码无效。", so a truncated or hostile
// image ends as an invalid one and never reads outside the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "script/common/U_err.h"

namespace corvane {

// ---------------------------------------------------------------------------
// A growable byte buffer with a position, as images are written to and read
// from. Writing at the position overwrites and extends; reading past the
// end raises EStreamError and leaves the position where it was.
class EStreamError : public EScriptError {
  public:
    EStreamError() : EScriptError(std::string(msg::InvalidObjectCode)) {}
};

class TMemoryStream {
  public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> bytes) : data_(std::move(bytes)) {}
    explicit TMemoryStream(std::string_view bytes) : data_(bytes.begin(), bytes.end()) {}

    const std::vector<uint8_t>& Bytes() const { return data_; }
    std::string_view View() const {
        return {reinterpret_cast<const char*>(data_.data()), data_.size()};
    }
    size_t Size() const { return data_.size(); }
    size_t Position() const { return pos_; }
    size_t Remaining() const { return data_.size() - pos_; }
    // Raises EStreamError for a position beyond the end.
    void Seek(size_t pos);
    void Clear() { data_.clear(), pos_ = 0; }
    // Drops everything from the position on.
    void Truncate() { data_.resize(pos_); }

    void WriteU8(uint8_t v) { WriteRaw(&v, 1); }
    void WriteU32(uint32_t v);
    void WriteI32(int32_t v) { WriteU32(static_cast<uint32_t>(v)); }
    void WriteString(std::string_view s);
    void WriteRaw(const void* p, size_t n);

    uint8_t ReadU8();
    uint32_t ReadU32();
    int32_t ReadI32() { return static_cast<int32_t>(ReadU32()); }
    std::string ReadString();
    // A 32-bit count of entries that take at least minEntryBytes each;
    // raises EStreamError when it is negative or the stream cannot hold
    // that many, so no reader allocates for a hostile count.
    size_t ReadCount(size_t minEntryBytes);

  private:
    std::vector<uint8_t> data_;
    size_t pos_ = 0;
};

}  // namespace corvane
