// UveskBase: operands, value sources, parameter lists and small helpers.
//
// Every value a statement's conditions and select list read is an operand,
// a TROperandDef: a constant, a column of the FROM clause (or of the group
// clause, in a grouped statement), or a compiled expression (SqlCompile's
// TSqlProgram, run on the interpreter). The binder (engine/SqlBinder)
// compiles each parsed expression and gives the operand what it became;
// evaluation then yields the operand's current value. Value sources
// implement IGVarMng: they resolve names to references and hand out the
// value behind a reference, and give the statement's clock and fault
// record (Context) to the expressions that read them.
//
// This unit does not parse statements (sqlScan_Base), compile expressions
// (SqlCompile), hold tables or row buffers (U_from) and does not compare
// values (URelx_Logic, script/runtime/SqlOps).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Variant.h"
#include "script/runtime/SqlValue.h"
#include "sql/SqlMessages.h"

namespace corvane {

// Thrown out of TVeskEngineCustomer::Execute when the host's progress object
// (IProgress::Cancelled) asks to stop. The rows produced before stay in the
// result (or have reached the row sink); ORDER BY and TOP have not been
// applied to them.
class QueryCancelledError : public std::runtime_error {
  public:
    QueryCancelledError() : std::runtime_error(std::string(sqlmsg::QueryCancelled)) {}
};

// How many rows a result holds at most, counted in cells (rows x result
// columns): 30 million cells are 2 million rows of "select *" or 30 million
// rows of one column. The rows a result holds are the result dataset's rows
// and, for DISTINCT while streaming, the copies kept to recognise
// duplicates. Rows streamed to a row sink are not held and not counted, so a
// streamed result has no bound.
//
// What protects memory is the byte budget (U_memBudget), which knows that a
// cell may hold a long path; the cell limit keeps row counts and match-tree
// node counts within what the engine's row numbers can address. Hosts may
// change it (TVeskEngineCustomer::SetCellLimit).
inline constexpr int64_t kDefaultCellLimit = 30'000'000;

// Thrown out of TVeskEngineCustomer::Execute when the result would hold more
// rows than the cell limit allows, a join's match trees more combinations
// (they are built before the first row of the join is produced), or when
// what the query holds would pass its byte budget. The rows produced before
// stay in the result; ORDER BY and TOP have not been applied to them.
class ResultTooLargeError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
    static ResultTooLargeError Rows(int64_t rows);
    static ResultTooLargeError Combinations(int64_t combinations);
    // limit as written for people ("4 GiB"); what names the part that grew.
    static ResultTooLargeError Memory(std::string_view limit, std::string_view what);
};

// Where an operand's value comes from. Each index is -1 when the reference
// is not of that kind; tag is a number chosen by whoever resolved it.
struct TOperandRef {
    int paramIndex = -1;  // into the engine's parameter list
    int tableIndex = -1;  // into the FROM clause
    int fieldIndex = -1;  // within that table
    int tag = 0;
};

// A value source: declares the names it knows, resolves a name to a
// reference and hands out the value behind a reference.
class IGVarMng {
  public:
    virtual ~IGVarMng() = default;
    // One line per known name: name + ":" + type name + ";" + CR LF.
    virtual std::string GetDeclarations() = 0;
    // True and ref filled when the name is known; otherwise the source
    // reports its own message and ref is left untouched.
    virtual bool Resolve(const std::string& name, int tag, TOperandRef& ref) = 0;
    // The current value behind a reference. The reference stays valid until
    // the source's values change (the next row).
    virtual const Variant& GetValue(const TOperandRef& ref) = 0;
    // Evaluation weight of a reference.
    virtual int Cost(const TOperandRef&) { return 1; }
    // Get ready to serve values.
    virtual void Prepare() = 0;
    virtual void Finish() {}
    // Whether the query these values serve has been cancelled; an
    // expression polls it during long runs.
    virtual bool Cancelled() { return false; }
    // The statement's clock and fault record, for the expressions that
    // read these values.
    virtual const TSqlContext& Context();
};

// A message about a piece of statement text (an operand, an expression),
// with the 1-based byte position within that text it is about: 0 for the
// text as a whole, the text's length + 1 for its end.
struct TTextMessage {
    std::string text;
    int position = 0;
};

// How a fault of an expression reads: the expression as the user wrote it
// and where in it (counted in characters), then the fault itself:
//   表达式“size+”末尾：需要操作数。
//   表达式“'é'+size”第5个字符：类型不兼容。
std::string ExpressionMessage(std::string_view text, int position, std::string_view detail);

// ---------------------------------------------------------------------------
// Operands.

enum TOperandKind : uint8_t { okConstant = 0, okParameter = 1, okColumn = 2, okExpression = 3 };

class TSqlProgram;

class TROperandDef {
  public:
    TROperandDef();
    virtual ~TROperandDef();
    TROperandDef(const TROperandDef&) = delete;
    TROperandDef& operator=(const TROperandDef&) = delete;

    // The statement offset (1-based bytes of the text given to SetSQL) of a
    // 1-based position within text; a position past the end stands for the
    // end of the operand. 0 when the operand's place is not known.
    int StatementPos(int posInText) const;
    // The operand's current value. For a column this is the value source's
    // slot itself (nothing is copied); for a constant its value; for an
    // expression the program's result, valid until the next evaluation.
    const Variant& Evaluate();
    // Evaluation weight, for ordering join conditions: one per value read.
    int Cost() const;
    // Shares everything, the compiled program included (evaluation is
    // sequential, so two operands may run one program).
    void CopyFrom(const TROperandDef& other);
    // The references an expression reads (a column: its own).
    std::vector<TOperandRef> Reads() const;

    std::string text;  // as written
    // Where text stands in the statement: the offset of its first byte; 0
    // when not known (items made by expanding "*").
    int textPos = 0;
    TOperandKind kind = okConstant;
    TOperandRef ref;             // kind okColumn (okParameter: a parameter's index)
    IGVarMng* source = nullptr;  // borrowed: the FROM clause or the group clause
    Variant value;               // a constant's value
    // The right side of IN: the list's items, each an operand; null otherwise.
    std::vector<std::unique_ptr<TROperandDef>> list;
    bool isList = false;
    TSqlType type = TSqlType::Any;         // the static type
    bool readsContent = false;             // the expression reads file contents
    std::shared_ptr<TSqlProgram> program;  // kind okExpression
};

// ---------------------------------------------------------------------------
// The parameter list.

struct TSimpleParam {
    std::string name;          // as a statement writes it after ":"
    std::string internalName;  // given by the parser ("pm" + number)
    Variant value;
    std::string typeName;
};

class TParamList {
  public:
    void Add(TSimpleParam param) { items_.push_back(std::move(param)); }
    void Clear() { items_.clear(); }
    int Count() const { return static_cast<int>(items_.size()); }
    TSimpleParam& Item(int index) { return items_.at(static_cast<size_t>(index)); }
    // Index of the first parameter whose name equals name ignoring case.
    int IndexOfName(std::string_view name) const;

  private:
    std::vector<TSimpleParam> items_;
};

// Name + type pairs, first occurrence of a name (ignoring case) wins.
class TVarDeclareList {
  public:
    void Add(const std::string& name, const std::string& typeName);
    std::string ToText() const;

  private:
    std::vector<std::pair<std::string, std::string>> items_;
    std::vector<std::string> lowerNames_;
};

// ---------------------------------------------------------------------------
// Small helpers shared by the engine and the evaluation units.

// Lower-cases every part outside quotes; quoted parts stay as written.
std::string NormalizeName(std::string_view text);
// Trims; removes one pair of equal enclosing quotes.
std::string StripQuotes(std::string_view text);
// Stable ascending sort; descending reverses the sorted list.
void SortIntList(std::vector<int>& list, bool descending);
}  // namespace corvane
