#include "sql/SqlLexer.h"

#include <charconv>
#include <cmath>

#include "platform/DateTime.h"
#include "script/common/U_err.h"
#include "sql/SqlMessages.h"

namespace corvane {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsNameStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' ||
           static_cast<unsigned char>(c) >= 0x80;
}
bool IsNameByte(char c) {
    return IsNameStart(c) || IsDigit(c);
}
char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool TSqlToken::IsWord(std::string_view lowerWord) const {
    if (kind != TSqlTok::Name || text.size() != lowerWord.size()) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (Lower(text[i]) != lowerWord[i]) return false;
    return true;
}

bool TSqlLexer::SkipBlanks(std::string& message) {
    while (at_ < text_.size()) {
        const char c = text_[at_];
        if (IsBlank(c)) {
            ++at_;
        } else if (c == '-' && at_ + 1 < text_.size() && text_[at_ + 1] == '-') {
            while (at_ < text_.size() && text_[at_] != '\n')
                ++at_;
        } else if (c == '/' && at_ + 1 < text_.size() && text_[at_ + 1] == '*') {
            const size_t close = text_.find("*/", at_ + 2);
            if (close == std::string_view::npos) {
                message = std::string(Msg(sqlmsg::CommentNotClosed));
                return false;
            }
            at_ = close + 2;
        } else {
            break;
        }
    }
    return true;
}

TSqlToken TSqlLexer::Make(TSqlTok kind, size_t start, size_t end) {
    TSqlToken t;
    t.kind = kind;
    t.pos = static_cast<int>(start) + 1;
    t.len = static_cast<int>(end - start);
    at_ = end;
    return t;
}

TSqlToken TSqlLexer::Next() {
    std::string message;
    const size_t before = at_;
    if (!SkipBlanks(message)) {
        // Point at the comment's opening, past the blanks before it.
        size_t open = before;
        while (open < text_.size() && IsBlank(text_[open]))
            ++open;
        TSqlToken t = Make(TSqlTok::Bad, open, text_.size());
        t.text = std::move(message);
        return t;
    }
    if (at_ >= text_.size()) return Make(TSqlTok::End, text_.size(), text_.size());
    const size_t start = at_;
    const char c = text_[start];
    if (c == '\'' || c == '"') return ReadQuoted(start, c);
    if (IsDigit(c) || (c == '.' && start + 1 < text_.size() && IsDigit(text_[start + 1])))
        return ReadNumber(start);
    if (IsNameStart(c)) {
        size_t end = start + 1;
        while (end < text_.size() && IsNameByte(text_[end]))
            ++end;
        TSqlToken t = Make(TSqlTok::Name, start, end);
        t.text = std::string(text_.substr(start, end - start));
        return t;
    }
    if (c == ':') {
        size_t end = start + 1;
        while (end < text_.size() && IsBlank(text_[end]))
            ++end;
        size_t nameEnd = end;
        while (nameEnd < text_.size() && !IsBlank(text_[nameEnd]) && text_[nameEnd] != ',' &&
               text_[nameEnd] != ')' && text_[nameEnd] != '(' && text_[nameEnd] != ';')
            ++nameEnd;
        TSqlToken t = Make(TSqlTok::Param, start, nameEnd);
        t.text = std::string(text_.substr(end, nameEnd - end));
        return t;
    }
    // Operators: the two-byte ones first.
    static constexpr std::string_view kTwo[] = {"==", "!=", "<>", "<=", ">=", "||"};
    if (start + 1 < text_.size())
        for (std::string_view op : kTwo)
            if (text_.substr(start, 2) == op) {
                TSqlToken t = Make(TSqlTok::Op, start, start + 2);
                t.text = std::string(op);
                return t;
            }
    static constexpr std::string_view kOne = "=<>+-*/%()[],.;!";
    if (kOne.find(c) != std::string_view::npos) {
        TSqlToken t = Make(TSqlTok::Op, start, start + 1);
        t.text = std::string(1, c);
        return t;
    }
    // Any other byte starts nothing. Name a printable one, else its code.
    TSqlToken t = Make(TSqlTok::Bad, start, start + 1);
    const unsigned char u = static_cast<unsigned char>(c);
    std::string shown;
    if (u >= 0x20 && u < 0x7f) {
        shown.assign(1, c);
    } else {
        static constexpr char kHex[] = "0123456789ABCDEF";
        shown = std::string("\\x") + kHex[u >> 4] + kHex[u & 15];
    }
    t.text = FormatMsg(std::string(Msg(sqlmsg::UnexpectedCharacter)), shown);
    return t;
}

TSqlToken TSqlLexer::ReadQuoted(size_t start, char quote) {
    std::string value;
    size_t i = start + 1;
    while (i < text_.size()) {
        if (text_[i] == quote) {
            if (i + 1 < text_.size() && text_[i + 1] == quote) {
                value.push_back(quote);
                i += 2;
                continue;
            }
            TSqlToken t = Make(quote == '\'' ? TSqlTok::String : TSqlTok::QuotedName, start, i + 1);
            t.text = std::move(value);
            return t;
        }
        value.push_back(text_[i++]);
    }
    TSqlToken t = Make(TSqlTok::Bad, start, text_.size());
    t.text = std::string(sqlmsg::QuoteNotClosed);
    return t;
}

TSqlToken TSqlLexer::ReadNumber(size_t start) {
    size_t i = start;
    while (i < text_.size() && IsDigit(text_[i]))
        ++i;
    // yyyy-mm-dd without blanks: a date.
    if (i - start == 4 && i + 6 <= text_.size() && text_[i] == '-' && IsDigit(text_[i + 1]) &&
        IsDigit(text_[i + 2]) && text_[i + 3] == '-' && IsDigit(text_[i + 4]) &&
        IsDigit(text_[i + 5])) {
        const size_t end = i + 6;
        if (end == text_.size() || (!IsNameByte(text_[end]) && text_[end] != '.')) {
            auto num = [&](size_t from, size_t n) {
                int v = 0;
                for (size_t k = from; k < from + n; ++k)
                    v = v * 10 + (text_[k] - '0');
                return v;
            };
            TDateTime d;
            if (TryEncodeDate(num(start, 4), num(i + 1, 2), num(i + 4, 2), d)) {
                TSqlToken t = Make(TSqlTok::Date, start, end);
                t.value = Variant::FromDate(d);
                return t;
            }
        }
    }
    bool real = false;
    if (i < text_.size() && text_[i] == '.') {
        real = true;
        ++i;
        while (i < text_.size() && IsDigit(text_[i]))
            ++i;
    }
    bool badExponent = false;
    if (i < text_.size() && (text_[i] == 'e' || text_[i] == 'E')) {
        size_t j = i + 1;
        if (j < text_.size() && (text_[j] == '+' || text_[j] == '-')) ++j;
        if (j < text_.size() && IsDigit(text_[j])) {
            real = true;
            while (j < text_.size() && IsDigit(text_[j]))
                ++j;
            i = j;
        } else {
            badExponent = true;
        }
    }
    const size_t numberEnd = i;
    // A size suffix: K M G T, optionally followed by B.
    int64_t factor = 1;
    if (!badExponent && i < text_.size()) {
        const char s = Lower(text_[i]);
        const int64_t f = s == 'k'   ? int64_t{1} << 10
                          : s == 'm' ? int64_t{1} << 20
                          : s == 'g' ? int64_t{1} << 30
                          : s == 't' ? int64_t{1} << 40
                                     : 0;
        if (f) {
            size_t j = i + 1;
            if (j < text_.size() && Lower(text_[j]) == 'b') ++j;
            if (j == text_.size() || !IsNameByte(text_[j])) {
                factor = f;
                i = j;
            }
        }
    }
    if (badExponent || (i < text_.size() && (IsNameByte(text_[i]) || text_[i] == '.'))) {
        size_t end = i;
        while (end < text_.size() && (IsNameByte(text_[end]) || text_[end] == '.'))
            ++end;
        TSqlToken t = Make(TSqlTok::Bad, start, end);
        t.text = std::string(sqlmsg::InvalidNumber);
        return t;
    }
    TSqlToken t = Make(TSqlTok::Number, start, i);
    const char* b = text_.data() + start;
    const char* e = text_.data() + numberEnd;
    if (!real) {
        int64_t n = 0;
        const auto [p, ec] = std::from_chars(b, e, n);
        if (ec == std::errc() && p == e) {
            int64_t scaled = 0;
            if (!__builtin_mul_overflow(n, factor, &scaled)) {
                t.value.SetInteger(scaled);
                return t;
            }
        }
    }
    double d = 0;
    const auto [p, ec] = std::from_chars(b, e, d);
    if (ec == std::errc::result_out_of_range) {
        d = HUGE_VAL;
    } else if (ec != std::errc() || p != e) {
        t.kind = TSqlTok::Bad;
        t.text = std::string(sqlmsg::InvalidNumber);
        return t;
    }
    if (factor > 1) {
        // A size is a whole number of bytes.
        const double bytes = std::round(d * static_cast<double>(factor));
        if (bytes < 9.2e18) {
            t.value.SetInteger(static_cast<int64_t>(bytes));
            return t;
        }
        d = bytes;
    }
    t.value.SetDouble(d);
    return t;
}

std::string TSqlLexer::ReadTableWord(int pos) {
    Seek(pos);
    const size_t start = at_;
    size_t i = start;
    while (i < text_.size()) {
        const char c = text_[i];
        if (IsBlank(c) || c == ',' || c == '(' || c == ')' || c == ';') break;
        if (c == '-' && i + 1 < text_.size() && text_[i + 1] == '-') break;
        if (c == '/' && i + 1 < text_.size() && text_[i + 1] == '*') break;
        ++i;
    }
    at_ = i;
    return std::string(text_.substr(start, i - start));
}

void LineColumnOf(std::string_view text, int pos, int& line, int& column) {
    line = 1;
    column = 1;
    const size_t end = pos > 0 ? std::min(static_cast<size_t>(pos - 1), text.size()) : 0;
    for (size_t i = 0; i < end; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
}

}  // namespace corvane
