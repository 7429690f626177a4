#include "platform/Text.h"

#include <cstdint>

namespace corvane {

std::string LowerCaseAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = LowerAscii(c);
    return out;
}

std::string UpperCaseAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = UpperAscii(c);
    return out;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

static bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string_view TrimView(std::string_view s) {
    while (!s.empty() && IsTrimmed(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsTrimmed(s.back())) s.remove_suffix(1);
    return s;
}

std::string Trim(std::string_view s) { return std::string(TrimView(s)); }

std::string TrimLeft(std::string_view s) {
    while (!s.empty() && IsTrimmed(s.front())) s.remove_prefix(1);
    return std::string(s);
}

std::string TrimRight(std::string_view s) {
    while (!s.empty() && IsTrimmed(s.back())) s.remove_suffix(1);
    return std::string(s);
}

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

}  // namespace corvane
