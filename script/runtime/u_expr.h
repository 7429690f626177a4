// u_expr: the expression component through which hosts (the query engine)
// evaluate expressions of the script language.
//
// TXExpression wraps one expression into a small generated program (one
// unit with one function whose body assigns the expression to result),
// builds it with the build driver (qv_build), keeps the linked program in its
// own TProgram (u_ExeFile) and runs it on demand. Compilation happens once;
// every later evaluation only runs the kept program in the same cached
// activation, until an input that shapes the program text changes (Expr,
// Externals, ExternalFuncs: they make it dirty).
//
// Values reach the expression two ways:
//   GVarDefs   global variable declarations; the host writes the program's
//              global table directly between evaluations (GlobalAt). This is
//              the fast path the query engine uses: no name lookups per row.
//   Externals  "name:type" lines; each becomes a private external variable
//              "_E_<k>" read and written through onGetValue/OnSetValue under
//              its listed name.
// ExternalFuncs lines are declared "external", so calls reach onExternalFunc.
//
// The text generation and the renaming of external names are free functions
// (GenerateExpressionProgram, RewriteExternalNames) so that they can be read
// and tested on their own.
//
// The expression is pasted into the generated program as the right side of
// "result:=". Compile refuses a text that could leave that place and run as
// statements of its own (CheckSingleExpression): ";", ":", comments, reserved
// words other than operators and type names, unclosed quotes, unbalanced
// brackets. An expression that spans several lines keeps its lines in the
// program, and Diagnostics gives every compile diagnostic with the line of
// the expression it was noticed on; a host that wants a position within a
// one-line text lays it out one token per line first (SpreadExpression).
//
// This unit does not compile (u_compile), link (qv_build) or interpret
// (CodeMng); it does not know SQL (the engine's TVeskExprPlus binds columns
// to the globals).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "script/runtime/u_ExeFile.h"

namespace corvane {

// The text Evaluate records when there is no compiled program to run.
inline constexpr const char* kMsgObjectCodeInvalid = "目标代码无效。";

// The generated function's name; it is the main function of the program.
inline constexpr const char* kExprFuncName = "test_7777987321";

// One entry of the external map: the private name ("_E_<k>") and the name
// the Externals line lists (the bytes before its first ":", untrimmed).
struct TExternalMapEntry {
    std::string PrivateName;
    std::string ListedName;
};
using TExternalMap = std::vector<TExternalMapEntry>;

// Replaces every whole token of expr equal to a listed name (ignoring letter
// case) by its private name, entry after entry. Quoted literals are single
// tokens and are never touched; everything else keeps its letter case.
std::string RewriteExternalNames(std::string_view expr, const TExternalMap& map);

// The generated program's source lines, and the external map built from the
// Externals lines. Each line of the expression (a line feed ends one) is a
// line of the program; the first follows "result:=", the last is followed by
// ";". exprLine, when given, receives the 1-based program line number of the
// first expression line.
std::vector<std::string> GenerateExpressionProgram(std::string_view expr,
                                                   const std::vector<std::string>& externals,
                                                   const std::vector<std::string>& externalFuncs,
                                                   const std::vector<std::string>& gvarDefs,
                                                   TExternalMap& map, int* exprLine = nullptr);

// Texts of CheckSingleExpression.
inline constexpr const char* kMsgOnlyOneExpression = "只能是一个表达式，不能含有“%s”。";
inline constexpr const char* kMsgQuoteNotClosed = "引号不匹配";
inline constexpr const char* kMsgBracketsDoNotMatch = "括号不匹配";
inline constexpr const char* kMsgControlCharacter = "含有无效的控制字符。";

// Whether expr is one expression that stays where it is pasted: outside
// quoted literals no ";" or ":" (no statement end, no assignment), no
// comment opener or closer ("{", "}", "(*", "*)", "//"), no reserved word but
// the operators (and, or, not, div, mod, like) and the type names used as
// conversions, no control character but blanks; every quote closed on its
// line; round and square brackets balanced and properly nested. A reserved
// word is also found as a part of a dotted word ("t.end"). Returns 0 when it
// is; otherwise the 1-based position of the first fault, with its text in
// detail.
int CheckSingleExpression(std::string_view expr, std::string& detail);

// expr laid out one token per line, as the compiler reads tokens: quoted
// literals, words (a number with an exponent and sign, "1e-5", stays one
// token), two-character operators and single delimiters. A word keeps a
// round bracket that follows it directly (integer(x) is a conversion only
// with the bracket on the same line). The text ends with a line feed, so that
// the ";" after it stands on a line of its own: a fault noticed after the
// last token is reported there. lineStarts receives, per line, the 1-based
// position in expr where the line's first token starts; the entry of that
// last, empty line is expr.size() + 1. Blanks between tokens are dropped.
std::string SpreadExpression(std::string_view expr, std::vector<int>& lineStarts);

// One compile diagnostic of an expression.
struct TExprDiagnostic {
    int line = 0;      // 1-based line of Expr it was noticed on; 0 elsewhere or unknown
    std::string text;  // the diagnostic's text, without list name and line
};

class TXExpression {
  public:
    TXExpression();
    ~TXExpression();
    TXExpression(const TXExpression&) = delete;
    TXExpression& operator=(const TXExpression&) = delete;

    // The inputs. Setting Expr to a different text (letter case counts),
    // or setting Externals or ExternalFuncs, makes the component dirty;
    // GVarDefs does not.
    void SetExpr(std::string text);
    const std::string& Expr() const { return expr_; }
    void SetExternals(std::vector<std::string> lines);
    const std::vector<std::string>& Externals() const { return externals_; }
    void SetExternalFuncs(std::vector<std::string> lines);
    const std::vector<std::string>& ExternalFuncs() const { return externalFuncs_; }
    void SetGVarDefs(std::vector<std::string> lines) { gvarDefs_ = std::move(lines); }
    const std::vector<std::string>& GVarDefs() const { return gvarDefs_; }

    // The program's automatic initialization of globals before each run
    // (default true). Hosts that write globals themselves switch it off and
    // call InitGlobals once.
    bool AutoInitVars() const { return program_->AutoInitGVar; }
    void SetAutoInitVars(bool on) { program_->AutoInitGVar = on; }
    void SetOnExternalFunc(TOnExternalFunc handler) {
        program_->onExternalFunc = std::move(handler);
    }
    // Polled while the expression runs (see CodeMng).
    void SetCancelCheck(TCancelCheck check) { program_->SetCancelCheck(std::move(check)); }

    // Accessors for the external variables, called with the listed names.
    TOnGet onGetValue;
    TOnSet OnSetValue;

    // Generates, builds and loads the program; the joined error texts, or
    // "" on success.
    std::string Compile();
    // Runs the expression (compiling first when dirty). True with the value
    // in r; false with r untouched when there are errors (see Errors).
    // Errors raised while running propagate.
    bool Evaluate(Variant& r);
    Variant Evaluate();
    // Declares the global table and runs initialization.
    void InitGlobals() { program_->InitGlobals(); }
    int GlobalCount() { return program_->Globals().Count(); }
    TXVarData& GlobalAt(int i) { return program_->Globals().At(i); }
    // Copies a compiled expression: its program image, handlers, Expr,
    // Compiled, errors and external map (not the input lists or Dirty).
    void Assign(const TXExpression& source);

    const std::vector<std::string>& Errors() const { return errors_; }
    std::string ErrorText() const;  // the errors, one per line
    // The errors of the last Compile, each with the line of Expr it is
    // about (see TExprDiagnostic).
    const std::vector<TExprDiagnostic>& Diagnostics() const { return diagnostics_; }
    bool Dirty() const { return dirty_; }
    bool Compiled() const { return compiled_; }
    const Variant& LastValue() const { return lastValue_; }
    // Whether the compiled program calls a built-in that reads file
    // contents (BuiltinHeads' ReadsContent); false when not compiled.
    bool ReadsFileContents() const;
    const TExternalMap& ExternalMap() const { return externalMap_; }
    TProgram& Program() { return *program_; }

  private:
    // The entry of ExternalMap for a private variable name ("_e_<k>").
    const TExternalMapEntry* EntryOf(const std::string& varName) const;

    std::string expr_;
    std::vector<std::string> externals_, externalFuncs_, gvarDefs_;
    std::unique_ptr<TProgram> program_;
    bool compiled_ = false;
    bool dirty_ = false;
    Variant lastValue_;
    std::vector<std::string> errors_;
    std::vector<TExprDiagnostic> diagnostics_;
    TExternalMap externalMap_;
};

}  // namespace corvane
