// SqlValue: the values of SQL expressions and the rules they follow.
//
// A statement's expressions run on the interpreter like script code, but
// their values obey SQL's rules rather than the script language's: a value
// is null, a boolean, a 64-bit integer, a real, a text or a date-time, and a
// value that cannot be produced for a row (a text that is no number, a file
// that cannot be read) is null rather than an error or an empty text. This
// unit holds what every part that computes such values shares:
//   - the static types the binder gives expressions (TSqlType), with the
//     engine's type names;
//   - the conversions between kinds as SQL sees them (SqlToInteger and its
//     siblings): a text converts to a number only when it is a number
//     literal, to a date-time when it is an ISO date (or the user's regional
//     form, or "now"), and a failed conversion reports false instead of
//     throwing;
//   - the per-statement record of why values became null (TSqlFaults), so
//     that rows dropped for an unknown condition can be reported once with
//     a count and the first reason, and TSqlContext, which hands it and the
//     statement's clock to whatever computes values.
// Empty (the kind of a value never set) counts as null everywhere in SQL.
//
// This unit does not compare values or apply operators (SqlOps), does not
// hold the SQL functions (SqlFunctions) and knows no statement structure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/DateTime.h"
#include "platform/MessageText.h"
#include "platform/Variant.h"

namespace corvane {

// The type an expression is known to have before it runs. Any: the kind
// depends on the row (a script built-in returning a variant, a column of
// type "any").
enum class TSqlType : uint8_t { Any, Null, Boolean, Integer, Real, Text, Date };

// The engine's type name of a static type ("boolean", "integer", "double",
// "string", "date"; "any" for Any and Null), as result fields carry them.
std::string_view SqlTypeName(TSqlType type);
// The static type of a field type name ("integer", "word", "byte" are
// integers, "float" and "double" reals, "string" and "char" texts...).
TSqlType SqlTypeOfName(std::string_view typeName);
// The kind of a value as a static type (Empty and Null give Null).
TSqlType SqlTypeOf(const Variant& v);

// Null or empty: the absent value of SQL.
inline bool SqlIsNull(const Variant& v) {
    return v.type() == VarType::Null || v.type() == VarType::Empty;
}

// Why values of a statement could not be produced. Whoever computes a value
// that must become null for a reason other than a null input notes the
// reason; the executor asks after each row whether one was noted
// (RowFaulted) and counts the rows it drops for an unknown condition while
// one was. Not thread-safe: one per statement run.
class TSqlFaults {
  public:
    void Note(std::string_view reason) {
        if (!rowFaulted_) rowReason_.assign(reason.substr(0, 400));
        rowFaulted_ = true;
    }
    void BeginRow() { rowFaulted_ = false; }
    bool RowFaulted() const { return rowFaulted_; }
    // The first reason noted since BeginRow.
    const std::string& RowReason() const { return rowReason_; }
    // A row left out for an unknown condition while a fault was noted: the
    // first such row's reason is the one reported.
    void CountDropped() {
        if (dropped_++ == 0) first_ = rowReason_;
    }
    int64_t Dropped() const { return dropped_; }
    const std::string& FirstReason() const { return first_; }
    void Clear() {
        rowFaulted_ = false;
        dropped_ = 0;
        first_.clear();
        rowReason_.clear();
    }

  private:
    bool rowFaulted_ = false;
    int64_t dropped_ = 0;
    std::string first_;
    std::string rowReason_;  // the first reason noted since BeginRow
};

// The fault record of the statement that runs on this thread, for the
// script built-ins (which get no context of their own): a content function
// that cannot read its file returns null and notes why here. The engine
// installs it for the run (Scope); null outside a statement.
TSqlFaults* CurrentSqlFaults();
void NoteSqlFault(std::string_view reason);
class TSqlFaultScope {
  public:
    explicit TSqlFaultScope(TSqlFaults* faults);
    ~TSqlFaultScope();
    TSqlFaultScope(const TSqlFaultScope&) = delete;
    TSqlFaultScope& operator=(const TSqlFaultScope&) = delete;

  private:
    TSqlFaults* previous_;
};

// What computing a value may need beyond its inputs.
struct TSqlContext {
    // The statement's start in local time: "now", now(), current_timestamp
    // and current_date all read it, so one statement sees one instant.
    TDateTime now = 0;
    TSqlFaults* faults = nullptr;  // borrowed; null: reasons are dropped

    // The value being computed becomes null because of reason.
    void Fault(std::string_view reason) const {
        if (faults) faults->Note(reason);
    }
};

// Reads a number literal: an optional sign, digits with at most one ".",
// an optional exponent; blanks around it are allowed, nothing else. A
// literal without "." or exponent that fits 64 bits is an integer, any
// other a real. False for anything else (also "", "1e", "0x10", "1,5").
bool ParseSqlNumber(std::string_view text, Variant& out);

// Conversions as SQL makes them. Each is false for null (and empty) and for
// a value that does not convert; out is then unspecified.
//   integer: an integer; a real or date-time rounded to the nearest
//            integer, ties to even (false outside 64 bits); a boolean 1 or
//            0; a text that is a number literal, converted so.
//   real:    a number; a date-time as its day count; a boolean 1 or 0; a
//            text that is a number literal.
//   boolean: a boolean; a number is true when not 0; a text "true",
//            "false" (any letter case) or a number literal.
//   date:    a date-time; a number as a day count; a text that is an ISO
//            date ("2024-01-31", "2024-01-31 12:00[:00[.000]]", also with
//            "T"), the word "now" (ctx.now), or a date in the user's
//            regional form.
bool SqlToInteger(const Variant& v, int64_t& out);
bool SqlToReal(const Variant& v, double& out);
bool SqlToBoolean(const Variant& v, bool& out);
bool SqlToDate(const Variant& v, const TSqlContext& ctx, TDateTime& out);
// The text form (as the script language writes values: integers in
// decimal, reals with 15 significant digits, booleans True/False,
// date-times in the regional form). Null and empty give "".
void SqlToText(const Variant& v, std::string& out);
std::string SqlText(const Variant& v);

// Reads an ISO date or date-time text only (no regional forms, no "now").
bool ParseIsoDateTime(std::string_view text, TDateTime& out);

}  // namespace corvane

// Why a value became null: the reasons a statement warning quotes ("%s" is
// the value, at most 60 bytes of it).
namespace corvane::sqlmsg {
inline constexpr TMessageText NotANumber{"“%s”不是数字", "“%s” is not a number"};
inline constexpr TMessageText NotABoolean{"“%s”不是布尔值", "“%s” is not a boolean"};
inline constexpr TMessageText NotADate{"“%s”不是有效的日期", "“%s” is not a valid date"};
// "%s" the value, then the type's name.
inline constexpr TMessageText CannotConvert{"无法把“%s”转换为%s", "cannot convert “%s” to %s"};
}  // namespace corvane::sqlmsg
