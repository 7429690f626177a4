// CodeMng: the interpreter of the three-address script machine.
//
// TASMCodeEngine executes one function of a linked program image. One engine
// object is one activation: it owns the table of the function's own
// variables (result, parameters, locals, temporaries), borrows the program's
// global table, and holds the flag register and the instruction position. A
// call creates a fresh engine for the callee (opCallPrep), fills its
// parameters through akCallee addresses, runs it (opCall) and frees it
// (opCallEnd), so recursion needs no frames of its own. Built-in functions
// (u_base_funcs) and host-supplied external functions run through the same
// object, so a call site never knows which kind it calls.
//
// Calls do not nest on the C++ stack: Run is one loop that switches to the
// callee's activation on opCall and back to the caller's on the callee's
// opHalt. A script can therefore never overflow the thread's stack, whatever
// thread runs it; the depth of script calls is bounded by kMaxCallDepth
// (memory: every activation holds its variables) and deeper calls raise
// kMsgCallTooDeep. Long or endless runs stay stoppable: the cancellation
// check (SetCancelCheck) is polled every kCancelPollInterval instructions
// and raises kMsgRunCancelled when it answers true.
//
// Arithmetic: + - * on two integer operands (integer, word or byte
// variables, and variants or external variables holding an integer) is
// exact in 64 bits whatever the operands' declared widths; a result beyond
// 64 bits raises kMsgIntegerOverflow. Only the store into a word or byte
// destination keeps the low bits. Any other operand makes it double
// arithmetic. div and / divide as doubles, mod is a 64-bit remainder.
//
// The engine trusts nothing about the code it runs beyond what the image
// reader checked: an address outside its table raises "地址越界。", a
// callee address without a prepared callee raises "无效的地址访问。", an
// instruction position outside the body ends the function like opHalt.
//
// What it does not do: keep activations between runs or gather parameters
// (the program executor, u_ExeFile), convert values (varMng), implement the
// built-ins (u_base_funcs).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "script/common/base_inf.h"
#include "script/runtime/SqlValue.h"
#include "script/runtime/u_base_funcs.h"
#include "script/runtime/varMng.h"

namespace corvane {

// The host's handler for tag ... endtag blocks: the tag text, the global
// table and the running activation's table.
using TOnCustomTag =
    std::function<void(const std::string& txt, TVarMngr& GVarList, TVarMngr& LVarList)>;
// Answers true when the run must stop (the desktop's Cancel, the command
// line's Ctrl-C, a cancelled query).
using TCancelCheck = std::function<bool()>;

// The deepest chain of script calls one run may build. Each activation lives
// on the heap, so the bound protects memory, not the stack: 1000 levels of a
// function with a dozen variables take a few megabytes.
inline constexpr int kMaxCallDepth = 1000;
// Instructions executed between two polls of the cancellation check.
inline constexpr int kCancelPollInterval = 4096;
// Finished callees an activation keeps for reuse (see spares_).
inline constexpr size_t kMaxSpares = 8;

// The longest text a join (+ of texts) may produce: 64 MiB.
inline constexpr size_t kMaxTextLength = size_t{64} << 20;
inline constexpr const char* kMsgTextTooLong = "字符串太长。";
inline constexpr const char* kMsgCallTooDeep = "函数调用嵌套太深，最多允许%d层。";
inline constexpr const char* kMsgRunCancelled = "程序运行被中止。";
inline constexpr const char* kMsgDivisionByZero = "Division by zero";
inline constexpr const char* kMsgFloatDivisionByZero = "Floating point division by zero";
// An integer result of + - * beyond 64 bits: the text that an integer too
// large for its variable has always raised.
inline constexpr const char* kMsgIntegerOverflow = kMsgInvalidFloatOp;

// The flag register's save area: 50 entries; a push beyond them raises
// "范围越界。" and a pop of an empty stack gives 0 (compiled code pushes and
// pops once per call, so neither happens).
class TSimpleStack {
  public:
    void Push(int64_t v);
    int64_t Pop();
    int Top() const { return top_; }

  private:
    int64_t items_[50] = {};
    int top_ = 0;
};

// The comparison of opCmp: 1 or 0. Exposed for tests.
int64_t CompareVars(const TXVarData& a, const TXVarData& b, int32_t kind);
// The same-type copy of opMov and the converting assignment of opConvert.
void AssignVar(TXVarData& d, const TXVarData& s);
bool AssignConvertVar(TXVarData& d, const TXVarData& s);
// The ordering of two Variants that dtVariant comparisons use: -1, 0, 1.
// Null orders first; an empty value counts as 0 or as the empty text; a
// text against a number compares as numbers (a conversion error when the
// text is no number); a date against anything compares as date-times.
int CompareVariants(const Variant& a, const Variant& b);

class TASMCodeEngine {
  public:
    // An activation of function funcIndex of funcs (negative: built-in
    // -funcIndex) over the global table (which may be null). Declares every
    // variable of the function and applies initial texts. depth is the
    // number of activations above this one in a run.
    TASMCodeEngine(int funcIndex, TVarMngr* globals, const TFuncDefList* funcs, int depth = 0);
    ~TASMCodeEngine();
    TASMCodeEngine(const TASMCodeEngine&) = delete;
    TASMCodeEngine& operator=(const TASMCodeEngine&) = delete;

    // Executes the function from the current position to its opHalt.
    void Run();
    // Back to the first instruction, variables as they are.
    void ResetIP() { ip_ = 0; }

    TVarMngr& Locals() { return locals_; }
    const TClassDefInf& Func() const { return *func_; }
    int FuncIndex() const { return funcIndex_; }
    int64_t Flag() const { return flag_; }

    // Handlers; callees created by this engine use the same ones.
    void SetOnTag(TOnCustomTag handler) { hooks_->onTag = std::move(handler); }
    void SetOnExternalFunc(TOnExternalFunc handler) { hooks_->onExternal = std::move(handler); }
    void SetCancelCheck(TCancelCheck check) { hooks_->cancel = std::move(check); }
    // The clock and fault record the SQL instructions use (borrowed; null:
    // a context of their own, whose faults go nowhere).
    void SetSqlContext(const TSqlContext* context) { hooks_->sql = context; }

  private:
    struct Hooks {
        TOnCustomTag onTag;
        TOnExternalFunc onExternal;
        TCancelCheck cancel;
        const TSqlContext* sql = nullptr;
    };
    // The SQL instructions.
    void SqlOp(const TQVInstruction& ins);
    void SqlUnaryOp(const TQVInstruction& ins);
    bool SqlJumps(const TQVInstruction& ins);
    void SqlCall(const TQVInstruction& ins);
    const TSqlContext& SqlContext();

    // Runs an external function or a built-in; false for a script function.
    bool RunDirect();
    // Makes a finished activation as good as a new one of the same function:
    // fresh variable values, initial texts, first instruction.
    void Refresh();
    void ApplyInitTexts();
    void RunExternal();
    void RunBuiltin();
    TXVarData& Resolve(const Taddr& a);
    void Execute();  // the instruction loop

    std::unique_ptr<TASMCodeEngine> callee_;  // from opCallPrep to opCallEnd
    // Finished callees (oldest first), kept so that the next call of the
    // same function (a built-in called once per row, a loop calling a
    // function) refreshes one instead of building a new activation.
    std::vector<std::unique_ptr<TASMCodeEngine>> spares_;  // at most kMaxSpares
    TASMCodeEngine* caller_ = nullptr;                     // while this runs as a callee
    size_t ip_ = 0;
    TVarMngr locals_;
    TVarMngr* globals_;
    TVarMngr* calleeLocals_ = nullptr;
    TSimpleStack flagStack_;
    int64_t flag_ = 0;
    int untilPoll_ = kCancelPollInterval;  // instructions until the next cancel poll
    int funcIndex_;
    int depth_;
    const TClassDefInf* func_ = nullptr;
    std::unique_ptr<TClassDefInf> builtinFunc_;  // the record built for a built-in
    const TFuncDefList* funcs_;
    std::shared_ptr<TbaseFunctions> builtins_;  // held while running a built-in
    std::shared_ptr<Hooks> hooks_;              // shared with callees
    Tparamlist builtinParams_;                  // reused by RunBuiltin
    // Scratch values of the SQL instructions, reused from row to row.
    Variant sqlA_, sqlB_, sqlOut_;
    std::vector<Variant> sqlArgs_;
    std::vector<const Variant*> sqlArgRefs_;
    Tparamlist sqlParams_;
    TSqlContext ownSqlContext_;
};

}  // namespace corvane
