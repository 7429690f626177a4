// SqlCompile: SQL expressions compiled to the interpreter's code.
//
// Every expression of a statement, wherever it stands (a select item, a
// WHERE relation's operand, a GROUP BY key, an aggregate's argument, an
// ORDER BY key), is compiled here once, when the statement is bound, and
// run per row: one evaluator for all of them. TSqlCompiler walks a parsed
// expression (SqlStatement's TSqlExpr) and emits the SQL instructions of
// the interpreter (opSqlOp, opSqlUnary, opSqlJump, opSqlCall; their
// meaning is SqlOps and SqlFunctions) into one function, run by one
// activation (CodeMng) that TSqlProgram keeps between rows.
//
// Values reach the code three ways: a literal is a constant slot written
// once, never text pasted into source; a column (or anything the binder
// stands in for: a group key, an aggregate's result) is an input slot the
// program copies from its value source before each run; everything else
// is computed into temporaries. An expression that is a single literal or
// a single input is no program at all (TCompiledExpr says which), and
// operators over constants are folded while compiling, unless folding
// would fail (the failure then happens per row, where it is reported).
//
// AND and OR stop as soon as their value is decided, CASE evaluates only
// the branch it takes, and IN stops at the first match, so a costly or
// failing operand runs only where SQL would evaluate it.
//
// Names: the binder answers for each node first (TLeafResolver): columns,
// and in a grouped statement the aggregate calls and GROUP BY expressions.
// What it leaves is compiled here: calls of SQL functions (SqlFunctions),
// then of script built-ins by their names (iff, copy, yearof...); the bare
// words now, current_date, current_timestamp, current_time and date; a
// double-quoted name that is no column is a text, as in SQLite. Faults
// (unknown names and functions, a wrong number of arguments, an aggregate
// where none may stand) are statement messages, each with its place.
//
// This unit does not resolve column names itself (the binder does, through
// the FROM clause or the group clause) and does not decide where an
// expression is used.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Variant.h"
#include "script/runtime/SqlValue.h"
#include "sql/ErrorMng.h"
#include "sql/SqlStatement.h"
#include "sql/UveskBase.h"

namespace corvane {

class TASMCodeEngine;
class TFuncDefList;

// A compiled expression, run per row.
class TSqlProgram {
  public:
    // funcs: the initialization and the expression's function (1); the
    // inputs are copied into inputSlots, the constants written once.
    TSqlProgram(std::unique_ptr<TFuncDefList> funcs, std::vector<TOperandRef> inputs,
                std::vector<int> inputSlots, std::vector<std::pair<int, Variant>> constants);
    ~TSqlProgram();
    TSqlProgram(const TSqlProgram&) = delete;
    TSqlProgram& operator=(const TSqlProgram&) = delete;

    // Copies the inputs in from source and runs; the result stays valid
    // until the next run. Throws the interpreter's errors (overflow,
    // division by zero, a cancelled query).
    const Variant& Evaluate(IGVarMng& source);
    // The references the program reads.
    const std::vector<TOperandRef>& Inputs() const { return inputs_; }
    // The code, one instruction per line (for tests and --dump).
    std::string Disassemble() const;

  private:
    std::unique_ptr<TFuncDefList> funcs_;
    std::unique_ptr<TASMCodeEngine> engine_;
    std::vector<TOperandRef> inputs_;
    std::vector<int> inputSlots_;
    bool hooked_ = false;
};

// What an expression compiled to.
struct TCompiledExpr {
    enum class Kind : unsigned char { Constant, Input, Program };
    Kind kind = Kind::Constant;
    Variant value;                         // Constant
    TOperandRef ref;                       // Input
    std::unique_ptr<TSqlProgram> program;  // Program
    TSqlType type = TSqlType::Any;
    bool readsContent = false;  // calls a built-in that reads file contents
};

// The binder's answer for one node.
enum class TLeafAnswer : unsigned char {
    NotMine,  // compile the node as it stands
    Value,    // the node is the value behind ref
    Failed    // the binder reported why the node cannot be bound
};
struct TLeafValue {
    TOperandRef ref;
    TSqlType type = TSqlType::Any;
};
using TLeafResolver = std::function<TLeafAnswer(const TSqlExpr& node, TLeafValue& out)>;

class TSqlCompiler {
  public:
    // statement: the parsed statement the nodes belong to (for their
    // texts); errors receives the messages.
    TSqlCompiler(const TParsedStatement& statement, TmyErrorMng& errors, TLeafResolver resolver)
        : statement_(statement), errors_(errors), resolver_(std::move(resolver)) {}

    // Compiles e; false after reporting (out is then unspecified).
    bool Compile(const TSqlExpr& e, TCompiledExpr& out);

    // The whole expression being compiled, for messages that quote it.
    void SetSubject(const TSqlExpr* subject) { subject_ = subject; }

  private:
    struct TSlot;
    struct TEmitter;
    bool Fail(const TSqlExpr& at, std::string_view message);
    bool FailInExpression(const TSqlExpr& at, int position, std::string_view detail);

    const TParsedStatement& statement_;
    TmyErrorMng& errors_;
    TLeafResolver resolver_;
    const TSqlExpr* subject_ = nullptr;
    friend struct TEmitter;
};

// Whether two parsed expressions are written alike (names ignoring letter
// case, literals by value): how a GROUP BY expression is found again in a
// select item.
bool SameExpression(const TSqlExpr& a, const TSqlExpr& b);

// The aggregate function a call names (count, sum, min, max, avg, any
// letter case), as its name in lower case; empty for any other call.
std::string AggregateNameOf(const TSqlExpr& e);

}  // namespace corvane
