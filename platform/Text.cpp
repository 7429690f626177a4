#include "platform/Text.h"

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

}  // namespace corvane
