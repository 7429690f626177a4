// SqlStatement: a SELECT statement as the parser read it, before binding.
//
// TParsedStatement is plain data: the FROM entries, the select items, the
// WHERE and HAVING conditions, the GROUP BY and ORDER BY items, TOP, LIMIT
// and OFFSET, and the messages the parser collected. Every expression is a
// tree of TSqlExpr nodes. It refers to no engine, no data source and no
// row: the statement parser (sqlScan_Base) fills it, and the binder
// (SqlBinder) reads it to build what the evaluation runs (tables, bound
// operands compiled for the interpreter, the TBoolNode tree, the select
// list, grouping, ORDER BY). Keeping the two apart means a construct is
// added in three plain steps: a node or field here, its grammar in the
// parser, its meaning in the binder.
//
// Contrast a TSqlExpr with an operand (UveskBase's TROperandDef): a node
// says what was written, with its place; an operand is bound to a value
// source and evaluates against the current row.
//
// Places: every node carries the statement offsets it spans (1-based bytes
// of the text the host gave to SetSQL), so that a message about it can
// point there and the text as written can be cut out of Source().
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Variant.h"
#include "script/runtime/SqlOps.h"
#include "script/runtime/SqlValue.h"
#include "sql/ErrorMng.h"

namespace corvane {

// Relation operator codes of the WHERE logic tree (evaluation/URelx_Logic).
enum TRelOp : uint8_t {
    roEqual = 0,
    roNotEqual = 1,
    roGreater = 2,
    roGreaterEqual = 3,
    roLess = 4,
    roLessEqual = 5,
    roBetween = 6,
    roIn = 7,
    roLike = 8,
    roNone = 9,        // not a relation
    roRegexp = 10,     // left text against the right operand as a regular expression
    roNotRegexp = 11,  // its complement ("not regexp")
    roTruth = 12,      // the left operand alone, as a condition
    roIsNull = 13,     // the left operand is null
    roILike = 14,      // LIKE with ASCII letters folded
    roIs = 15,         // IS NOT DISTINCT FROM
    roIsNot = 16       // IS DISTINCT FROM
};
// The code of "=", "<>", ">", ">=", "<", "<="; roNone for anything else.
TRelOp RelOpOfText(std::string_view text);

// What a select item is before binding: "*", "t.*" or anything else.
enum TStarKind : uint8_t { skStar = 0, skTableStar = 1, skPlain = 2 };

enum class TExprKind : uint8_t {
    Literal,  // value: integer, real, text, boolean, date-time or null
    Param,    // name: the parameter ":name" refers to
    Column,   // name [qualifier "." name]; quoted: the name was in double quotes
    Star,     // "*" as the argument of count
    Unary,    // op soNeg, soPlus, soNot; args[0]
    Binary,   // op: arithmetic, "||", comparison, like, ilike, regexp, is, xor; args[0..1]
    And,      // args: two or more conditions
    Or,       // args: two or more conditions
    IsTest,   // op soIsNull, soIsTrue...; args[0]
    Between,  // args[0] between args[1] and args[2]
    In,       // args[0] in (args[1..])
    Case,     // [operand] (when then)... [else]: see hasOperand, hasElse
    Cast,     // args[0] as castType
    Call,     // name(args); distinct, star (count(*))
    Interval  // value: the interval's text ('7 days'), for x +/- interval
};

struct TSqlExpr {
    TSqlExpr() = default;
    TSqlExpr(const TSqlExpr&) = delete;
    TSqlExpr& operator=(const TSqlExpr&) = delete;

    TExprKind kind = TExprKind::Literal;
    int32_t op = soNone;      // TSqlOp
    bool negated = false;     // NOT BETWEEN, NOT IN, NOT LIKE, NOT ILIKE, NOT REGEXP
    bool quoted = false;      // Column: written in double quotes
    bool distinct = false;    // Call: count(distinct x)
    bool star = false;        // Call: count(*)
    bool hasOperand = false;  // Case: CASE x WHEN ...
    bool hasElse = false;     // Case: ELSE given
    TSqlType castType = TSqlType::Any;
    int pos = 0;     // statement offset of the first byte
    int end = 0;     // statement offset just after the last byte
    int height = 1;  // nodes on the longest path down (the parser bounds it)
    Variant value;
    std::string name;       // Column, Call, Param: as written
    std::string qualifier;  // Column: the table name or alias before ".", as written
    std::vector<std::unique_ptr<TSqlExpr>> args;
};

using TSqlExprPtr = std::unique_ptr<TSqlExpr>;

// table -> table-text [["as"] alias]
struct TParsedTable {
    std::string itemText;    // the FROM entry as written
    std::string tableText;   // what names the table (quotes kept, '' read as ')
    std::string alias;       // the alias, or the table text as written when none
    bool bracketed = false;  // "(...)": a sub-query, refused
    int textPos = 0;
};

// item -> "*" | name "." "*" | expression [["as"] output-name]
struct TParsedSelectItem {
    TSqlExprPtr expr;  // null for the stars
    TStarKind starKind = skPlain;
    std::string text;        // the item as written, without its output name
    std::string outputName;  // as written, without quotes; empty when none
    int textPos = 0;
};

// order -> expression ["asc" | "desc" | "descending"...] ["nulls" ("first" | "last")]
struct TParsedOrderItem {
    TSqlExprPtr expr;
    std::string text;  // the expression as written
    bool descending = false;
    int textPos = 0;
};

struct TParsedStatement {
    std::string source;  // the statement as given (offsets point into it)

    int64_t topCount = 0;  // 0 when TOP is absent
    bool topSeen = false;  // TOP was written (TOP 0 asks for no row)
    bool distinct = false;
    // LIMIT n [OFFSET m]: limit -1 when absent (LIMIT 0 asks for no row).
    int64_t limit = -1;
    int64_t offset = 0;
    bool hasFrom = false;
    std::vector<TParsedTable> from;
    std::vector<TParsedSelectItem> items;
    TSqlExprPtr where;  // null without WHERE
    std::vector<TSqlExprPtr> groupBy;
    TSqlExprPtr having;  // null without HAVING
    std::vector<TParsedOrderItem> orderBy;

    // What the parser found wrong, in the order found.
    TmyErrorMng messages;

    // The text a node spans, as written.
    std::string TextOf(const TSqlExpr& e) const;
};

}  // namespace corvane
