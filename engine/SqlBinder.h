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
//   3. the WHERE tree: every operand bound to the FROM clause, the tree
//      normalised and taken apart into the where object;
//   4. the select list: table stars and stars expanded, ORDER BY names that
//      are no select item appended, every item bound, ambiguous names placed,
//      output names and type names given.
// Every problem becomes one message in the engine's error list, with its
// place in the statement; the order of the messages is the order of these
// steps. The binder runs only after a parse without messages.
//
// Adding a clause means a field in the parsed statement, its grammar in the
// parser and a step here (for example grouping between 3 and 4, with its own
// clause objects in evaluation/).
#pragma once

#include <vector>

namespace corvane {

class TVeskEngineCustomer;
class TROperandDef;
struct TParsedCondition;
struct TParsedStatement;
class TBoolNode;

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
    void BindSelectList();
    void BindOperand(TROperandDef& op, bool inList, bool reportAll);

    TVeskEngineCustomer& engine_;
    const TParsedStatement& statement_;
    // Per ORDER BY item kept, its place in the statement.
    std::vector<int> orderPos_;
};

// Builds node (and its AND chain) from a parsed condition: the same shape,
// operands carrying only their texts and places. Groups are built
// recursively; the parser bounds their depth.
void BuildConditionTree(const TParsedCondition& parsed, TBoolNode& node);

}  // namespace corvane
