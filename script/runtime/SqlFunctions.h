// SqlFunctions: the scalar functions SQL statements call by their SQL names.
//
// Statements may call two kinds of functions: the script language's
// built-ins (iff, copy, pos, yearof, the regular expression and file
// content functions: u_base_funcs), which keep their names and meanings,
// and the functions users of other SQL tools expect (lower, substr,
// coalesce, round, date, strftime...), which are this table. A name that is
// in both (length, trim, abs, now, date) means the function of this table
// inside SQL: it follows SQL's rules for null and for its arguments, and it
// accepts the script built-in's calls with the same meaning.
//
// Every function takes its arguments as values and returns one value. A
// strict function is not called when an argument is null: the result is
// null. A function that cannot produce a value for its arguments (a text
// where a number is needed, an unknown date modifier) returns null and says
// why through TSqlContext::Fault; it never throws for bad data. What a
// function builds (texts) is bounded by kMaxTextLength; a longer result is
// null with a fault.
//
// Dates: a date-time is a value counting days since 30 December 1899 in
// local time (platform/DateTime). date, time, datetime and strftime take
// a value and then modifiers in SQLite's style ('+7 days', '-1 month',
// 'start of month', 'weekday 0', 'localtime', 'utc' ...); 'now' and
// now() are the statement's start (TSqlContext::now).
//
// This unit does not compile calls (the SQL expression compiler looks names
// up here first and then among the script built-ins) and does not hold the
// aggregates (count, sum, min, max, avg belong to grouping).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/Variant.h"
#include "script/runtime/SqlValue.h"

namespace corvane {

// An implementation: args[0..argc) the argument values, out the result
// (arrives as Empty).
using TSqlFuncImpl = void (*)(const Variant* args, int argc, Variant& out, const TSqlContext& ctx);

struct TSqlFunction {
    std::string_view name;  // lower case
    int minArgs = 0;
    int maxArgs = 0;     // -1: any number
    bool strict = true;  // a null argument gives null without a call
    TSqlType result = TSqlType::Any;
    TSqlFuncImpl impl = nullptr;
    std::string_view synopsis;  // "substr(x, start [, n])", for the manual and the editor
    std::string_view example;   // "substr('report.txt', -3) = 'txt'"
};

// The function with this name (lower case), or null.
const TSqlFunction* FindSqlFunction(std::string_view lowerName);
// Every function, in a fixed order (the manual lists them so).
const std::vector<TSqlFunction>& SqlFunctionTable();

// Applies one date modifier to dt; false when the modifier is not known, the
// result leaves years 1..9999 or the C library cannot tell the UTC offset
// that 'utc' needs (dt is then unspecified). It notes no fault: the function
// that applies it names itself in the reason. 'localtime' reads dt as a UTC
// time and 'utc' as a local one, as SQLite reads its values, whenever they
// are written.
bool ApplyDateModifier(std::string_view modifier, const TSqlContext& ctx, TDateTime& dt);

}  // namespace corvane
