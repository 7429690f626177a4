// u_keywords: the reserved words of the script language.
//
// The 51 words that can never be names. The list is sorted by byte value so
// that IsKeyword can halve it; it deliberately holds the odd spelling
// "bealoon" and not "boolean", "word", "byte", "date", "xor", "iff",
// "result", "true" or "false": those stay usable as names (a conversion such
// as boolean(x) works because the type name is then not a reserved word).
//
// This unit only answers "is this word reserved". What a reserved word means
// in a statement is the compiler's business (u_compile); whether a word is a
// valid name is IsIdentifier in qv_consts.
#pragma once

#include <array>
#include <string_view>

namespace corvane {

// The reserved-word table: a count and the words, ascending by byte value.
struct Tkeylist {
    static constexpr int count = 51;
    std::array<std::string_view, count> words;
};

// The one table. Words are 1-based in the search below, 0-based here.
extern const Tkeylist kKeywords;

// Lower-cases s (ASCII letters only) and reports whether it is reserved.
bool IsKeyword(std::string_view s);

}  // namespace corvane
