#include "script/compiler/CompilerScanner.h"

#include <algorithm>
#include <cstring>

#include "platform/Text.h"
#include "platform/Variant.h"
#include "script/common/u_functions_consts.h"

namespace corvane {

namespace {

bool IsQuote(char c) {
    return c == '\'' || c == '"';
}

// Characters SkipStatement passes one by one.
bool IsRecoverDelimiter(char c) {
    return c == ' ' || c == '\t' || c == '(' || c == ')' || c == '*' || c == '+' || c == ',' ||
           c == '-' || c == '/' || c == ':' || c == ';' || c == '<' || c == '=' || c == '>' ||
           c == '[' || c == ']';
}

}  // namespace

// ===========================================================================
// Source text and lines

std::vector<std::string> SplitSourceText(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            if (start < text.size()) lines.emplace_back(text.substr(start));
            break;
        }
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
        start = end + 1;
    }
    if (!lines.empty() && !lines.back().empty() && lines.back().back() == '\r')
        lines.back().pop_back();
    return lines;
}

Tcodetxt BuildLineList(const std::vector<std::string>& lines) {
    Tcodetxt out;
    bool inQuote = false, inBrace = false;
    char quote = 0;
    for (size_t n = 0; n < lines.size(); ++n) {
        const std::string& src = lines[n];
        std::string t;
        t.reserve(src.size());
        size_t braceStart = 0;  // where in t the open brace comment begins
        for (size_t i = 0; i < src.size(); ++i) {
            const char c = src[i];
            if (inQuote) {
                t += c;
                if (c == quote) inQuote = false;
                continue;
            }
            if (IsQuote(c)) {
                inQuote = true;
                quote = c;
                t += c;
            } else if (c == '/' && i + 1 < src.size() && src[i + 1] == '/') {
                break;
            } else if (c == '{' && !inBrace) {
                inBrace = true;
                braceStart = t.size();
                t += c;
            } else if (c == '}' && inBrace) {
                t.resize(braceStart);
                inBrace = false;
            } else {
                t += c;
            }
        }
        if (inBrace) t.resize(braceStart);
        const std::string_view trimmed = TrimView(t);
        if (!trimmed.empty()) out.push_back({static_cast<int32_t>(n + 1), std::string(trimmed)});
    }
    return out;
}

// ===========================================================================
// Number literals

NumberCheck CheckNumber(std::string_view text, int type) {
    if (!IsNumberText(text)) return NumberCheck::Ok;
    if (type == dtDouble) {
        double d = 0;
        if (TryParseDouble(text, '.', d)) return NumberCheck::Ok;
    } else if (type == dtInteger || type == dtWord) {
        // TryParseInteger also reads a hexadecimal "0x10", which has always
        // loaded as an integer.
        int64_t n = 0;
        if (TryParseInteger(text, n)) return NumberCheck::Ok;
    } else {
        return NumberCheck::Ok;  // a number that reads as a time of day
    }
    return IsNumberLiteral(text) ? NumberCheck::OutOfRange : NumberCheck::Malformed;
}

// ===========================================================================
// Position

void TScanner::SetLines(Tcodetxt lines) {
    lines_ = std::move(lines);
    lower_.clear();
    lower_.reserve(lines_.size());
    for (const Tline& l : lines_)
        lower_.push_back(LowerCaseAscii(l.text));
    pos_ = {};
}

int TScanner::LineNo() const {
    if (pos_.lineIndex >= 0 && static_cast<size_t>(pos_.lineIndex) < lines_.size())
        return lines_[static_cast<size_t>(pos_.lineIndex)].lineNo;
    return -1;
}

const std::string& TScanner::CurLine() const {
    static const std::string empty;
    if (pos_.lineIndex >= 0 && static_cast<size_t>(pos_.lineIndex) < lower_.size())
        return lower_[static_cast<size_t>(pos_.lineIndex)];
    return empty;
}

int TScanner::WordLine() {
    const TScanPos save = pos_;
    NextChar();
    const int line = LineNo();
    pos_ = save;
    return line;
}

bool TScanner::Stuck(const TScanPos& before) const {
    return before.lineIndex == pos_.lineIndex && before.col == pos_.col;
}

bool TScanner::AdvanceLine() {
    if (static_cast<size_t>(pos_.lineIndex + 1) >= lines_.size()) return false;
    ++pos_.lineIndex;
    pos_.col = 1;
    return true;
}

// ===========================================================================
// Characters, words, operators

char TScanner::NextChar() {
    for (;;) {
        const std::string& l = CurLine();
        const int len = static_cast<int>(l.size());
        if (pos_.col < 1) pos_.col = 1;
        while (pos_.col <= len && IsBlankChar(l[static_cast<size_t>(pos_.col - 1)]))
            ++pos_.col;
        if (pos_.col <= len) return l[static_cast<size_t>(pos_.col++ - 1)];
        if (!AdvanceLine()) return kEndOfText;
    }
}

char TScanner::PeekChar() {
    const TScanPos save = pos_;
    const char c = NextChar();
    pos_ = save;
    return c;
}

char TScanner::CharAtCursor() const {
    const std::string& l = CurLine();
    if (pos_.col >= 1 && pos_.col <= static_cast<int>(l.size()))
        return l[static_cast<size_t>(pos_.col - 1)];
    return kEndOfText;
}

std::string TScanner::NextWord() {
    // word -> quoted-literal | run of characters up to a delimiter or ".."
    if (pos_.col < 1 || pos_.col > static_cast<int>(CurLine().size())) {
        if (!AdvanceLine()) {
            ranOut_();
            return {};
        }
    }
    const std::string& l = CurLine();
    const int len = static_cast<int>(l.size());
    while (pos_.col <= len && IsBlankChar(l[static_cast<size_t>(pos_.col - 1)]))
        ++pos_.col;
    if (pos_.col > len) return {};
    const char c = l[static_cast<size_t>(pos_.col - 1)];
    if (IsQuote(c)) {
        const std::string& text = lines_[static_cast<size_t>(pos_.lineIndex)].text;
        const size_t close = text.find(c, static_cast<size_t>(pos_.col));
        std::string word = ReadQuoted(text, pos_.col);
        pos_.col = close == std::string::npos ? len + 1 : static_cast<int>(close) + 2;
        return word;
    }
    const int start = pos_.col;
    // The sign of a number's exponent belongs to the number: "1e-5" is one
    // word, not "1e" minus 5.
    auto isDigit = [](char ch) { return ch >= '0' && ch <= '9'; };
    auto exponentSign = [&](int col) {
        const size_t at = static_cast<size_t>(col - 1);  // where the sign stands
        if (!isDigit(c) || at + 1 >= l.size() || !isDigit(l[at + 1])) return false;
        // What comes before the sign must be a number up to its "e".
        const std::string before(l, static_cast<size_t>(start - 1), at - (start - 1));
        return !before.empty() && before.back() == 'e' && IsNumberLiteral(before + "0");
    };
    while (pos_.col <= len) {
        const char d = l[static_cast<size_t>(pos_.col - 1)];
        if ((d == '+' || d == '-') && exponentSign(pos_.col)) {
            ++pos_.col;
            continue;
        }
        if (IsSeparator(d)) break;
        if (d == '.' && pos_.col < len && l[static_cast<size_t>(pos_.col)] == '.') break;
        ++pos_.col;
    }
    return std::string(TrimView(std::string_view(l).substr(static_cast<size_t>(start - 1),
                                                           static_cast<size_t>(pos_.col - start))));
}

std::string TScanner::PeekWord() {
    const TScanPos save = pos_;
    std::string w = NextWord();
    pos_ = save;
    return w;
}

std::string TScanner::ReadConstValue() {
    const std::string& l = CurLine();
    if (pos_.col >= 1 && pos_.col <= static_cast<int>(l.size())) {
        const char c = l[static_cast<size_t>(pos_.col - 1)];
        if (IsQuote(c)) {
            const std::string& text = lines_[static_cast<size_t>(pos_.lineIndex)].text;
            const size_t close = text.find(c, static_cast<size_t>(pos_.col));
            std::string v = ReadQuoted(text, pos_.col);
            pos_.col = close == std::string::npos ? static_cast<int>(l.size()) + 1
                                                  : static_cast<int>(close) + 2;
            return v;
        }
    }
    return NextWord();
}

TOperatorKind TScanner::ReadOperator() {
    const TScanPos save = pos_;
    std::string run;
    for (;;) {
        const TScanPos p = pos_;
        const char c = NextChar();
        const bool opChar = c != kEndOfText && std::strchr("*+-/<=>", c) != nullptr;
        if (!opChar || (!run.empty() && (c == '+' || c == '-'))) {
            pos_ = p;
            break;
        }
        run += c;
    }
    if (!run.empty()) {
        const TOperatorKind k = OperatorIndex(run);
        if (k != okNone) return k;
    }
    // Operators made of letters (and ":=") are found by their length alone,
    // without testing that a word ends there.
    const TScanPos afterRun = pos_;
    for (int n = 2; n <= kMaxOperatorLength; ++n) {
        pos_ = n == 2 ? afterRun : save;
        std::string s;
        for (int i = 0; i < n; ++i) {
            const char c = NextChar();
            if (c == kEndOfText) break;
            s += LowerAscii(c);
        }
        const TOperatorKind k = OperatorIndex(s);
        if (k != okNone) return k;
    }
    pos_ = save;
    return okNone;
}

// ===========================================================================
// Recovery and raw text

bool TScanner::SkipToNextBody() {
    // The search starts after the current line: a body's first line is its
    // own header, and no later line of a body starts another one.
    for (size_t i = static_cast<size_t>(std::max(pos_.lineIndex + 1, 0)); i < lines_.size(); ++i) {
        const std::string& t = lines_[i].text;
        if (t.starts_with("function ") || t.starts_with("procedure ") || t == "end.") {
            pos_ = {static_cast<int>(i), 1};
            return true;
        }
    }
    if (!lines_.empty()) pos_ = {static_cast<int>(lines_.size()) - 1, 1};
    return false;
}

bool TScanner::SkipStatement() {
    std::vector<std::string_view> closers;
    auto endFollows = [&](int col) {
        const std::string& l = CurLine();
        int k = col;
        while (k <= static_cast<int>(l.size()) && IsBlankChar(l[static_cast<size_t>(k - 1)]))
            ++k;
        int e = k;
        while (e <= static_cast<int>(l.size()) &&
               !IsRecoverDelimiter(l[static_cast<size_t>(e - 1)]) &&
               !IsQuote(l[static_cast<size_t>(e - 1)]))
            ++e;
        return std::string_view(l).substr(static_cast<size_t>(k - 1), static_cast<size_t>(e - k)) ==
               "end";
    };
    if (pos_.col < 1) pos_.col = 1;
    for (;;) {
        const std::string& l = CurLine();
        const int len = static_cast<int>(l.size());
        if (pos_.col > len) {
            if (!AdvanceLine()) return false;
            // A line break counts as the blank in front of "end".
            if (closers.empty() && endFollows(1)) return true;
            continue;
        }
        const char c = l[static_cast<size_t>(pos_.col - 1)];
        if (closers.empty()) {
            if (c == ';') return true;
            if (IsBlankChar(c) && endFollows(pos_.col)) return true;
        }
        if (IsQuote(c)) {
            const size_t close = l.find(c, static_cast<size_t>(pos_.col));
            pos_.col = close == std::string::npos ? len + 1 : static_cast<int>(close) + 2;
            continue;
        }
        if (IsRecoverDelimiter(c)) {
            ++pos_.col;
            continue;
        }
        const int start = pos_.col;
        while (pos_.col <= len) {
            const char d = l[static_cast<size_t>(pos_.col - 1)];
            if (IsRecoverDelimiter(d) || IsQuote(d)) break;
            ++pos_.col;
        }
        const std::string_view w = std::string_view(l).substr(
            static_cast<size_t>(start - 1), static_cast<size_t>(pos_.col - start));
        if (!closers.empty() && w == closers.back())
            closers.pop_back();
        else if (w == "begin" || w == "of")
            closers.push_back("end");
        else if (w == "repeat")
            closers.push_back("until");
    }
}

std::string TScanner::TextFrom(const TScanPos& from) const {
    const std::string& first = lines_[static_cast<size_t>(from.lineIndex)].text;
    std::string text = from.col - 1 <= static_cast<int>(first.size())
                           ? first.substr(static_cast<size_t>(from.col - 1))
                           : "";
    for (int i = from.lineIndex + 1; i <= pos_.lineIndex; ++i) {
        text += "\r\n";
        text += lines_[static_cast<size_t>(i)].text;
    }
    return text;
}

}  // namespace corvane
