// CodeEmitter: writes down the code of the function being compiled.
//
// The parser decides what to compute; this unit records it. It holds:
//  - the temporaries (Ttmpmng): variables of the function, named "_tmp_...",
//    that hold intermediate values. They are created on demand and reused
//    as soon as an instruction has read them; locking keeps one alive across
//    many instructions (a for loop's end bound, a case selector);
//  - instruction building (Instruction, LocalAddr, NoDest, CalleeAddr) and
//    emission (TCodeEmitter::Emit), which stamps the source line and applies
//    the release rule: the temporaries an instruction reads become free;
//  - backpatching: a jump whose destination is not known yet is emitted
//    open, with the target kNoJump (-1); EmitJump returns its position, and
//    PatchJump or PatchJumpHere fixes it once the destination is known.
//    Every open jump is patched exactly once. A target is a position in the
//    list the jump is in; AppendList moves it along when that list is
//    appended to another;
//  - what the parser and the peephole pass ask about an operand: its type
//    (a temporary's type is the one it holds now, not its definition's), its
//    declared type, whether it is a temporary, and its display name;
//  - StoreCode, which moves a finished body into its function record with
//    the display names of the operands and the relocation list.
//
// Expression code is built in lists of its own; the parser runs the
// peephole pass over such a list and then appends it to the function's
// list.
//
// What it deliberately does not do: read source (CompilerScanner); check
// types, choose an operation's destination or record diagnostics (the
// parser, CompilerExpressions); rewrite code once emitted
// (PeepholeOptimizer).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "script/common/base_inf.h"

namespace corvane {

class TVMC_OBJ;  // the image being built: only its global variables are read

// ---------------------------------------------------------------------------
// Operands and instructions.

// The slot of `result` in every function: the callee's value is read from
// its slot kResultSlot after a call. Parameters follow it.
constexpr int32_t kResultSlot = 0;
constexpr int32_t kFirstParamSlot = 1;
// The slot of NoDest.
constexpr int32_t kNoSlot = -1;

// A variable of the function being compiled (akLocal).
Taddr LocalAddr(int slot);
// "No destination yet": the expression puts its value in a temporary of
// its own. Also the result operand of a procedure call.
Taddr NoDest();
// Whether an operand is NoDest (or any other negative slot).
bool IsNoDest(const Taddr& a);
// Slot `slot` of the callee prepared by opCallPrep (akCallee).
Taddr CalleeAddr(int slot);
TQVInstruction Instruction(TOpCode op, const Taddr& dest = {}, const Taddr& src1 = {},
                           const Taddr& src2 = {}, int32_t imm = 0);
bool IsJump(const TQVInstruction& i);
// Whether a name marks a temporary (also one the source declares itself).
bool IsTempName(std::string_view name);

// ---------------------------------------------------------------------------
// Instruction lists and backpatching.

// Appends every instruction of from to to; jump targets, which are positions
// in from, become positions in to. Open jumps stay open.
void AppendList(TsubList& from, TsubList& to);
// The position the next instruction appended to list will have.
int32_t NextPosition(const TsubList& list);
// The target of a jump, about to be appended to list, that jumps over the
// one instruction appended after it.
int32_t PositionAfterNext(const TsubList& list);
// Sets the target of the open jump at position at.
void PatchJump(TsubList& list, size_t at, int32_t target);
// Sets the target of the open jump at position at to the next instruction
// to be appended.
void PatchJumpHere(TsubList& list, size_t at);

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
    // dtUnknown, or a code without a class, gives an untyped one.
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
    Ttmp_inf classes_[kTypeClassCount];  // class c at c - 1
    std::vector<Tvar_state> untyped_;
    int body_ = 0;
};

// ---------------------------------------------------------------------------
// The code of one function.

class TCodeEmitter {
  public:
    // The temporaries of the function being compiled.
    Ttmpmng temps;

    // The function whose code is built next: its variable definitions
    // (result, parameters, locals, and the temporaries added while
    // compiling) and the image it belongs to (for global variables).
    void SetFunction(TVMC_OBJ* image, TvarDeflist* vars);
    // At the "begin" of a body: the temporaries start afresh.
    void StartBody() { temps.Reset(&vars_); }
    // The variable definitions of the function.
    const compiler::TvarList& Vars() const { return vars_; }

    // The type of an operand: for a temporary the type it holds now, for a
    // local or global variable its declared type, for anything else dtNone.
    int OperandType(const Taddr& a) const;
    // The declared type of the local variable at slot.
    TDataType DeclaredType(int slot) const;
    bool IsTempOperand(const Taddr& a) const;
    // "name", "name[index]" or "params[i]", as the disassembler prints it.
    std::string OperandName(const Taddr& a) const;

    // Stamps line into ins, applies the release rule, appends it to list.
    void Emit(TQVInstruction ins, TsubList& list, int line);
    // Emits a jump (opJmp or opJmpTrue) and returns its position; without a
    // target it is open, for PatchJump.
    size_t EmitJump(TOpCode op, TsubList& list, int line, int32_t target = kNoJump);

    // Gives every operand of code its display name, records the
    // relocations (every opCallPrep and every instruction that uses a
    // global) and moves the code into func.
    void StoreCode(TsubList& code, TClassDefInf& func) const;

  private:
    compiler::TvarList vars_;
    TVMC_OBJ* image_ = nullptr;
};

}  // namespace corvane
