#include "script/common/u_keywords.h"

#include <string>

#include "platform/Text.h"

namespace corvane {

const Tkeylist kKeywords = {{
    "and",
    "any",
    "array",
    "as",
    "bealoon",
    "begin",
    "break",
    "case",
    "char",
    "const",
    "continue",
    "datetime",
    "div",
    "do",
    "double",
    "downto",
    "else",
    "end",
    "endtag",
    "exit",
    "external",
    "float",
    "for",
    "function",
    "goto",
    "if",
    "implementation",
    "initialization",
    "integer",
    "interface",
    "label",
    "like",
    "mod",
    "not",
    "of",
    "or",
    "procedure",
    "program",
    "repeat",
    "return",
    "string",
    "tag",
    "then",
    "to",
    "unit",
    "until",
    "uses",
    "var",
    "variant",
    "while",
    "with",
}};

bool IsKeyword(std::string_view s) {
    const std::string w = LowerCaseAscii(s);
    // Halving over positions 1..count. The loop may leave high below low;
    // the final test at low decides. std::string compares bytes unsigned,
    // which is the order the table is sorted in.
    auto at = [](int pos) { return kKeywords.words[static_cast<size_t>(pos - 1)]; };
    int low = 1, high = Tkeylist::count;
    while (high > low) {
        const int mid = low + (high - low) / 2;
        const int c = std::string_view(w).compare(at(mid));
        if (c == 0) return true;
        if (c > 0)
            low = mid + 1;
        else
            high = mid - 1;
    }
    return std::string_view(w) == at(low);
}

}  // namespace corvane
