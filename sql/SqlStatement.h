// SqlStatement: a SELECT statement as the parser read it, before binding.
//
// TParsedStatement is plain data: the clause texts as cut, the FROM entries,
// the select items, the WHERE condition as a tree, the ORDER BY items, and
// the messages the parser collected. It refers to no engine, no data source
// and no value: the statement parser (sqlScan_Base) fills it, and the binder
// (SqlBinder) reads it to build the clause objects the evaluation runs
// (tables, bound operands, the TBoolNode tree, the select list, ORDER BY).
// Keeping the two apart means a construct is added in three plain steps: a
// field here, its grammar in the parser, its meaning in the binder.
//
// Contrast TParsedCondition with TBoolNode (evaluation/URelx_Logic): both
// have the same shape (an OR group of AND chains, each node a relation, a
// bracketed group or a true/false keyword, possibly negated), but a parsed
// node holds only texts and their places, while a TBoolNode holds bound
// operands that evaluate against row buffers.
//
// Places: every text carries where it stands in the statement as the host
// gave it to SetSQL (1-based byte offsets, 0 when not known), so that a
// message about it can point there.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sql/ErrorMng.h"

namespace corvane {

// Relation operator codes.
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
    roNone = 9,       // not a relation
    roRegexp = 10,    // left text against the right operand as a regular expression
    roNotRegexp = 11  // its complement ("not regexp")
};
// The code of "=", "<>", ">", ">=", "<", "<="; roNone for anything else.
TRelOp RelOpOfText(std::string_view text);

// What a select item is before binding: "*", "t.*" or anything else.
enum TStarKind : uint8_t { skStar = 0, skTableStar = 1, skPlain = 2 };

// A piece of statement text that becomes an operand.
struct TParsedOperand {
    std::string text;
    // The statement offset of text's first byte; or, when the parser joined
    // the text from pieces (blanks dropped), textMap holds the offset of
    // every byte. 0 and empty when not known.
    int textPos = 0;
    std::vector<int> textMap;
};

// relation -> operand op operand [ "and" operand ]
struct TParsedRelation {
    TRelOp op = roNone;
    TParsedOperand left;
    TParsedOperand right;                   // for IN the list as written
    std::unique_ptr<TParsedOperand> upper;  // BETWEEN's upper bound, else null
    std::string text;                       // the relation as written
};

struct TParsedCondition;
// An OR group: each entry is the head of one AND chain.
using TParsedOrGroup = std::vector<std::unique_ptr<TParsedCondition>>;

// One node of a parsed condition: exactly one term (a relation, a bracketed
// OR group or a true/false keyword), possibly negated, and the next node of
// its AND chain.
struct TParsedCondition {
    TParsedCondition() = default;
    ~TParsedCondition();  // releases the chain iteratively: chains may be long
    TParsedCondition(const TParsedCondition&) = delete;
    TParsedCondition& operator=(const TParsedCondition&) = delete;

    TParsedCondition* Last();

    std::unique_ptr<TParsedRelation> relation;
    std::unique_ptr<TParsedOrGroup> group;
    bool negated = false;
    bool isLiteral = false;  // the term is a true/false keyword
    bool literal = false;    // its value
    std::unique_ptr<TParsedCondition> next;
};

// table -> table-text [["as"] alias]
struct TParsedTable {
    std::string itemText;    // the FROM entry as cut, untrimmed
    std::string tableText;   // what names the table
    std::string alias;       // the alias, or the table text when none
    bool bracketed = false;  // "(...)": a sub-query, refused
    int textPos = 0;
};

// item -> operand [["as"] output-name]
struct TParsedSelectItem {
    std::string text;
    std::string outputName;  // empty when none was written
    TStarKind starKind = skPlain;
    int textPos = 0;
};

// order -> name ["asc" | "desc" | "descending"]
struct TParsedOrderItem {
    std::string name;
    bool descending = false;
    int textPos = 0;
};

struct TParsedStatement {
    // The clause texts as cut, trimmed, each with its keyword ("from t",
    // "where x = 1", "order by c", "limit 5 offset 2"); empty when the
    // clause is absent.
    std::string selectPart, fromPart, wherePart, orderPart, groupPart, havingPart, limitPart;

    int64_t topCount = 0;  // 0 when TOP is absent
    bool distinct = false;
    // LIMIT n [OFFSET m]: limit -1 when absent (LIMIT 0 asks for no row).
    int64_t limit = -1;
    int64_t offset = 0;
    std::vector<TParsedTable> from;
    std::vector<TParsedSelectItem> items;
    // The WHERE condition: the root's group holds the top-level
    // alternatives. Null without a WHERE part; without a group when the
    // part was empty.
    std::unique_ptr<TParsedCondition> where;
    std::vector<TParsedOrderItem> orderBy;
    // The GROUP BY items as written, in order.
    std::vector<TParsedOperand> groupBy;
    // The HAVING condition, shaped like the WHERE condition; null without a
    // HAVING part.
    std::unique_ptr<TParsedCondition> having;

    // What the parser found wrong, in the order found.
    TmyErrorMng messages;
};

}  // namespace corvane
