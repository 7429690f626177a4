#include "script/runtime/SqlOps.h"

#include <cmath>
#include <cstring>
#include <string>

#include "script/common/ULike.h"
#include "script/common/URegexp.h"
#include "script/common/U_err.h"
#include "script/runtime/CodeMng.h"

namespace corvane {

namespace {

// A value read as a number: exact when it is an integer (or a boolean).
struct TNum {
    bool exact = false;
    int64_t i = 0;
    double d = 0;
    long double Wide() const { return exact ? static_cast<long double>(i) : d; }
};

// A number without conversion: integers, reals, booleans and date-times.
bool DirectNumber(const Variant& v, TNum& n) {
    switch (v.type()) {
        case VarType::Integer:
            n = {true, v.RawInteger(), 0};
            return true;
        case VarType::Boolean:
            n = {true, v.RawBoolean() ? 1 : 0, 0};
            return true;
        case VarType::Double:
        case VarType::Date:
            n = {false, 0, v.RawDouble()};
            return true;
        default:
            return false;
    }
}

// A value as a number, a text converting when it is a number literal.
bool AsNumber(const Variant& v, TNum& n) {
    if (DirectNumber(v, n)) return true;
    if (v.type() != VarType::String) return false;
    Variant parsed;
    if (!ParseSqlNumber(v.RawString(), parsed)) return false;
    return DirectNumber(parsed, n);
}

// Quotes at most 60 bytes of a value for a reason text.
std::string Shown(const Variant& v) {
    std::string s = SqlText(v);
    if (s.size() > 60) {
        s.resize(57);
        s += "...";
    }
    return s;
}

void NoteNotANumber(const Variant& v, const TSqlContext& ctx) {
    ctx.Fault(FormatMsg(std::string(Msg(sqlmsg::NotANumber)), Shown(v)));
}

int CompareWide(long double x, long double y) {
    return x < y ? -1 : (x > y ? 1 : 0);
}

TSqlOrder OrderOf(int c) {
    return c < 0 ? TSqlOrder::Less : (c > 0 ? TSqlOrder::Greater : TSqlOrder::Equal);
}

TSqlOrder CompareNums(const TNum& a, const TNum& b) {
    if (a.exact && b.exact) return OrderOf(a.i < b.i ? -1 : (a.i > b.i ? 1 : 0));
    if ((!a.exact && std::isnan(a.d)) || (!b.exact && std::isnan(b.d))) return TSqlOrder::Unknown;
    // long double holds every 64-bit integer exactly, so an integer and a
    // real compare without rounding.
    return OrderOf(CompareWide(a.Wide(), b.Wide()));
}

int CompareBytes(std::string_view a, std::string_view b) {
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

void SetTruth(Variant& out, int t) {
    if (t < 0)
        out.SetNull();
    else
        out.SetBoolean(t == 1);
}

std::string LowerAsciiCopy(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

int64_t Exact(int32_t op, int64_t a, int64_t b) {
    int64_t n = 0;
    const bool overflow = op == soAdd   ? __builtin_add_overflow(a, b, &n)
                          : op == soSub ? __builtin_sub_overflow(a, b, &n)
                                        : __builtin_mul_overflow(a, b, &n);
    if (overflow) throw EScriptError(kMsgIntegerOverflow);
    return n;
}

void Arithmetic(int32_t op, const Variant& a, const Variant& b, Variant& out,
                const TSqlContext& ctx) {
    TNum x, y;
    if (!AsNumber(a, x)) {
        NoteNotANumber(a, ctx);
        out.SetNull();
        return;
    }
    if (!AsNumber(b, y)) {
        NoteNotANumber(b, ctx);
        out.SetNull();
        return;
    }
    // A date-time moved by a number of days stays a date-time.
    const bool date =
        (a.type() == VarType::Date || b.type() == VarType::Date) && (op == soAdd || op == soSub);
    switch (op) {
        case soAdd:
        case soSub:
        case soMul:
            if (x.exact && y.exact) {
                out.SetInteger(Exact(op, x.i, y.i));
            } else {
                const double p = static_cast<double>(x.exact ? x.i : x.d);
                const double q = static_cast<double>(y.exact ? y.i : y.d);
                out.SetDouble(op == soAdd ? p + q : op == soSub ? p - q : p * q);
            }
            break;
        case soDiv: {
            const double p = x.exact ? static_cast<double>(x.i) : x.d;
            const double q = y.exact ? static_cast<double>(y.i) : y.d;
            if (q == 0)
                throw EScriptError(p == 0 || std::isnan(p) ? kMsgInvalidFloatOp
                                                           : kMsgFloatDivisionByZero);
            out.SetDouble(p / q);
            break;
        }
        case soMod: {
            int64_t p = 0, q = 0;
            if (!SqlToInteger(a, p) || !SqlToInteger(b, q)) {
                NoteNotANumber(SqlToInteger(a, p) ? b : a, ctx);
                out.SetNull();
                return;
            }
            if (q == 0) throw EScriptError(kMsgDivisionByZero);
            out.SetInteger(q == -1 ? 0 : p % q);
            break;
        }
        default:
            out.SetNull();
            return;
    }
    if (date) {
        double d = 0;
        if (out.type() == VarType::Integer)
            d = static_cast<double>(out.RawInteger());
        else
            d = out.RawDouble();
        out.SetDate(d);
    }
}

void JoinTexts(const Variant& a, const Variant& b, Variant& out) {
    std::string s;
    a.AppendString(s);
    b.AppendString(s);
    if (s.size() > kMaxTextLength) throw EScriptError(kMsgTextTooLong);
    out.SetString(std::move(s));
}

// The text forms of two operands, without copies for texts.
struct TTexts {
    std::string bufA, bufB;
    std::string_view a, b;
    TTexts(const Variant& x, const Variant& y) {
        if (x.type() == VarType::String) {
            a = x.RawString();
        } else {
            x.AppendString(bufA);
            a = bufA;
        }
        if (y.type() == VarType::String) {
            b = y.RawString();
        } else {
            y.AppendString(bufB);
            b = bufB;
        }
    }
};

// Kind ranks of the total order.
int Rank(const Variant& v) {
    switch (v.type()) {
        case VarType::Empty:
        case VarType::Null:
            return 0;
        case VarType::Boolean:
            return 1;
        case VarType::Integer:
        case VarType::Double:
            return 2;
        case VarType::Date:
            return 3;
        case VarType::String:
            return 4;
    }
    return 5;
}

}  // namespace

bool IsBinarySqlOp(int32_t op) {
    return op >= soAdd && op <= soXor;
}

bool IsUnarySqlOp(int32_t op) {
    return (op >= soNeg && op <= soTruth) || (op >= soCastInteger && op <= soCastDate);
}

const char* SqlOpText(int32_t op) {
    switch (op) {
        case soAdd:
            return "+";
        case soSub:
            return "-";
        case soMul:
            return "*";
        case soDiv:
            return "/";
        case soMod:
            return "%";
        case soConcat:
            return "||";
        case soEq:
            return "=";
        case soNe:
            return "<>";
        case soLt:
            return "<";
        case soLe:
            return "<=";
        case soGt:
            return ">";
        case soGe:
            return ">=";
        case soIs:
            return "is not distinct from";
        case soIsNot:
            return "is distinct from";
        case soLike:
            return "like";
        case soILike:
            return "ilike";
        case soRegexp:
            return "regexp";
        case soAnd:
            return "and";
        case soOr:
            return "or";
        case soXor:
            return "xor";
        case soNeg:
            return "-";
        case soPlus:
            return "+";
        case soNot:
            return "not";
        case soIsNull:
            return "is null";
        case soIsNotNull:
            return "is not null";
        case soIsTrue:
            return "is true";
        case soIsNotTrue:
            return "is not true";
        case soIsFalse:
            return "is false";
        case soIsNotFalse:
            return "is not false";
        case soTruth:
            return "truth";
        case soCastInteger:
            return "cast as integer";
        case soCastReal:
            return "cast as real";
        case soCastText:
            return "cast as text";
        case soCastBoolean:
            return "cast as boolean";
        case soCastDate:
            return "cast as datetime";
        default:
            return "?";
    }
}

TSqlOrder SqlCompare(const Variant& a, const Variant& b, const TSqlContext& ctx) {
    if (SqlIsNull(a) || SqlIsNull(b)) return TSqlOrder::Unknown;
    const VarType ta = a.type(), tb = b.type();
    if (ta == VarType::String && tb == VarType::String)
        return OrderOf(CompareBytes(a.RawString(), b.RawString()));
    if (ta == VarType::Date || tb == VarType::Date) {
        const Variant& other = ta == VarType::Date ? b : a;
        TDateTime x = 0, y = 0;
        if (other.type() == VarType::String) {
            TDateTime d;
            if (!SqlToDate(other, ctx, d)) {
                ctx.Fault(FormatMsg(std::string(Msg(sqlmsg::NotADate)), Shown(other)));
                return TSqlOrder::Unknown;
            }
            x = ta == VarType::Date ? a.RawDouble() : d;
            y = tb == VarType::Date ? b.RawDouble() : d;
        } else {
            TNum n;
            if (!DirectNumber(other, n)) return TSqlOrder::Unknown;
            const double od = n.exact ? static_cast<double>(n.i) : n.d;
            x = ta == VarType::Date ? a.RawDouble() : od;
            y = tb == VarType::Date ? b.RawDouble() : od;
        }
        if (std::isnan(x) || std::isnan(y)) return TSqlOrder::Unknown;
        return OrderOf(CompareWide(x, y));
    }
    if ((ta == VarType::Boolean && tb == VarType::String) ||
        (ta == VarType::String && tb == VarType::Boolean)) {
        const Variant& text = ta == VarType::String ? a : b;
        bool t = false;
        if (!SqlToBoolean(text, t)) {
            ctx.Fault(FormatMsg(std::string(Msg(sqlmsg::NotABoolean)), Shown(text)));
            return TSqlOrder::Unknown;
        }
        const int x = ta == VarType::Boolean ? a.RawBoolean() : t;
        const int y = tb == VarType::Boolean ? b.RawBoolean() : t;
        return OrderOf(x - y);
    }
    TNum x, y;
    if (!AsNumber(a, x)) {
        NoteNotANumber(a, ctx);
        return TSqlOrder::Unknown;
    }
    if (!AsNumber(b, y)) {
        NoteNotANumber(b, ctx);
        return TSqlOrder::Unknown;
    }
    return CompareNums(x, y);
}

void SqlComparisonResult(int32_t op, TSqlOrder order, Variant& out) {
    if (order == TSqlOrder::Unknown) {
        out.SetNull();
        return;
    }
    const int c = static_cast<int>(order);
    bool r = false;
    switch (op) {
        case soEq:
            r = c == 0;
            break;
        case soNe:
            r = c != 0;
            break;
        case soLt:
            r = c < 0;
            break;
        case soLe:
            r = c <= 0;
            break;
        case soGt:
            r = c > 0;
            break;
        case soGe:
            r = c >= 0;
            break;
        default:
            break;
    }
    out.SetBoolean(r);
}

int SqlTruthOf(const Variant& v, const TSqlContext& ctx) {
    switch (v.type()) {
        case VarType::Empty:
        case VarType::Null:
            return -1;
        case VarType::Boolean:
            return v.RawBoolean() ? 1 : 0;
        case VarType::Integer:
            return v.RawInteger() != 0 ? 1 : 0;
        case VarType::Double:
        case VarType::Date:
            return std::isnan(v.RawDouble()) ? -1 : (v.RawDouble() != 0 ? 1 : 0);
        case VarType::String: {
            bool b = false;
            if (SqlToBoolean(v, b)) return b ? 1 : 0;
            ctx.Fault(FormatMsg(std::string(Msg(sqlmsg::NotABoolean)), Shown(v)));
            return -1;
        }
    }
    return -1;
}

void SqlBinary(int32_t op, const Variant& a, const Variant& b, Variant& out,
               const TSqlContext& ctx) {
    switch (op) {
        case soAnd: {
            const int x = SqlTruthOf(a, ctx), y = SqlTruthOf(b, ctx);
            SetTruth(out, x == 0 || y == 0 ? 0 : (x < 0 || y < 0 ? -1 : 1));
            return;
        }
        case soOr: {
            const int x = SqlTruthOf(a, ctx), y = SqlTruthOf(b, ctx);
            SetTruth(out, x == 1 || y == 1 ? 1 : (x < 0 || y < 0 ? -1 : 0));
            return;
        }
        case soXor: {
            const int x = SqlTruthOf(a, ctx), y = SqlTruthOf(b, ctx);
            SetTruth(out, x < 0 || y < 0 ? -1 : (x != y ? 1 : 0));
            return;
        }
        case soIs:
        case soIsNot: {
            bool same;
            if (SqlIsNull(a) || SqlIsNull(b)) {
                same = SqlIsNull(a) && SqlIsNull(b);
            } else {
                TSqlContext quiet{ctx.now, nullptr};
                same = SqlCompare(a, b, quiet) == TSqlOrder::Equal;
            }
            out.SetBoolean(op == soIs ? same : !same);
            return;
        }
        default:
            break;
    }
    if (SqlIsNull(a) || SqlIsNull(b)) {
        out.SetNull();
        return;
    }
    switch (op) {
        case soAdd:
            if (a.type() == VarType::String || b.type() == VarType::String) {
                JoinTexts(a, b, out);
                return;
            }
            Arithmetic(op, a, b, out, ctx);
            return;
        case soSub:
        case soMul:
        case soDiv:
        case soMod:
            Arithmetic(op, a, b, out, ctx);
            return;
        case soConcat:
            JoinTexts(a, b, out);
            return;
        case soEq:
        case soNe:
        case soLt:
        case soLe:
        case soGt:
        case soGe:
            SqlComparisonResult(op, SqlCompare(a, b, ctx), out);
            return;
        case soLike: {
            const TTexts t(a, b);
            out.SetBoolean(LikeMatch(t.a, t.b));
            return;
        }
        case soILike: {
            const TTexts t(a, b);
            out.SetBoolean(LikeMatch(LowerAsciiCopy(t.a), LowerAsciiCopy(t.b)));
            return;
        }
        case soRegexp: {
            const TTexts t(a, b);
            std::string error;
            const auto re = CachedRegexp(t.b, error);
            if (!re) {
                ctx.Fault(FormatMsg(kMsgRegexpInvalid, t.b) + error);
                out.SetNull();
                return;
            }
            out.SetBoolean(re->Search(t.a));
            return;
        }
        default:
            out.SetNull();
            return;
    }
}

void SqlUnary(int32_t op, const Variant& a, Variant& out, const TSqlContext& ctx) {
    switch (op) {
        case soIsNull:
            out.SetBoolean(SqlIsNull(a));
            return;
        case soIsNotNull:
            out.SetBoolean(!SqlIsNull(a));
            return;
        case soIsTrue:
        case soIsNotTrue:
        case soIsFalse:
        case soIsNotFalse: {
            const int t = SqlTruthOf(a, ctx);
            const bool r = op == soIsTrue      ? t == 1
                           : op == soIsNotTrue ? t != 1
                           : op == soIsFalse   ? t == 0
                                               : t != 0;
            out.SetBoolean(r);
            return;
        }
        case soNot: {
            const int t = SqlTruthOf(a, ctx);
            SetTruth(out, t < 0 ? -1 : 1 - t);
            return;
        }
        case soTruth:
            SetTruth(out, SqlTruthOf(a, ctx));
            return;
        default:
            break;
    }
    if (SqlIsNull(a)) {
        out.SetNull();
        return;
    }
    switch (op) {
        case soNeg:
        case soPlus: {
            TNum n;
            if (!AsNumber(a, n)) {
                NoteNotANumber(a, ctx);
                out.SetNull();
                return;
            }
            if (op == soPlus) {
                if (n.exact)
                    out.SetInteger(n.i);
                else if (a.type() == VarType::Date)
                    out.SetDate(n.d);
                else
                    out.SetDouble(n.d);
                return;
            }
            if (n.exact) {
                if (n.i == INT64_MIN) throw EScriptError(kMsgIntegerOverflow);
                out.SetInteger(-n.i);
            } else {
                out.SetDouble(-n.d);
            }
            return;
        }
        case soCastInteger: {
            int64_t i = 0;
            if (SqlToInteger(a, i)) {
                out.SetInteger(i);
                return;
            }
            ctx.Fault(FormatMsg2(Msg(sqlmsg::CannotConvert), Shown(a), "integer"));
            out.SetNull();
            return;
        }
        case soCastReal: {
            double d = 0;
            if (SqlToReal(a, d)) {
                out.SetDouble(d);
                return;
            }
            ctx.Fault(FormatMsg2(Msg(sqlmsg::CannotConvert), Shown(a), "real"));
            out.SetNull();
            return;
        }
        case soCastText: {
            std::string s;
            SqlToText(a, s);
            out.SetString(std::move(s));
            return;
        }
        case soCastBoolean: {
            bool b = false;
            if (SqlToBoolean(a, b)) {
                out.SetBoolean(b);
                return;
            }
            ctx.Fault(FormatMsg2(Msg(sqlmsg::CannotConvert), Shown(a), "boolean"));
            out.SetNull();
            return;
        }
        case soCastDate: {
            TDateTime d = 0;
            if (SqlToDate(a, ctx, d)) {
                out.SetDate(d);
                return;
            }
            ctx.Fault(FormatMsg(std::string(Msg(sqlmsg::NotADate)), Shown(a)));
            out.SetNull();
            return;
        }
        default:
            out.SetNull();
            return;
    }
}

int SqlOrderCompare(const Variant& a, const Variant& b) {
    const int ra = Rank(a), rb = Rank(b);
    if (ra != rb) return ra < rb ? -1 : 1;
    switch (ra) {
        case 0:
            return 0;
        case 1:
            return static_cast<int>(a.RawBoolean()) - static_cast<int>(b.RawBoolean());
        case 2: {
            TNum x, y;
            DirectNumber(a, x);
            DirectNumber(b, y);
            // NaN sorts before every other number, equal to itself.
            const bool na = !x.exact && std::isnan(x.d), nb = !y.exact && std::isnan(y.d);
            if (na || nb) return na == nb ? 0 : (na ? -1 : 1);
            return static_cast<int>(CompareNums(x, y));
        }
        case 3: {
            const double x = a.RawDouble(), y = b.RawDouble();
            return x < y ? -1 : (x > y ? 1 : 0);
        }
        case 4:
            return CompareBytes(a.RawString(), b.RawString());
        default:
            return 0;
    }
}

bool SqlSameValue(const Variant& a, const Variant& b) {
    return SqlOrderCompare(a, b) == 0;
}

}  // namespace corvane
