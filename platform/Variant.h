// Variant: the one value type shared by the engine, the data sources and the
// script runtime.
//
// A Variant is empty, null, a 64-bit integer, a double, a date-time (a double
// counting days since 30 December 1899, see DateTime), a boolean or a string.
// Integers are 64 bits wide so that file sizes and size arithmetic stay
// exact; there is no separate narrow integer kind.
//
// Conversions follow fixed rules:
//   to integer   a double or date-time rounds to the nearest integer, ties
//                to even; outside the 64-bit range it is an error. A text is
//                read as a whole number, else as a decimal number (rounded),
//                else as True/False. Empty is 0, true is 1.
//   to double    a text is read as a decimal number with the regional
//                decimal separator; true is 1; empty is 0.
//   to date-time a text is read as a date, a date and time, or a time of
//                day (DateTime); numbers are taken as day counts.
//   to boolean   a number is true exactly when it is not 0; a text is
//                "true"/"false" in any letter case or a number.
//   to text      an integer in decimal; a double in general format with 15
//                significant digits; a date-time as short date plus long
//                time (the time left out at midnight); a boolean as "True"
//                or "False"; empty and null as the empty text.
// A conversion that fails throws VariantError, and null converts to nothing
// but text. The Try* forms report failure instead of throwing and never
// allocate, since the engine converts once per row.
//
// Setters reuse the string storage of the object they are called on, so a
// Variant that serves as a per-row buffer stops allocating once its text
// capacity is large enough. The ordering comparison of values lives with the
// WHERE logic, not here.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/FormatSettings.h"

namespace corvane {

enum class VarType : uint8_t { Empty, Null, Integer, Double, Date, Boolean, String };

// A failed conversion; its text names the two kinds involved.
class VariantError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Variant {
public:
    Variant() noexcept : type_(VarType::Empty), i_(0) {}
    Variant(int v) noexcept : type_(VarType::Integer), i_(v) {}
    Variant(int64_t v) noexcept : type_(VarType::Integer), i_(v) {}
    Variant(double v) noexcept : type_(VarType::Double), d_(v) {}
    Variant(bool v) noexcept : type_(VarType::Boolean), b_(v) {}
    Variant(std::string v) noexcept : type_(VarType::String), i_(0), s_(std::move(v)) {}
    Variant(std::string_view v) : type_(VarType::String), i_(0), s_(v) {}
    Variant(const char* v) : type_(VarType::String), i_(0), s_(v) {}

    static Variant Null() noexcept {
        Variant v;
        v.type_ = VarType::Null;
        return v;
    }
    static Variant FromDate(double dt) noexcept {
        Variant v(dt);
        v.type_ = VarType::Date;
        return v;
    }

    VarType type() const noexcept { return type_; }
    bool IsEmpty() const noexcept { return type_ == VarType::Empty; }
    bool IsNull() const noexcept { return type_ == VarType::Null; }
    bool IsNumeric() const noexcept {
        return type_ == VarType::Integer || type_ == VarType::Double;
    }
    // The kind's name as conversion messages show it ("Integer", "String"...).
    const char* TypeName() const noexcept { return TypeName(type_); }
    static const char* TypeName(VarType t) noexcept;

    // Raw access: valid only for the matching kind.
    int64_t RawInteger() const noexcept { return i_; }
    double RawDouble() const noexcept { return d_; }  // Double and Date
    bool RawBoolean() const noexcept { return b_; }
    // A date-time that is the second pass through a repeated local hour.
    // Only text forms with a UTC offset use it; comparisons and the local
    // text ignore it.
    bool RepeatedLater() const noexcept { return type_ == VarType::Date && later_; }
    const std::string& RawString() const noexcept { return s_; }

    // Setters; the text storage is kept for reuse.
    void Clear() noexcept { type_ = VarType::Empty; i_ = 0; s_.clear(); }
    void SetNull() noexcept { type_ = VarType::Null; i_ = 0; s_.clear(); }
    void SetInteger(int64_t v) noexcept { type_ = VarType::Integer; i_ = v; s_.clear(); }
    void SetDouble(double v) noexcept { type_ = VarType::Double; d_ = v; s_.clear(); }
    void SetDate(double v) noexcept {
        type_ = VarType::Date;
        d_ = v;
        later_ = false;
        s_.clear();
    }
    // A date-time with its IsRepeatedLater bit (DateTime): which of two
    // instants a local time that shows twice stands for.
    void SetDate(double v, bool repeatedLater) noexcept {
        SetDate(v);
        later_ = repeatedLater;
    }
    void SetBoolean(bool v) noexcept { type_ = VarType::Boolean; b_ = v; s_.clear(); }
    void SetString(std::string_view v) { type_ = VarType::String; i_ = 0; s_.assign(v); }
    void SetString(std::string&& v) noexcept { type_ = VarType::String; i_ = 0; s_ = std::move(v); }
    void SetString(const std::string& v) { SetString(std::string_view(v)); }
    void SetString(const char* v) { SetString(std::string_view(v)); }
    // Copies another value, reusing this object's text storage.
    void Assign(const Variant& other);

    // Conversions; they throw VariantError when the value does not convert.
    int64_t AsInteger() const;
    double AsDouble() const;
    double AsDate() const;
    bool AsBoolean() const;
    std::string AsString() const;
    // Appends the text form to out (no temporary string).
    void AppendString(std::string& out) const;

    // Non-throwing conversions: false when the value does not convert.
    bool TryAsInteger(int64_t& out) const noexcept;
    bool TryAsDouble(double& out) const noexcept;
    bool TryAsDate(double& out) const noexcept;
    bool TryAsBoolean(bool& out) const noexcept;

    // Same kind and same value (texts byte for byte); no conversion.
    bool SameAs(const Variant& other) const noexcept;

private:
    [[noreturn]] void ThrowCast(VarType to) const;

    VarType type_;
    bool later_ = false;  // RepeatedLater, for a date-time (fits the padding)
    union {
        int64_t i_;
        double d_;
        bool b_;
    };
    std::string s_;
};

// Text and number helpers shared by the conversions and their callers.

// Reads a whole number (optional sign, decimal digits, or "$"/"0x" hex);
// blanks around it are allowed. False on anything else or on overflow.
bool TryParseInteger(std::string_view text, int64_t& out) noexcept;
// Reads a decimal number with the given decimal separator (optional sign,
// digits, fraction, exponent); blanks around it are allowed.
bool TryParseDouble(std::string_view text, char decimalSeparator, double& out) noexcept;
// Rounds to the nearest integer, ties to even; false when out of range.
bool TryRoundToInteger(double v, int64_t& out) noexcept;
// A double in general format with the given number of significant digits:
// fixed notation while the exponent allows, else "1.5E20" style; trailing
// zeros dropped.
void AppendGeneralFloat(std::string& out, double v, int precision, char decimalSeparator);
std::string FloatToText(double v, const FormatSettings& fs = FormatSettings::Current());
void AppendInteger(std::string& out, int64_t v);

}  // namespace corvane
