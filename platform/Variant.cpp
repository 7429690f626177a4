#include "platform/Variant.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/DateTime.h"

namespace corvane {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool EqualsIgnoreCase(std::string_view a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        char x = a[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (x != b[i]) return false;
    }
    return true;
}

bool TryParseBooleanWord(std::string_view text, bool& out) {
    std::string_view s = Trim(text);
    if (EqualsIgnoreCase(s, "true")) { out = true; return true; }
    if (EqualsIgnoreCase(s, "false")) { out = false; return true; }
    return false;
}

// Whether a number text of digits, ".", an exponent "e" and signs (one
// that from_chars reported as out of range) lies below 1 in magnitude: its
// first significant digit, moved by the exponent, stands after the point.
bool BelowOne(std::string_view t) {
    size_t i = 0;
    if (i < t.size() && t[i] == '-') ++i;
    bool point = false, significant = false;
    long long wholeDigits = 0, leadingZeros = 0;
    for (; i < t.size() && t[i] != 'e'; ++i) {
        if (t[i] == '.') {
            point = true;
        } else if (significant || t[i] != '0') {
            significant = true;
            if (!point) ++wholeDigits;
        } else if (point) {
            ++leadingZeros;
        }
    }
    if (!significant) return true;
    long long exponent = 0;
    bool negative = false;
    if (i < t.size()) ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    for (; i < t.size(); ++i)
        exponent = std::min(exponent * 10 + (t[i] - '0'), 1000000000LL);
    const long long magnitude = wholeDigits > 0 ? wholeDigits - 1 : -(leadingZeros + 1);
    return magnitude + (negative ? -exponent : exponent) < 0;
}

}  // namespace

bool TryParseInteger(std::string_view text, int64_t& out) noexcept {
    std::string_view s = Trim(text);
    if (s.empty()) return false;
    bool negative = false;
    if (s.front() == '+' || s.front() == '-') {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (!s.empty() && s.front() == '$') {
        base = 16;
        s.remove_prefix(1);
    } else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty()) return false;
    uint64_t magnitude = 0;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
    if (ec != std::errc() || ptr != s.data() + s.size()) return false;
    if (base == 16 && !negative) {
        // Hexadecimal texts name bit patterns: $FFFFFFFFFFFFFFFF is -1.
        out = static_cast<int64_t>(magnitude);
        return true;
    }
    if (negative) {
        if (magnitude > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1) return false;
        out = static_cast<int64_t>(0 - magnitude);
    } else {
        if (magnitude > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
        out = static_cast<int64_t>(magnitude);
    }
    return true;
}

bool TryParseDouble(std::string_view text, char decimalSeparator, double& out) noexcept {
    std::string_view s = Trim(text);
    if (s.empty() || s.size() > 400) return false;
    char buf[402];
    size_t n = 0;
    size_t i = 0;
    if (s[0] == '+' || s[0] == '-') {
        if (s[0] == '-') buf[n++] = '-';
        ++i;
    }
    // Only digits, one separator and an exponent may follow: this rejects
    // "inf", "nan" and hexadecimal floats that from_chars would accept.
    bool digits = false, point = false, exponent = false;
    for (; i < s.size(); ++i) {
        char c = s[i];
        if (c >= '0' && c <= '9') {
            digits = true;
            buf[n++] = c;
        } else if (c == decimalSeparator && !point && !exponent) {
            point = true;
            buf[n++] = '.';
        } else if ((c == 'e' || c == 'E') && digits && !exponent) {
            exponent = true;
            buf[n++] = 'e';
            if (i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-')) buf[n++] = s[++i];
            if (i + 1 >= s.size()) return false;
        } else {
            return false;
        }
    }
    if (!digits) return false;
    double v = 0;
    auto [ptr, ec] = std::from_chars(buf, buf + n, v, std::chars_format::general);
    if (ptr != buf + n) return false;
    if (ec == std::errc::result_out_of_range) {
        // from_chars leaves v as it was: tell overflow from underflow by
        // the text itself.
        if (!BelowOne(std::string_view(buf, n))) return false;  // overflow
        v = 0;                                                  // underflow reads as 0
    } else if (ec != std::errc()) {
        return false;
    }
    out = v;
    return true;
}

bool TryRoundToInteger(double v, int64_t& out) noexcept {
    if (!std::isfinite(v)) return false;
    double r = std::nearbyint(v);  // default rounding mode: ties to even
    // 2^63 is exactly representable; anything at or beyond it is out of range.
    if (r >= 9223372036854775808.0 || r < -9223372036854775808.0) return false;
    out = static_cast<int64_t>(r);
    return true;
}

void AppendInteger(std::string& out, int64_t v) {
    char buf[24];
    auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, v);
    (void)ec;
    out.append(buf, ptr);
}

void AppendGeneralFloat(std::string& out, double v, int precision, char decimalSeparator) {
    if (std::isnan(v)) { out += "NAN"; return; }
    if (std::isinf(v)) { out += v > 0 ? "INF" : "-INF"; return; }
    if (v == 0) { out.push_back('0'); return; }
    if (precision < 1) precision = 1;
    if (precision > 17) precision = 17;
    // Scientific rendering gives the rounded digits and the decimal exponent.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*e", precision - 1, v);
    const char* p = buf;
    bool negative = *p == '-';
    if (negative) ++p;
    char digits[24];
    int nd = 0;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') digits[nd++] = *p;
    int exp10 = *p == 'e' ? std::atoi(p + 1) : 0;
    while (nd > 1 && digits[nd - 1] == '0') --nd;  // drop trailing zeros
    if (negative) out.push_back('-');
    if (exp10 >= precision || exp10 < -4) {
        out.push_back(digits[0]);
        if (nd > 1) {
            out.push_back(decimalSeparator);
            out.append(digits + 1, static_cast<size_t>(nd - 1));
        }
        out.push_back('E');
        AppendInteger(out, exp10);
        return;
    }
    if (exp10 < 0) {
        out.push_back('0');
        out.push_back(decimalSeparator);
        out.append(static_cast<size_t>(-exp10 - 1), '0');
        out.append(digits, static_cast<size_t>(nd));
        return;
    }
    int intDigits = exp10 + 1;
    for (int k = 0; k < intDigits; ++k) out.push_back(k < nd ? digits[k] : '0');
    if (nd > intDigits) {
        out.push_back(decimalSeparator);
        out.append(digits + intDigits, static_cast<size_t>(nd - intDigits));
    }
}

std::string FloatToText(double v, const FormatSettings& fs) {
    std::string out;
    AppendGeneralFloat(out, v, 15, fs.decimalSeparator);
    return out;
}

const char* Variant::TypeName(VarType t) noexcept {
    switch (t) {
        case VarType::Empty: return "Empty";
        case VarType::Null: return "Null";
        case VarType::Integer: return "Integer";
        case VarType::Double: return "Double";
        case VarType::Date: return "Date";
        case VarType::Boolean: return "Boolean";
        case VarType::String: return "String";
    }
    return "Unknown";
}

void Variant::ThrowCast(VarType to) const {
    std::string msg = "Could not convert variant of type (";
    msg += TypeName();
    msg += ") into type (";
    msg += TypeName(to);
    msg += ")";
    throw VariantError(msg);
}

void Variant::Assign(const Variant& other) {
    if (this == &other) return;
    type_ = other.type_;
    later_ = other.later_;
    i_ = other.i_;
    if (other.type_ == VarType::Boolean) b_ = other.b_;
    if (other.type_ == VarType::Double || other.type_ == VarType::Date) d_ = other.d_;
    s_.assign(other.s_);
}

bool Variant::TryAsInteger(int64_t& out) const noexcept {
    switch (type_) {
        case VarType::Empty: out = 0; return true;
        case VarType::Null: return false;
        case VarType::Integer: out = i_; return true;
        case VarType::Double:
        case VarType::Date: return TryRoundToInteger(d_, out);
        case VarType::Boolean: out = b_ ? 1 : 0; return true;
        case VarType::String: {
            if (TryParseInteger(s_, out)) return true;
            double d;
            if (TryParseDouble(s_, FormatSettings::Current().decimalSeparator, d))
                return TryRoundToInteger(d, out);
            bool b;
            if (TryParseBooleanWord(s_, b)) { out = b ? 1 : 0; return true; }
            return false;
        }
    }
    return false;
}

bool Variant::TryAsDouble(double& out) const noexcept {
    switch (type_) {
        case VarType::Empty: out = 0; return true;
        case VarType::Null: return false;
        case VarType::Integer: out = static_cast<double>(i_); return true;
        case VarType::Double:
        case VarType::Date: out = d_; return true;
        case VarType::Boolean: out = b_ ? 1 : 0; return true;
        case VarType::String: {
            if (TryParseDouble(s_, FormatSettings::Current().decimalSeparator, out)) return true;
            int64_t i;
            if (TryParseInteger(s_, i)) { out = static_cast<double>(i); return true; }
            bool b;
            if (TryParseBooleanWord(s_, b)) { out = b ? 1 : 0; return true; }
            return false;
        }
    }
    return false;
}

bool Variant::TryAsDate(double& out) const noexcept {
    if (type_ == VarType::String) {
        const FormatSettings& fs = FormatSettings::Current();
        if (TryParseDateTime(s_, fs, out)) return true;
        // A plain number counts days, as a date-time value does.
        return TryParseDouble(s_, fs.decimalSeparator, out);
    }
    return TryAsDouble(out);
}

bool Variant::TryAsBoolean(bool& out) const noexcept {
    switch (type_) {
        case VarType::Empty: out = false; return true;
        case VarType::Null: return false;
        case VarType::Integer: out = i_ != 0; return true;
        case VarType::Double:
        case VarType::Date: out = d_ != 0; return true;
        case VarType::Boolean: out = b_; return true;
        case VarType::String: {
            if (TryParseBooleanWord(s_, out)) return true;
            double d;
            if (TryParseDouble(s_, FormatSettings::Current().decimalSeparator, d)) {
                out = d != 0;
                return true;
            }
            int64_t i;
            if (TryParseInteger(s_, i)) { out = i != 0; return true; }
            return false;
        }
    }
    return false;
}

int64_t Variant::AsInteger() const {
    int64_t v;
    if (!TryAsInteger(v)) ThrowCast(VarType::Integer);
    return v;
}

double Variant::AsDouble() const {
    double v;
    if (!TryAsDouble(v)) ThrowCast(VarType::Double);
    return v;
}

double Variant::AsDate() const {
    double v;
    if (!TryAsDate(v)) ThrowCast(VarType::Date);
    return v;
}

bool Variant::AsBoolean() const {
    bool v;
    if (!TryAsBoolean(v)) ThrowCast(VarType::Boolean);
    return v;
}

void Variant::AppendString(std::string& out) const {
    switch (type_) {
        case VarType::Empty:
        case VarType::Null: return;
        case VarType::Integer: AppendInteger(out, i_); return;
        case VarType::Double:
            AppendGeneralFloat(out, d_, 15, FormatSettings::Current().decimalSeparator);
            return;
        case VarType::Date: AppendDateTimeText(out, d_, FormatSettings::Current()); return;
        case VarType::Boolean: out += b_ ? "True" : "False"; return;
        case VarType::String: out += s_; return;
    }
}

std::string Variant::AsString() const {
    if (type_ == VarType::String) return s_;
    std::string out;
    AppendString(out);
    return out;
}

bool Variant::SameAs(const Variant& other) const noexcept {
    if (type_ != other.type_) return false;
    switch (type_) {
        case VarType::Empty:
        case VarType::Null: return true;
        case VarType::Integer: return i_ == other.i_;
        case VarType::Double:
        case VarType::Date: return d_ == other.d_;
        case VarType::Boolean: return b_ == other.b_;
        case VarType::String: return s_ == other.s_;
    }
    return false;
}

}  // namespace corvane
