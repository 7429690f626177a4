#include "script/runtime/CodeMng.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/DateTime.h"
#include "script/common/ULike.h"
#include "script/common/U_err.h"
#include "script/runtime/SqlFunctions.h"
#include "script/runtime/SqlOps.h"

namespace corvane {

namespace {

bool IsIntegerClass(TDataType t) {
    return t == dtInteger || t == dtWord || t == dtByte;
}

// An operand of + - * read once: an exact integer when it holds one (an
// integer, word or byte variable, or a variant or external variable whose
// value is an integer), else a double. Integer operands are computed in 64
// bits whatever their declared width, as Pascal promotes them.
struct Number {
    bool exact = false;
    int64_t i = 0;
    double d = 0;
};

Number ReadNumber(const TXVarData& v, Variant& scratch) {
    if (!v.IsExternal()) {
        if (IsIntegerClass(v.DataType())) return {true, v.AsInteger(), 0};
        if (v.DataType() != dtVariant) return {false, 0, v.AsFloat()};
    }
    v.ReadVariant(scratch);
    if (scratch.type() == VarType::Integer) return {true, scratch.AsInteger(), 0};
    if (v.IsExternal() && scratch.IsNull()) return {false, 0, 0};
    return {false, 0, scratch.AsDouble()};
}

// The exact result of a + b, a - b or a * b; a result beyond 64 bits is the
// run-time error that any integer overflow raises, never a wrapped value.
int64_t IntegerArithmetic(TOpCode op, int64_t a, int64_t b) {
    int64_t n = 0;
    const bool overflow = op == opAdd   ? __builtin_add_overflow(a, b, &n)
                          : op == opSub ? __builtin_sub_overflow(a, b, &n)
                                        : __builtin_mul_overflow(a, b, &n);
    if (overflow) throw EScriptError(kMsgIntegerOverflow);
    return n;
}

// Stores an integer result. Only here is it narrowed: a word or byte
// destination keeps its low bits. A double or a date takes it as a double;
// opAdd leaves any other destination alone, opSub and opMul write it as
// they write a double.
void StoreInteger(TXVarData& d, TOpCode op, int64_t n) {
    switch (d.DataType()) {
        case dtInteger:
        case dtWord:
        case dtByte:
        case dtVariant:
            d.SetInteger(n);
            break;
        case dtDouble:
        case dtDate:
            d.SetFloat(static_cast<double>(n));
            break;
        default:
            if (op != opAdd) d.SetInteger(n);
            break;
    }
}

int Sign(double d) {
    return d < 0 ? -1 : (d > 0 ? 1 : 0);
}

int CompareBytes(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
    if (c != 0) return c < 0 ? -1 : 1;
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// A text that doubles in a loop would take all memory before long: joining
// stops at kMaxTextLength.
void CheckTextLength(const std::string& t) {
    if (t.size() > kMaxTextLength) throw EScriptError(kMsgTextTooLong);
}

// d := s1 + s2 as texts. s := s + t appends to s in place, so that a loop
// of appends stays linear; otherwise the joined text is built once and
// moved into d.
void JoinTexts(TXVarData& d, const TXVarData& s1, const TXVarData& s2) {
    if (&d == &s1 && d.AppendText(s2, kMaxTextLength)) return;
    std::string t = s1.AsString();
    s2.AppendString(t);
    CheckTextLength(t);
    d.MoveString(std::move(t));
}

std::string CallTooDeepText() {
    return FormatMsg(kMsgCallTooDeep, kMaxCallDepth);
}

}  // namespace

// ---------------------------------------------------------------------------

void TSimpleStack::Push(int64_t v) {
    if (top_ >= 50) throw EScriptError(std::string(msg::RangeExceeded));
    items_[top_++] = v;
}

int64_t TSimpleStack::Pop() {
    if (top_ == 0) return 0;
    return items_[--top_];
}

// ---------------------------------------------------------------------------
// Values

int CompareVariants(const Variant& a, const Variant& b) {
    VarType ta = a.type(), tb = b.type();
    if (ta == VarType::Null || tb == VarType::Null) {
        if (ta == tb) return 0;
        return ta == VarType::Null ? -1 : 1;
    }
    if (ta == VarType::Empty && tb == VarType::Empty) return 0;
    if (ta == VarType::String && tb == VarType::String)
        return CompareBytes(a.RawString(), b.RawString());
    if (ta == VarType::Empty && tb == VarType::String) return CompareBytes("", b.RawString());
    if (ta == VarType::String && tb == VarType::Empty) return CompareBytes(a.RawString(), "");
    if (ta == VarType::Date || tb == VarType::Date) return Sign(a.AsDate() - b.AsDate());
    if ((ta == VarType::Integer || ta == VarType::Empty) &&
        (tb == VarType::Integer || tb == VarType::Empty)) {
        int64_t x = a.AsInteger(), y = b.AsInteger();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    double x = a.AsDouble(), y = b.AsDouble();
    return x < y ? -1 : (x > y ? 1 : 0);
}

int64_t CompareVars(const TXVarData& a, const TXVarData& b, int32_t kind) {
    if (kind == ckLike) return LikeMatch(a.AsString(), b.AsString()) ? 1 : 0;
    int c = 0;
    switch (a.DataType()) {
        case dtInteger:
        case dtWord:
        case dtByte: {
            int64_t x = a.AsInteger(), y = b.AsInteger();
            c = x < y ? -1 : (x > y ? 1 : 0);
            break;
        }
        case dtString:
        case dtChar:
            c = CompareBytes(a.AsString(), b.AsString());
            break;
        case dtDouble: {
            double x = a.AsFloat(), y = b.AsFloat();
            c = x < y ? -1 : (x > y ? 1 : 0);
            break;
        }
        case dtBoolean: {
            uint8_t x = a.AsOrdinal(), y = b.AsOrdinal();
            c = x < y ? -1 : (x > y ? 1 : 0);
            break;
        }
        case dtDate: {
            double x = a.AsDateTime(), y = b.AsDateTime();
            c = x < y ? -1 : (x > y ? 1 : 0);
            break;
        }
        case dtVariant:
            c = CompareVariants(a.AsVariant(), b.AsVariant());
            break;
        default:
            c = 0;
            break;
    }
    switch (kind) {
        case ckNotEqual:
            return c != 0;
        case ckGreaterEqual:
            return c != -1;
        case ckLessEqual:
            return c != 1;
        default:
            return c == kind;
    }
}

void AssignVar(TXVarData& d, const TXVarData& s) {
    if (d.DataType() != s.DataType()) {
        AssignConvertVar(d, s);
        return;
    }
    switch (d.DataType()) {
        case dtInteger:
        case dtWord:
        case dtByte:
            d.SetInteger(s.AsInteger());
            break;
        case dtString:
            if (&d != &s) d.SetString(s.AsString());
            break;
        case dtChar:
            d.SetChar(s.AsChar());
            break;
        case dtDouble:
        case dtDate:
            d.SetFloat(s.AsFloat());
            break;
        case dtBoolean:
            d.SetBoolean(s.AsBoolean());
            break;
        case dtVariant:
            if (&d != &s) d.SetVariant(s.AsVariant());
            break;
        default:
            break;  // arrays are never copied
    }
}

bool AssignConvertVar(TXVarData& d, const TXVarData& s) {
    if (d.DataType() == s.DataType()) {
        AssignVar(d, s);
        return true;
    }
    auto viaVariant = [&]() {
        try {
            d.SetVariant(s.AsVariant());
            return true;
        } catch (const std::exception&) {
            return false;  // the target keeps what the failed write left
        }
    };
    switch (d.DataType()) {
        case dtInteger:
        case dtWord:
        case dtByte:
        case dtDouble:
        case dtBoolean:
        case dtDate:
        case dtVariant:
            return viaVariant();
        case dtString:
            if (s.DataType() == dtChar) {
                uint8_t c = s.AsChar();
                if (c == EmptyChar)
                    d.SetString("");
                else
                    d.SetString(std::string(1, static_cast<char>(c)));
                return true;
            }
            return viaVariant();
        case dtChar:
            if (s.DataType() == dtString) {
                std::string t = s.AsString();
                d.SetChar(t.empty() ? EmptyChar : static_cast<uint8_t>(t[0]));
                return true;
            }
            return false;
        default:
            return false;
    }
}

// ---------------------------------------------------------------------------
// Activations

TASMCodeEngine::TASMCodeEngine(int funcIndex, TVarMngr* globals, const TFuncDefList* funcs,
                               int depth)
    : globals_(globals), funcIndex_(funcIndex), depth_(depth), funcs_(funcs) {
    if (funcIndex < 0) {
        builtins_ = TbaseFunctions::Acquire();
        if (funcIndex == INT32_MIN) throw EScriptError(std::string(msg::RangeExceeded));
        const TfuncHeadInfo& head = builtins_->Head(-funcIndex);
        builtinFunc_ = std::make_unique<TClassDefInf>();
        builtinFunc_->Name = head.Name;
        builtinFunc_->ResultType = head.ResultType;
        for (const TBuiltinVar& v : head.Vars)
            builtinFunc_->varDefs.emplace_back(v.Name, v.DataType);
        builtinFunc_->HeadCount = static_cast<int32_t>(builtinFunc_->varDefs.size());
        builtinFunc_->Loaded = 1;
        func_ = builtinFunc_.get();
    } else {
        if (!funcs) throw EScriptError(std::string(msg::BoundsExceeded));
        func_ = &funcs->Get(funcIndex);
    }
    hooks_ = std::make_shared<Hooks>();
    if (globals) locals_.ShareHandlersFrom(*globals);
    for (const Tvardef& def : func_->varDefs) {
        if (def.Size <= 0)
            locals_.AddExternal(def.Name, def.DataType);
        else if (def.Size == 1)
            locals_.AddScalar(def.Name, def.DataType);
        else
            locals_.AddArray(def.Name, def.Size, def.DataType);
    }
    ApplyInitTexts();
}

void TASMCodeEngine::ApplyInitTexts() {
    const int count = std::min(locals_.Count(), static_cast<int>(func_->varDefs.size()));
    for (int p = 0; p < count; ++p) {
        const Tvardef& def = func_->varDefs[static_cast<size_t>(p)];
        TXVarData& v = locals_.At(p);
        // A refused external name leaves the positions shifted: only a
        // variable of the definition's own name takes its text.
        if (def.InitText.empty() || v.Name() != def.Name) continue;
        if (v.DataType() == dtChar)
            v.SetChar(static_cast<uint8_t>(def.InitText[0]));
        else
            v.SetString(def.InitText);
    }
}

void TASMCodeEngine::Refresh() {
    locals_.ResetValues();
    ApplyInitTexts();
    ip_ = 0;
    flag_ = 0;
    flagStack_ = TSimpleStack();
    caller_ = nullptr;
    callee_.reset();
    calleeLocals_ = nullptr;
}

TASMCodeEngine::~TASMCodeEngine() = default;

TXVarData& TASMCodeEngine::Resolve(const Taddr& a) {
    TVarMngr* table;
    switch (a.Kind) {
        case akLocal:
            table = &locals_;
            break;
        case akGlobal:
            table = globals_;
            break;
        case akCallee:
            table = calleeLocals_;
            break;
        default:
            table = nullptr;
            break;
    }
    if (!table) throw EScriptError(std::string(msg::InvalidAddress));
    if (!a.Indexed) {
        if (a.Index < 0 || a.Index >= table->Count())
            throw EScriptError(std::string(msg::AddressOutOfRange));
        return table->At(a.Index);
    }
    // The index variable always lies among the activation's own variables.
    if (a.IndexVar < 0 || a.IndexVar >= locals_.Count())
        throw EScriptError(std::string(msg::AddressOutOfRange));
    int64_t i = locals_.At(a.IndexVar).AsInteger();
    TXVarData* element = table->ElementAt(a.Index, i);
    if (!element) throw EScriptError(std::string(msg::InvalidAddress));
    return *element;
}

bool TASMCodeEngine::RunDirect() {
    if (func_->IsExternal) {
        RunExternal();
        return true;
    }
    if (funcIndex_ < 0) {
        RunBuiltin();
        return true;
    }
    return false;
}

void TASMCodeEngine::RunExternal() {
    if (!hooks_->onExternal) return;
    Tparamlist params;
    int head = std::min(func_->HeadCount, locals_.Count());
    for (int i = 1; i < head; ++i)
        params.push_back({func_->varDefs[static_cast<size_t>(i)].Name, locals_.At(i).AsVariant()});
    Variant rtn;
    hooks_->onExternal(func_->Name, params, rtn);
    if (locals_.Count() > 0) locals_.At(0).SetVariant(rtn);
}

void TASMCodeEngine::RunBuiltin() {
    Tparamlist params(static_cast<size_t>(locals_.Count()));
    for (int i = 0; i < locals_.Count(); ++i)
        locals_.At(i).ReadVariant(params[static_cast<size_t>(i)].Value);
    Variant rtn;
    builtins_->Call(-funcIndex_, params, rtn);
    if (locals_.Count() > 0) locals_.At(0).SetVariant(rtn);
}

void TASMCodeEngine::Run() {
    if (RunDirect()) return;
    Execute();
}

void TASMCodeEngine::Execute() {
    TASMCodeEngine* cur = this;
    caller_ = nullptr;
    for (;;) {
        const TsubList& code = cur->func_->code;
        // Leaving the body, opHalt and every opcode above the table end the
        // function; the caller then goes on after its opCall.
        const TOpCode op = cur->ip_ < code.size() ? code[cur->ip_].OpCode : opHalt;
        if (op == opHalt || op >= kOpCodeCount) {
            cur->ip_ = 0;
            if (cur == this) return;
            TASMCodeEngine* parent = cur->caller_;
            cur->caller_ = nullptr;
            cur = parent;
            cur->flag_ = cur->flagStack_.Pop();
            ++cur->ip_;
            continue;
        }
        // The count goes on from run to run: a short program run once per
        // row polls as often as one long run.
        if (--untilPoll_ == 0) {
            untilPoll_ = kCancelPollInterval;
            if (hooks_->cancel && hooks_->cancel()) throw EScriptError(kMsgRunCancelled);
        }
        const TQVInstruction& ins = code[cur->ip_];
        switch (op) {
            case opMov:
                AssignVar(cur->Resolve(ins.Dest), cur->Resolve(ins.Src1));
                break;
            case opAdd: {
                TXVarData& d = cur->Resolve(ins.Dest);
                const TXVarData& s1 = cur->Resolve(ins.Src1);
                const TXVarData& s2 = cur->Resolve(ins.Src2);
                if (s1.DataType() == dtString || s2.DataType() == dtString) {
                    JoinTexts(d, s1, s2);
                    break;
                }
                Variant va, vb;
                const Number a = ReadNumber(s1, va);
                const Number b = ReadNumber(s2, vb);
                if (a.exact && b.exact) {
                    StoreInteger(d, op, IntegerArithmetic(op, a.i, b.i));
                    break;
                }
                const double x = (a.exact ? static_cast<double>(a.i) : a.d) +
                                 (b.exact ? static_cast<double>(b.i) : b.d);
                switch (d.DataType()) {
                    case dtInteger:
                        d.SetInteger(TruncToInteger(x));
                        break;
                    case dtWord:
                        d.SetWord(static_cast<uint16_t>(TruncToInteger(x) & 0xFFFF));
                        break;
                    case dtByte:
                        d.SetByte(static_cast<uint8_t>(TruncToInteger(x) & 0xFF));
                        break;
                    case dtDouble:
                    case dtDate:
                        d.SetFloat(x);
                        break;
                    case dtVariant:
                        d.SetVariant(Variant(x));
                        break;
                    default:
                        break;
                }
                break;
            }
            case opSub:
            case opMul: {
                TXVarData& d = cur->Resolve(ins.Dest);
                const TXVarData& s1 = cur->Resolve(ins.Src1);
                const TXVarData& s2 = cur->Resolve(ins.Src2);
                Variant va, vb;
                const Number a = ReadNumber(s1, va);
                const Number b = ReadNumber(s2, vb);
                if (a.exact && b.exact) {
                    StoreInteger(d, op, IntegerArithmetic(op, a.i, b.i));
                    break;
                }
                const double x = a.exact ? static_cast<double>(a.i) : a.d;
                const double y = b.exact ? static_cast<double>(b.i) : b.d;
                d.SetFloat(op == opSub ? x - y : x * y);
                break;
            }
            case opDiv: {
                TXVarData& d = cur->Resolve(ins.Dest);
                double a = cur->Resolve(ins.Src1).AsFloat();
                double b = cur->Resolve(ins.Src2).AsFloat();
                if (b == 0)
                    throw EScriptError(a == 0 || std::isnan(a) ? kMsgInvalidFloatOp
                                                               : kMsgFloatDivisionByZero);
                d.SetFloat(a / b);
                break;
            }
            case opMod: {
                TXVarData& d = cur->Resolve(ins.Dest);
                int64_t a = cur->Resolve(ins.Src1).AsInteger();
                int64_t b = cur->Resolve(ins.Src2).AsInteger();
                if (b == 0) throw EScriptError(kMsgDivisionByZero);
                d.SetInteger(b == -1 ? 0 : a % b);  // sign of the dividend
                break;
            }
            case opJmp:
                cur->ip_ = static_cast<size_t>(static_cast<uint32_t>(ins.Imm));
                continue;
            case opJmpTrue:
                if (cur->flag_ == 1) {
                    cur->ip_ = static_cast<size_t>(static_cast<uint32_t>(ins.Imm));
                    continue;
                }
                break;
            case opCmp: {
                TXVarData& d = cur->Resolve(ins.Dest);
                cur->flag_ = CompareVars(cur->Resolve(ins.Src1), cur->Resolve(ins.Src2), ins.Imm);
                d.SetInteger(cur->flag_);
                break;
            }
            case opPushFlag:
                cur->flagStack_.Push(cur->flag_);
                break;
            case opPopFlag:
                cur->flag_ = cur->flagStack_.Pop();
                break;
            case opConcat: {
                TXVarData& d = cur->Resolve(ins.Dest);
                const TXVarData& s1 = cur->Resolve(ins.Src1);
                JoinTexts(d, s1, cur->Resolve(ins.Src2));
                break;
            }
            case opLoadText: {
                TXVarData& d = cur->Resolve(ins.Dest);
                if (d.DataType() == dtChar)
                    d.SetChar(ins.Text.empty() ? EmptyChar : static_cast<uint8_t>(ins.Text[0]));
                else
                    d.SetString(ins.Text);
                break;
            }
            case opConvert:
                AssignConvertVar(cur->Resolve(ins.Dest), cur->Resolve(ins.Src1));
                break;
            case opAnd:
            case opOr:
            case opXor: {
                TXVarData& d = cur->Resolve(ins.Dest);
                uint64_t a = static_cast<uint64_t>(cur->Resolve(ins.Src1).AsInteger());
                uint64_t b = static_cast<uint64_t>(cur->Resolve(ins.Src2).AsInteger());
                int64_t f;
                if (op == opAnd) {
                    f = static_cast<int64_t>(a * b);  // truth values are 0 and 1
                } else if (op == opOr) {
                    f = static_cast<int64_t>(a + b);
                    if (f >= 1) f = 1;
                } else {
                    f = (a != 0) != (b != 0) ? 1 : 0;
                }
                cur->flag_ = f;
                d.SetInteger(f);
                break;
            }
            case opNot: {
                TXVarData& d = cur->Resolve(ins.Dest);
                cur->flag_ = cur->Resolve(ins.Src1).AsInteger() == 0 ? 1 : 0;
                d.SetInteger(cur->flag_);
                break;
            }
            case opTest:
                cur->flag_ = cur->Resolve(ins.Dest).AsInteger();
                break;
            case opSetFlag:
                cur->Resolve(ins.Dest).SetInteger(cur->flag_);
                break;
            case opTag:
                if (hooks_->onTag) {
                    TVarMngr empty;
                    hooks_->onTag(ins.Text, cur->globals_ ? *cur->globals_ : empty, cur->locals_);
                }
                break;
            case opCallPrep: {
                if (cur->depth_ + 1 >= kMaxCallDepth) throw EScriptError(CallTooDeepText());
                cur->calleeLocals_ = nullptr;
                cur->callee_.reset();
                std::unique_ptr<TASMCodeEngine> next;
                auto& spares = cur->spares_;
                auto same = std::find_if(spares.begin(), spares.end(),
                                         [&](const auto& e) { return e->funcIndex_ == ins.Imm; });
                if (same != spares.end()) {
                    next = std::move(*same);
                    spares.erase(same);
                    next->Refresh();
                } else {
                    next = std::make_unique<TASMCodeEngine>(ins.Imm, cur->globals_, cur->funcs_,
                                                            cur->depth_ + 1);
                }
                next->hooks_ = cur->hooks_;
                cur->callee_ = std::move(next);
                cur->calleeLocals_ = &cur->callee_->locals_;
                break;
            }
            case opCall: {
                TASMCodeEngine* callee = cur->callee_.get();
                if (!callee) throw EScriptError(std::string(msg::InvalidAddress));
                cur->flagStack_.Push(cur->flag_);
                if (!callee->RunDirect() && !callee->func_->code.empty()) {
                    callee->ip_ = 0;
                    callee->caller_ = cur;
                    cur = callee;  // the callee runs; its opHalt comes back here
                    continue;
                }
                cur->flag_ = cur->flagStack_.Pop();
                break;
            }
            case opCallEnd:
                cur->calleeLocals_ = nullptr;
                if (cur->callee_) {
                    if (cur->spares_.size() >= kMaxSpares) cur->spares_.erase(cur->spares_.begin());
                    cur->spares_.push_back(std::move(cur->callee_));
                }
                break;
            case opAddImm: {
                TXVarData& d = cur->Resolve(ins.Dest);
                uint64_t v = static_cast<uint64_t>(cur->Resolve(ins.Src1).AsInteger());
                d.SetInteger(static_cast<int64_t>(v + static_cast<uint64_t>(int64_t{ins.Imm})));
                break;
            }
            case opSqlOp:
                cur->SqlOp(ins);
                break;
            case opSqlUnary:
                cur->SqlUnaryOp(ins);
                break;
            case opSqlJump:
                if (cur->SqlJumps(ins)) {
                    cur->ip_ = static_cast<size_t>(static_cast<uint32_t>(ins.Imm));
                    continue;
                }
                break;
            case opSqlCall:
                cur->SqlCall(ins);
                break;
            default:
                break;  // opHalt and codes above the table are handled above
        }
        ++cur->ip_;
    }
}

// ---------------------------------------------------------------------------
// The SQL instructions

namespace {

// The value of a variable as SQL reads it: a plain variant variable
// without a copy, anything else through scratch.
const Variant& SqlRead(const TXVarData& v, Variant& scratch) {
    if (const Variant* value = v.VariantValue()) return *value;
    v.ReadVariant(scratch);
    return scratch;
}

// An argument of a script built-in converted to the type its head
// declares, as the script compiler would convert it at a call; false when
// it does not convert (the call then gives null). A null argument of a
// typed parameter makes the call null too, except for a boolean one,
// which reads null as false, as a condition does.
bool ToDeclared(const Variant& v, TDataType type, const TSqlContext& ctx, Variant& out,
                bool& nullResult) {
    if (type == dtVariant || (type == dtString && v.type() == VarType::String)) {
        out.Assign(v);
        return true;
    }
    if (v.type() == VarType::Integer && (type == dtInteger || type == dtWord || type == dtByte)) {
        out.SetInteger(v.RawInteger());
        return true;
    }
    if (SqlIsNull(v)) {
        if (type == dtBoolean) {
            out.SetBoolean(false);
            return true;
        }
        nullResult = true;
        return false;
    }
    switch (type) {
        case dtInteger:
        case dtWord:
        case dtByte: {
            int64_t i = 0;
            if (!SqlToInteger(v, i)) break;
            out.SetInteger(i);
            return true;
        }
        case dtDouble: {
            double d = 0;
            if (!SqlToReal(v, d)) break;
            out.SetDouble(d);
            return true;
        }
        case dtDate: {
            TDateTime d = 0;
            if (!SqlToDate(v, ctx, d)) break;
            out.SetDate(d);
            return true;
        }
        case dtBoolean: {
            bool b = false;
            if (!SqlToBoolean(v, b)) break;
            out.SetBoolean(b);
            return true;
        }
        case dtChar: {
            std::string t;
            SqlToText(v, t);
            if (t.size() > 1) t.resize(1);
            out.SetString(std::move(t));
            return true;
        }
        default: {
            std::string t;
            SqlToText(v, t);
            out.SetString(std::move(t));
            return true;
        }
    }
    ctx.Fault(FormatMsg2(Msg(sqlmsg::CannotConvert), SqlText(v).substr(0, 60), TypeNameOf(type)));
    return false;
}

}  // namespace

const TSqlContext& TASMCodeEngine::SqlContext() {
    if (hooks_->sql) return *hooks_->sql;
    if (ownSqlContext_.now == 0) ownSqlContext_.now = Now();
    return ownSqlContext_;
}

void TASMCodeEngine::SqlOp(const TQVInstruction& ins) {
    TXVarData& d = Resolve(ins.Dest);
    const Variant& a = SqlRead(Resolve(ins.Src1), sqlA_);
    const Variant& b = SqlRead(Resolve(ins.Src2), sqlB_);
    if (!IsBinarySqlOp(ins.Imm)) throw EScriptError(std::string(msg::RangeExceeded));
    SqlBinary(ins.Imm, a, b, sqlOut_, SqlContext());
    d.SwapInVariant(sqlOut_);
}

void TASMCodeEngine::SqlUnaryOp(const TQVInstruction& ins) {
    TXVarData& d = Resolve(ins.Dest);
    const Variant& a = SqlRead(Resolve(ins.Src1), sqlA_);
    if (!IsUnarySqlOp(ins.Imm)) throw EScriptError(std::string(msg::RangeExceeded));
    SqlUnary(ins.Imm, a, sqlOut_, SqlContext());
    d.SwapInVariant(sqlOut_);
}

bool TASMCodeEngine::SqlJumps(const TQVInstruction& ins) {
    const Variant& v = SqlRead(Resolve(ins.Dest), sqlA_);
    const int t = SqlTruthOf(v, SqlContext());
    const uint32_t bit = t < 0 ? kSqlJumpIfUnknown : (t ? kSqlJumpIfTrue : kSqlJumpIfFalse);
    return (ins.Imm2 & bit) != 0;
}

void TASMCodeEngine::SqlCall(const TQVInstruction& ins) {
    TXVarData& d = Resolve(ins.Dest);
    const int count = static_cast<int>(ins.Imm2);
    if (count < 0 || count > 4096 || ins.Src1.Kind != akLocal || ins.Src1.Indexed)
        throw EScriptError(std::string(msg::InvalidAddress));
    // The arguments where they stand: a plain variant slot is read in place,
    // anything else through sqlArgs_.
    sqlArgs_.resize(static_cast<size_t>(count));
    sqlArgRefs_.resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        Taddr a = ins.Src1;
        a.Index = ins.Src1.Index + i;
        const TXVarData& v = Resolve(a);
        const Variant* value = v.VariantValue();
        if (!value) {
            v.ReadVariant(sqlArgs_[static_cast<size_t>(i)]);
            value = &sqlArgs_[static_cast<size_t>(i)];
        }
        sqlArgRefs_[static_cast<size_t>(i)] = value;
    }
    const TSqlContext& ctx = SqlContext();
    sqlOut_.Clear();
    if (ins.Imm > 0) {
        const std::vector<TSqlFunction>& table = SqlFunctionTable();
        if (static_cast<size_t>(ins.Imm) > table.size())
            throw EScriptError(std::string(msg::RangeExceeded));
        const TSqlFunction& f = table[static_cast<size_t>(ins.Imm - 1)];
        if (count < f.minArgs || (f.maxArgs >= 0 && count > f.maxArgs))
            throw EScriptError(std::string(msg::RangeExceeded));
        bool anyNull = false;
        for (const Variant* v : sqlArgRefs_)
            anyNull = anyNull || SqlIsNull(*v);
        if (f.strict && anyNull) {
            sqlOut_.SetNull();
        } else {
            // The functions take their arguments side by side.
            for (int i = 0; i < count; ++i)
                if (sqlArgRefs_[static_cast<size_t>(i)] != &sqlArgs_[static_cast<size_t>(i)])
                    sqlArgs_[static_cast<size_t>(i)].Assign(*sqlArgRefs_[static_cast<size_t>(i)]);
            f.impl(sqlArgs_.data(), count, sqlOut_, ctx);
        }
        d.SwapInVariant(sqlOut_);
        return;
    }
    if (ins.Imm == 0 || ins.Imm == INT32_MIN) throw EScriptError(std::string(msg::RangeExceeded));
    const int number = -ins.Imm;
    if (!builtins_) builtins_ = TbaseFunctions::Acquire();
    if (number >= builtins_->Count()) throw EScriptError(std::string(msg::RangeExceeded));
    const TfuncHeadInfo& head = builtins_->Head(number);
    const int declared = static_cast<int>(head.Vars.size()) - 1;
    if (count > declared) throw EScriptError(std::string(msg::RangeExceeded));
    sqlParams_.resize(static_cast<size_t>(declared) + 1);
    sqlParams_[0].Value.Clear();
    bool nullResult = false, ok = true;  // a null argument or one that does not convert
    for (int i = 1; i <= declared && ok; ++i) {
        Variant& slot = sqlParams_[static_cast<size_t>(i)].Value;
        sqlParams_[static_cast<size_t>(i)].Name = head.Vars[static_cast<size_t>(i)].Name;
        if (i > count) {
            slot.Clear();  // a parameter left out arrives empty
            continue;
        }
        ok = ToDeclared(*sqlArgRefs_[static_cast<size_t>(i - 1)],
                        head.Vars[static_cast<size_t>(i)].DataType, ctx, slot, nullResult);
    }
    if (!ok) {
        sqlOut_.SetNull();
    } else {
        // A built-in notes why it gives null in the record of the thread it
        // runs on; a statement's filter may run on a listing thread.
        const TSqlFaultScope faults(ctx.faults ? ctx.faults : CurrentSqlFaults());
        builtins_->Call(number, sqlParams_, sqlOut_);
        if (head.ResultType == dtNone) sqlOut_.SetNull();
    }
    d.SwapInVariant(sqlOut_);
}

}  // namespace corvane
