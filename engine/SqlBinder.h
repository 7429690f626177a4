// SqlBinder: gives a parsed statement its meaning in one engine.
//
// The statement parser (sqlScan_Base) leaves a TParsedStatement: texts and
// their places, nothing resolved. TStatementBinder is the pass over it that
// builds what evaluation runs, in this order:
//   1. the clause objects: FROM tables, select items, the WHERE tree of
//      TBoolNode and the ORDER BY items (a repeated ORDER BY name is
//      dropped here);
//   2. tables: every FROM table text resolved through the engine's data
//      sources (all of them, each failure one message); nothing more is
//      bound when one fails;
//   3. the WHERE tree: every operand bound to the FROM clause, the
//      constant pattern of every regexp compiled, the tree normalised and
//      taken apart into the where object;
//   4. grouping, when the statement groups (GROUP BY, or an aggregate call
//      in the select list, HAVING or ORDER BY): the GROUP BY items bound to
//      the FROM clause (a name that is no column but a select item's output
//      name stands for that item's text), in the select environment's
//      group clause (evaluation/u_group);
//   5. the select list: table stars and stars expanded, ORDER BY names that
//      are no select item appended, every item bound, ambiguous names placed,
//      output names and type names given;
//   6. HAVING, when written: its tree, every operand bound like a select
//      item, output names of the select list visible.
// In a grouped statement the select items and the HAVING operands are
// bound to the group clause, after their aggregate calls (and the GROUP BY
// expressions they contain) are cut out and replaced by the group clause's
// slot names; each aggregate's argument is bound to the FROM clause.
// Every problem becomes one message in the engine's error list, with its
// place in the statement; the order of the messages is the order of these
// steps. The binder runs only after a parse without messages.
//
// Adding a clause means a field in the parsed statement, its grammar in the
// parser and a step here, with its own clause objects in evaluation/.
#pragma once

#include <string>
#include <vector>

namespace corvane {

class TVeskEngineCustomer;
class TROperandDef;
struct TParsedCondition;
struct TParsedStatement;
class TBoolNode;
class TRelaSimpleExpr;

class TStatementBinder {
  public:
    // Fills the clause objects of engine (which must be fresh) from
    // statement; both are borrowed for the binder's lifetime.
    TStatementBinder(TVeskEngineCustomer& engine, const TParsedStatement& statement)
        : engine_(engine), statement_(statement) {}
    void Bind();

  private:
    void BuildClauses();
    bool BindTables();
    void BindWhere();
    bool IsGrouped() const;
    void BindGroupBy();
    void BindSelectList();
    void BindHaving();
    void BindOperand(TROperandDef& op, bool inList, bool reportAll);
    void PrepareRegexp(TRelaSimpleExpr& r);
    // An operand of the group level (select item, HAVING operand): its
    // aggregate calls and GROUP BY expressions are replaced by slot names,
    // then it is bound to the group clause (set as its source).
    void BindGroupOperand(TROperandDef& op, bool reportAll);
    // Replaces every aggregate call in text (op's text, trimmed) by its slot
    // name; false after reporting a call that cannot be made.
    bool CutAggregates(const TROperandDef& op, std::string& text);
    // Replaces every GROUP BY expression in text by its slot name.
    void CutKeyExpressions(std::string& text);

    TVeskEngineCustomer& engine_;
    const TParsedStatement& statement_;
    // Per ORDER BY item kept, its place in the statement.
    std::vector<int> orderPos_;
    bool grouped_ = false;
    // The GROUP BY items that are expressions: their text in canonical form
    // and their key index.
    std::vector<std::pair<std::string, int>> keyExpressions_;
};

// Builds node (and its AND chain) from a parsed condition: the same shape,
// operands carrying only their texts and places. Groups are built
// recursively; the parser bounds their depth.
void BuildConditionTree(const TParsedCondition& parsed, TBoolNode& node);

}  // namespace corvane
