// CompilerExpressions: expressions, operands, calls and their type checks.
//
// CompileExpression works by operator precedence with an explicit stack of
// pending operations. Its bottom is an opMov into the destination (or into
// a temporary of the value's type when there is no destination yet); each
// operator read (TScanner::ReadOperator, a TOperatorKind) first finishes
// every pending operation that binds at least as tightly, so operations of
// equal precedence group from the left. Finishing an operation checks the
// operand types against the type table (qv_consts), chooses its
// destination (in place in a temporary operand where the type allows, else
// a new temporary) and emits it. "not" applies to everything after it.
//
// ResolveWord decides what a word is (TWordKind): a literal or constant
// (loaded into a temporary with opLoadText), a variable or an element of
// one, "iff", a call of a function of this unit, a used unit or the
// built-ins, or a conversion such as word(x). Calls copy their arguments
// into the callee's slots and "var" arguments back.
//
// Type faults are recorded and the instruction is emitted all the same; a
// failing operand makes the enclosing expression fail, and the statement is
// then skipped by the statement compiler.
//
// What it deliberately does not do: lay out statements and their jumps
// (CompilerStatements); manage temporaries, stamp lines or patch jumps
// (CodeEmitter); rewrite the code it emitted (PeepholeOptimizer, which the
// callers run over each expression's own list); read characters and
// operators (CompilerScanner).
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "script/common/u_functions_consts.h"
#include "script/compiler/PeepholeOptimizer.h"
#include "script/compiler/u_compile.h"

namespace corvane {

namespace {

std::string Unquote(std::string_view s) {
    if (s.size() >= 2 && (s.front() == '\'' || s.front() == '"'))
        return std::string(s.substr(1, s.size() - 2));
    return std::string(s);
}

}  // namespace

bool TsourceFile::CompileCondition(TsubList& list, Taddr& flag) {
    // condition -> expression, of type boolean, into a new boolean temporary
    flag = LocalAddr(code_.temps.Allocate(dtBoolean));
    int type = 0;
    return CompileExpression(flag, list, type) && type == dtBoolean;
}

bool TsourceFile::CheckOperands(int left, int right, int& result, int& other) const {
    result = ResultTypeOf(left, right);
    other = OtherTypeOf(left, right);
    return result >= 0;
}

bool TsourceFile::CheckLeftOperand(const TQVInstruction& q) const {
    const int t = code_.OperandType(q.Src1);
    switch (q.OpCode) {
        case opMod:
            return t == dtInteger || t == dtWord || t == dtByte;
        case opAdd:
        case opSub:
        case opMul:
        case opDiv:
            return t != dtString && t != dtChar && t != dtBoolean;
        case opAnd:
        case opOr:
        case opXor:
        case opNot:
            return t == dtBoolean;
        case opConcat:
            return t == dtString || t == dtChar;
        default:
            return true;
    }
}

void TsourceFile::FinishInstruction(TQVInstruction& q, int wanted) {
    int vt = dtNone;
    if (q.OpCode == opMov) {
        vt = code_.OperandType(q.Src1);
    } else if (q.OpCode == opNot) {
        vt = dtBoolean;
    } else {
        int other = 0;
        const int left = code_.OperandType(q.Src1);
        if (!CheckOperands(left, code_.OperandType(q.Src2), vt, other)) {
            Error(std::string(msg::TypeMismatch));
            // The pair has no result type; go on with the left one so that
            // the instruction still gets a destination.
            vt = IsValueType(left) ? left : dtVariant;
        }
        if (q.OpCode == opCmp) vt = dtBoolean;
        if (q.OpCode == opDiv) vt = dtDouble;
    }
    if (!CheckLeftOperand(q)) Error(std::string(msg::TypeMismatch));
    const bool unary = q.OpCode == opMov || q.OpCode == opNot;
    const Taddr& rp = unary ? q.Src1 : (code_.OperandType(q.Src1) == vt ? q.Src1 : q.Src2);
    if (wanted == dtUnknown) {
        // Working in place needs a temporary whose definition holds the
        // result uncut (not the true word of a word(x) conversion).
        if (code_.IsTempOperand(rp) && CanAssign(code_.OperandType(rp), vt) &&
            CanAssign(code_.DeclaredType(rp.Index), Ttmpmng::StorageOf(vt))) {
            q.Dest = rp;
        } else {
            q.Dest = LocalAddr(code_.temps.Allocate(vt));
        }
    } else if (!CanAssign(wanted, vt)) {
        Error(std::string(msg::TypeMismatch));
    }
}

// The precedence that finishes every pending operation, down to the
// expression's bottom opMov (":=" has precedence 0): where no operator
// follows an operand, the expression ends.
constexpr int kEndOfExpression = 0;

// The precedence of a pending operation on the operator stack.
static int Precedence(const TQVInstruction& i) {
    const TOperatorKind k = OperatorOfCode(i.OpCode);
    return k != okNone ? OperatorEntry(k).precedence : kEndOfExpression;
}

bool TsourceFile::CompileExpression(const Taddr& dest, TsubList& list, int& type) {
    // expression (CompileExpressionBody), one level deeper
    DepthGuard guard(*this);
    return CompileExpressionBody(dest, list, type);
}

bool TsourceFile::CompileExpressionBody(const Taddr& dest, TsubList& list, int& type) {
    // expression -> operand { operator operand }, by precedence:
    //   * / div mod (6)  + - (5)  comparisons and like (4)  not (3)  and (2)  or xor (1)
    std::vector<TQVInstruction> stack;
    TQVInstruction bottom = Instruction(opMov, dest);
    bottom.Line = static_cast<uint32_t>(scan_.LineNo());
    stack.push_back(std::move(bottom));
    Taddr current;
    for (;;) {
        if (!CompileOperand(list, true, current)) {
            Error(std::string(msg::BadExpression));
            return false;
        }
        const TOperatorKind op = scan_.ReadOperator();
        const int prec = op != okNone ? OperatorEntry(op).precedence : kEndOfExpression;
        while (!stack.empty() && Precedence(stack.back()) >= prec) {
            TQVInstruction q = std::move(stack.back());
            stack.pop_back();
            if (q.OpCode != opMov && q.OpCode != opNot) {
                q.Src2 = current;
                int result = 0, other = 0;
                if (!CheckOperands(code_.OperandType(q.Src1), code_.OperandType(q.Src2), result,
                                   other)) {
                    Error(std::string(msg::TypeMismatch));
                    other = dtNone;
                }
                if (q.OpCode == opCmp && q.Imm == ckLike && other != dtString)
                    Error(std::string(msg::LikeNeedsString));
            } else {
                q.Src1 = current;
            }
            int wanted = dtUnknown;
            if (q.OpCode == opMov && !IsNoDest(q.Dest)) {
                wanted = code_.OperandType(q.Dest);
                if (q.Dest.Kind == akLocal && q.Dest.Index == kResultSlot)
                    CurrentFunc().AssignedType = static_cast<TDataType>(code_.OperandType(q.Src1));
            }
            FinishInstruction(q, wanted);
            const int line = static_cast<int>(q.Line);
            current = q.Dest;
            code_.Emit(std::move(q), list, line);
            type = code_.OperandType(current);
            if (stack.empty()) return true;
        }
        TQVInstruction ins = Instruction(OperatorEntry(op).code, {}, current);
        ins.Line = static_cast<uint32_t>(scan_.LineNo());
        if (ins.OpCode == opAdd) {
            const int t = code_.OperandType(current);
            if (t == dtString || t == dtChar) ins.OpCode = opConcat;
        }
        if (ins.OpCode == opCmp) ins.Imm = CompareKindOf(op);
        stack.push_back(std::move(ins));
    }
}

bool TsourceFile::CompileOperand(TsubList& list, bool allowMinus, Taddr& operand) {
    // operand -> literal | constant | variable | element | call | iff | conversion
    //          | "(" expression ")" | "not" expression | "-" number
    DepthGuard guard(*this);
    const char c = scan_.PeekChar();
    if (c == '(') {
        scan_.NextChar();
        int type = 0;
        if (!CompileExpression(NoDest(), list, type) || list.empty()) return false;
        operand = list.back().Dest;
        if (type != dtUnknown) code_.temps.Retype(operand.Index, type);
        if (scan_.NextChar() != ')') {
            Error(msg::Expected, ")");
            return false;
        }
        return true;
    }
    if (c == '-' && allowMinus) {
        scan_.NextChar();
        const char d = scan_.PeekChar();
        if (d < '0' || d > '9') {
            Error(std::string(msg::MinusNeedsNumber));
            return false;
        }
        const std::string number = "-" + scan_.NextWord();
        return ResolveWord(number, list, operand) != wkUnknown;
    }
    const std::string w = scan_.PeekWord();
    if (w == "not") {
        scan_.NextWord();
        const Taddr t = LocalAddr(code_.temps.Allocate(dtBoolean));
        int type = 0;
        if (!CompileExpression(t, list, type) || type != dtBoolean) {
            Error(std::string(msg::BadExpression));
            return false;
        }
        code_.Emit(Instruction(opNot, t, t), list, scan_.LineNo());
        operand = t;
        return true;
    }
    scan_.NextWord();
    if (w.empty()) {
        Error(std::string(msg::OperandNeeded));
        return false;
    }
    switch (ResolveWord(w, list, operand)) {
        case wkUnknown:
            Error(msg::NotDeclared, w);
            return false;
        case wkProcedure:
            Error(std::string(msg::ProcedureInExpression));
            return false;
        default:
            return true;
    }
}

void TsourceFile::LoadText(const std::string& text, TsubList& list, Taddr& operand) {
    int type = LiteralType(text);
    const NumberCheck number = CheckNumber(text, type);
    // A constant whose value is no literal (nor a well-formed number): a
    // variant takes the text as it is.
    if (!IsValueType(type) || number == NumberCheck::Malformed) type = dtVariant;
    // A number the run time cannot hold would load as a silent 0.
    if (number == NumberCheck::OutOfRange) Error(msg::NumberOutOfRange, text);
    operand = LocalAddr(code_.temps.Allocate(type));
    TQVInstruction ins = Instruction(opLoadText, operand);
    ins.Text = (type == dtString || type == dtChar) && IsQuotedText(text) ? Unquote(text) : text;
    code_.Emit(std::move(ins), list, scan_.LineNo());
}

TWordKind TsourceFile::ResolveWord(const std::string& word, TsubList& list, Taddr& operand) {
    // operand-word -> literal | constant | variable [ index ] | "iff" iff-arguments
    //               | function [ arguments ] | type-name "(" expression ")"
    // tried in this order: literal, then names: local constant, local
    // variable, global constant, global variable, "iff", function (own
    // unit, used units, built-ins), conversion.
    if (IsLiteral(word)) {
        // A word that starts like a number but is none ("1abc", "1e") is
        // neither a literal nor a name that could be declared.
        if (CheckNumber(word, LiteralType(word)) == NumberCheck::Malformed) return wkUnknown;
        LoadText(word, list, operand);
        return wkLiteral;
    }
    if (!IsIdentifier(word)) return wkUnknown;
    const int lc = consts_.IndexOf(word);
    if (lc >= 0) {
        LoadText(consts_.ValueOf(lc), list, operand);
        return wkConstant;
    }
    const int slot = code_.Vars().IndexOf(word);
    if (slot >= 0) {
        operand = LocalAddr(slot);
        const Tvardef& def = (*code_.Vars().defs)[static_cast<size_t>(slot)];
        if (def.Size > 1 || (def.DataType == dtString && scan_.PeekChar() == '[')) {
            CompileIndex(operand, list);
            return fatal_ ? wkUnknown : wkElement;
        }
        return wkVariable;
    }
    int unit = 0, pos = 0;
    if (target->FindConst(word, unit, pos)) {
        LoadText(target->GetConstValue(unit, pos), list, operand);
        return wkConstant;
    }
    if (target->FindGlobal(word, unit, pos)) {
        operand = {};
        operand.Kind = akGlobal;
        operand.Module = static_cast<uint32_t>(unit);
        operand.Index = pos;
        const Tvardef def = target->GetGlobalDef(unit, pos);
        if (def.Size > 1 || (def.DataType == dtString && scan_.PeekChar() == '[')) {
            CompileIndex(operand, list);
            return fatal_ ? wkUnknown : wkElement;
        }
        return wkVariable;
    }
    if (word == "iff") {
        operand = LocalAddr(code_.temps.Allocate(dtVariant));
        return CompileIff(operand, list) ? wkValue : wkUnknown;
    }
    if (target->FindFunc(word, unit, pos)) {
        const TClassDefInf head =
            unit == kOwnUnit ? TClassDefInf{} : target->GetFuncHead(unit, pos);
        const int resultType = unit == kOwnUnit ? target->Funcs.Get(pos).ResultType
                                                : static_cast<int>(head.ResultType);
        TWordKind kind = wkProcedure;
        Taddr result = NoDest();
        if (resultType != dtNone) {
            result = LocalAddr(code_.temps.Allocate(resultType));
            kind = wkValue;
        }
        operand = result;
        return CompileCall(unit, pos, result, list) ? kind : wkUnknown;
    }
    // conversion -> type-name "(" expression ")", the "(" right after the name
    TDataType conv = dtNone;
    if (TypeCodeOf(word, conv) && scan_.CharAtCursor() == '(') {
        scan_.NextChar();
        int type = 0;
        if (!CompileExpression(NoDest(), list, type) || list.empty()) return wkUnknown;
        if (scan_.NextChar() != ')') {
            Error(msg::Expected, ")");
            return wkUnknown;
        }
        const Taddr src = list.back().Dest;
        // word(x) and byte(x) cut the value: their temporary is a true word
        // or byte.
        operand = LocalAddr(code_.temps.Allocate(conv, true));
        code_.Emit(Instruction(opConvert, operand, src), list, scan_.LineNo());
        return wkValue;
    }
    return wkUnknown;
}

bool TsourceFile::CompileIndex(Taddr& operand, TsubList& list) {
    // element -> name "[" expression "]"
    if (scan_.NextChar() != '[') {
        Error(msg::Expected, "[");
        return false;
    }
    const int t = code_.temps.Allocate(dtInteger);
    operand.Indexed = 1;
    operand.IndexVar = t;
    TsubList il;
    int type = 0;
    const bool ok = CompileExpression(LocalAddr(t), il, type);
    Optimize(il, code_);
    AppendList(il, list);
    if (!ok) return false;
    if (type != dtInteger) Error(std::string(msg::IndexNotOrdinal));
    if (scan_.NextChar() != ']') {
        Error(msg::Expected, "]");
        return false;
    }
    return true;
}

bool TsourceFile::CompileCall(int unit, int pos, const Taddr& result, TsubList& list) {
    // call -> name [ "(" argument { "," argument } ")" ]
    // The callee's head, copied: compiling the arguments may add temporaries
    // to the very function being called (a recursive call). A built-in may
    // end its list before its optional parameters (firstOptional).
    TvarDeflist params;
    size_t firstOptional = 0;
    {
        const TClassDefInf head =
            unit == kOwnUnit ? TClassDefInf{} : target->GetFuncHead(unit, pos);
        const TClassDefInf& h = unit == kOwnUnit ? target->Funcs.Get(pos) : head;
        const size_t n = std::min(static_cast<size_t>(std::max(h.HeadCount, 0)), h.varDefs.size());
        params.assign(h.varDefs.begin(), h.varDefs.begin() + static_cast<std::ptrdiff_t>(n));
        firstOptional = static_cast<size_t>(std::max(h.FirstOptional, 0));
    }
    std::vector<std::pair<Taddr, int>> args;
    std::vector<std::pair<Taddr, int>> byRef;
    if (params.size() > static_cast<size_t>(kFirstParamSlot)) {
        if (scan_.NextChar() != '(') {
            Error(msg::Expected, "(");
            return false;
        }
        for (size_t i = kFirstParamSlot; i < params.size(); ++i) {
            const Tvardef& p = params[i];
            Taddr arg;
            if (p.IsVarParam) {
                const std::string w = scan_.NextWord();
                if (ResolveWord(w, list, arg) != wkVariable) {
                    Error(std::string(msg::VarParamNotValue));
                    return false;
                }
                byRef.push_back({arg, static_cast<int>(i)});
            } else if (p.DataType == dtChar) {
                arg = LocalAddr(code_.temps.Allocate(dtChar));
                if (!CompileCharArgument(arg, list)) return false;
            } else {
                arg = LocalAddr(code_.temps.Allocate(p.DataType));
                TsubList al;
                int type = 0;
                const bool ok = CompileExpression(arg, al, type);
                Optimize(al, code_);
                AppendList(al, list);
                if (!ok) return false;
            }
            args.push_back({arg, static_cast<int>(i)});
            const char c = scan_.NextChar();
            if (i + 1 < params.size()) {
                if (c == ')' && firstOptional > 0 && i + 1 >= firstOptional) break;
                if (c != ',') {
                    Error(std::string(msg::ArgsNeedComma));
                    return false;
                }
            } else if (c != ')') {
                Error(msg::Expected, ")");
                return false;
            }
        }
    }
    TQVInstruction prep = Instruction(opCallPrep, {}, {}, {}, unit);
    prep.Imm2 = static_cast<uint32_t>(pos);
    code_.Emit(std::move(prep), list, scan_.LineNo());
    for (const auto& [arg, i] : args)
        code_.Emit(Instruction(opMov, CalleeAddr(i), arg), list, scan_.LineNo());
    code_.Emit(Instruction(opCall), list, scan_.LineNo());
    for (const auto& [arg, i] : byRef)
        code_.Emit(Instruction(opMov, arg, CalleeAddr(i)), list, scan_.LineNo());
    if (!IsNoDest(result))  // a function: its value
        code_.Emit(Instruction(opMov, result, CalleeAddr(kResultSlot)), list, scan_.LineNo());
    code_.Emit(Instruction(opCallEnd), list, scan_.LineNo());
    return true;
}

bool TsourceFile::CompileCharArgument(const Taddr& dest, TsubList& list) {
    // char-argument -> operand { "+" operand }, each a string or a char
    for (bool first = true;; first = false) {
        Taddr op;
        if (!CompileOperand(list, false, op)) {
            Error(std::string(msg::BadExpression));
            return false;
        }
        const int t = code_.OperandType(op);
        if (t != dtString && t != dtChar) Error(std::string(msg::TypeMismatch));
        code_.Emit(first ? Instruction(opMov, dest, op) : Instruction(opConcat, dest, dest, op),
                   list, scan_.LineNo());
        if (scan_.PeekChar() != '+') return true;
        scan_.NextChar();
    }
}

bool TsourceFile::CompileIff(const Taddr& dest, TsubList& list) {
    // iff -> "iff" "(" expression "," expression "," expression ")"
    if (scan_.NextChar() != '(') {
        Error(msg::Expected, "(");
        return false;
    }
    Taddr c;
    TsubList cond;
    if (!CompileCondition(cond, c)) {
        Error(msg::Expected, msg::arg::BooleanExpression);
        return false;
    }
    Optimize(cond, code_);
    AppendList(cond, list);
    code_.Emit(Instruction(opTest, c), list, scan_.LineNo());
    code_.EmitJump(opJmpTrue, list, scan_.LineNo(), PositionAfterNext(list));
    const size_t toSecond = code_.EmitJump(opJmp, list, scan_.LineNo());
    if (scan_.NextChar() != ',') {
        Error(std::string(msg::ArgsNeedComma));
        return false;
    }
    int type = 0;
    if (!CompileExpression(dest, list, type)) {
        Error(FormatMsg(msg::IffOption, 1));
        return false;
    }
    const size_t toEnd = code_.EmitJump(opJmp, list, scan_.LineNo());
    if (scan_.NextChar() != ',') {
        Error(std::string(msg::ArgsNeedComma));
        return false;
    }
    PatchJumpHere(list, toSecond);
    if (!CompileExpression(dest, list, type)) {
        Error(FormatMsg(msg::IffOption, 2));
        return false;
    }
    PatchJumpHere(list, toEnd);
    if (scan_.NextChar() != ')') {
        Error(msg::Expected, ")");
        return false;
    }
    return true;
}

}  // namespace corvane
