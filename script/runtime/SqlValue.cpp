#include "script/runtime/SqlValue.h"

#include <charconv>
#include <cmath>

#include "platform/FormatSettings.h"

namespace corvane {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// Reads n digits at s[pos] as a number; false when they are not all digits.
bool ReadDigits(std::string_view s, size_t pos, size_t n, int& out) {
    if (pos + n > s.size()) return false;
    out = 0;
    for (size_t i = pos; i < pos + n; ++i) {
        if (!IsDigit(s[i])) return false;
        out = out * 10 + (s[i] - '0');
    }
    return true;
}

thread_local TSqlFaults* tCurrentFaults = nullptr;

}  // namespace

TSqlFaults* CurrentSqlFaults() {
    return tCurrentFaults;
}

void NoteSqlFault(std::string_view reason) {
    if (tCurrentFaults) tCurrentFaults->Note(reason);
}

TSqlFaultScope::TSqlFaultScope(TSqlFaults* faults) : previous_(tCurrentFaults) {
    tCurrentFaults = faults;
}

TSqlFaultScope::~TSqlFaultScope() {
    tCurrentFaults = previous_;
}

std::string_view SqlTypeName(TSqlType type) {
    switch (type) {
        case TSqlType::Boolean:
            return "boolean";
        case TSqlType::Integer:
            return "integer";
        case TSqlType::Real:
            return "double";
        case TSqlType::Text:
            return "string";
        case TSqlType::Date:
            return "date";
        case TSqlType::Any:
        case TSqlType::Null:
            break;
    }
    return "any";
}

TSqlType SqlTypeOfName(std::string_view name) {
    if (name == "integer" || name == "word" || name == "byte") return TSqlType::Integer;
    if (name == "double" || name == "float") return TSqlType::Real;
    if (name == "string" || name == "char") return TSqlType::Text;
    if (name == "boolean") return TSqlType::Boolean;
    if (name == "date" || name == "datetime") return TSqlType::Date;
    return TSqlType::Any;
}

TSqlType SqlTypeOf(const Variant& v) {
    switch (v.type()) {
        case VarType::Empty:
        case VarType::Null:
            return TSqlType::Null;
        case VarType::Integer:
            return TSqlType::Integer;
        case VarType::Double:
            return TSqlType::Real;
        case VarType::Date:
            return TSqlType::Date;
        case VarType::Boolean:
            return TSqlType::Boolean;
        case VarType::String:
            return TSqlType::Text;
    }
    return TSqlType::Any;
}

bool ParseSqlNumber(std::string_view text, Variant& out) {
    const std::string_view s = TrimBlanks(text);
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t digits = 0;
    while (i < s.size() && IsDigit(s[i])) {
        ++i;
        ++digits;
    }
    bool real = false;
    if (i < s.size() && s[i] == '.') {
        real = true;
        ++i;
        while (i < s.size() && IsDigit(s[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        real = true;
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        if (i >= s.size() || !IsDigit(s[i])) return false;
        while (i < s.size() && IsDigit(s[i]))
            ++i;
    }
    if (i != s.size()) return false;
    if (!real) {
        int64_t n = 0;
        // from_chars takes no "+"; a "-" it reads itself.
        const char* begin = s.data() + (s[0] == '+' ? 1 : 0);
        const auto [end, ec] = std::from_chars(begin, s.data() + s.size(), n);
        if (ec == std::errc() && end == s.data() + s.size()) {
            out.SetInteger(n);
            return true;
        }
        // Too long for 64 bits: read as a real below.
    }
    double d = 0;
    const char* begin = s.data() + (s[0] == '+' ? 1 : 0);
    const auto [end, ec] = std::from_chars(begin, s.data() + s.size(), d);
    if (end != s.data() + s.size()) return false;
    if (ec == std::errc::result_out_of_range)
        d = s[0] == '-' ? -HUGE_VAL : HUGE_VAL;
    else if (ec != std::errc())
        return false;
    out.SetDouble(d);
    return true;
}

bool SqlToInteger(const Variant& v, int64_t& out) {
    switch (v.type()) {
        case VarType::Empty:
        case VarType::Null:
            return false;
        case VarType::Integer:
            out = v.RawInteger();
            return true;
        case VarType::Double:
        case VarType::Date:
            return TryRoundToInteger(v.RawDouble(), out);
        case VarType::Boolean:
            out = v.RawBoolean() ? 1 : 0;
            return true;
        case VarType::String: {
            Variant n;
            if (!ParseSqlNumber(v.RawString(), n)) return false;
            if (n.type() == VarType::Integer) {
                out = n.RawInteger();
                return true;
            }
            return TryRoundToInteger(n.RawDouble(), out);
        }
    }
    return false;
}

bool SqlToReal(const Variant& v, double& out) {
    switch (v.type()) {
        case VarType::Empty:
        case VarType::Null:
            return false;
        case VarType::Integer:
            out = static_cast<double>(v.RawInteger());
            return true;
        case VarType::Double:
        case VarType::Date:
            out = v.RawDouble();
            return true;
        case VarType::Boolean:
            out = v.RawBoolean() ? 1 : 0;
            return true;
        case VarType::String: {
            Variant n;
            if (!ParseSqlNumber(v.RawString(), n)) return false;
            out =
                n.type() == VarType::Integer ? static_cast<double>(n.RawInteger()) : n.RawDouble();
            return true;
        }
    }
    return false;
}

bool SqlToBoolean(const Variant& v, bool& out) {
    switch (v.type()) {
        case VarType::Empty:
        case VarType::Null:
            return false;
        case VarType::Integer:
            out = v.RawInteger() != 0;
            return true;
        case VarType::Double:
        case VarType::Date:
            out = v.RawDouble() != 0;
            return true;
        case VarType::Boolean:
            out = v.RawBoolean();
            return true;
        case VarType::String: {
            const std::string_view s = TrimBlanks(v.RawString());
            if (EqualsNoCase(s, "true")) {
                out = true;
                return true;
            }
            if (EqualsNoCase(s, "false")) {
                out = false;
                return true;
            }
            double d;
            if (!SqlToReal(v, d)) return false;
            out = d != 0;
            return true;
        }
    }
    return false;
}

bool ParseIsoDateTime(std::string_view text, TDateTime& out) {
    const std::string_view s = TrimBlanks(text);
    int year, month, day;
    if (s.size() < 10 || !ReadDigits(s, 0, 4, year) || s[4] != '-' || !ReadDigits(s, 5, 2, month) ||
        s[7] != '-' || !ReadDigits(s, 8, 2, day))
        return false;
    TDateTime date;
    if (!TryEncodeDate(year, month, day, date)) return false;
    if (s.size() == 10) {
        out = date;
        return true;
    }
    if (s[10] != ' ' && s[10] != 'T' && s[10] != 't') return false;
    int hour, minute, second = 0, msec = 0;
    if (!ReadDigits(s, 11, 2, hour) || s.size() < 16 || s[13] != ':' ||
        !ReadDigits(s, 14, 2, minute))
        return false;
    size_t pos = 16;
    if (pos < s.size() && s[pos] == ':') {
        if (!ReadDigits(s, pos + 1, 2, second)) return false;
        pos += 3;
        if (pos < s.size() && s[pos] == '.') {
            ++pos;
            int scale = 100;
            if (pos >= s.size() || !IsDigit(s[pos])) return false;
            while (pos < s.size() && IsDigit(s[pos])) {
                msec += (s[pos] - '0') * scale;
                scale /= 10;
                ++pos;
            }
        }
    }
    if (pos != s.size()) return false;
    TDateTime time;
    if (!TryEncodeTime(hour, minute, second, msec, time)) return false;
    out = date < 0 ? date - time : date + time;
    return true;
}

bool SqlToDate(const Variant& v, const TSqlContext& ctx, TDateTime& out) {
    switch (v.type()) {
        case VarType::Empty:
        case VarType::Null:
        case VarType::Boolean:
            return false;
        case VarType::Integer:
            out = static_cast<double>(v.RawInteger());
            return true;
        case VarType::Double:
        case VarType::Date:
            out = v.RawDouble();
            return std::isfinite(out);
        case VarType::String: {
            const std::string_view s = TrimBlanks(v.RawString());
            if (EqualsNoCase(s, "now")) {
                out = ctx.now;
                return true;
            }
            if (ParseIsoDateTime(s, out)) return true;
            return TryParseDateTime(s, FormatSettings::Current(), out);
        }
    }
    return false;
}

void SqlToText(const Variant& v, std::string& out) {
    out.clear();
    if (SqlIsNull(v)) return;
    v.AppendString(out);
}

std::string SqlText(const Variant& v) {
    std::string s;
    SqlToText(v, s);
    return s;
}

}  // namespace corvane
