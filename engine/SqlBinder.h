// SqlBinder: gives a parsed statement its meaning in one engine.
//
// The statement parser (sqlScan_Base) leaves a TParsedStatement: trees of
// expressions and their places, nothing resolved. TStatementBinder is the
// pass over it that builds what evaluation runs, in this order:
//   1. tables: every FROM table text resolved through the engine's data
//      sources (all of them, each failure one message); nothing more is
//      bound when one fails;
//   2. the WHERE condition: its AND, OR and NOT taken apart into the
//      TBoolNode tree the planner splits per table, each relation's
//      operands compiled (SqlCompile) against the FROM clause;
//   3. grouping, when the statement groups (GROUP BY, or an aggregate call
//      in the select list, HAVING or ORDER BY): the GROUP BY items (an
//      expression, a select item's position or output name) compiled into
//      the select environment's group clause (evaluation/u_group);
//   4. the select list: table stars and stars expanded, items compiled, ORDER
//      BY items matched to select items (by position, output name or the
//      text as written) or appended, output names and type names given;
//   5. HAVING, when written: like WHERE, its operands bound to the group
//      clause, the select items' output names visible.
// In a grouped statement the select items, the HAVING operands and the
// ORDER BY items are compiled against the group clause: every aggregate
// call and every GROUP BY expression inside them becomes a reference to
// the group's slot (its argument compiled against the FROM clause), and a
// column that is neither grouped nor aggregated is a statement error.
//
// Every problem becomes one message in the engine's error list, with its
// place in the statement; the order of the messages is the order of these
// steps. The binder runs only after a parse without messages.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sql/SqlCompile.h"

namespace corvane {

class TVeskEngineCustomer;
class TROperandDef;
struct TParsedStatement;
class TBoolNode;
class TOrNodeList;
class TGroupClause;

class TStatementBinder {
  public:
    // Fills the clause objects of engine (which must be fresh) from
    // statement; both are borrowed for the binder's lifetime.
    TStatementBinder(TVeskEngineCustomer& engine, const TParsedStatement& statement);
    ~TStatementBinder();
    void Bind();

  private:
    enum class TLevel : unsigned char { Rows, Groups, Having };

    bool BindTables();
    void BindWhere();
    bool IsGrouped() const;
    void BindGroupBy();
    void BindSelectList();
    void BindOrderBy();
    void BindHaving();

    // Compiles e into op, at the level given; false after a message.
    bool BindOperand(const TSqlExpr& e, TROperandDef& op, TLevel level);
    // The condition e as a chain of nodes in group (one entry per OR
    // alternative); relations bound at the level given.
    bool BuildOr(const TSqlExpr& e, TOrNodeList& group, TLevel level);
    bool BuildChain(const TSqlExpr& e, TBoolNode& head, TLevel level);
    bool BuildTerm(const TSqlExpr& e, TBoolNode& node, bool negated, TLevel level);

    TLeafAnswer RowLeaf(const TSqlExpr& e, TLeafValue& out);
    TLeafAnswer GroupLeaf(const TSqlExpr& e, TLeafValue& out, bool having);
    // The select item a GROUP BY or ORDER BY item names by position or
    // output name; -1 when it names none.
    int NamedItem(const TSqlExpr& e) const;

    TVeskEngineCustomer& engine_;
    const TParsedStatement& statement_;
    TSqlCompiler compiler_;
    TLevel level_ = TLevel::Rows;
    const TSqlExpr* subject_ = nullptr;  // the expression being bound
    bool grouped_ = false;
    bool selectItem_ = false;          // binding a select item (ambiguity is checked)
    bool notGroupedReported_ = false;  // the current item's ungrouped column was named
    // The select items as parsed (null for the columns a star stands for).
    std::vector<const TSqlExpr*> itemNodes_;
    // Per GROUP BY key, the expression it was bound from.
    std::vector<const TSqlExpr*> keyNodes_;
    // Per aggregate of the group clause, the call it was made for.
    std::vector<const TSqlExpr*> aggregateNodes_;
};

}  // namespace corvane
