// u_compile: the script compiler, TsourceFile.
//
// TsourceFile compiles one source text into a unit image (TVMC_OBJ): the
// caller fills `lines`, sets `target` to an empty image and calls Compile,
// then reads `errors` and the image. The image is marked Loaded exactly when
// the whole source was processed without a diagnostic.
//
// The compiler is one pass over a list of comment-free lines. Its units:
//  - CompilerScanner: the line list, characters, words and operators
//    (TScanner, owned as scan_);
//  - u_compile.cpp: the driver and the declarations. The interface part
//    holds used units (a unit named with an extension is a source file,
//    compiled on the spot through the file adapter), global variables,
//    constants and function headers; the implementation part is cut into
//    one line list per function body (SplitBodies) and compiled body by
//    body (CompileBody);
//  - CompilerStatements: each statement laid out with its jumps; break and
//    continue are collected per loop and patched when the loop's exit is
//    known;
//  - CompilerExpressions: expressions by operator precedence with an
//    explicit operator stack, operand resolution (ResolveWord), calls and
//    the type checks;
//  - CodeEmitter: temporaries, emission, backpatching and list appending
//    (TCodeEmitter, owned as code_);
//  - PeepholeOptimizer: the small pass over each expression's own list.
// The three parser units define the members of TsourceFile declared below;
// the scanner and the emitter know nothing of the parser.
//
// Integer expressions are never cut inside: the temporaries that hold
// intermediate word and byte values are integers (Ttmpmng::Allocate), and
// the interpreter computes integer operands in 64 bits, so only the store
// into a declared word or byte variable narrows. The type table still
// decides what may be combined and assigned.
//
// No construct is dropped because it looks empty: a loop with an empty
// body, "if c then ;" and "case e of end" still evaluate their expressions
// (they may call functions); the peephole pass only removes x := x and
// merges a temporary into the instruction that reads it.
//
// Faults are recorded as diagnostics and compiling goes on; a faulty
// statement is skipped by RecoverStatement. Two faults raise instead and
// leave Compile at once: a name twice in one variable group and a 101st
// used unit.
//
// Guards an untrusted source cannot get past: a source that ends inside a
// section, a tag or a case statement records "程序/函数不能正常结束。" once
// and stops; every loop of the compiler must consume input or stop; nesting
// deeper than kMaxNesting records "嵌套层次太深。" and stops the body, so no
// input can exhaust the stack (at the limit an optimised build needs less
// than 512 KiB of stack, a sanitizer build less than 2 MiB).
//
// What it does not do: storing and reading images (qv_vmc), the tables and
// recognisers (qv_consts, u_keywords), the list classes (base_inf), linking
// and running (the build driver and the interpreter).
#pragma once

#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "script/common/U_err.h"
#include "script/common/base_inf.h"
#include "script/common/qv_vmc.h"
#include "script/compiler/CodeEmitter.h"
#include "script/compiler/CompilerScanner.h"

namespace corvane {

// What a word of a statement or an expression turned out to be
// (TsourceFile::ResolveWord).
enum TWordKind : int {
    wkUnknown = 0,   // no operand: not declared, or its call, iff or conversion failed
    wkVariable = 1,  // a plain variable (local or global)
    wkElement = 2,   // an indexed element of an array or a string
    wkConstant = 3,  // a declared constant, loaded into a temporary
    wkLiteral = 4,   // a literal, loaded into a temporary
    wkValue = 5,     // a value in a temporary: a function's result, iff, a conversion
    wkProcedure = 6  // a procedure call: no value
};

// What a pending jump is for.
enum TGotoKind : int {
    gkCaseExit = 0,  // the end of a case branch: to the end of the case statement
    gkBreak = 2,     // "break": to the loop's exit
    gkContinue = 3   // "continue": to the loop's next pass (the test or the step)
};

// An open jump, filled in when its destination is known (a loop's exit and
// next pass, a case statement's end).
struct TgotoEntry {
    TGotoKind kind = gkCaseExit;
    int position = 0;  // of the jump in the function's list
};
using TgotoList = std::vector<TgotoEntry>;

class TsourceFile {
  public:
    // Nesting of expressions and statements past which a body is abandoned.
    static constexpr int kMaxNesting = 200;
    // Labels one body may declare.
    static constexpr int kMaxLabels = 21;

    explicit TsourceFile(TFileAdapter* adapter = nullptr);
    TsourceFile(const TsourceFile&) = delete;
    TsourceFile& operator=(const TsourceFile&) = delete;

    // The source, one string per line.
    std::vector<std::string> lines;
    // The image being built; not owned.
    TVMC_OBJ* target = nullptr;
    // The diagnostics, named "Compile".
    TErrorList errors{"Compile"};

    // Splits a text into lines at LF (a CR before it is dropped).
    void SetText(std::string_view text);
    // Compiles lines into target. Raises EScriptError for a name twice in one
    // variable group and for a 101st used unit.
    void Compile();

    // Sources of used units being compiled by this compiler and the ones that
    // started it: a unit that uses itself, directly or in a ring, is not
    // compiled again.
    std::shared_ptr<std::set<std::string>> compiling;

  private:
    // --- the driver and declarations (u_compile.cpp)
    // The lines to read next (the whole source, a function body, or none).
    void StartPart(Tcodetxt part);
    // Records "程序/函数不能正常结束。" once for the part being read and
    // stops the part.
    void RanOut();
    // Records a diagnostic at the current line, unless the part being
    // compiled has stopped (nothing after the stop is worth reporting).
    void Error(std::string text) {
        if (!stop_) errors.Add(scan_.LineNo(), std::move(text));
    }
    void Error(std::string_view text, std::string_view arg) { Error(FormatMsg(text, arg)); }
    TClassDefInf& CurrentFunc();

    void CompileInterface();
    void VarSection();
    void ConstSection();
    void LabelSection(std::vector<std::string>& labels);
    bool VarGroup(bool paramMode, TvarDeflist* added);
    void ConstDecl();
    void CompileUses();
    void AttachUsedSource(int number, const std::string& unitName, const std::string& fileName);
    bool FunctionHeader(TClassDefInf& rec);
    void ParamList(TvarDeflist& params);
    void DeclareFunction();
    void CompileImplementation();
    void SplitBodies();
    void CompileBodies();
    void CompileBody(int p);
    void CompileBodyStatements(TsubList& code);

    // --- statements (CompilerStatements.cpp)
    bool CompileStatementList(TsubList& list, std::string_view term, TgotoList* gotos, bool inLoop);
    bool CompileStatement(TsubList& list, bool inLoop, TgotoList* gotos);
    bool CompileStatementBody(TsubList& list, bool inLoop, TgotoList* gotos);
    bool CompileIf(TsubList& list, bool inLoop, TgotoList* gotos);
    bool CompileWhile(TsubList& list);
    bool CompileRepeat(TsubList& list);
    bool CompileFor(TsubList& list);
    bool CompileCase(TsubList& list, bool inLoop, TgotoList* gotos);
    bool CompileCaseLabels(TsubList& list, const Taddr& sel, int selType);
    bool CompileTag(TsubList& list);
    bool RecoverStatement();

    // --- expressions (CompilerExpressions.cpp)
    bool CompileCondition(TsubList& list, Taddr& flag);
    bool CompileExpression(const Taddr& dest, TsubList& list, int& type);
    bool CompileExpressionBody(const Taddr& dest, TsubList& list, int& type);
    bool CompileOperand(TsubList& list, bool allowMinus, Taddr& operand);
    TWordKind ResolveWord(const std::string& word, TsubList& list, Taddr& operand);
    bool CompileIndex(Taddr& operand, TsubList& list);
    bool CompileCall(int unit, int pos, const Taddr& result, TsubList& list);
    bool CompileCharArgument(const Taddr& dest, TsubList& list);
    bool CompileIff(const Taddr& dest, TsubList& list);
    void FinishInstruction(TQVInstruction& q, int wanted);
    bool CheckOperands(int left, int right, int& result, int& other) const;
    bool CheckLeftOperand(const TQVInstruction& q) const;
    void LoadText(const std::string& text, TsubList& list, Taddr& operand);

    // Abandons the body being compiled (past the nesting limit).
    struct AbandonBody {};
    // Counts one level of nesting; throws AbandonBody past the limit.
    class DepthGuard {
      public:
        explicit DepthGuard(TsourceFile& owner);
        ~DepthGuard() { --owner_.depth_; }

      private:
        TsourceFile& owner_;
    };

    // The lines of the part being read, and where the compiler stands.
    TScanner scan_;
    // The code of the function being compiled, with its temporaries.
    TCodeEmitter code_;

    // Positions of the functions whose bodies wait to be compiled, in the
    // order SplitBodies found them.
    TstringStack pending_;
    // The constants of the current scope: the image's in the interface part,
    // the function's in its body.
    Tconstclass consts_;
    // The variables of the current scope: the image's globals in the
    // interface part, a function's parameters while its header is read, the
    // function's variables in its body.
    compiler::TvarList vars_;
    // Where used units compiled from source are read and saved; may be null.
    TFileAdapter* adapter_;
    // The compilation cannot go on: nothing after the part being compiled
    // is read.
    bool fatal_ = false;
    // "程序/函数不能正常结束。" was recorded for the part being read.
    bool endRecorded_ = false;
    // The part being compiled cannot go on (ran out of input, made no
    // progress, or nested too deep).
    bool stop_ = false;
    // The function being compiled (its position in target's list).
    int funcIndex_ = 0;
    // Nesting of statements and expressions in the body (DepthGuard).
    int depth_ = 0;
    // The number of the last line of the last body compiled: where a
    // missing implementation is reported.
    int lastBodyLine_ = 0;
};

}  // namespace corvane
