// u_compile: the script compiler.
//
// TsourceFile compiles one source text into a unit image (TVMC_OBJ): the
// caller fills `lines`, sets `target` to an empty image and calls Compile,
// then reads `errors` and the image. The image is marked Loaded exactly when
// the whole source was processed without a diagnostic.
//
// The compiler is a single pass over a list of comment-free lines:
//  - the scanner (BuildLineList, AdvanceLine, NextChar, NextWord, ...);
//  - the interface part: used units (a unit named with an extension is a
//    source file, compiled on the spot through the file adapter), global
//    variables, constants and function headers;
//  - the implementation part, cut into one line list per function body
//    (SplitBodies) and compiled body by body (CompileBody);
//  - statements, each laid out with its jumps (CompileStatement and the
//    Compile* routines per statement), with break and continue collected
//    per loop and filled in when the loop's exit is known;
//  - expressions by operator precedence with an explicit operator stack
//    (CompileExpression), operand resolution (ResolveWord) and calls;
//  - temporaries, emission, list appending and a small peephole pass
//    (Ttmpmng, Emit, AppendList, Optimize).
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

#include "script/compiler/U_err.h"
#include "script/compiler/base_inf.h"
#include "script/runtime/qv_vmc.h"

namespace corvane {

// ---------------------------------------------------------------------------
// Temporaries.

// One temporary's state.
struct Tvar_state {
    std::string Name;
    uint8_t inUse = 0;
    int32_t slot = 0;
    TDataType DataType = dtNone;  // the type the temporary holds now
    uint8_t locked = 0;
    int body = 0;  // untyped list only: the body that made it
};

// The temporaries of one type class.
struct Ttmp_inf {
    std::string prefix;              // "int", "wrd", ... (3 characters)
    std::vector<Tvar_state> states;  // numbered from 1; grows without limit
};

// Hands out temporaries of the function being compiled: variables named
// "_tmp_<prefix>_<n>" (typed) or "_tmp__<n>" (untyped) that are reused as
// soon as an instruction has read them.
class Ttmpmng {
  public:
    Ttmpmng();
    // Forgets the typed temporaries of the previous body.
    void Reset(compiler::TvarList* vars);
    // The slot of a free (or new) temporary for a value of this type; type
    // 100, or a code without a class, gives an untyped one.
    //
    // A temporary holds an intermediate value, and intermediate integer
    // values are never cut: a temporary for a word or a byte is defined as
    // an integer (StorageOf), so 1024*1024*1024 or 60000+10000 keep their
    // value in it. The type the compiler checks with is still the word or
    // byte (TypeOfSlot); a value is narrowed only when it is stored into a
    // declared word or byte variable. With exact set the definition has the
    // type itself: the result of word(x) and byte(x), which must be cut.
    int Allocate(int type, bool exact = false);
    // The type a temporary for a value of this type is defined with.
    static TDataType StorageOf(int type);
    // Keeps a temporary out of reuse (flag true) or lets it go.
    void Lock(const Taddr& a, bool flag);
    // The type the temporary at slot holds, or -1 when slot is no temporary.
    int TypeOfSlot(int slot) const;
    // Gives the untyped temporary at slot (of this body) its type.
    void Retype(int slot, int type);
    // The release rule of Emit: sources are freed, a destination stays in
    // use (except opTest's), index temporaries are freed.
    void Release(const TQVInstruction& ins);

  private:
    Tvar_state* StateOf(int slot, int cls);
    void SetInUse(int slot, bool inUse);
    std::string FreeName(const std::string& stem, size_t& number) const;

    compiler::TvarList* vars_ = nullptr;
    Ttmp_inf classes_[9];
    std::vector<Tvar_state> untyped_;
    int body_ = 0;
};

// What a literal text of type `type` (LiteralType) holds when it is a
// number: a value the run time reads (Ok, also for any text that is no
// number), a well-formed number beyond a 64-bit integer or a double
// (OutOfRange), or a text that only starts like a number (Malformed).
enum class NumberCheck { Ok, OutOfRange, Malformed };
NumberCheck CheckNumber(std::string_view text, int type);

// Whether a name marks a temporary (also one the source declares itself).
bool IsTempName(std::string_view name);
// Appends every instruction of from to to; jump targets, which are positions
// in from, become positions in to.
void AppendList(TsubList& from, TsubList& to);
// Removes instruction j unless a jump lands on it; later jump targets move
// up. False when nothing was removed.
bool RemoveAt(TsubList& list, int j);

// ---------------------------------------------------------------------------
// A pending jump of a loop (break 2, continue 3) or of a case statement (0).
struct TgotoEntry {
    int kind = 0;
    int position = 0;
};
using TgotoList = std::vector<TgotoEntry>;

// Where the scanner stands.
struct TScanPos {
    int lineIndex = -1;
    int col = -1;
};

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
    // --- scanner
    void BuildLineList();
    void SetLineList(Tcodetxt list);
    bool AdvanceLine();
    char NextChar();
    char PeekChar();
    std::string NextWord();
    std::string PeekWord();
    std::string ReadConstValue();
    bool SkipToNextBody();
    int LineNo() const;
    const std::string& CurLine() const;
    int WordLine();
    bool Stuck(const TScanPos& before) const;
    // Records "程序/函数不能正常结束。" once for the part being read and
    // stops the part.
    void RanOut();
    // Records a diagnostic at the current line, unless the part being
    // compiled has stopped (nothing after the stop is worth reporting).
    void Error(std::string text) {
        if (!stop_) errors.Add(LineNo(), std::move(text));
    }
    void Error(std::string_view text, std::string_view arg) { Error(FormatMsg(text, arg)); }

    // --- declarations
    void CompileInterface();
    void VarSection();
    void ConstSection();
    void LabelSection(std::vector<std::string>& labels);
    bool VarGroup(bool paramMode, TvarDeflist* added);
    void ConstDecl();
    void CompileUses();
    bool FunctionHeader(TClassDefInf& rec);
    void ParamList(TvarDeflist& params);
    void DeclareFunction();
    void CompileImplementation();
    void SplitBodies();
    void CompileBodies();
    void CompileBody(int p);
    void CompileBodyStatements(TsubList& code);
    void AttachUsedSource(int number, const std::string& unitName, const std::string& fileName);

    // --- statements
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
    bool CompileCondition(TsubList& list, Taddr& flag);

    // --- expressions
    bool CompileExpression(const Taddr& dest, TsubList& list, int& type);
    bool CompileExpressionBody(const Taddr& dest, TsubList& list, int& type);
    bool CompileOperand(TsubList& list, bool allowMinus, Taddr& operand);
    int ResolveWord(const std::string& word, TsubList& list, Taddr& operand);
    int ReadOperator();
    bool CompileIndex(Taddr& operand, TsubList& list);
    bool CompileCall(int unit, int pos, const Taddr& result, TsubList& list);
    bool CompileCharArgument(const Taddr& dest, TsubList& list);
    bool CompileIff(const Taddr& dest, TsubList& list);
    void FinishInstruction(TQVInstruction& q, int wanted);
    bool CheckOperands(int left, int right, int& result, int& other) const;
    bool CheckLeftOperand(const TQVInstruction& q) const;
    int OperandType(const Taddr& a) const;
    std::string OperandName(const Taddr& a) const;
    bool IsTempOperand(const Taddr& a) const;
    void LoadText(const std::string& text, TsubList& list, Taddr& operand);

    // --- emission
    void Emit(TQVInstruction ins, TsubList& list, int line);
    void Optimize(TsubList& list);
    TClassDefInf& CurrentFunc();

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

    // Lines of the part being read, their lower-case texts, and the
    // position.
    Tcodetxt lineList_;
    std::vector<std::string> lower_;
    TScanPos pos_;

    TstringStack pending_;
    Tconstclass consts_;
    compiler::TvarList vars_;
    compiler::TvarList funcVars_;
    Ttmpmng temps_;
    TFileAdapter* adapter_;
    bool fatal_ = false;
    // "程序/函数不能正常结束。" was recorded for the part being read.
    bool endRecorded_ = false;
    // The part being compiled cannot go on (ran out of input, made no
    // progress, or nested too deep).
    bool stop_ = false;
    int funcIndex_ = 0;
    int depth_ = 0;
    int lastBodyLine_ = 0;
};

}  // namespace corvane
