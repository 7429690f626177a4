#include "script/runtime/u_expr.h"

#include "platform/Text.h"

namespace corvane {

namespace {

// The script language's word delimiters (besides a line end).
bool IsDelimiter(char c) {
    switch (c) {
        case ' ':
        case '\t':
        case '\r':
        case '\n':
        case '"':
        case '&':
        case '\'':
        case '(':
        case ')':
        case '*':
        case '+':
        case ',':
        case '-':
        case '/':
        case ':':
        case ';':
        case '<':
        case '=':
        case '>':
        case '[':
        case ']':
        case '^':
            return true;
        default:
            return false;
    }
}

// The end (exclusive) of the token starting at i: a quoted literal up to its
// closing quote on the same line (or the line's end), a word up to the next
// delimiter or "..", a ".." or a single delimiter.
size_t TokenEnd(std::string_view s, size_t i) {
    const size_t n = s.size();
    char c = s[i];
    if (c == '\'' || c == '"') {
        size_t k = i + 1;
        while (k < n && s[k] != c && s[k] != '\n' && s[k] != '\r')
            ++k;
        return k < n && s[k] == c ? k + 1 : k;
    }
    if (s.substr(i, 2) == "..") return i + 2;
    if (IsDelimiter(c)) return i + 1;
    size_t k = i;
    while (k < n && !IsDelimiter(s[k]) && s.substr(k, 2) != "..")
        ++k;
    return k;
}

}  // namespace

std::string RewriteExternalNames(std::string_view expr, const TExternalMap& map) {
    std::string text(expr);
    for (const TExternalMapEntry& e : map) {
        std::string listed = LowerCaseAscii(e.ListedName);
        if (listed.empty()) continue;
        std::string lower = LowerCaseAscii(text);
        size_t i = 0;
        while (i < text.size()) {
            size_t end = TokenEnd(lower, i);
            if (std::string_view(lower).substr(i, end - i) == listed) {
                text.replace(i, end - i, e.PrivateName);
                lower.replace(i, end - i, LowerCaseAscii(e.PrivateName));
                // Go on after the inserted name: a name is never looked at
                // twice, so no listing can make the renaming loop.
                i += e.PrivateName.size();
            } else {
                i = end;
            }
        }
    }
    return text;
}

std::vector<std::string> GenerateExpressionProgram(std::string_view expr,
                                                   const std::vector<std::string>& externals,
                                                   const std::vector<std::string>& externalFuncs,
                                                   const std::vector<std::string>& gvarDefs,
                                                   TExternalMap& map) {
    std::vector<std::string> lines;
    lines.push_back("interface");
    lines.push_back("const PI=3.1415926;");
    for (const std::string& line : externalFuncs) {
        std::string decl = Trim(line);
        if (decl.empty()) continue;
        if (decl.back() == ';') decl.pop_back();
        lines.push_back(decl + " External;");
    }
    if (!gvarDefs.empty()) {
        lines.push_back("var ");
        for (const std::string& line : gvarDefs)
            lines.push_back(line);
    }
    const std::string head = std::string("function ") + kExprFuncName + ":variant;";
    lines.push_back(head);
    lines.push_back("implementation");
    lines.push_back(head);

    map.clear();
    std::string declarations;
    for (size_t k = 0; k < externals.size(); ++k) {
        const std::string& line = externals[k];
        if (TrimView(line).empty()) continue;
        size_t colon = line.find(':');
        std::string privateName = "_E_" + std::to_string(k);
        // Without a colon the listed name is empty (it never matches) and
        // the whole line follows the private name.
        std::string listed = colon == std::string::npos ? std::string() : line.substr(0, colon);
        std::string rest = colon == std::string::npos ? line : line.substr(colon);
        if (!rest.empty() && rest.back() == ';') rest.pop_back();
        map.push_back({privateName, listed});
        declarations += privateName + rest + " external;";
    }
    lines.push_back(declarations.empty() ? std::string() : "var " + declarations);
    lines.push_back("begin");
    lines.push_back("result:=" + RewriteExternalNames(expr, map) + ";");
    lines.push_back("end;");
    lines.push_back("end.");
    return lines;
}

}  // namespace corvane
