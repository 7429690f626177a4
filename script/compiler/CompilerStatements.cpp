// CompilerStatements: the statements of a function body.
//
// Each statement is compiled straight into the function's instruction list,
// laid out with its jumps: a condition is tested (opTest) and an opJmpTrue
// jumps over the opJmp that leaves, so "if", "while", "repeat" and "iff"
// share one shape; for loops test their bounds so that the counter never
// steps beyond its type. Jumps whose destination comes later are emitted
// open and patched when it is known: break and continue are collected per
// loop (TgotoList, gkBreak and gkContinue) and patched with the loop's exit
// and its next pass; the ends of case branches are patched with the end of
// the case statement (gkCaseExit). A faulty statement is recorded and
// skipped (RecoverStatement), and the list goes on with the next one.
//
// No construct is dropped because it looks empty: "while step do ;",
// "if c then ;" and "case e of end" still evaluate their expressions.
//
// What it deliberately does not do: compile expressions and resolve names
// (CompilerExpressions; an assignment's value, a condition or a bound is
// compiled there into a list of its own, optimised by PeepholeOptimizer and
// appended here); manage temporaries or stamp lines (CodeEmitter); read
// characters (CompilerScanner); declarations and the program layout
// (u_compile).
#include <string>
#include <vector>

#include "platform/Text.h"
#include "script/compiler/PeepholeOptimizer.h"
#include "script/compiler/u_compile.h"

namespace corvane {

bool TsourceFile::CompileStatementList(TsubList& list, std::string_view term, TgotoList* gotos,
                                       bool inLoop) {
    // statement-list -> statement { ";" statement }
    bool result = true;
    TScanPos last{-2, -2};  // no position: the first pass is never stuck
    for (;;) {
        if (stop_) return false;
        if (scan_.PeekChar() == ';') {
            scan_.NextChar();
            continue;
        }
        for (;;) {
            // A pass that consumed nothing would repeat forever: give up.
            if (scan_.Stuck(last)) return false;
            last = scan_.Pos();
            if (scan_.PeekWord() == term) return result;
            if (stop_) return false;
            if (!CompileStatement(list, inLoop, gotos)) {
                result = RecoverStatement();
                if (!result) return false;
            }
            if (scan_.PeekChar() == ';') break;
            if (scan_.PeekWord() == term) return result;
            if (stop_) return false;
            Error(FormatMsg(msg::Expected, std::string(msg::arg::SemiOr) + std::string(term)));
            result = false;
        }
        scan_.NextChar();
    }
}

bool TsourceFile::CompileStatement(TsubList& list, bool inLoop, TgotoList* gotos) {
    // statement (CompileStatementBody), one level deeper
    DepthGuard guard(*this);
    return CompileStatementBody(list, inLoop, gotos);
}

bool TsourceFile::CompileStatementBody(TsubList& list, bool inLoop, TgotoList* gotos) {
    // statement -> assignment | call | compound | if | while | repeat | for | case
    //            | "break" | "continue" | "exit" | tag | (empty)
    if (stop_) return false;
    if (scan_.PeekChar() == ';') return true;
    const std::string w = scan_.PeekWord();
    if (w.empty()) return false;
    if (w == "end") return true;
    if (w == "exit") {
        scan_.NextWord();
        code_.Emit(Instruction(opHalt), list, scan_.LineNo());
        return true;
    }
    if (w == "break" || w == "continue") {
        const bool isBreak = w == "break";
        if (inLoop && gotos) {
            scan_.NextWord();
            const size_t at = code_.EmitJump(opJmp, list, scan_.LineNo());
            gotos->push_back({isBreak ? gkBreak : gkContinue, static_cast<int>(at)});
            return true;
        }
        errors.Add(scan_.WordLine(),
                   std::string(isBreak ? msg::BreakOutside : msg::ContinueOutside));
        // goes on as an ordinary word, which is not declared
    } else if (w == "begin") {
        // compound -> "begin" statement-list "end"
        scan_.NextWord();
        if (!CompileStatementList(list, "end", gotos, inLoop)) return false;
        if (scan_.NextWord() != "end") {
            Error(msg::Expected, "end");
            return false;
        }
        return true;
    } else if (w == "if") {
        return CompileIf(list, inLoop, gotos);
    } else if (w == "for") {
        return CompileFor(list);
    } else if (w == "while") {
        return CompileWhile(list);
    } else if (w == "case") {
        return CompileCase(list, inLoop, gotos);
    } else if (w == "repeat") {
        return CompileRepeat(list);
    } else if (w == "tag") {
        return CompileTag(list);
    } else if (w == "function" || w == "procedure" || w == "initialization" || w == "var") {
        errors.Add(scan_.WordLine(), std::string(msg::WrongStatement));
        return false;
    }
    // assignment -> target ":=" expression ;  call -> name [ "(" arguments ")" ]
    scan_.NextWord();
    Taddr target;
    switch (ResolveWord(w, list, target)) {
        case wkUnknown:
            Error(msg::NotDeclared, w);
            return false;
        case wkVariable:
        case wkElement: {
            if (scan_.ReadOperator() != okAssign) {
                Error(msg::Expected, ":=");
                return false;
            }
            TsubList e;
            int type = 0;
            const bool ok = CompileExpression(target, e, type);
            Optimize(e, code_);
            AppendList(e, list);
            return ok;
        }
        case wkConstant:
        case wkLiteral:
            Error(std::string(msg::StatementStartsWithConst));
            return false;
        case wkValue:
        case wkProcedure:
            return true;  // a call
    }
    return true;
}

bool TsourceFile::CompileIf(TsubList& list, bool inLoop, TgotoList* gotos) {
    // if -> "if" expression "then" [ statement ] [ "else" [ statement ] ]
    scan_.NextWord();
    const int ifLine = scan_.LineNo();
    Taddr c;
    TsubList cond;
    if (!CompileCondition(cond, c)) {
        Error(msg::Expected, msg::arg::BooleanExpression);
        return false;
    }
    if (scan_.NextWord() != "then") {
        Error(msg::Expected, "then");
        return false;
    }
    Optimize(cond, code_);
    AppendList(cond, list);
    if (scan_.PeekChar() == ';') return true;  // nothing to choose, but the condition runs
    code_.Emit(Instruction(opTest, c), list, ifLine);
    code_.EmitJump(opJmpTrue, list, ifLine, PositionAfterNext(list));
    const size_t toElse = code_.EmitJump(opJmp, list, scan_.LineNo());
    if (scan_.PeekWord() != "else" && !CompileStatement(list, inLoop, gotos)) {
        Error(std::string(msg::WrongStatement));
        return false;
    }
    if (scan_.PeekChar() == ';') {
        PatchJumpHere(list, toElse);
        return true;
    }
    const size_t toEnd = code_.EmitJump(opJmp, list, ifLine);
    PatchJumpHere(list, toElse);
    if (scan_.NextWord() != "else") {
        Error(msg::Expected, msg::arg::ElseOrSemi);
        return false;
    }
    if (scan_.PeekChar() == ';' || CompileStatement(list, inLoop, gotos)) {
        PatchJumpHere(list, toEnd);
        return true;
    }
    Error(std::string(msg::WrongStatement));
    return false;
}

// Patches the open jumps of a loop: breaks go to exit, continues to next.
static void FillGotos(TsubList& list, const TgotoList& gotos, int exitPos, int nextPos) {
    for (const TgotoEntry& g : gotos) {
        if (g.kind == gkBreak) PatchJump(list, static_cast<size_t>(g.position), exitPos);
        if (g.kind == gkContinue) PatchJump(list, static_cast<size_t>(g.position), nextPos);
    }
}

bool TsourceFile::CompileWhile(TsubList& list) {
    // while -> "while" expression "do" statement
    scan_.NextWord();
    const int start = NextPosition(list);
    Taddr c;
    TsubList cond;
    if (!CompileCondition(cond, c)) {
        Error(std::string(msg::WrongStatement));
        return false;
    }
    if (scan_.NextWord() != "do") {
        Error(msg::Expected, "do");
        return false;
    }
    // An empty body keeps its loop: "while step do ;" calls step until it
    // gives false.
    Optimize(cond, code_);
    AppendList(cond, list);
    code_.Emit(Instruction(opTest, c), list, scan_.LineNo());
    code_.EmitJump(opJmpTrue, list, scan_.LineNo(), PositionAfterNext(list));
    const size_t toExit = code_.EmitJump(opJmp, list, scan_.LineNo());
    TgotoList gotos;
    if (!CompileStatement(list, true, &gotos)) {
        Error(std::string(msg::WrongStatement));
        return false;
    }
    code_.EmitJump(opJmp, list, scan_.LineNo(), start);
    const int exitPos = NextPosition(list);
    PatchJump(list, toExit, exitPos);
    FillGotos(list, gotos, exitPos, start);
    return true;
}

bool TsourceFile::CompileRepeat(TsubList& list) {
    // repeat -> "repeat" statement-list "until" expression
    scan_.NextWord();
    const int start = NextPosition(list);
    TgotoList gotos;
    if (!CompileStatementList(list, "until", &gotos, true)) {
        Error(std::string(msg::WrongStatement));
        return false;
    }
    if (scan_.NextWord() != "until") {
        Error(msg::Expected, "until");
        return false;
    }
    // Statements that leave no code ("repeat until f", "repeat n := n
    // until f") still loop on the condition.
    // "continue" goes to the until-test, so it can never skip it.
    const int test = NextPosition(list);
    Taddr c;
    TsubList cond;
    if (!CompileCondition(cond, c)) {
        Error(std::string(msg::WrongStatement));
        return false;
    }
    Optimize(cond, code_);
    AppendList(cond, list);
    code_.Emit(Instruction(opTest, c), list, scan_.LineNo());
    code_.EmitJump(opJmpTrue, list, scan_.LineNo(), PositionAfterNext(list));
    code_.EmitJump(opJmp, list, scan_.LineNo(), start);
    FillGotos(list, gotos, NextPosition(list), test);
    return true;
}

bool TsourceFile::CompileFor(TsubList& list) {
    // for -> "for" variable ":=" expression ( "to" | "downto" ) expression "do" statement
    //
    // Layout (for "downto" read < for >, <= for >=, the type's first value
    // for its last and -1 for +1):
    //         start; end; [word or byte counter: if e > last then e := last]
    //         v := s; if v > e goto exit
    //   top:  body
    //   next: if v >= e goto done; v := v + 1; goto top
    //   done: if v >= last goto exit; v := v + 1
    //   exit:
    // where last is the last value of the counter's type.
    scan_.NextWord();
    const int forLine = scan_.LineNo();
    const std::string vw = scan_.NextWord();
    Taddr v;
    const TWordKind kind = ResolveWord(vw, list, v);
    const int vt = kind == wkVariable ? code_.OperandType(v) : dtNone;
    if (kind != wkVariable || (vt != dtInteger && vt != dtWord && vt != dtByte)) {
        Error(std::string(msg::BadExpression));
        return false;
    }
    if (scan_.ReadOperator() != okAssign) {
        Error(msg::Expected, ":=");
        return false;
    }
    const Taddr s = LocalAddr(code_.temps.Allocate(dtInteger));
    TsubList startList;
    int type = 0;
    if (!CompileExpression(s, startList, type)) {
        Error(std::string(msg::BadExpression));
        return false;
    }
    const std::string dir = scan_.NextWord();
    int step = 0;
    if (dir == "to") {
        step = 1;
    } else if (dir == "downto") {
        step = -1;
    } else {
        Error(msg::Expected, msg::arg::ToOrDownto);
        return false;
    }
    const Taddr e = LocalAddr(code_.temps.Allocate(dtInteger));
    TsubList endList;
    if (!CompileExpression(e, endList, type)) {
        Error(std::string(msg::BadExpression));
        return false;
    }
    if (scan_.NextWord() != "do") {
        Error(std::string(msg::WrongStatement));
        return false;
    }
    // An empty body keeps its loop: the bounds may call functions, and the
    // counter ends past the end bound as always.
    Optimize(startList, code_);
    AppendList(startList, list);
    Optimize(endList, code_);
    AppendList(endList, list);
    code_.temps.Lock(e, true);
    // The last value the counter's type can hold in the loop's direction.
    const char* typeEnd = step > 0 ? (vt == dtInteger ? "9223372036854775807"
                                      : vt == dtWord  ? "65535"
                                                      : "255")
                                   : (vt == dtInteger ? "-9223372036854775808" : "0");
    if (vt != dtInteger) {
        // A word or byte counter cannot go past its type: an end bound
        // beyond it becomes the type's last value, or the counter would wrap
        // round and the loop never end.
        Taddr lim;
        LoadText(typeEnd, list, lim);
        const Taddr inside = LocalAddr(code_.temps.Allocate(dtBoolean));
        code_.Emit(Instruction(opCmp, inside, e, lim, step > 0 ? ckLessEqual : ckGreaterEqual),
                   list, forLine);
        code_.Emit(Instruction(opTest, inside), list, forLine);
        code_.EmitJump(opJmpTrue, list, forLine, PositionAfterNext(list));
        code_.Emit(Instruction(opMov, e, lim), list, forLine);
    }
    code_.Emit(Instruction(opMov, v, s), list, forLine);
    const Taddr c = LocalAddr(code_.temps.Allocate(dtBoolean));
    code_.Emit(Instruction(opCmp, c, v, e, step > 0 ? ckGreater : ckLess), list, forLine);
    code_.Emit(Instruction(opTest, c), list, forLine);
    const size_t none = code_.EmitJump(opJmpTrue, list, forLine);
    const int top = NextPosition(list);
    TgotoList gotos;
    if (!CompileStatement(list, true, &gotos)) {
        code_.temps.Lock(e, false);
        Error(std::string(msg::WrongStatement));
        return false;
    }
    // After each pass: the pass at the end bound was the last one. The test
    // comes before the step, so the counter never steps beyond its type.
    // "continue" goes here, so it can never skip the test or the step.
    const int next = NextPosition(list);
    const int line = scan_.LineNo();
    const Taddr done = LocalAddr(code_.temps.Allocate(dtBoolean));
    code_.Emit(Instruction(opCmp, done, v, e, step > 0 ? ckGreaterEqual : ckLessEqual), list, line);
    code_.Emit(Instruction(opTest, done), list, line);
    const size_t last = code_.EmitJump(opJmpTrue, list, line);
    code_.Emit(Instruction(opAddImm, v, v, {}, step), list, line);
    code_.EmitJump(opJmp, list, line, top);
    // After the last pass the counter steps once more, past the end bound,
    // unless it stands on its type's last value.
    PatchJumpHere(list, last);
    Taddr lim;
    LoadText(typeEnd, list, lim);
    const Taddr atEnd = LocalAddr(code_.temps.Allocate(dtBoolean));
    code_.Emit(Instruction(opCmp, atEnd, v, lim, step > 0 ? ckGreaterEqual : ckLessEqual), list,
               line);
    code_.Emit(Instruction(opTest, atEnd), list, line);
    const size_t skip = code_.EmitJump(opJmpTrue, list, line);
    code_.Emit(Instruction(opAddImm, v, v, {}, step), list, line);
    const int exitPos = NextPosition(list);
    PatchJump(list, none, exitPos);
    PatchJump(list, skip, exitPos);
    FillGotos(list, gotos, exitPos, next);
    code_.temps.Lock(e, false);
    return true;
}

bool TsourceFile::CompileCase(TsubList& list, bool inLoop, TgotoList* gotos) {
    // case -> "case" expression "of" { branch ";" } "end"
    // branch -> label { "," label } ":" statement | "else" [ statement ]
    scan_.NextWord();
    TsubList selList;
    int selType = 0;
    if (!CompileExpression(NoDest(), selList, selType) || selList.empty()) {
        Error(std::string(msg::BadExpression));
        return false;
    }
    const Taddr sel = selList.back().Dest;
    if (scan_.NextWord() != "of") {
        Error(msg::Expected, "of");
        return false;
    }
    Optimize(selList, code_);
    AppendList(selList, list);
    if (scan_.PeekWord() == "end") {
        scan_.NextWord();
        return true;  // no branch, but the selector still runs (it may call)
    }
    code_.temps.Lock(sel, true);
    TgotoList exits;
    auto branchEnd = [&] {
        if (scan_.PeekChar() == ';')
            scan_.NextChar();
        else if (scan_.PeekWord() != "end")
            Error(msg::Expected, msg::arg::SemiOrEnd);
    };
    for (;;) {
        const TScanPos before = scan_.Pos();
        const std::string w = scan_.PeekWord();
        if (stop_) break;
        if (w == "end") break;
        if (w == "else") {
            scan_.NextWord();
            if (scan_.PeekWord() != "end" && !CompileStatement(list, inLoop, gotos))
                RecoverStatement();
            branchEnd();
        } else if (CompileCaseLabels(list, sel, selType)) {
            const size_t toNextBranch = code_.EmitJump(opJmp, list, scan_.LineNo());
            if (!CompileStatement(list, inLoop, gotos)) RecoverStatement();
            const size_t toEnd = code_.EmitJump(opJmp, list, scan_.LineNo());
            exits.push_back({gkCaseExit, static_cast<int>(toEnd)});
            PatchJumpHere(list, toNextBranch);
            branchEnd();
        } else {
            RecoverStatement();
            if (scan_.PeekChar() == ';') scan_.NextChar();
        }
        if (stop_) break;
        if (scan_.Stuck(before)) RanOut();
    }
    code_.temps.Lock(sel, false);
    if (stop_) return false;  // the source ended inside the case statement
    scan_.NextWord();
    for (const TgotoEntry& g : exits)
        PatchJumpHere(list, static_cast<size_t>(g.position));
    return true;
}

bool TsourceFile::CompileCaseLabels(TsubList& list, const Taddr& sel, int selType) {
    // label -> expression [ ".." expression ]
    std::vector<size_t> branch;
    for (;;) {
        const Taddr lt = LocalAddr(code_.temps.Allocate(selType));
        TsubList ll;
        int type = 0;
        if (!CompileExpression(lt, ll, type)) return false;
        if (ResultTypeOf(type, selType) < 0) Error(std::string(msg::TypeMismatch));
        Optimize(ll, code_);
        AppendList(ll, list);
        const Taddr b = LocalAddr(code_.temps.Allocate(dtBoolean));
        const char c = scan_.PeekChar();
        if (c == ',' || c == ':') {
            code_.Emit(Instruction(opCmp, b, lt, sel, ckEqual), list, scan_.LineNo());
            code_.Emit(Instruction(opTest, b), list, scan_.LineNo());
            branch.push_back(code_.EmitJump(opJmpTrue, list, scan_.LineNo()));
        } else if (c == '.') {
            scan_.NextChar();
            if (scan_.NextChar() != '.') {
                Error(msg::Expected, "..");
                return false;
            }
            code_.Emit(Instruction(opCmp, b, sel, lt, ckGreater), list, scan_.LineNo());
            TsubList hl;
            if (!CompileExpression(lt, hl, type)) return false;
            Optimize(hl, code_);
            AppendList(hl, list);
            const Taddr b2 = LocalAddr(code_.temps.Allocate(dtBoolean));
            code_.Emit(Instruction(opCmp, b2, sel, lt, ckLess), list, scan_.LineNo());
            code_.Emit(Instruction(opAnd, b, b, b2), list, scan_.LineNo());
            code_.Emit(Instruction(opTest, b), list, scan_.LineNo());
            branch.push_back(code_.EmitJump(opJmpTrue, list, scan_.LineNo()));
        }
        if (scan_.PeekChar() != ',') break;
        scan_.NextChar();
    }
    if (scan_.PeekChar() != ':') {
        Error(msg::Expected, msg::arg::LabelEnd);
        return false;
    }
    scan_.NextChar();
    // A match enters the branch statement, just after the jump to the next
    // branch that the caller emits next.
    for (size_t k : branch)
        PatchJump(list, k, NextPosition(list) + 1);
    return true;
}

bool TsourceFile::CompileTag(TsubList& list) {
    // tag -> "tag" text "endtag"
    scan_.NextWord();
    const TScanPos textStart = scan_.Pos();
    const int tagLine = scan_.LineNo();
    for (;;) {
        const TScanPos before = scan_.Pos();
        const std::string w = scan_.PeekWord();
        if (stop_) return false;  // the source ended inside the tag
        if (w == "endtag") break;
        if (scan_.NextWord().empty()) scan_.NextChar();
        if (scan_.Stuck(before)) {
            RanOut();
            return false;
        }
    }
    scan_.NextWord();  // endtag, on the line that ends the text
    TQVInstruction ins = Instruction(opTag);
    ins.Text = Trim(scan_.TextFrom(textStart));
    code_.Emit(std::move(ins), list, tagLine);
    return true;
}

bool TsourceFile::RecoverStatement() {
    // Skips to the ";" or the blank before "end" that ends the faulty
    // statement; a source that ends first ends the compilation.
    if (scan_.SkipStatement()) return true;
    fatal_ = true;
    RanOut();
    return false;
}

}  // namespace corvane
