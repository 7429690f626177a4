// SqlOps: SQL's operators over values, shared by everything that computes
// or compares SQL values.
//
// A statement's expressions are compiled to the interpreter's code; the
// SQL opcodes (opSqlOp, opSqlUnary, opSqlJump, opSqlCall, see qv_consts)
// apply the functions of this unit. The WHERE relations that compare a
// column with a constant without running code, ORDER BY, DISTINCT and
// GROUP BY use the same comparison, so a condition means one thing
// whichever way it is evaluated.
//
// The rules (null is SQL's unknown; Empty counts as null):
//   - Every operator but IS, IS NOT, AND, OR and the IS tests gives null
//     for a null operand.
//   - AND, OR and NOT follow three-valued logic: false AND null is false,
//     true OR null is true, NOT null is null.
//   - Comparison: two numbers (integers and reals, booleans as 1 and 0)
//     by value, exactly (2 = 2.0, 2^53 + 1 > 2^53); texts byte by byte;
//     date-times by value. A date-time against a text reads the text as a
//     date (ISO, "now", the regional form); a number against a text reads
//     the text as a number literal; a boolean against a text reads "true",
//     "false" or a number. When that reading fails the comparison is null
//     and the reason is noted (TSqlContext::Fault), so a statement can say
//     why rows were left out.
//   - Arithmetic: + - * on two integers is exact in 64 bits, and a result
//     beyond is the overflow error (never a wrapped value); any real makes
//     it real arithmetic; "/" and DIV always divide as reals, as the script
//     language does; % and MOD give the integer remainder (sign of the
//     dividend). Division by zero is the interpreter's error. A text
//     operand of - * / % converts as a number literal, else the result is
//     null with a noted reason. "+" with a text operand joins the texts, as
//     the script language's "+" does; "||" always joins, numbers as their
//     text. A date-time plus or minus a number moves by that many days.
//   - LIKE is the byte-wise, case-sensitive match of ULike; ILIKE the same
//     with ASCII letters folded; REGEXP a RE2 search (patterns cached).
//
// SqlOrderCompare is the total order of ORDER BY: null first, then
// booleans, numbers, date-times and texts, each kind in its own order, so
// that a column holding several kinds sorts without failing.
//
// This unit does not parse or compile (the SQL side does) and holds no
// state between calls but the regular expression cache.
#pragma once

#include <cstdint>

#include "platform/Variant.h"
#include "script/runtime/SqlValue.h"

namespace corvane {

// The operators, as the immediate of opSqlOp (binary) and opSqlUnary.
enum TSqlOp : int32_t {
    soNone = 0,
    // binary
    soAdd = 1,
    soSub = 2,
    soMul = 3,
    soDiv = 4,
    soMod = 5,
    soConcat = 6,
    soEq = 7,
    soNe = 8,
    soLt = 9,
    soLe = 10,
    soGt = 11,
    soGe = 12,
    soIs = 13,     // IS NOT DISTINCT FROM: nulls equal each other
    soIsNot = 14,  // IS DISTINCT FROM
    soLike = 15,
    soILike = 16,
    soRegexp = 17,
    soAnd = 18,
    soOr = 19,
    soXor = 20,
    // unary
    soNeg = 40,
    soPlus = 41,
    soNot = 42,
    soIsNull = 43,
    soIsNotNull = 44,
    soIsTrue = 45,
    soIsNotTrue = 46,
    soIsFalse = 47,
    soIsNotFalse = 48,
    soTruth = 49,  // a value as a condition: a boolean, or a number not 0
    soCastInteger = 60,
    soCastReal = 61,
    soCastText = 62,
    soCastBoolean = 63,
    soCastDate = 64
};

bool IsBinarySqlOp(int32_t op);
bool IsUnarySqlOp(int32_t op);
// The operator as written ("+", "<=", "like", "is not"...), for messages.
const char* SqlOpText(int32_t op);

// The outcome of a comparison: less, equal, greater, or unknown (null).
enum class TSqlOrder : int8_t { Less = -1, Equal = 0, Greater = 1, Unknown = 2 };

// The comparison of the six comparison operators (see the rules above).
TSqlOrder SqlCompare(const Variant& a, const Variant& b, const TSqlContext& ctx);
// Applies a comparison operator (soEq..soGe) to a comparison's outcome:
// a boolean Variant, or null for Unknown.
void SqlComparisonResult(int32_t op, TSqlOrder order, Variant& out);

// out := a op b. Throws the interpreter's errors (EScriptError) for integer
// overflow and division by zero, and for a regular expression RE2 refuses.
void SqlBinary(int32_t op, const Variant& a, const Variant& b, Variant& out,
               const TSqlContext& ctx);
// out := op a (negation, NOT, the IS tests, truth, casts).
void SqlUnary(int32_t op, const Variant& a, Variant& out, const TSqlContext& ctx);

// The truth of a condition's value: 1 true, 0 false, -1 unknown (null, or a
// value that is no truth value: a text that is neither a boolean word nor
// a number, which is also noted as a fault).
int SqlTruthOf(const Variant& v, const TSqlContext& ctx);

// The order of ORDER BY over any two values: -1, 0, 1 (see above).
int SqlOrderCompare(const Variant& a, const Variant& b);
// Whether two values are the same for DISTINCT, GROUP BY and IN: nulls are
// equal, numbers by value (0 = 0.0), anything else by kind and value.
bool SqlSameValue(const Variant& a, const Variant& b);

}  // namespace corvane
