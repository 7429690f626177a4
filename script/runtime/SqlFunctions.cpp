#include "script/runtime/SqlFunctions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "platform/DateTime.h"
#include "platform/Text.h"
#include "script/common/U_err.h"
#include "script/runtime/CodeMng.h"

namespace corvane {

namespace {

// ---- Why a function gave null. The first "%s" is the function's name as
// called, the second what it could not use (an argument, a modifier, a
// format letter). Chinese is the text noted now; the English one stands
// beside it for the message table that will choose by locale.

struct TReason {
    std::string_view text;
    std::string_view english;
};

constexpr TReason kNotNumber{"%s的参数“%s”不是数字", "%s: the argument \"%s\" is not a number"};
constexpr TReason kNotDate{"%s的参数“%s”不是日期", "%s: the argument \"%s\" is not a date"};
constexpr TReason kUnknownModifier{"%s不认识日期修饰符“%s”", "%s: unknown date modifier \"%s\""};
constexpr TReason kUnknownFormat{"%s不认识格式符“%s”", "%s: unknown format letter \"%s\""};
constexpr TReason kDateOutOfRange{"%s的结果不在1年至9999年之间",
                                  "%s: the result lies outside years 1 to 9999"};
constexpr TReason kIntegerOutOfRange{"%s的结果超出整数范围",
                                     "%s: the result is outside the integer range"};
constexpr TReason kTextTooLong{"%s的结果太长", "%s: the result is too long"};
constexpr TReason kNoTimeZone{"%s无法换算时区", "%s: the time zone cannot be converted"};

// What a message quotes of a value: its text, cut to about 40 bytes on a
// character boundary (a whole file name or content would drown the reason).
std::string Quote(std::string_view s) {
    constexpr size_t kQuoted = 40;
    if (s.size() <= kQuoted) return std::string(s);
    size_t n = kQuoted;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    std::string out(s.substr(0, n));
    out += "…";
    return out;
}

// Notes reason and makes out null. Only the first reason of a row is kept,
// and only the first row's of a statement is reported, so once either is
// there the text is not formatted again.
void Fault(const TSqlContext& ctx, const TReason& reason, std::string_view fn,
           std::string_view what, Variant& out) {
    out.SetNull();
    if (!ctx.faults) return;
    if (ctx.faults->RowFaulted() || !ctx.faults->FirstReason().empty()) {
        ctx.Fault(reason.text);
        return;
    }
    ctx.Fault(FormatMsg(FormatMsg(reason.text, fn), Quote(what)));
}

void FaultValue(const TSqlContext& ctx, const TReason& reason, std::string_view fn,
                const Variant& value, Variant& out) {
    Fault(ctx, reason, fn, SqlText(value), out);
}

// ---- Texts

// The text of v: a text as it is (no copy), anything else in its text form
// (in buf).
std::string_view TextOf(const Variant& v, std::string& buf) {
    if (v.type() == VarType::String) return v.RawString();
    SqlToText(v, buf);
    return buf;
}

// An integer argument (a count, a position): as SqlToInteger reads it, and a
// real beyond 64 bits as the nearest end of the range, as SQLite takes it.
bool ArgInteger(const Variant& v, int64_t& out) {
    if (SqlToInteger(v, out)) return true;
    double d;
    if (!SqlToReal(v, d) || std::isnan(d)) return false;
    out = d < 0 ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    return true;
}

void SetText(std::string&& s, std::string_view fn, const TSqlContext& ctx, Variant& out) {
    if (s.size() > kMaxTextLength) return Fault(ctx, kTextTooLong, fn, "", out);
    out.SetString(std::move(s));
}

void FnLower(const Variant* a, int, Variant& out, const TSqlContext& ctx) {
    std::string buf;
    SetText(LowerCaseAscii(TextOf(a[0], buf)), "lower", ctx, out);
}

void FnUpper(const Variant* a, int, Variant& out, const TSqlContext& ctx) {
    std::string buf;
    SetText(UpperCaseAscii(TextOf(a[0], buf)), "upper", ctx, out);
}

void FnLength(const Variant* a, int, Variant& out, const TSqlContext&) {
    std::string buf;
    out.SetInteger(static_cast<int64_t>(TextOf(a[0], buf).size()));
}

// SQLite's substr, on bytes: start 1 is the first byte, 0 the place before
// it (so substr(x, 0, 2) is one byte), a negative start counts from the end;
// a negative n takes the |n| bytes before start. Bytes asked for before the
// text's beginning or after its end are simply not there. Every step stays
// within 64 bits for any start and n.
void Substr(std::string_view fn, const Variant* a, int argc, Variant& out, const TSqlContext& ctx) {
    std::string buf;
    const std::string_view s = TextOf(a[0], buf);
    const int64_t len = static_cast<int64_t>(s.size());
    int64_t p1, p2 = std::numeric_limits<int64_t>::max();
    bool negative = false;
    if (!ArgInteger(a[1], p1)) return FaultValue(ctx, kNotNumber, fn, a[1], out);
    if (argc == 3) {
        if (!ArgInteger(a[2], p2)) return FaultValue(ctx, kNotNumber, fn, a[2], out);
        if (p2 < 0) {
            // The most negative n has no positive twin; one byte less of an
            // unbounded count changes nothing.
            p2 = p2 == std::numeric_limits<int64_t>::min() ? std::numeric_limits<int64_t>::max()
                                                           : -p2;
            negative = true;
        }
    }
    if (p1 < 0) {
        p1 += len;
        if (p1 < 0) {
            p2 += p1;
            if (p2 < 0) p2 = 0;
            p1 = 0;
        }
    } else if (p1 > 0) {
        --p1;
    } else if (p2 > 0) {
        --p2;
    }
    if (negative) {
        p1 -= p2;
        if (p1 < 0) {
            p2 += p1;
            p1 = 0;
        }
    }
    if (p1 >= len) {
        out.SetString("");
        return;
    }
    if (p2 > len - p1) p2 = len - p1;
    SetText(std::string(s.substr(static_cast<size_t>(p1), static_cast<size_t>(p2))), fn, ctx, out);
}

void FnSubstr(const Variant* a, int argc, Variant& out, const TSqlContext& ctx) {
    Substr("substr", a, argc, out, ctx);
}

void FnSubstring(const Variant* a, int argc, Variant& out, const TSqlContext& ctx) {
    Substr("substring", a, argc, out, ctx);
}

void FnReplace(const Variant* a, int, Variant& out, const TSqlContext& ctx) {
    std::string b0, b1, b2;
    const std::string_view s = TextOf(a[0], b0), from = TextOf(a[1], b1), to = TextOf(a[2], b2);
    if (from.empty()) return SetText(std::string(s), "replace", ctx, out);
    // The length first, so that a result past the bound is never built.
    size_t count = 0;
    for (size_t at = s.find(from); at != std::string_view::npos;
         at = s.find(from, at + from.size()))
        ++count;
    const size_t shrunk = s.size() - count * from.size();
    if (to.size() != 0 && count > (kMaxTextLength - std::min(shrunk, kMaxTextLength)) / to.size())
        return Fault(ctx, kTextTooLong, "replace", "", out);
    std::string r;
    r.reserve(shrunk + count * to.size());
    size_t pos = 0;
    for (size_t at = s.find(from); at != std::string_view::npos;
         pos = at + from.size(), at = s.find(from, pos)) {
        r.append(s.substr(pos, at - pos));
        r.append(to);
    }
    r.append(s.substr(pos));
    SetText(std::move(r), "replace", ctx, out);
}

// Without chars, trim removes the bytes up to the blank (blanks and control
// characters) as the script built-in trim does, so that trim(x) means the
// same in a statement and in a script; SQLite removes only spaces there.
// With chars, every byte of it is removed, as in SQLite.
void TrimText(std::string_view fn, bool left, bool right, const Variant* a, int argc, Variant& out,
              const TSqlContext& ctx) {
    std::string b0, b1;
    std::string_view s = TextOf(a[0], b0);
    const bool byDefault = argc < 2;
    const std::string_view chars = byDefault ? std::string_view() : TextOf(a[1], b1);
    auto trimmed = [&](char c) {
        return byDefault ? static_cast<unsigned char>(c) <= ' '
                         : chars.find(c) != std::string_view::npos;
    };
    while (left && !s.empty() && trimmed(s.front()))
        s.remove_prefix(1);
    while (right && !s.empty() && trimmed(s.back()))
        s.remove_suffix(1);
    SetText(std::string(s), fn, ctx, out);
}

void FnTrim(const Variant* a, int argc, Variant& out, const TSqlContext& ctx) {
    TrimText("trim", true, true, a, argc, out, ctx);
}

void FnLtrim(const Variant* a, int argc, Variant& out, const TSqlContext& ctx) {
    TrimText("ltrim", true, false, a, argc, out, ctx);
}

void FnRtrim(const Variant* a, int argc, Variant& out, const TSqlContext& ctx) {
    TrimText("rtrim", false, true, a, argc, out, ctx);
}

// 1-based; an empty y is found at 1, as in SQLite.
void FnInstr(const Variant* a, int, Variant& out, const TSqlContext&) {
    std::string b0, b1;
    const size_t at = TextOf(a[0], b0).find(TextOf(a[1], b1));
    out.SetInteger(at == std::string_view::npos ? 0 : static_cast<int64_t>(at) + 1);
}

// Not strict: null arguments add nothing, and with only nulls the result is
// the empty text (SQLite's concat; || is the operator that gives null).
void FnConcat(const Variant* a, int argc, Variant& out, const TSqlContext& ctx) {
    // The length first, so that a result past the bound is never built; the
    // arguments that are no texts are written once, into forms.
    std::vector<std::string> forms(static_cast<size_t>(argc));
    size_t total = 0;
    for (int i = 0; i < argc; ++i) {
        if (SqlIsNull(a[i])) continue;
        const size_t n = TextOf(a[i], forms[static_cast<size_t>(i)]).size();
        if (n > kMaxTextLength - total) return Fault(ctx, kTextTooLong, "concat", "", out);
        total += n;
    }
    std::string r;
    r.reserve(total);
    for (int i = 0; i < argc; ++i)
        if (!SqlIsNull(a[i]))
            r.append(a[i].type() == VarType::String
                         ? std::string_view(a[i].RawString())
                         : std::string_view(forms[static_cast<size_t>(i)]));
    out.SetString(std::move(r));
}

// ---- Numbers

// v as a number of its own kind: an integer (a boolean as 1 or 0, a text
// that is an integer literal) or a real (a date-time as its day count, a
// text that is any other number literal). False when v is no number.
bool NumberOf(const Variant& v, Variant& n) {
    switch (v.type()) {
        case VarType::Integer:
            n.SetInteger(v.RawInteger());
            return true;
        case VarType::Boolean:
            n.SetInteger(v.RawBoolean() ? 1 : 0);
            return true;
        case VarType::Double:
        case VarType::Date:
            n.SetDouble(v.RawDouble());
            return true;
        case VarType::String:
            return ParseSqlNumber(v.RawString(), n);
        case VarType::Empty:
        case VarType::Null:
            break;
    }
    return false;
}

// A whole real as an integer; false outside 64 bits (and for NaN).
bool WholeToInteger(double d, int64_t& out) {
    if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) return false;
    out = static_cast<int64_t>(d);
    return true;
}

void FnAbs(const Variant* a, int, Variant& out, const TSqlContext& ctx) {
    Variant n;
    if (!NumberOf(a[0], n)) return FaultValue(ctx, kNotNumber, "abs", a[0], out);
    if (n.type() == VarType::Double) return out.SetDouble(std::fabs(n.RawDouble()));
    const int64_t i = n.RawInteger();
    if (i == std::numeric_limits<int64_t>::min())
        return Fault(ctx, kIntegerOutOfRange, "abs", "", out);
    out.SetInteger(i < 0 ? -i : i);
}

// x rounded to digits decimals, half away from zero, as x reads with 15
// significant digits: 2.675 is stored as 2.67499999999999982236431605997495353221893310546875,
// yet it reads 2.675 and rounds to 2.68, as SQLite rounds it. Places beyond
// those 15 digits are left as they are (only digits 0 still makes the value
// whole).
double RoundDecimal(double x, int digits) {
    if (!std::isfinite(x) || x == 0) return x;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.14e", x);  // [-]d.dddddddddddddde±x
    const char* p = buf;
    const bool minus = *p == '-';
    if (minus) ++p;
    char mantissa[15];
    int n = 0;
    for (; *p != 'e'; ++p)
        if (*p != '.') mantissa[n++] = *p;
    const int exponent = std::atoi(p + 1);
    const int kept = exponent + 1 + digits;  // mantissa digits before the rounding place
    if (kept >= 15) return digits == 0 ? std::round(x) : x;
    if (kept < 0) return 0.0;
    int64_t whole = 0;
    for (int i = 0; i < kept; ++i)
        whole = whole * 10 + (mantissa[i] - '0');
    if (mantissa[kept] >= '5') ++whole;
    if (whole == 0) return 0.0;  // never -0
    // whole / 10^digits, read back as the nearest double.
    char text[48];
    const int len = std::snprintf(text, sizeof text, "%s%llde-%d", minus ? "-" : "",
                                  static_cast<long long>(whole), digits);
    double r = 0;
    std::from_chars(text, text + len, r);
    return r;
}

// round(x) is an integer, round(x, digits) a real; digits is taken between 0
// and 30 as SQLite takes it (a negative count rounds to a whole number).
void FnRound(const Variant* a, int argc, Variant& out, const TSqlContext& ctx) {
    Variant n;
    if (!NumberOf(a[0], n)) return FaultValue(ctx, kNotNumber, "round", a[0], out);
    if (argc == 1) {
        if (n.type() == VarType::Integer) return out.SetInteger(n.RawInteger());
        int64_t i;
        if (!WholeToInteger(RoundDecimal(n.RawDouble(), 0), i))
            return Fault(ctx, kIntegerOutOfRange, "round", "", out);
        return out.SetInteger(i);
    }
    int64_t digits;
    if (!ArgInteger(a[1], digits)) return FaultValue(ctx, kNotNumber, "round", a[1], out);
    digits = std::clamp<int64_t>(digits, 0, 30);
    double x;
    SqlToReal(n, x);
    out.SetDouble(RoundDecimal(x, static_cast<int>(digits)));
}

void FloorOrCeil(std::string_view fn, bool up, const Variant* a, Variant& out,
                 const TSqlContext& ctx) {
    Variant n;
    if (!NumberOf(a[0], n)) return FaultValue(ctx, kNotNumber, fn, a[0], out);
    if (n.type() == VarType::Integer) return out.SetInteger(n.RawInteger());
    int64_t i;
    if (!WholeToInteger(up ? std::ceil(n.RawDouble()) : std::floor(n.RawDouble()), i))
        return Fault(ctx, kIntegerOutOfRange, fn, "", out);
    out.SetInteger(i);
}

void FnFloor(const Variant* a, int, Variant& out, const TSqlContext& ctx) {
    FloorOrCeil("floor", false, a, out, ctx);
}

void FnCeil(const Variant* a, int, Variant& out, const TSqlContext& ctx) {
    FloorOrCeil("ceil", true, a, out, ctx);
}

void FnCeiling(const Variant* a, int, Variant& out, const TSqlContext& ctx) {
    FloorOrCeil("ceiling", true, a, out, ctx);
}

void FnSign(const Variant* a, int, Variant& out, const TSqlContext& ctx) {
    Variant n;
    if (!NumberOf(a[0], n)) return FaultValue(ctx, kNotNumber, "sign", a[0], out);
    if (n.type() == VarType::Integer)
        return out.SetInteger(n.RawInteger() > 0 ? 1 : n.RawInteger() < 0 ? -1 : 0);
    const double d = n.RawDouble();
    if (std::isnan(d)) return FaultValue(ctx, kNotNumber, "sign", a[0], out);
    out.SetInteger(d > 0 ? 1 : d < 0 ? -1 : 0);
}

// ---- Null handling

void FnCoalesce(const Variant* a, int argc, Variant& out, const TSqlContext&) {
    for (int i = 0; i < argc; ++i)
        if (!SqlIsNull(a[i])) return out.Assign(a[i]);
    out.SetNull();
}

void FnIfnull(const Variant* a, int argc, Variant& out, const TSqlContext& ctx) {
    FnCoalesce(a, argc, out, ctx);
}

// i = d exactly (no rounding of either side).
bool IntegerEqualsReal(int64_t i, double d) {
    int64_t w;
    return d == std::trunc(d) && WholeToInteger(d, w) && w == i;
}

// Whether a = b holds as the "=" operator decides it: numbers by value
// (booleans as 1 and 0, date-times as their day count; an integer and a
// real exactly), texts byte for byte, a date-time and a text by reading the
// text as a date, a boolean and a text by reading the text as a boolean, a
// number and a text by reading the text as a number literal. False also
// where "=" gives null (a null, a text that does not convert).
bool SqlEquals(const Variant& a, const Variant& b, const TSqlContext& ctx) {
    if (SqlIsNull(a) || SqlIsNull(b)) return false;
    const bool aText = a.type() == VarType::String, bText = b.type() == VarType::String;
    if (aText && bText) return a.RawString() == b.RawString();
    if (aText || bText) {
        const Variant& text = aText ? a : b;
        const Variant& other = aText ? b : a;
        if (other.type() == VarType::Date) {
            TDateTime d;
            return SqlToDate(text, ctx, d) && d == other.RawDouble();
        }
        if (other.type() == VarType::Boolean) {
            bool t;
            return SqlToBoolean(text, t) && t == other.RawBoolean();
        }
        Variant n;
        return ParseSqlNumber(text.RawString(), n) && SqlEquals(n, other, ctx);
    }
    auto isWhole = [](const Variant& v) {
        return v.type() == VarType::Integer || v.type() == VarType::Boolean;
    };
    int64_t i, j;
    double x, y;
    if (isWhole(a) && isWhole(b)) return SqlToInteger(a, i) && SqlToInteger(b, j) && i == j;
    if (isWhole(a)) return SqlToInteger(a, i) && IntegerEqualsReal(i, b.RawDouble());
    if (isWhole(b)) return SqlToInteger(b, j) && IntegerEqualsReal(j, a.RawDouble());
    return SqlToReal(a, x) && SqlToReal(b, y) && x == y;
}

void FnNullif(const Variant* a, int, Variant& out, const TSqlContext& ctx) {
    if (SqlIsNull(a[0]) || SqlEquals(a[0], a[1], ctx)) return out.SetNull();
    out.Assign(a[0]);
}

// ---- Dates
//
// The date functions work on a date-time as milliseconds since 1899-12-30
// 00:00, counted forward also before that day. A TDateTime's fraction counts
// forward from midnight even for negative days (-1.25 is 29 December, 06:00),
// so it is no straight line; the milliseconds are, and they keep the
// millisecond the platform's decoders round to.

constexpr int64_t kMsDay = 86400000;
constexpr int64_t kFirstDay = -693593;  // 0001-01-01
constexpr int64_t kLastDay = 2958465;   // 9999-12-31
constexpr int64_t kUnixEpochMs = 25569 * kMsDay;
constexpr double kJulianDayOfZero = 2415018.5;  // 1899-12-30 00:00

int64_t FloorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

// The weekday of a day number, 0 = Sunday (day 0 was a Saturday).
int WeekdayOf(int64_t day) {
    return static_cast<int>((day % 7 + 7 + 6) % 7);
}

bool MsInRange(int64_t ms) {
    const int64_t day = FloorDiv(ms, kMsDay);
    return day >= kFirstDay && day <= kLastDay;
}

bool ToMs(TDateTime dt, int64_t& ms) {
    if (!(dt > static_cast<double>(kFirstDay) - 1 && dt < static_cast<double>(kLastDay) + 1))
        return false;
    int y, m, d, h, n, s, z;
    DecodeDateTime(dt, y, m, d, h, n, s, z);
    TDateTime day;
    if (!TryEncodeDate(y, m, d, day)) return false;
    ms = static_cast<int64_t>(day) * kMsDay + ((h * 60 + n) * 60 + s) * int64_t{1000} + z;
    return true;
}

bool FromMs(int64_t ms, TDateTime& dt) {
    if (!MsInRange(ms)) return false;
    const int64_t day = FloorDiv(ms, kMsDay);
    const double date = static_cast<double>(day);
    const double time = static_cast<double>(ms - day * kMsDay) / kMsPerDay;
    dt = day < 0 ? date - time : date + time;
    return true;
}

struct TFields {
    int year, month, day, hour, minute, second, msec;
};

// ms must be in range.
TFields FieldsOf(int64_t ms) {
    TFields f{};
    const int64_t day = FloorDiv(ms, kMsDay);
    DecodeDate(static_cast<double>(day), f.year, f.month, f.day);
    int64_t rest = ms - day * kMsDay;
    f.msec = static_cast<int>(rest % 1000);
    rest /= 1000;
    f.second = static_cast<int>(rest % 60);
    f.minute = static_cast<int>(rest / 60 % 60);
    f.hour = static_cast<int>(rest / 3600);
    return f;
}

// The milliseconds of the fields, where a day past the month's end runs on
// into the next months (February 31 is March 2 or 3) as SQLite computes it.
bool MsOfFields(const TFields& f, int64_t& ms) {
    TDateTime first;
    if (!TryEncodeDate(f.year, f.month, 1, first)) return false;
    ms = (static_cast<int64_t>(first) + f.day - 1) * kMsDay +
         ((f.hour * 60 + f.minute) * 60 + f.second) * int64_t{1000} + f.msec;
    return MsInRange(ms);
}

enum class TModResult { Done, Unknown, OutOfRange, NoZone };

// The units of '±N unit' (each also with a trailing "s"): a fixed length,
// or months and years, which move the calendar.
enum class TUnitKind { Fixed, Month, Year };

struct TUnit {
    std::string_view name;
    TUnitKind kind;
    int64_t ms;  // of a Fixed unit
};

constexpr TUnit kUnits[] = {
    {"day", TUnitKind::Fixed, kMsDay},   {"hour", TUnitKind::Fixed, 3600000},
    {"minute", TUnitKind::Fixed, 60000}, {"second", TUnitKind::Fixed, 1000},
    {"month", TUnitKind::Month, 0},      {"year", TUnitKind::Year, 0},
};

const TUnit* UnitOf(std::string_view name) {
    if (name.size() > 1 && name.back() == 's') name.remove_suffix(1);
    for (const TUnit& u : kUnits)
        if (u.name == name) return &u;
    return nullptr;
}

// Months and years as SQLite adds them: the whole count moves the month (or
// the year) and keeps the day, which then runs on past a short month's end
// (January 31 plus one month is March 2 in 2024); a fraction adds as many
// 30-day months (or 365-day years).
TModResult AddMonths(double count, bool years, int64_t& ms) {
    // Beyond these the year leaves 1..9999 whatever the start; the bound also
    // keeps the conversion to int defined.
    if (!(std::fabs(count) < (years ? 10000.0 : 120000.0))) return TModResult::OutOfRange;
    const int whole = static_cast<int>(count);
    TFields f = FieldsOf(ms);
    if (years) {
        f.year += whole;
    } else {
        const int m = f.month + whole;
        const int carry = m > 0 ? (m - 1) / 12 : (m - 12) / 12;
        f.year += carry;
        f.month = m - carry * 12;
    }
    if (!MsOfFields(f, ms)) return TModResult::OutOfRange;
    const double rest = (count - whole) * (years ? 365.0 : 30.0) * kMsPerDay;
    ms += static_cast<int64_t>(rest + (rest < 0 ? -0.5 : 0.5));
    return MsInRange(ms) ? TModResult::Done : TModResult::OutOfRange;
}

// 'localtime' and 'utc'. Every date-time here is local time already, so the
// two are read as SQLite reads them on its own values: 'localtime' takes the
// value for a UTC time and gives the local time of that instant (for a time
// that came as UTC, as in a log), 'utc' takes it for a local time and gives
// the UTC time of that instant. Each applies whenever it is written:
// datetime(x, 'utc', 'localtime') is x again, and 'localtime' on a local
// value shifts it by the offset rather than leaving it alone.
TModResult ToLocal(int64_t& ms) {
    const int64_t unixMs = ms - kUnixEpochMs;
    const int64_t seconds = FloorDiv(unixMs, 1000);
    int64_t local;
    if (!ToMs(DateTimeFromUnixLocal(seconds), local)) return TModResult::OutOfRange;
    ms = local + (unixMs - seconds * 1000);
    return MsInRange(ms) ? TModResult::Done : TModResult::OutOfRange;
}

// The offset of local time ms from UTC, in ms. repeatedLater picks the
// second of two instants that show the same wall time.
bool OffsetOfLocal(int64_t ms, bool repeatedLater, int64_t& offset) {
    TDateTime dt;
    int32_t seconds;
    if (!FromMs(ms, dt) || !UtcOffsetOfLocal(dt, repeatedLater, seconds)) return false;
    offset = seconds * int64_t{1000};
    return true;
}

TModResult ToUtc(int64_t& ms) {
    int64_t offset;
    if (!OffsetOfLocal(ms, false, offset)) return TModResult::NoZone;
    ms -= offset;
    return MsInRange(ms) ? TModResult::Done : TModResult::OutOfRange;
}

// One modifier, in any letter case, blanks around it ignored:
//   ±N day|hour|minute|second|month|year[s]   (N a number literal)
//   start of day|month|year
//   weekday N      (0 = Sunday; forward to that weekday, today if it is one)
//   localtime, utc
TModResult Modify(std::string_view text, int64_t& ms) {
    const std::string lower = LowerCaseAscii(TrimView(text));
    const std::string_view m = lower;
    if (m == "localtime") return ToLocal(ms);
    if (m == "utc") return ToUtc(ms);
    const int64_t day = FloorDiv(ms, kMsDay);
    if (m == "start of day") {
        ms = day * kMsDay;
        return TModResult::Done;
    }
    if (m == "start of month" || m == "start of year") {
        TFields f = FieldsOf(ms);
        f = TFields{f.year, m == "start of year" ? 1 : f.month, 1, 0, 0, 0, 0};
        return MsOfFields(f, ms) ? TModResult::Done : TModResult::OutOfRange;
    }
    if (m.starts_with("weekday ")) {
        Variant n;
        double w;
        if (!ParseSqlNumber(m.substr(8), n) || !SqlToReal(n, w) || w != std::trunc(w) || w < 0 ||
            w > 6)
            return TModResult::Unknown;
        ms += (static_cast<int64_t>(w) - WeekdayOf(day) + 7) % 7 * kMsDay;
        return MsInRange(ms) ? TModResult::Done : TModResult::OutOfRange;
    }
    const size_t blank = m.find(' ');
    if (blank == std::string_view::npos) return TModResult::Unknown;
    Variant n;
    double count;
    const TUnit* unit = UnitOf(TrimView(m.substr(blank)));
    if (!unit || !ParseSqlNumber(m.substr(0, blank), n)) return TModResult::Unknown;
    SqlToReal(n, count);
    if (unit->kind != TUnitKind::Fixed) return AddMonths(count, unit->kind == TUnitKind::Year, ms);
    // Rounded to the millisecond as SQLite rounds it; 10^15 ms (some 31700
    // years) is past any date in range, and keeps the conversion defined.
    const double delta = count * static_cast<double>(unit->ms);
    if (!(std::fabs(delta) < 1e15)) return TModResult::OutOfRange;
    ms += static_cast<int64_t>(delta + (delta < 0 ? -0.5 : 0.5));
    return MsInRange(ms) ? TModResult::Done : TModResult::OutOfRange;
}

// The date-time a date function works on: args[first] read by SqlToDate
// (ctx.now when there is none) with the modifiers after it applied in
// order. later: the value is the second pass through a repeated local hour
// (kept only while no modifier moved it). False, with out null and the
// reason noted, when it cannot be had.
bool ReadDate(std::string_view fn, const Variant* a, int argc, int first, const TSqlContext& ctx,
              int64_t& ms, bool& later, Variant& out) {
    TDateTime dt = ctx.now;
    later = false;
    if (argc > first) {
        if (!SqlToDate(a[first], ctx, dt)) {
            FaultValue(ctx, kNotDate, fn, a[first], out);
            return false;
        }
        later = a[first].RepeatedLater();
    }
    if (!ToMs(dt, ms)) {
        Fault(ctx, kDateOutOfRange, fn, "", out);
        return false;
    }
    std::string buf;
    for (int i = first + 1; i < argc; ++i) {
        const std::string_view mod = TextOf(a[i], buf);
        later = false;
        switch (Modify(mod, ms)) {
            case TModResult::Done:
                continue;
            case TModResult::Unknown:
                Fault(ctx, kUnknownModifier, fn, mod, out);
                return false;
            case TModResult::OutOfRange:
                Fault(ctx, kDateOutOfRange, fn, "", out);
                return false;
            case TModResult::NoZone:
                Fault(ctx, kNoTimeZone, fn, "", out);
                return false;
        }
    }
    return true;
}

void SetDate(int64_t ms, bool later, Variant& out) {
    TDateTime dt = 0;
    FromMs(ms, dt);  // ms is in range: ReadDate and the modifiers saw to it
    out.SetDate(dt, later);
}

void FnNow(const Variant*, int, Variant& out, const TSqlContext& ctx) {
    out.SetDate(ctx.now);
}

// The date at midnight, a date-time value (not SQLite's text: values here
// carry their type, and the text form is the user's).
void FnDate(const Variant* a, int argc, Variant& out, const TSqlContext& ctx) {
    int64_t ms;
    bool later;
    if (!ReadDate("date", a, argc, 0, ctx, ms, later, out)) return;
    SetDate(FloorDiv(ms, kMsDay) * kMsDay, false, out);
}

// The value itself, milliseconds kept (SQLite's text drops them).
void FnDatetime(const Variant* a, int argc, Variant& out, const TSqlContext& ctx) {
    int64_t ms;
    bool later;
    if (!ReadDate("datetime", a, argc, 0, ctx, ms, later, out)) return;
    SetDate(ms, later, out);
}

void AppendPadded(std::string& out, int64_t v, int width, char pad = '0') {
    char buf[24];
    const int n = std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v));
    for (int i = n; i < width; ++i)
        out.push_back(pad);
    out.append(buf, static_cast<size_t>(n));
}

void FnTime(const Variant* a, int argc, Variant& out, const TSqlContext& ctx) {
    int64_t ms;
    bool later;
    if (!ReadDate("time", a, argc, 0, ctx, ms, later, out)) return;
    const TFields f = FieldsOf(ms);
    std::string t;
    AppendPadded(t, f.hour, 2);
    t += ':';
    AppendPadded(t, f.minute, 2);
    t += ':';
    AppendPadded(t, f.second, 2);
    out.SetString(std::move(t));
}

double JulianDay(int64_t ms) {
    return static_cast<double>(ms) / kMsPerDay + kJulianDayOfZero;
}

// Takes x for the local time it is (a number is a day count, as everywhere
// in SQL here, not a Julian day number as in SQLite).
void FnJulianday(const Variant* a, int argc, Variant& out, const TSqlContext& ctx) {
    int64_t ms;
    bool later;
    if (!ReadDate("julianday", a, argc, 0, ctx, ms, later, out)) return;
    out.SetDouble(JulianDay(ms));
}

// The Unix time of the instant local time ms names (SQLite, whose values
// are UTC, counts the wall time itself; here that is the same only where
// local time is UTC).
bool UnixSeconds(int64_t ms, bool later, int64_t& seconds) {
    int64_t offset;
    if (!OffsetOfLocal(ms, later, offset)) return false;
    seconds = FloorDiv(ms - offset - kUnixEpochMs, 1000);
    return true;
}

void FnUnixepoch(const Variant* a, int argc, Variant& out, const TSqlContext& ctx) {
    int64_t ms, seconds;
    bool later;
    if (!ReadDate("unixepoch", a, argc, 0, ctx, ms, later, out)) return;
    if (!UnixSeconds(ms, later, seconds)) return Fault(ctx, kNoTimeZone, "unixepoch", "", out);
    out.SetInteger(seconds);
}

// year .. second of x.
template <int TFields::*Field>
void Part(std::string_view fn, const Variant* a, Variant& out, const TSqlContext& ctx) {
    int64_t ms;
    bool later;
    if (!ReadDate(fn, a, 1, 0, ctx, ms, later, out)) return;
    out.SetInteger(FieldsOf(ms).*Field);
}

void FnYear(const Variant* a, int, Variant& out, const TSqlContext& ctx) {
    Part<&TFields::year>("year", a, out, ctx);
}
void FnMonth(const Variant* a, int, Variant& out, const TSqlContext& ctx) {
    Part<&TFields::month>("month", a, out, ctx);
}
void FnDay(const Variant* a, int, Variant& out, const TSqlContext& ctx) {
    Part<&TFields::day>("day", a, out, ctx);
}
void FnHour(const Variant* a, int, Variant& out, const TSqlContext& ctx) {
    Part<&TFields::hour>("hour", a, out, ctx);
}
void FnMinute(const Variant* a, int, Variant& out, const TSqlContext& ctx) {
    Part<&TFields::minute>("minute", a, out, ctx);
}
void FnSecond(const Variant* a, int, Variant& out, const TSqlContext& ctx) {
    Part<&TFields::second>("second", a, out, ctx);
}

// ---- strftime
//
// SQLite's letters: %d day 01-31, %e day " 1"-"31", %f seconds with
// milliseconds "SS.SSS", %F "%Y-%m-%d", %H hour 00-23, %I hour 01-12,
// %j day of the year 001-366, %J Julian day number, %k hour " 0"-"23",
// %l hour " 1"-"12", %m month 01-12, %M minute 00-59, %p AM/PM, %P am/pm,
// %R "%H:%M", %s Unix time, %S seconds 00-59, %T "%H:%M:%S", %u weekday
// 1-7 (Monday 1), %w weekday 0-6 (Sunday 0), %U week of the year 00-53
// (weeks from Sunday), %W the same from Monday, %V ISO week 01-53, %G and
// %g its year (four and two digits), %Y year, %% a "%".

struct TStamp {
    int64_t ms;
    bool later;
    TFields f;
    int64_t day;  // day number
    int yearDay;  // 0-based
    int sunday0;  // weekday, 0 = Sunday
};

int64_t DayOfFields(int year, int month, int day) {
    TDateTime d = 0;
    TryEncodeDate(year, month, day, d);
    return static_cast<int64_t>(d);
}

// ISO 8601 week and its year: the week (from Monday) belongs to the year of
// its Thursday.
void IsoWeek(const TStamp& t, int& week, int& year) {
    const int64_t thursday = t.day - (t.sunday0 + 6) % 7 + 3;
    int m, d;
    DecodeDate(static_cast<double>(thursday), year, m, d);
    week = static_cast<int>((thursday - DayOfFields(year, 1, 1)) / 7) + 1;
}

// Appends letter c of t; false for a letter that is none of the above.
bool AppendLetter(std::string& out, char c, const TStamp& t) {
    const TFields& f = t.f;
    const int hour12 = f.hour % 12 == 0 ? 12 : f.hour % 12;
    switch (c) {
        case 'd':
            AppendPadded(out, f.day, 2);
            return true;
        case 'e':
            AppendPadded(out, f.day, 2, ' ');
            return true;
        case 'f':
            AppendPadded(out, f.second, 2);
            out += '.';
            AppendPadded(out, f.msec, 3);
            return true;
        case 'F':
            AppendPadded(out, f.year, 4);
            out += '-';
            AppendPadded(out, f.month, 2);
            out += '-';
            AppendPadded(out, f.day, 2);
            return true;
        case 'H':
            AppendPadded(out, f.hour, 2);
            return true;
        case 'I':
            AppendPadded(out, hour12, 2);
            return true;
        case 'j':
            AppendPadded(out, t.yearDay + 1, 3);
            return true;
        case 'J': {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.16g", JulianDay(t.ms));
            out += buf;
            return true;
        }
        case 'k':
            AppendPadded(out, f.hour, 2, ' ');
            return true;
        case 'l':
            AppendPadded(out, hour12, 2, ' ');
            return true;
        case 'm':
            AppendPadded(out, f.month, 2);
            return true;
        case 'M':
            AppendPadded(out, f.minute, 2);
            return true;
        case 'p':
            out += f.hour < 12 ? "AM" : "PM";
            return true;
        case 'P':
            out += f.hour < 12 ? "am" : "pm";
            return true;
        case 'R':
        case 'T':
            AppendPadded(out, f.hour, 2);
            out += ':';
            AppendPadded(out, f.minute, 2);
            if (c == 'T') {
                out += ':';
                AppendPadded(out, f.second, 2);
            }
            return true;
        case 'S':
            AppendPadded(out, f.second, 2);
            return true;
        case 'u':
            AppendPadded(out, t.sunday0 == 0 ? 7 : t.sunday0, 1);
            return true;
        case 'w':
            AppendPadded(out, t.sunday0, 1);
            return true;
        case 'U':
            AppendPadded(out, (t.yearDay + 7 - t.sunday0) / 7, 2);
            return true;
        case 'W':
            AppendPadded(out, (t.yearDay + 7 - (t.sunday0 + 6) % 7) / 7, 2);
            return true;
        case 'V':
        case 'G':
        case 'g': {
            int week, year;
            IsoWeek(t, week, year);
            if (c == 'V')
                AppendPadded(out, week, 2);
            else if (c == 'G')
                AppendPadded(out, year, 4);
            else
                AppendPadded(out, year % 100, 2);
            return true;
        }
        case 'Y':
            AppendPadded(out, f.year, 4);
            return true;
        case '%':
            out += '%';
            return true;
        default:
            return false;
    }
}

void FnStrftime(const Variant* a, int argc, Variant& out, const TSqlContext& ctx) {
    TStamp t{};
    if (!ReadDate("strftime", a, argc, 1, ctx, t.ms, t.later, out)) return;
    t.f = FieldsOf(t.ms);
    t.day = FloorDiv(t.ms, kMsDay);
    t.yearDay = static_cast<int>(t.day - DayOfFields(t.f.year, 1, 1));
    t.sunday0 = WeekdayOf(t.day);
    std::string buf, r;
    const std::string_view fmt = TextOf(a[0], buf);
    for (size_t i = 0; i < fmt.size(); ++i) {
        if (r.size() > kMaxTextLength) return Fault(ctx, kTextTooLong, "strftime", "", out);
        if (fmt[i] != '%') {
            r += fmt[i];
            continue;
        }
        if (i + 1 == fmt.size()) return Fault(ctx, kUnknownFormat, "strftime", "%", out);
        const char c = fmt[++i];
        if (c == 's') {
            int64_t seconds;
            if (!UnixSeconds(t.ms, t.later, seconds))
                return Fault(ctx, kNoTimeZone, "strftime", "", out);
            AppendPadded(r, seconds, 1);
            continue;
        }
        if (!AppendLetter(r, c, t)) {
            // The whole character after "%", not one byte of it.
            size_t n = 1;
            while (i + n < fmt.size() && (static_cast<unsigned char>(fmt[i + n]) & 0xC0) == 0x80)
                ++n;
            return Fault(ctx, kUnknownFormat, "strftime", fmt.substr(i - 1, n + 1), out);
        }
    }
    SetText(std::move(r), "strftime", ctx, out);
}

// ---- The table

const std::vector<TSqlFunction>& Table() {
    using T = TSqlType;
    static const std::vector<TSqlFunction> table = {
        // Text
        {"lower", 1, 1, true, T::Text, FnLower, "lower(x)", "lower('ReadMe.TXT') = 'readme.txt'"},
        {"upper", 1, 1, true, T::Text, FnUpper, "upper(x)", "upper('txt') = 'TXT'"},
        {"length", 1, 1, true, T::Integer, FnLength, "length(x)", "length('report.txt') = 10"},
        {"substr", 2, 3, true, T::Text, FnSubstr, "substr(x, start [, n])",
         "substr('report.txt', -3) = 'txt'"},
        {"substring", 2, 3, true, T::Text, FnSubstring, "substring(x, start [, n])",
         "substring('report.txt', 1, 6) = 'report'"},
        {"replace", 3, 3, true, T::Text, FnReplace, "replace(x, from, to)",
         "replace('a-b-c', '-', '_') = 'a_b_c'"},
        {"trim", 1, 2, true, T::Text, FnTrim, "trim(x [, chars])", "trim('--x--', '-') = 'x'"},
        {"ltrim", 1, 2, true, T::Text, FnLtrim, "ltrim(x [, chars])", "ltrim('007', '0') = '7'"},
        {"rtrim", 1, 2, true, T::Text, FnRtrim, "rtrim(x [, chars])",
         "rtrim('notes.txt~', '~') = 'notes.txt'"},
        {"instr", 2, 2, true, T::Integer, FnInstr, "instr(x, y)", "instr('report.txt', '.') = 7"},
        {"concat", 1, -1, false, T::Text, FnConcat, "concat(x, ...)",
         "concat('a', null, 1) = 'a1'"},
        // Numbers
        {"abs", 1, 1, true, T::Any, FnAbs, "abs(x)", "abs(-7) = 7"},
        {"round", 1, 2, true, T::Any, FnRound, "round(x [, digits])",
         "round(2.5) = 3, round(2.675, 2) = 2.68"},
        {"floor", 1, 1, true, T::Integer, FnFloor, "floor(x)", "floor(-2.5) = -3"},
        {"ceil", 1, 1, true, T::Integer, FnCeil, "ceil(x)", "ceil(2.1) = 3"},
        {"ceiling", 1, 1, true, T::Integer, FnCeiling, "ceiling(x)", "ceiling(-2.1) = -2"},
        {"sign", 1, 1, true, T::Integer, FnSign, "sign(x)", "sign(-4.2) = -1"},
        // Null handling
        {"coalesce", 2, -1, false, T::Any, FnCoalesce, "coalesce(x, y, ...)",
         "coalesce(null, null, 'none') = 'none'"},
        {"ifnull", 2, 2, false, T::Any, FnIfnull, "ifnull(x, y)", "ifnull(null, 0) = 0"},
        {"nullif", 2, 2, false, T::Any, FnNullif, "nullif(x, y)", "nullif(2, 2.0) is null"},
        // Dates
        {"now", 0, 0, true, T::Date, FnNow, "now()", "now() >= current_date"},
        {"date", 0, -1, true, T::Date, FnDate, "date([x [, modifier, ...]])",
         "date('2024-01-31', '+1 month') = '2024-03-02'"},
        {"time", 0, -1, true, T::Text, FnTime, "time([x [, modifier, ...]])",
         "time('2024-01-31 08:05:09') = '08:05:09'"},
        {"datetime", 0, -1, true, T::Date, FnDatetime, "datetime([x [, modifier, ...]])",
         "datetime('2024-01-31 23:30', '+1 hour') = '2024-02-01 00:30'"},
        {"strftime", 1, -1, true, T::Text, FnStrftime, "strftime(format [, x [, modifier, ...]])",
         "strftime('%Y-%m', '2024-01-31') = '2024-01'"},
        {"julianday", 0, -1, true, T::Real, FnJulianday, "julianday([x [, modifier, ...]])",
         "julianday('2000-01-01 12:00') = 2451545.0"},
        {"unixepoch", 0, -1, true, T::Integer, FnUnixepoch, "unixepoch([x [, modifier, ...]])",
         "unixepoch('1970-01-01', 'localtime') = 0"},
        {"year", 1, 1, true, T::Integer, FnYear, "year(x)", "year('2024-01-31') = 2024"},
        {"month", 1, 1, true, T::Integer, FnMonth, "month(x)", "month('2024-01-31') = 1"},
        {"day", 1, 1, true, T::Integer, FnDay, "day(x)", "day('2024-01-31') = 31"},
        {"hour", 1, 1, true, T::Integer, FnHour, "hour(x)", "hour('2024-01-31 08:05') = 8"},
        {"minute", 1, 1, true, T::Integer, FnMinute, "minute(x)", "minute('2024-01-31 08:05') = 5"},
        {"second", 1, 1, true, T::Integer, FnSecond, "second(x)",
         "second('2024-01-31 08:05:09.750') = 9"},
    };
    return table;
}

}  // namespace

const TSqlFunction* FindSqlFunction(std::string_view lowerName) {
    const std::vector<TSqlFunction>& table = Table();
    const auto it = std::find_if(table.begin(), table.end(),
                                 [&](const TSqlFunction& f) { return f.name == lowerName; });
    return it == table.end() ? nullptr : &*it;
}

const std::vector<TSqlFunction>& SqlFunctionTable() {
    return Table();
}

bool ApplyDateModifier(std::string_view modifier, const TSqlContext&, TDateTime& dt) {
    int64_t ms;
    return ToMs(dt, ms) && Modify(modifier, ms) == TModResult::Done && FromMs(ms, dt);
}

}  // namespace corvane
