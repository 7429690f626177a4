#include "script/common/u_functions_consts.h"

#include "platform/Text.h"

namespace corvane {

bool IsSeparator(char c) {
    switch (c) {
        case '\t':
        case '\n':
        case '\r':
        case ' ':
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

bool IsBlankChar(char c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

static bool IsQuote(char c) {
    return c == '\'' || c == '"';
}

// 1-based access; callers guarantee 1 <= pos <= size.
static char At(std::string_view text, int pos) {
    return text[static_cast<size_t>(pos - 1)];
}

std::string ReadQuoted(std::string_view text, int pos) {
    const int n = static_cast<int>(text.size());
    if (pos < 1 || pos > n) return {};
    const char q = At(text, pos);
    if (!IsQuote(q)) return {};
    size_t close = text.find(q, static_cast<size_t>(pos));
    std::string out(1, q);
    if (close == std::string_view::npos) {
        out.append(text.substr(static_cast<size_t>(pos)));
    } else {
        out.append(text.substr(static_cast<size_t>(pos), close - static_cast<size_t>(pos)));
    }
    out.push_back(q);
    return out;
}

bool IsWholeWord(std::string_view text, int start, int end) {
    const int n = static_cast<int>(text.size());
    if (n == 0 || start < 1 || start > end || end > n) return false;
    bool left = start == 1 || IsSeparator(At(text, start - 1));
    bool right = end == n || IsSeparator(At(text, end + 1));
    return left && right;
}

int SkipBlanks(std::string_view text, int pos, int step) {
    const int n = static_cast<int>(text.size());
    if (n == 0 || pos > n) return pos;
    while (pos > 0 && pos < n && IsBlankChar(At(text, pos)))
        pos += step;
    return pos;
}

std::string ReadToken(std::string_view text, int pos, int& tokenPos) {
    const int n = static_cast<int>(text.size());
    tokenPos = 0;
    if (pos < 1) pos = 1;
    int start = SkipBlanks(text, pos, 1);
    if (n == 0 || start > n || start < 1) return {};
    while (start <= n && IsBlankChar(At(text, start)))
        ++start;
    if (start > n) return {};
    tokenPos = start;
    if (IsQuote(At(text, start))) return ReadQuoted(text, start);
    int end = start;
    while (end <= n && !IsSeparator(At(text, end)) &&
           !(At(text, end) == '.' && end < n && At(text, end + 1) == '.'))
        ++end;
    std::string token =
        Trim(text.substr(static_cast<size_t>(start - 1), static_cast<size_t>(end - start)));
    return LowerCaseAscii(token);
}

int PosOutsideQuotes(std::string_view what, std::string_view text, int start) {
    if (what.empty() || text.empty()) return 0;
    size_t a = start < 1 ? 0 : static_cast<size_t>(start - 1);
    while (a < text.size()) {
        size_t c = text.find(what, a);
        if (c == std::string_view::npos) return 0;
        size_t e = text.find_first_of("'\"", a);
        if (e == std::string_view::npos || e > c) return static_cast<int>(c) + 1;
        size_t close = text.find(text[e], e + 1);
        if (close == std::string_view::npos) return static_cast<int>(c) + 1;
        a = close + 1;
    }
    return 0;
}

int FindNameOutside(std::string_view name, std::string_view text, int start) {
    const int n = static_cast<int>(text.size());
    if (text.empty() || name.empty() || start > n) return 0;
    if (name.find_first_of("()\"'") != std::string_view::npos) return 0;
    if (start < 1) start = 1;
    char quote = 0;
    int depth = 0;
    for (int i = start; i <= n; ++i) {
        char c = At(text, i);
        if (quote) {
            if (c == quote) quote = 0;
            continue;
        }
        if (IsQuote(c)) {
            quote = c;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            --depth;
        } else if (depth == 0 && text.compare(static_cast<size_t>(i - 1), name.size(), name) == 0) {
            return i;
        }
    }
    return 0;
}

bool IsInQuotes(std::string_view text, int pos) {
    if (text.empty() || pos < 1) return false;
    const int n = static_cast<int>(text.size());
    int i = 1;
    while (i <= n) {
        char c = At(text, i);
        if (IsQuote(c)) {
            size_t close = text.find(c, static_cast<size_t>(i));
            if (close == std::string_view::npos) return false;  // unclosed: not a section
            int closePos = static_cast<int>(close) + 1;
            if (i <= pos && pos <= closePos) return true;
            i = closePos + 1;
        } else {
            ++i;
        }
    }
    return false;
}

}  // namespace corvane
