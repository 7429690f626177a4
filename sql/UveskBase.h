// UveskBase: operands, value sources, parameter lists and small helpers.
//
// Every value a statement mentions (each side of a WHERE relation, each
// select item) is an operand, a TROperandDef that starts as a piece of
// statement text. Binding classifies the text as a constant, a parameter, a
// column or an expression and ties it to a
// value source (IGVarMng); evaluation then yields the operand's current
// value. The FROM clause (U_from) is the value source of every operand.
//
// Computed expressions are compiled and run by the expression component of
// the script runtime. The engine reaches it only through the narrow seam
// IExpressionBackend below, created by a process-wide factory; without a
// registered factory an expression operand binds with a clear statement
// error (sqlmsg::ExpressionUnavailable) and never runs. TVeskExprPlus is the
// engine's side of the seam: it hands the value source's declarations to the
// backend, resolves the backend's global variables to value references and
// copies the current values in before each evaluation.
//
// This unit does not parse statements (sqlScan_Base), does not hold tables
// or row buffers (U_from) and does not compare values (URelx_Logic).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Variant.h"
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
};

// A message about a piece of statement text (an operand, an expression),
// with the 1-based byte position within that text it is about: 0 for the
// text as a whole, the text's length + 1 for its end.
struct TTextMessage {
    std::string text;
    int position = 0;
};

// ---------------------------------------------------------------------------
// The expression seam.

// What the engine needs from the expression component: compile one
// expression against a set of declared global variables, say which globals
// it reads, take their values and evaluate.
class IExpressionBackend {
  public:
    virtual ~IExpressionBackend() = default;
    virtual void SetExpr(const std::string& text) = 0;
    // Global variable declarations, one "name:type;" per line.
    virtual void SetGlobalDeclarations(const std::string& declarations) = 0;
    // Compiles; the error text, empty on success.
    virtual std::string Compile() = 0;
    // The global variables the compiled expression reads, in a fixed order.
    virtual int GlobalCount() = 0;
    virtual std::string GlobalName(int index) = 0;
    virtual void SetGlobal(int index, const Variant& value) = 0;
    // Runs the expression. False (and out untouched) when it could not run;
    // Errors() then says why. Run-time faults are thrown.
    virtual bool Evaluate(Variant& out) = 0;
    virtual std::string Errors() = 0;
    // The faults of the last Compile, each with the position in the
    // expression text where it was noticed (0 when not known). Empty by
    // default: the lines of Compile's text are then taken, without a place.
    virtual std::vector<TTextMessage> Diagnostics();
    // Polled while an evaluation runs long; true stops it with an error.
    virtual void SetCancelCheck(std::function<bool()> check) { (void)check; }
    // Whether the compiled expression reads file contents (a digest, a
    // content search): the planner then tests it after the cheap conditions.
    virtual bool ReadsFileContents() { return false; }
};

using ExpressionBackendFactory = std::function<std::unique_ptr<IExpressionBackend>()>;

// Installs the factory every later-bound expression operand uses; an empty
// function removes it. Call before parsing (not thread-safe).
void SetExpressionBackendFactory(ExpressionBackendFactory factory);
ExpressionBackendFactory CurrentExpressionBackendFactory();
bool HasExpressionBackend();

// How a fault of an expression reads: the expression as the user wrote it
// and where in it (counted in characters), then the fault itself:
//   表达式“size+”末尾：需要操作数。
//   表达式“size;x”第5个字符：只能是一个表达式，不能含有“;”。
std::string ExpressionMessage(std::string_view text, int position, std::string_view detail);

// The engine's side of the seam (one per expression operand).
class TVeskExprPlus {
  public:
    TVeskExprPlus();
    ~TVeskExprPlus();
    void SetExpr(const std::string& text) { text_ = text; }
    void SetSource(IGVarMng* source) { source_ = source; }
    // Compiles against the source's declarations and resolves the globals
    // the expression reads. Returns the error text, empty on success; the
    // same faults, each as one message that names the expression and the
    // place in it, are in Messages(). A text that is not one expression
    // (CheckSingleExpression) or that still calls an aggregate function (the
    // binder replaces the calls where they may stand) is refused before
    // anything is compiled; a constant regular expression that RE2 refuses
    // (CheckRegexpLiterals) after compiling.
    std::string Prepare();
    const std::vector<TTextMessage>& Messages() const { return messages_; }
    // Copies the current values in and runs; out is left unchanged when the
    // expression did not compile.
    void Evaluate(Variant& out);
    std::string Errors() const;
    // The references of the globals the expression reads (for the table
    // sets of the WHERE logic and the ambiguity check).
    const std::vector<TOperandRef>& VarRefs() const { return refs_; }
    const std::vector<std::string>& VarNames() const { return names_; }
    bool Compiled() const { return compiled_; }
    // The backend's ReadsFileContents after a successful Prepare.
    bool ReadsFileContents() const { return readsContent_; }

  private:
    std::string text_;
    IGVarMng* source_ = nullptr;
    bool readsContent_ = false;
    std::unique_ptr<IExpressionBackend> backend_;
    std::vector<TOperandRef> refs_;   // one per global the expression reads
    std::vector<std::string> names_;  // their names as the expression wrote them
    std::string errors_;
    std::vector<TTextMessage> messages_;  // positions within text_
    bool compiled_ = false;
};

// ---------------------------------------------------------------------------
// Operands.

enum TOperandKind : uint8_t { okConstant = 0, okParameter = 1, okColumn = 2, okExpression = 3 };

class TROperandDef {
  public:
    TROperandDef() = default;
    virtual ~TROperandDef();
    TROperandDef(const TROperandDef&) = delete;
    TROperandDef& operator=(const TROperandDef&) = delete;

    // Classifies the text and ties the operand to its source (set the
    // source first). The messages, each also in messages with its place,
    // joined by line feeds; empty when bound. inList: the operand is the
    // right side of IN, so a bracketed list of constants is a list even
    // when its items are not quoted, and anything else is an error.
    //
    // A text that only starts like a literal is an expression when an
    // operator stands outside its quotes: "2*5", "-1+2", "'a'+'b'" (but not
    // the well-formed numbers "-5" and "1e-5", nor a date "2024-01-31").
    std::string Bind(bool inList = false);
    // The statement offset (1-based bytes of the text given to SetSQL) of a
    // 1-based position within text; a position past the end stands for the
    // end of the operand. 0 when the operand's place is not known.
    int StatementPos(int posInText) const;
    // The operand's current value. For a column this is the row-buffer slot
    // itself (nothing is copied); for every other kind it is value.
    const Variant& Evaluate();
    // Evaluation weight, for ordering join conditions.
    int Cost() const;
    // Copies everything but the evaluation count.
    void CopyFrom(const TROperandDef& other);

    std::string text;  // as the parser cut it; trimmed by Bind
    // Where text stands in the statement: the offset of its first byte, or,
    // when the parser joined it from pieces (blanks dropped), textMap holds
    // the offset of every byte. 0 and empty when not known (items made by
    // expanding "*").
    int textPos = 0;
    std::vector<int> textMap;
    TOperandKind kind = okConstant;
    TOperandRef ref;                      // kinds 1, 2
    IGVarMng* source = nullptr;           // borrowed: the FROM clause
    Variant value;                        // current value (not for columns)
    std::vector<std::string> listTexts;   // IN list: the quoted items, matched as exact text
    std::vector<Variant> listValues;      // IN list: the unquoted items, compared like "="
    bool isList = false;                  // bound as an IN list
    std::vector<TTextMessage> messages;   // of the last Bind, positions within text
    int literalType = 0;                  // LiteralType of a constant's text
    int evalCount = 0;                    // constants are computed only once
    std::unique_ptr<TVeskExprPlus> expr;  // kind 3
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
// True when the text is an expression: + - * / ( < > = occurs outside
// quotes, or one of the script language's word operators (div, mod, and,
// or, xor, not, like) stands there as a whole word. The word operators are
// what make "size div 1024" an expression rather than an unknown name.
bool HasOperator(std::string_view text);
// Stable ascending sort; descending reverses the sorted list.
void SortIntList(std::vector<int>& list, bool descending);
// Trimmed: an optional sign, digits, at most one "." (digits may follow
// it), and an optional exponent ("e" or "E", an optional sign, digits):
// "-5", "1.5", "1e-5", "2.5E+3". "2*5", "1.2.3", "1e" and "1abc" are not.
bool IsWellFormedNumber(std::string_view text);
// Trimmed: one quoted literal and nothing else, "'a'" but not "'a'+'b'".
bool IsSingleQuotedText(std::string_view text);
// Whether a literal-looking text is really an expression (see Bind).
bool IsComputedLiteral(std::string_view text);
// The 1-based position of the first call of an aggregate function (count,
// sum, min, max, avg followed by "(") outside quotes, with the name as
// written; 0 when there is none.
int FindAggregateCall(std::string_view text, std::string& name);
// The 1-based position of the first quoted pattern of a regexp_like,
// regexp_substr, regexp_replace or contains_regexp call (or replacement of
// regexp_replace)
// that RE2 refuses, with the message in detail; 0 when there is none. So a
// constant pattern that cannot work is a statement error, as in "regexp",
// rather than a fault on every row.
int CheckRegexpLiterals(std::string_view text, std::string& detail);

}  // namespace corvane
