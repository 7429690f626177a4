#include "script/runtime/u_base_funcs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <stdexcept>

#include "platform/FileContent.h"
#include "platform/Text.h"
#include "script/common/URegexp.h"
#include "script/runtime/CodeMng.h"
#include "script/runtime/SqlValue.h"
#include "script/runtime/u_paramDlg.h"

namespace corvane {

namespace {

// ---------------------------------------------------------------------------
// Argument access. A host calling Call directly may pass a short list; a
// missing argument reads as empty instead of reading past the list.

const Variant& Arg(const Tparamlist& params, size_t i) {
    static const Variant kEmpty;
    return i < params.size() ? params[i].Value : kEmpty;
}

std::string ArgText(const Tparamlist& p, size_t i) {
    return Arg(p, i).AsString();
}
int64_t ArgInt(const Tparamlist& p, size_t i) {
    return Arg(p, i).AsInteger();
}
double ArgFloat(const Tparamlist& p, size_t i) {
    return Arg(p, i).AsDouble();
}
double ArgDate(const Tparamlist& p, size_t i) {
    return Arg(p, i).AsDate();
}

const FormatSettings& Settings() {
    return FormatSettings::Current();
}

// A message template with its "%s" filled by text.
std::string FillMessage(std::string_view templ, std::string_view text) {
    const size_t at = templ.find("%s");
    if (at == std::string_view::npos) return std::string(templ);
    std::string msg(templ.substr(0, at));
    msg += text;
    msg += templ.substr(at + 2);
    return msg;
}

[[noreturn]] void ThrowFormat(std::string_view fmt) {
    throw EScriptError(FillMessage(kMsgFormatInvalid, fmt));
}

// A date-time as milliseconds on one continuous time line (for negative
// values the fraction counts forward from midnight of the day).
int64_t DateTimeToMs(double dt) {
    double whole = std::trunc(dt);
    int64_t ms = std::llround(std::fabs(dt - whole) * kMsPerDay);
    return static_cast<int64_t>(whole) * static_cast<int64_t>(kMsPerDay) + ms;
}

void CheckDate(double dt) {
    // Far outside years 1..9999 the calendar functions have no answer.
    if (!std::isfinite(dt) || dt < -693594.0 || dt > 2958466.0)
        throw EScriptError(kMsgInvalidFloatOp);
}

// ---------------------------------------------------------------------------
// The format language.

struct FmtArg {
    enum Kind { Int, Float, Str } kind = Int;
    int64_t i = 0;
    double d = 0;
    std::string s;
};

constexpr int64_t kMaxFieldSize = 1 << 20;  // width and precision bound

void AppendThousands(std::string& out, std::string_view digits, char sep) {
    size_t n = digits.size();
    for (size_t k = 0; k < n; ++k) {
        out.push_back(digits[k]);
        size_t rest = n - k - 1;
        if (rest > 0 && rest % 3 == 0) out.push_back(sep);
    }
}

bool AppendNonFinite(std::string& out, double v) {
    if (std::isnan(v)) {
        out += "NAN";
        return true;
    }
    if (std::isinf(v)) {
        out += v > 0 ? "INF" : "-INF";
        return true;
    }
    return false;
}

// |v| with `decimals` decimals, digits of the integer part grouped when sep
// is not 0; the decimal point is the regional one.
void AppendFixedAbs(std::string& out, double v, int decimals, char sep, char decimalSep) {
    std::vector<char> buf(static_cast<size_t>(decimals) + 330);
    std::snprintf(buf.data(), buf.size(), "%.*f", decimals, std::fabs(v));
    std::string_view text(buf.data());
    size_t dot = text.find('.');
    std::string_view intPart = text.substr(0, dot);
    if (sep)
        AppendThousands(out, intPart, sep);
    else
        out += intPart;
    if (dot != std::string_view::npos) {
        out.push_back(decimalSep);
        out += text.substr(dot + 1);
    }
}

// Whether a fixed rendering of v shows a minus sign (-0.001 with 2 decimals
// shows none).
bool ShowsMinus(double v, int decimals) {
    if (!(v < 0)) return false;
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.*f", decimals < 300 ? decimals : 300, v);
    for (const char* p = buf; *p; ++p)
        if (*p >= '1' && *p <= '9') return true;
    return false;
}

void AppendExponent(std::string& out, double v, int digits, char decimalSep) {
    if (AppendNonFinite(out, v)) return;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*E", digits - 1, v);
    std::string_view text(buf);
    size_t e = text.find('E');
    for (char c : text.substr(0, e))
        out.push_back(c == '.' ? decimalSep : c);
    out.push_back('E');
    int exp10 = std::atoi(buf + e + 1);
    out.push_back(exp10 < 0 ? '-' : '+');
    char ebuf[16];
    std::snprintf(ebuf, sizeof ebuf, "%03d", exp10 < 0 ? -exp10 : exp10);
    out += ebuf;
}

void AppendCurrency(std::string& out, double v, int decimals, const FormatSettings& fs) {
    if (AppendNonFinite(out, v)) return;
    std::string num;
    AppendFixedAbs(num, v, decimals, fs.thousandSeparator, fs.decimalSeparator);
    const std::string& c = fs.currencyString;
    if (!ShowsMinus(v, decimals)) {
        switch (fs.currencyFormat) {
            case 1:
                out += num + c;
                return;
            case 2:
                out += c + " " + num;
                return;
            case 3:
                out += num + " " + c;
                return;
            default:
                out += c + num;
                return;
        }
    }
    // The sixteen negative forms of the regional settings.
    static const char* const kNeg[16] = {"($1)", "-$1",  "$-1",   "$1-",  "(1$)", "-1$",
                                         "1-$",  "1$-",  "-1 $",  "-$ 1", "1 $-", "$ 1-",
                                         "$ -1", "1- $", "($ 1)", "(1 $)"};
    int form = fs.negCurrFormat >= 0 && fs.negCurrFormat < 16 ? fs.negCurrFormat : 1;
    for (const char* p = kNeg[form]; *p; ++p) {
        if (*p == '$')
            out += c;
        else if (*p == '1')
            out += num;
        else
            out.push_back(*p);
    }
}

// "%" [index ":"] ["-"] [width] ["." precision] type, over a list of
// typed arguments; any misfit raises kMsgFormatInvalid.
std::string FormatArgs(std::string_view fmt, const std::vector<FmtArg>& args,
                       const FormatSettings& fs) {
    std::string out;
    size_t argIndex = 0;
    size_t i = 0;
    const size_t n = fmt.size();
    // A number or "*" (which takes the next argument, an integer).
    auto readNumber = [&](int64_t& value) -> bool {
        if (i < n && fmt[i] == '*') {
            ++i;
            if (argIndex >= args.size() || args[argIndex].kind != FmtArg::Int) ThrowFormat(fmt);
            value = args[argIndex++].i;
            if (value < 0 || value > kMaxFieldSize) ThrowFormat(fmt);
            return true;
        }
        if (i >= n || fmt[i] < '0' || fmt[i] > '9') return false;
        value = 0;
        while (i < n && fmt[i] >= '0' && fmt[i] <= '9') {
            value = value * 10 + (fmt[i] - '0');
            if (value > kMaxFieldSize) ThrowFormat(fmt);
            ++i;
        }
        return true;
    };
    while (i < n) {
        char c = fmt[i++];
        if (c != '%') {
            out.push_back(c);
            continue;
        }
        if (i < n && fmt[i] == '%') {
            out.push_back('%');
            ++i;
            continue;
        }
        int64_t number = 0;
        bool has = readNumber(number);
        if (i < n && fmt[i] == ':') {
            argIndex = has ? static_cast<size_t>(number) : 0;
            ++i;
            has = readNumber(number);
        }
        bool left = false;
        if (!has && i < n && fmt[i] == '-') {
            left = true;
            ++i;
            has = readNumber(number);
        }
        int64_t width = has ? number : -1;
        int64_t prec = -1;
        if (i < n && fmt[i] == '.') {
            ++i;
            if (!readNumber(prec)) prec = 0;
        }
        if (i >= n) ThrowFormat(fmt);
        char type = LowerAscii(fmt[i++]);
        if (argIndex >= args.size()) ThrowFormat(fmt);
        const FmtArg& a = args[argIndex++];
        std::string field;
        switch (type) {
            case 'd':
            case 'u':
            case 'x': {
                if (a.kind != FmtArg::Int) ThrowFormat(fmt);
                bool negative = type == 'd' && a.i < 0;
                uint64_t mag =
                    negative ? 0 - static_cast<uint64_t>(a.i) : static_cast<uint64_t>(a.i);
                char buf[32];
                std::snprintf(buf, sizeof buf, type == 'x' ? "%llX" : "%llu",
                              static_cast<unsigned long long>(mag));
                size_t len = std::strlen(buf);
                if (negative) field.push_back('-');
                if (prec > static_cast<int64_t>(len))
                    field.append(static_cast<size_t>(prec) - len, '0');
                field += buf;
                break;
            }
            case 'e':
            case 'f':
            case 'g':
            case 'n':
            case 'm': {
                if (a.kind != FmtArg::Float) ThrowFormat(fmt);
                double v = a.d;
                if (type == 'e') {
                    int digits = prec < 0 ? 15 : static_cast<int>(std::clamp<int64_t>(prec, 1, 18));
                    AppendExponent(field, v, digits, fs.decimalSeparator);
                } else if (type == 'g') {
                    int digits = prec < 0 ? 15 : static_cast<int>(std::clamp<int64_t>(prec, 1, 18));
                    AppendGeneralFloat(field, v, digits, fs.decimalSeparator);
                } else if (type == 'm') {
                    int decimals = prec < 0 ? fs.currencyDecimals
                                            : static_cast<int>(std::min<int64_t>(prec, 18));
                    AppendCurrency(field, v, decimals, fs);
                } else if (!AppendNonFinite(field, v)) {
                    int decimals = prec < 0 ? 2 : static_cast<int>(std::min<int64_t>(prec, 18));
                    if (ShowsMinus(v, decimals)) field.push_back('-');
                    AppendFixedAbs(field, v, decimals, type == 'n' ? fs.thousandSeparator : 0,
                                   fs.decimalSeparator);
                }
                break;
            }
            case 's':
                if (a.kind != FmtArg::Str) ThrowFormat(fmt);
                field = a.s;
                if (prec >= 0 && static_cast<size_t>(prec) < field.size())
                    field.resize(static_cast<size_t>(prec));
                break;
            default:
                ThrowFormat(fmt);  // p, unknown letters, blanks
        }
        if (width > static_cast<int64_t>(field.size())) {
            size_t pad = static_cast<size_t>(width) - field.size();
            if (left)
                field.append(pad, ' ');
            else
                field.insert(0, pad, ' ');
        }
        out += field;
    }
    return out;
}

// ---------------------------------------------------------------------------
// The date pattern language.

class DatePattern {
  public:
    DatePattern(TDateTime dt, const FormatSettings& fs) : dt_(dt), fs_(fs) {
        DecodeDate(dt, year_, month_, day_);
        DecodeTime(dt, hour_, minute_, second_, msec_);
    }

    void Append(std::string& out, std::string_view fmt, int level) {
        if (level >= 2) return;  // a format that names itself stops here
        size_t i = 0;
        const size_t n = fmt.size();
        auto count = [&](char token) {
            size_t k = 1;
            while (i < n && UpperAscii(fmt[i]) == token) {
                ++i;
                ++k;
            }
            return k;
        };
        while (i < n) {
            char starter = fmt[i++];
            char token = UpperAscii(starter);
            if (token >= 'A' && token <= 'Z') {
                if (token == 'M' && lastToken_ == 'H') token = 'N';
                lastToken_ = token;
            }
            switch (token) {
                case 'Y': {
                    size_t k = count('Y');
                    if (k <= 2)
                        Number(out, year_ % 100, 2);
                    else
                        Number(out, year_, 4);
                    break;
                }
                case 'M': {
                    size_t k = count('M');
                    if (k <= 2)
                        Number(out, month_, static_cast<int>(k));
                    else if (k == 3)
                        out += fs_.shortMonthNames[static_cast<size_t>(month_ - 1)];
                    else
                        out += fs_.longMonthNames[static_cast<size_t>(month_ - 1)];
                    break;
                }
                case 'D': {
                    size_t k = count('D');
                    size_t dow = static_cast<size_t>(DayOfWeek(dt_) - 1);
                    if (k <= 2)
                        Number(out, day_, static_cast<int>(k));
                    else if (k == 3)
                        out += fs_.shortDayNames[dow];
                    else if (k == 4)
                        out += fs_.longDayNames[dow];
                    else if (k == 5)
                        Append(out, fs_.shortDateFormat, level + 1);
                    else
                        Append(out, fs_.longDateFormat, level + 1);
                    break;
                }
                case 'H': {
                    size_t k = count('H');
                    if (TwelveHourAhead(fmt.substr(i))) twelveHour_ = true;
                    int h = hour_;
                    if (twelveHour_) {
                        if (h == 0)
                            h = 12;
                        else if (h > 12)
                            h -= 12;
                    }
                    Number(out, h, k >= 2 ? 2 : 1);
                    break;
                }
                case 'N': {
                    // Reached as "n" or as an "m" right after an hour.
                    size_t k = count(UpperAscii(starter));
                    Number(out, minute_, k >= 2 ? 2 : 1);
                    break;
                }
                case 'S': {
                    size_t k = count('S');
                    Number(out, second_, k >= 2 ? 2 : 1);
                    break;
                }
                case 'Z': {
                    size_t k = count('Z');
                    Number(out, msec_, k >= 3 ? 3 : static_cast<int>(k));
                    break;
                }
                case 'T': {
                    size_t k = count('T');
                    Append(out, k == 1 ? fs_.shortTimeFormat : fs_.longTimeFormat, level + 1);
                    break;
                }
                case 'C':
                    count('C');
                    Append(out, fs_.shortDateFormat, level + 1);
                    if (hour_ != 0 || minute_ != 0 || second_ != 0) {
                        out.push_back(' ');
                        Append(out, fs_.longTimeFormat, level + 1);
                    }
                    break;
                case 'A': {
                    std::string_view rest = fmt.substr(i - 1);
                    if (StartsWithNoCase(rest, "am/pm")) {
                        // The marker as written, in its letter case.
                        out += hour_ >= 12 ? rest.substr(3, 2) : rest.substr(0, 2);
                        i += 4;
                        twelveHour_ = true;
                    } else if (StartsWithNoCase(rest, "a/p")) {
                        out += hour_ >= 12 ? rest.substr(2, 1) : rest.substr(0, 1);
                        i += 2;
                        twelveHour_ = true;
                    } else if (StartsWithNoCase(rest, "ampm")) {
                        out += hour_ < 12 ? fs_.timeAMString : fs_.timePMString;
                        i += 3;
                        twelveHour_ = true;
                    } else {
                        out.push_back(starter);
                    }
                    break;
                }
                case '/':
                    out.push_back(fs_.dateSeparator);
                    break;
                case ':':
                    out.push_back(fs_.timeSeparator);
                    break;
                case '\'':
                case '"': {
                    size_t close = fmt.find(starter, i);
                    if (close == std::string_view::npos) close = n;
                    out += fmt.substr(i, close - i);
                    i = close < n ? close + 1 : n;
                    break;
                }
                default:
                    out.push_back(starter);
                    break;
            }
        }
    }

  private:
    static bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
        return s.size() >= prefix.size() && SameTextAscii(s.substr(0, prefix.size()), prefix);
    }

    // Whether an am/pm marker follows before the next hour letter (outside
    // quotes): then the hour is on the 12-hour clock.
    static bool TwelveHourAhead(std::string_view rest) {
        bool quoted = false;
        for (size_t k = 0; k < rest.size(); ++k) {
            char c = rest[k];
            if (c == '\'' || c == '"') {
                quoted = !quoted;
            } else if (!quoted && (c == 'a' || c == 'A')) {
                std::string_view r = rest.substr(k);
                return StartsWithNoCase(r, "am/pm") || StartsWithNoCase(r, "a/p") ||
                       StartsWithNoCase(r, "ampm");
            } else if (!quoted && (c == 'h' || c == 'H')) {
                return false;
            }
        }
        return false;
    }

    static void Number(std::string& out, int value, int digits) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%0*d", digits, value);
        out += buf;
    }

    TDateTime dt_;
    const FormatSettings& fs_;
    int year_, month_, day_, hour_, minute_, second_, msec_;
    char lastToken_ = 0;
    bool twelveHour_ = false;
};

// ---------------------------------------------------------------------------
// The built-ins, in registration order.

void BiLength(Tparamlist& p, Variant& r) {
    r.SetInteger(static_cast<int64_t>(ArgText(p, 1).size()));
}

int64_t PosFrom(const std::string& sub, const std::string& s, int64_t from) {
    if (sub.empty() || from < 1 || from > static_cast<int64_t>(s.size())) return 0;
    size_t at = s.find(sub, static_cast<size_t>(from - 1));
    return at == std::string::npos ? 0 : static_cast<int64_t>(at) + 1;
}

void BiPos(Tparamlist& p, Variant& r) {
    r.SetInteger(PosFrom(ArgText(p, 1), ArgText(p, 2), 1));
}

void BiPosEx(Tparamlist& p, Variant& r) {
    r.SetInteger(PosFrom(ArgText(p, 1), ArgText(p, 2), ArgInt(p, 3)));
}

void BiTrim(Tparamlist& p, Variant& r) {
    r.SetString(TrimView(ArgText(p, 1)));
}

void BiCopy(Tparamlist& p, Variant& r) {
    std::string s = ArgText(p, 1);
    int64_t index = ArgInt(p, 2);
    int64_t count = ArgInt(p, 3);
    if (index < 1) index = 1;
    if (count < 0 || index > static_cast<int64_t>(s.size())) {
        r.SetString("");
        return;
    }
    size_t from = static_cast<size_t>(index - 1);
    size_t n = std::min<uint64_t>(static_cast<uint64_t>(count), s.size() - from);
    r.SetString(std::string_view(s).substr(from, n));
}

void BiSqr(Tparamlist& p, Variant& r) {
    double d = ArgFloat(p, 1);
    r.SetDouble(d * d);
}

void BiAbs(Tparamlist& p, Variant& r) {
    r.SetDouble(std::fabs(ArgFloat(p, 1)));
}

void BiRoundTo(Tparamlist& p, Variant& r) {
    double d = ArgFloat(p, 1);
    int64_t digit = ArgInt(p, 2);
    if (digit < -37 || digit > 37) throw EScriptError(kMsgRangeExceeded);
    // Negative digits round to decimals: multiplying by the exact power of
    // ten gives the nearest double (1234.5678 to hundredths is 1234.57).
    double v;
    if (digit < 0) {
        double f = std::pow(10.0, static_cast<double>(-digit));
        v = std::nearbyint(d * f) / f;
    } else {
        double f = std::pow(10.0, static_cast<double>(digit));
        v = std::nearbyint(d / f) * f;
    }
    r.SetDouble(v);
}

void BiTrunc(Tparamlist& p, Variant& r) {
    r.SetInteger(TruncToInteger(ArgFloat(p, 1)));
}

void BiSqrt(Tparamlist& p, Variant& r) {
    double d = ArgFloat(p, 1);
    if (d < 0 || std::isnan(d)) throw EScriptError(kMsgInvalidFloatOp);
    r.SetDouble(std::sqrt(d));
}

void BiNow(Tparamlist&, Variant& r) {
    r.SetDouble(Now());
}

void BiDate(Tparamlist&, Variant& r) {
    r.SetDouble(std::floor(Now()));
}

// Year (0), month (1) or day (2) of the date argument.
int64_t DatePart(Tparamlist& p, int which) {
    double d = ArgDate(p, 1);
    CheckDate(d);
    int ymd[3];
    DecodeDate(d, ymd[0], ymd[1], ymd[2]);
    return ymd[which];
}

void BiYearOf(Tparamlist& p, Variant& r) {
    r.SetInteger(DatePart(p, 0));
}

void BiMonthOf(Tparamlist& p, Variant& r) {
    r.SetInteger(DatePart(p, 1));
}

void BiDayOf(Tparamlist& p, Variant& r) {
    r.SetInteger(DatePart(p, 2));
}

void BiDayOfTheWeek(Tparamlist& p, Variant& r) {
    double d = ArgDate(p, 1);
    CheckDate(d);
    int sundayFirst = DayOfWeek(d);  // 1 = Sunday
    r.SetInteger(sundayFirst == 1 ? 7 : sundayFirst - 1);
}

void BiDaysBetween(Tparamlist& p, Variant& r) {
    double a = ArgDate(p, 1), b = ArgDate(p, 2);
    CheckDate(a);
    CheckDate(b);
    int64_t span = DateTimeToMs(a) - DateTimeToMs(b);
    if (span < 0) span = -span;
    r.SetInteger(span / static_cast<int64_t>(kMsPerDay));
}

void BiIntToStr(Tparamlist& p, Variant& r) {
    std::string s;
    AppendInteger(s, ArgInt(p, 1));
    r.SetString(std::move(s));
}

void BiFloatToStr(Tparamlist& p, Variant& r) {
    r.SetString(FloatToText(ArgFloat(p, 1), Settings()));
}

void BiDateTimeToStr(Tparamlist& p, Variant& r) {
    double d = ArgDate(p, 1);
    CheckDate(d);
    r.SetString(DateTimeToText(d, Settings()));
}

void BiStrToIntDef(Tparamlist& p, Variant& r) {
    int64_t v;
    if (TryParseInteger(ArgText(p, 1), v))
        r.SetInteger(v);
    else
        r.SetInteger(ArgInt(p, 2));
}

void BiStrToFloatDef(Tparamlist& p, Variant& r) {
    double v;
    if (TryParseDouble(ArgText(p, 1), Settings().decimalSeparator, v))
        r.SetDouble(v);
    else
        r.SetDouble(ArgFloat(p, 2));
}

// A text that is a decimal number is taken as a day count; anything else,
// dates written as text included, gives the default.
void BiStrToDateTimeDef(Tparamlist& p, Variant& r) {
    double v;
    if (TryParseDouble(ArgText(p, 1), Settings().decimalSeparator, v))
        r.SetDouble(v);
    else
        r.SetDouble(ArgDate(p, 2));
}

void BiVarToInt(Tparamlist& p, Variant& r) {
    r.SetInteger(ArgInt(p, 1));
}

void BiVarToFloat(Tparamlist& p, Variant& r) {
    r.SetDouble(ArgFloat(p, 1));
}

void BiVarToBoolean(Tparamlist& p, Variant& r) {
    r.SetBoolean(Arg(p, 1).AsBoolean());
}

void BiVarToStr(Tparamlist& p, Variant& r) {
    r.SetString(ArgText(p, 1));
}

void BiShowMessage(Tparamlist& p, Variant&) {
    ShowScriptMessage(ArgText(p, 1));
}

// The compiled pattern of argument index; a pattern RE2 refuses raises
// its explanation.
std::shared_ptr<const TRegexp> ArgRegexp(Tparamlist& p, int index) {
    const std::string pattern(ArgText(p, index));
    std::string error;
    std::shared_ptr<const TRegexp> re = CachedRegexp(pattern, error);
    if (!re) {
        throw EScriptError(FillMessage(kMsgRegexpInvalid, pattern) + error);
    }
    return re;
}

void BiRegexpLike(Tparamlist& p, Variant& r) {
    r.SetBoolean(ArgRegexp(p, 2)->Search(ArgText(p, 1)));
}

void BiRegexpSubstr(Tparamlist& p, Variant& r) {
    std::string match;
    ArgRegexp(p, 2)->FirstMatch(ArgText(p, 1), match);
    r.SetString(std::move(match));
}

void BiRegexpReplace(Tparamlist& p, Variant& r) {
    std::string out, error;
    const std::string rewrite(ArgText(p, 3));
    if (!ArgRegexp(p, 2)->ReplaceAll(ArgText(p, 1), rewrite, out, error)) {
        throw EScriptError(FillMessage(kMsgRewriteInvalid, rewrite) + error);
    }
    r.SetString(std::move(out));
}

void BiIff(Tparamlist& p, Variant& r) {
    const Variant& b = Arg(p, 1);
    bool truth;
    if (!b.TryAsBoolean(truth)) {
        std::string_view t = TrimView(b.AsString());
        truth = !t.empty() && t != "0";
    }
    r.Assign(truth ? Arg(p, 2) : Arg(p, 3));
}

void BiFormat(Tparamlist& p, Variant& r) {
    r.SetString(FormatOne(ArgText(p, 1), Arg(p, 2), Settings()));
}

void BiFormatDateTime(Tparamlist& p, Variant& r) {
    double d = ArgDate(p, 2);
    CheckDate(d);
    r.SetString(FormatDateTimeText(ArgText(p, 1), d, Settings()));
}

// ---------------------------------------------------------------------------
// File contents and metadata. Whatever cannot be read (missing, no
// permission, not a regular file for the content functions) gives null,
// never an error: one odd file must not stop a query. The reason goes to
// the running statement's fault record, so a statement that leaves rows
// out because of it says so once. Only a cancelled query stops them, with
// the interpreter's own cancel error.

// The result of a call whose file could not be read.
void Unreadable(Variant& r, const std::string& file) {
    r.SetNull();
    NoteSqlFault(FormatMsg(std::string(Msg(kMsgCannotRead)), file.substr(0, 200)));
}

// The file of a built-in whose file is argument 1, or arguments 1 and 2
// when the optional one at `optional` was given (the two-text form).
std::string FileOf(const Tparamlist& p, size_t optional) {
    if (Arg(p, optional).IsEmpty()) return ArgText(p, 1);
    return JoinFileName(ArgText(p, 1), ArgText(p, 2));
}

// False when the read was cancelled (then it throws) or failed.
bool ReadOk(ContentStatus st) {
    if (st == ContentStatus::Cancelled) throw EScriptError(kMsgRunCancelled);
    return st == ContentStatus::Ok;
}

void Digest(Tparamlist& p, Variant& r, DigestKind kind) {
    std::string hex;
    const std::string file = FileOf(p, 2);
    if (ReadOk(FileDigest(file, kind, hex)))
        r.SetString(std::move(hex));
    else
        Unreadable(r, file);
}

void BiMd5(Tparamlist& p, Variant& r) {
    Digest(p, r, DigestKind::Md5);
}
void BiSha1(Tparamlist& p, Variant& r) {
    Digest(p, r, DigestKind::Sha1);
}
void BiSha256(Tparamlist& p, Variant& r) {
    Digest(p, r, DigestKind::Sha256);
}
void BiSha512(Tparamlist& p, Variant& r) {
    Digest(p, r, DigestKind::Sha512);
}
void BiXxh128(Tparamlist& p, Variant& r) {
    Digest(p, r, DigestKind::Xxh128);
}

// contains(file, text) | contains(dir, name, text)
void BiContains(Tparamlist& p, Variant& r) {
    const bool three = !Arg(p, 3).IsEmpty();
    const std::string file = FileOf(p, 3);
    const std::string needle = ArgText(p, three ? 3 : 2);
    bool found = false;
    if (ReadOk(FileContains(file, needle, found)))
        r.SetBoolean(found);
    else
        Unreadable(r, file);
}

void BiLineCount(Tparamlist& p, Variant& r) {
    int64_t lines = 0;
    const std::string file = FileOf(p, 2);
    if (ReadOk(FileLineCount(file, lines)))
        r.SetInteger(lines);
    else
        Unreadable(r, file);
}

// head(file, n) | head(dir, name, n); n is capped at kHeadLimit bytes.
void BiHead(Tparamlist& p, Variant& r) {
    const bool three = !Arg(p, 3).IsEmpty();
    const std::string file = FileOf(p, 3);
    int64_t n = 0;
    if (!Arg(p, three ? 3 : 2).TryAsInteger(n)) n = 0;
    std::string bytes;
    if (ReadOk(FileHead(file, n, bytes)))
        r.SetString(std::move(bytes));
    else
        Unreadable(r, file);
}

void BiOwner(Tparamlist& p, Variant& r) {
    EntryOwnership o;
    const std::string file = FileOf(p, 2);
    if (LinkStatus(file, o))
        r.SetString(UserName(o.uid));
    else
        Unreadable(r, file);
}

void BiGroupName(Tparamlist& p, Variant& r) {
    EntryOwnership o;
    const std::string file = FileOf(p, 2);
    if (LinkStatus(file, o))
        r.SetString(GroupName(o.gid));
    else
        Unreadable(r, file);
}

// The permission bits (with set-id and sticky) as four octal digits.
void BiMode(Tparamlist& p, Variant& r) {
    EntryOwnership o;
    const std::string file = FileOf(p, 2);
    if (!LinkStatus(file, o)) {
        Unreadable(r, file);
        return;
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04o", static_cast<unsigned>(o.mode & 07777));
    r.SetString(std::string(buf));
}

void BiInode(Tparamlist& p, Variant& r) {
    EntryOwnership o;
    const std::string file = FileOf(p, 2);
    if (LinkStatus(file, o) && o.ino <= static_cast<uint64_t>(INT64_MAX))
        r.SetInteger(static_cast<int64_t>(o.ino));
    else
        Unreadable(r, file);
}

void BiLinkCount(Tparamlist& p, Variant& r) {
    EntryOwnership o;
    const std::string file = FileOf(p, 2);
    if (LinkStatus(file, o) && o.links <= static_cast<uint64_t>(INT64_MAX))
        r.SetInteger(static_cast<int64_t>(o.links));
    else
        Unreadable(r, file);
}

// Not a link (or gone): null, a value that does not apply.
void BiLinkTarget(Tparamlist& p, Variant& r) {
    std::string target;
    if (LinkTarget(FileOf(p, 2), target))
        r.SetString(std::move(target));
    else
        r.SetNull();
}

void BiMimeType(Tparamlist& p, Variant& r) {
    std::string type;
    const std::string file = FileOf(p, 2);
    if (ReadOk(FileMimeType(file, type)))
        r.SetString(std::move(type));
    else
        Unreadable(r, file);
}

// contains_regexp(file, pattern) | contains_regexp(dir, name, pattern):
// whether some line of the content matches (RE2, so linear in the text
// whatever the pattern). A pattern that does not compile is a run-time
// error like the other regular expression built-ins'.
void BiContainsRegexp(Tparamlist& p, Variant& r) {
    const bool three = !Arg(p, 3).IsEmpty();
    const std::string file = FileOf(p, 3);
    const std::shared_ptr<const TRegexp> re = ArgRegexp(p, three ? 3 : 2);
    bool found = false;
    if (ReadOk(FileAnyLine(
            file, [&](std::string_view line) { return re->Search(line); }, found)))
        r.SetBoolean(found);
    else
        Unreadable(r, file);
}

void BiFullName(Tparamlist& p, Variant& r) {
    r.SetString(JoinFileName(ArgText(p, 1), ArgText(p, 2)));
}

// Each built-in's implementation, under its name, in the order of the
// heads (script/common/BuiltinHeads): the constructor pairs them by number
// and refuses a table whose names do not line up.
struct BuiltinImplRow {
    const char* name;
    void (*impl)(Tparamlist&, Variant&);
};

constexpr BuiltinImplRow kBuiltinImpls[] = {
    {"length", BiLength},
    {"pos", BiPos},
    {"posex", BiPosEx},
    {"trim", BiTrim},
    {"copy", BiCopy},
    {"sqr", BiSqr},
    {"abs", BiAbs},
    {"roundto", BiRoundTo},
    {"trunc", BiTrunc},
    {"sqrt", BiSqrt},
    {"now", BiNow},
    {"date", BiDate},
    {"yearof", BiYearOf},
    {"monthof", BiMonthOf},
    {"dayof", BiDayOf},
    {"dayoftheweek", BiDayOfTheWeek},
    {"daysbetweenof", BiDaysBetween},
    {"inttostr", BiIntToStr},
    {"floattostr", BiFloatToStr},
    {"datetimetostr", BiDateTimeToStr},
    {"strtointdef", BiStrToIntDef},
    {"strtofloatdef", BiStrToFloatDef},
    {"strtodatetimedef", BiStrToDateTimeDef},
    {"vartoint", BiVarToInt},
    {"vartofloat", BiVarToFloat},
    {"vartoboolean", BiVarToBoolean},
    {"vartostr", BiVarToStr},
    {"showmessage", BiShowMessage},
    {"iff", BiIff},
    {"format", BiFormat},
    {"formatdatetime", BiFormatDateTime},
    // Appended later: regular expressions (RE2 syntax).
    {"regexp_like", BiRegexpLike},
    {"regexp_substr", BiRegexpSubstr},
    {"regexp_replace", BiRegexpReplace},
    {"md5", BiMd5},
    {"sha1", BiSha1},
    {"sha256", BiSha256},
    {"sha512", BiSha512},
    {"xxh128", BiXxh128},
    {"contains", BiContains},
    {"linecount", BiLineCount},
    {"head", BiHead},
    {"owner", BiOwner},
    {"groupname", BiGroupName},
    {"mode", BiMode},
    {"inode", BiInode},
    {"linkcount", BiLinkCount},
    {"linktarget", BiLinkTarget},
    {"mimetype", BiMimeType},
    {"fullname", BiFullName},
    {"contains_regexp", BiContainsRegexp},
};

}  // namespace

// ---------------------------------------------------------------------------

std::string FormatOne(std::string_view fmtstr, const Variant& v, const FormatSettings& fs) {
    std::string lower = LowerCaseAscii(fmtstr);
    size_t percent = lower.find('%');
    if (percent == std::string::npos) return std::string(fmtstr);
    size_t at = lower.find_first_of("defgmnpsx", percent + 1);
    if (at == std::string::npos) return std::string(fmtstr);
    FmtArg arg;
    switch (lower[at]) {
        case 'd':
        case 'x':
            arg.kind = FmtArg::Int;
            arg.i = v.AsInteger();
            break;
        case 's':
            arg.kind = FmtArg::Str;
            arg.s = v.AsString();
            break;
        case 'p':
            return std::string(fmtstr);
        default:
            arg.kind = FmtArg::Float;
            arg.d = v.AsDouble();
            break;
    }
    return FormatArgs(fmtstr, {arg}, fs);
}

std::string FormatDateTimeText(std::string_view pattern, TDateTime dt, const FormatSettings& fs) {
    std::string out;
    DatePattern(dt, fs).Append(out, pattern.empty() ? std::string_view("c") : pattern, 0);
    return out;
}

TbaseFunctions::TbaseFunctions() {
    const std::shared_ptr<const TBuiltinHeads> heads = TBuiltinHeads::Acquire();
    if (static_cast<size_t>(heads->Count()) != std::size(kBuiltinImpls) + 1)
        throw std::logic_error("built-in implementations and heads differ in number");
    items_.push_back(TfuncHeadInfo{});  // entry 0: the placeholder
    for (int k = 1; k < heads->Count(); ++k) {
        const TBuiltinHead& h = heads->Head(k);
        const BuiltinImplRow& row = kBuiltinImpls[k - 1];
        if (h.Name != row.name)
            throw std::logic_error("built-in " + h.Name + " has no implementation in its place");
        TfuncHeadInfo head;
        head.Name = h.Name;
        head.ResultType = h.ResultType;
        head.Vars = h.Vars;
        head.Impl = row.impl;
        head.Template = h.Template;
        Register(std::move(head));
    }
}

std::shared_ptr<TbaseFunctions> TbaseFunctions::Acquire() {
    // Created once, on first use (thread-safe), and kept for the life of
    // the process: an interpreter calls built-ins per row, and re-creating
    // the registry whenever its last holder let go would rebuild every head
    // on each call.
    static const std::shared_ptr<TbaseFunctions> registry = std::make_shared<TbaseFunctions>();
    return registry;
}

void TbaseFunctions::Register(TfuncHeadInfo head) {
    head.Name = LowerCaseAscii(head.Name);
    items_.push_back(std::move(head));
}

int TbaseFunctions::Find(std::string_view name) const {
    std::string lower = LowerCaseAscii(name);
    // Entry 0 is the nameless placeholder, never a match.
    for (size_t i = 1; i < items_.size(); ++i)
        if (items_[i].Name == lower) return static_cast<int>(i);
    return -1;
}

const TfuncHeadInfo& TbaseFunctions::Head(int number) const {
    if (number < 0 || number >= Count()) throw EScriptError(kMsgRangeExceeded);
    return items_[static_cast<size_t>(number)];
}

TfuncHeadInfo TbaseFunctions::GetHead(int number) const {
    return Head(number);
}

void TbaseFunctions::Call(int number, Tparamlist& params, Variant& rtn) const {
    if (number < 1 || number >= Count()) throw EScriptError(kMsgBoundExceeded);
    rtn.SetInteger(0);
    const TfuncHeadInfo& head = items_[static_cast<size_t>(number)];
    if (head.Impl) head.Impl(params, rtn);
}

}  // namespace corvane
