// Text: small byte-string helpers used everywhere.
//
// Texts are UTF-8 byte strings. Letter-case rules touch ASCII letters only
// (as every name comparison of the system does), so these helpers never
// depend on the locale and never split a multi-byte character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvane {

inline char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
inline char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
std::string LowerCaseAscii(std::string_view s);
std::string UpperCaseAscii(std::string_view s);
// Equal ignoring the letter case of ASCII letters.
bool SameTextAscii(std::string_view a, std::string_view b);
// Removes leading and trailing bytes <= ' ' (blanks and control characters).
std::string_view TrimView(std::string_view s);
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// Length of the well-formed UTF-8 sequence that starts at s[i] (1 to 4), or
// 0 when the bytes there are not one (a stray continuation byte, an overlong
// form, a surrogate, beyond U+10FFFF, cut off at the end). i < s.size().
size_t Utf8SequenceLength(std::string_view s, size_t i);

}  // namespace corvane
