#include "sql/SqlCompile.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

#include "platform/Text.h"
#include "script/common/BuiltinHeads.h"
#include "script/common/ImageDisassembler.h"
#include "script/common/URegexp.h"
#include "script/common/U_err.h"
#include "script/common/base_inf.h"
#include "script/common/qv_consts.h"
#include "script/runtime/CodeMng.h"
#include "script/runtime/SqlFunctions.h"
#include "script/runtime/SqlOps.h"
#include "sql/SqlMessages.h"

namespace corvane {

namespace {

std::string LowerName(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool IsNumberType(TSqlType t) {
    return t == TSqlType::Integer || t == TSqlType::Real || t == TSqlType::Boolean;
}

TSqlType TypeOfCode(TDataType t) {
    switch (t) {
        case dtInteger:
        case dtWord:
        case dtByte:
            return TSqlType::Integer;
        case dtDouble:
            return TSqlType::Real;
        case dtString:
        case dtChar:
            return TSqlType::Text;
        case dtBoolean:
            return TSqlType::Boolean;
        case dtDate:
            return TSqlType::Date;
        default:
            return TSqlType::Any;
    }
}

TSqlType ArithmeticType(int32_t op, TSqlType a, TSqlType b) {
    if (a == TSqlType::Null || b == TSqlType::Null) return TSqlType::Null;
    if (op == soDiv) return TSqlType::Real;
    if (op == soMod) return TSqlType::Integer;
    if ((op == soAdd || op == soSub) && (a == TSqlType::Date || b == TSqlType::Date))
        return TSqlType::Date;
    if (op == soAdd && a == TSqlType::Text && b == TSqlType::Text) return TSqlType::Text;
    if (a == TSqlType::Any || b == TSqlType::Any || a == TSqlType::Text || b == TSqlType::Text)
        return TSqlType::Any;
    if (a == TSqlType::Real || b == TSqlType::Real) return TSqlType::Real;
    return TSqlType::Integer;
}

// The interval 'N unit [N unit]...' as date modifiers, each signed by sign.
bool IntervalModifiers(std::string_view text, bool subtract, std::vector<std::string>& out) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == ',') {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word.push_back(c);
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    if (words.empty() || words.size() % 2 != 0) return false;
    for (size_t i = 0; i < words.size(); i += 2) {
        Variant n;
        if (!ParseSqlNumber(words[i], n)) return false;
        std::string unit = LowerName(words[i + 1]);
        double amount =
            n.type() == VarType::Integer ? static_cast<double>(n.RawInteger()) : n.RawDouble();
        if (unit == "week" || unit == "weeks") {
            amount *= 7;
            unit = "days";
        }
        static constexpr std::string_view kUnits[] = {"day",    "days",    "hour",   "hours",
                                                      "minute", "minutes", "second", "seconds",
                                                      "month",  "months",  "year",   "years"};
        if (std::find(std::begin(kUnits), std::end(kUnits), unit) == std::end(kUnits)) return false;
        if (subtract) amount = -amount;
        std::string number;
        AppendGeneralFloat(number, amount, 15, '.');
        out.push_back((amount >= 0 ? "+" : "") + number + " " + unit);
    }
    return true;
}

bool MentionsNow(const Variant& v) {
    if (v.type() != VarType::String) return false;
    return LowerName(TrimView(v.RawString())) == "now";
}

// The aggregate names.
bool IsAggregateName(std::string_view lower) {
    return lower == "count" || lower == "sum" || lower == "min" || lower == "max" || lower == "avg";
}

}  // namespace

// ---- TSqlProgram ------------------------------------------------------------

TSqlProgram::TSqlProgram(std::unique_ptr<TFuncDefList> funcs, std::vector<TOperandRef> inputs,
                         std::vector<int> inputSlots,
                         std::vector<std::pair<int, Variant>> constants)
    : funcs_(std::move(funcs)), inputs_(std::move(inputs)), inputSlots_(std::move(inputSlots)) {
    engine_ = std::make_unique<TASMCodeEngine>(1, nullptr, funcs_.get());
    for (auto& [slot, value] : constants)
        engine_->Locals().At(slot).SetVariant(value);
}

TSqlProgram::~TSqlProgram() = default;

const Variant& TSqlProgram::Evaluate(IGVarMng& source) {
    if (!hooked_) {
        // The statement's clock and fault record, and its Cancel.
        engine_->SetSqlContext(&source.Context());
        IGVarMng* src = &source;
        engine_->SetCancelCheck([src] { return src->Cancelled(); });
        hooked_ = true;
    }
    TVarMngr& locals = engine_->Locals();
    for (size_t i = 0; i < inputs_.size(); ++i)
        locals.At(inputSlots_[i]).SetVariant(source.GetValue(inputs_[i]));
    engine_->ResetIP();
    engine_->Run();
    return *locals.At(0).VariantValue();
}

std::string TSqlProgram::Disassemble() const {
    return DisassembleFunction(funcs_->Get(1));
}

// ---- The emitter --------------------------------------------------------------

// Where a value of the expression stands while compiling: a constant not
// yet given a slot, or a local slot.
struct TSqlCompiler::TSlot {
    bool constant = false;
    Variant value;
    int index = -1;
    TSqlType type = TSqlType::Any;
    bool ok = true;
};

struct TSqlCompiler::TEmitter {
    TSqlCompiler& c;
    std::unique_ptr<TClassDefInf> func = std::make_unique<TClassDefInf>();
    std::vector<TOperandRef> inputs;  // what the program reads, and where
    std::vector<int> inputSlots;
    std::vector<std::pair<int, Variant>> constants;
    bool readsContent = false;
    int instructions = 0;

    explicit TEmitter(TSqlCompiler& compiler) : c(compiler) {
        func->Name = "sql";
        func->ResultType = dtVariant;
        func->varDefs.emplace_back("result", dtVariant);
        func->HeadCount = 1;
        func->Loaded = 1;
    }

    static TSlot Bad() {
        TSlot s;
        s.ok = false;
        return s;
    }
    static TSlot Constant(Variant v) {
        TSlot s;
        s.constant = true;
        s.type = SqlTypeOf(v);
        s.value = std::move(v);
        return s;
    }

    int NewSlot() {
        const int index = static_cast<int>(func->varDefs.size());
        func->varDefs.emplace_back("t" + std::to_string(index), dtVariant);
        return index;
    }

    int InputSlot(const TOperandRef& ref) {
        for (size_t i = 0; i < inputs.size(); ++i) {
            const TOperandRef& r = inputs[i];
            if (r.paramIndex == ref.paramIndex && r.tableIndex == ref.tableIndex &&
                r.fieldIndex == ref.fieldIndex && r.tag == ref.tag)
                return inputSlots[i];
        }
        inputs.push_back(ref);
        inputSlots.push_back(NewSlot());
        return inputSlots.back();
    }

    // The slot of a value; a constant gets one written once.
    int Materialise(TSlot& s) {
        if (!s.constant) return s.index;
        if (s.index < 0) {
            s.index = NewSlot();
            constants.emplace_back(s.index, s.value);
        }
        return s.index;
    }

    static Taddr Local(int index) {
        Taddr a;
        a.Kind = akLocal;
        a.Index = index;
        return a;
    }

    int Emit(TOpCode op, int dest, int s1, int s2, int32_t imm, uint32_t imm2 = 0) {
        TQVInstruction ins;
        ins.OpCode = op;
        if (dest >= 0) ins.Dest = Local(dest);
        if (s1 >= 0) ins.Src1 = Local(s1);
        if (s2 >= 0) ins.Src2 = Local(s2);
        ins.Imm = imm;
        ins.Imm2 = imm2;
        func->code.push_back(std::move(ins));
        ++instructions;
        return static_cast<int>(func->code.size()) - 1;
    }
    int Jump(int slot, uint32_t when) { return Emit(opSqlJump, slot, -1, -1, kNoJump, when); }
    int Goto() { return Emit(opJmp, -1, -1, -1, kNoJump); }
    void Land(int jump) { func->code[static_cast<size_t>(jump)].Imm = Here(); }
    int32_t Here() const { return static_cast<int32_t>(func->code.size()); }

    // The value of s in the slot target (a new one when -1).
    TSlot Into(TSlot s, int target) {
        if (!s.ok || target < 0) return s;
        if (!s.constant && s.index == target) return s;
        const int from = Materialise(s);
        Emit(opMov, target, from, -1, 0);
        TSlot out;
        out.index = target;
        out.type = s.type;
        return out;
    }

    TSlot Result(int target, TSqlType type) {
        TSlot s;
        s.index = target >= 0 ? target : NewSlot();
        s.type = type;
        return s;
    }

    // Folds op over constants when that cannot fail; false to emit code.
    static bool Fold(int32_t op, const TSlot& a, const TSlot* b, Variant& out) {
        if (!a.constant || (b && !b->constant)) return false;
        if (MentionsNow(a.value) || (b && MentionsNow(b->value))) return false;
        TSqlFaults faults;
        const TSqlContext ctx{0, &faults};
        try {
            if (b)
                SqlBinary(op, a.value, b->value, out, ctx);
            else
                SqlUnary(op, a.value, out, ctx);
        } catch (const std::exception&) {
            return false;
        }
        return !faults.RowFaulted();
    }

    TSlot Binary(int32_t op, TSlot a, TSlot b, int target, TSqlType type) {
        Variant folded;
        if (Fold(op, a, &b, folded)) {
            TSlot s = Constant(std::move(folded));
            if (s.type != TSqlType::Null) s.type = type;
            return Into(std::move(s), target);
        }
        const int x = Materialise(a), y = Materialise(b);
        TSlot r = Result(target, type);
        Emit(opSqlOp, r.index, x, y, op);
        return r;
    }

    TSlot Unary(int32_t op, TSlot a, int target, TSqlType type) {
        Variant folded;
        if (Fold(op, a, nullptr, folded)) {
            TSlot s = Constant(std::move(folded));
            if (s.type != TSqlType::Null) s.type = type;
            return Into(std::move(s), target);
        }
        const int x = Materialise(a);
        TSlot r = Result(target, type);
        Emit(opSqlUnary, r.index, x, -1, op);
        return r;
    }

    TSlot Expr(const TSqlExpr& e, int target = -1);
    TSlot Column(const TSqlExpr& e, int target);
    TSlot Call(const TSqlExpr& e, int target);
    bool CheckRegexpArguments(const TSqlExpr& e, const std::string& lower);
    TSlot CallNumber(const TSqlExpr& e, int32_t number, const std::vector<const TSqlExpr*>& args,
                     const std::vector<Variant>* extra, int target, TSqlType type);
    TSlot Logic(const TSqlExpr& e, int target);
    TSlot In(const TSqlExpr& e, int target);
    TSlot Case(const TSqlExpr& e, int target);
    TSlot Between(const TSqlExpr& e, int target);
    TSlot BinaryNode(const TSqlExpr& e, int target);
};

TSqlCompiler::TSlot TSqlCompiler::TEmitter::Expr(const TSqlExpr& e, int target) {
    // The binder stands in for columns, and in a grouped statement for
    // aggregate calls and GROUP BY expressions.
    TLeafValue leaf;
    const TLeafAnswer answer = c.resolver_ ? c.resolver_(e, leaf) : TLeafAnswer::NotMine;
    if (answer == TLeafAnswer::Failed) return Bad();
    if (answer == TLeafAnswer::Value) {
        TSlot s;
        s.index = InputSlot(leaf.ref);
        s.type = leaf.type;
        return Into(std::move(s), target);
    }
    switch (e.kind) {
        case TExprKind::Literal:
            return Into(Constant(e.value), target);
        case TExprKind::Param:
            // A parameter the binder did not bind names nothing.
            c.Fail(e, std::string(sqlmsg::UnknownParameter) + e.name);
            return Bad();
        case TExprKind::Column:
            return Column(e, target);
        case TExprKind::Star:
            c.Fail(e, Msg(sqlmsg::StarMisplaced));
            return Bad();
        case TExprKind::Unary: {
            TSlot a = Expr(*e.args[0]);
            if (!a.ok) return a;
            const TSqlType type = e.op == soNot ? TSqlType::Boolean : a.type;
            return Unary(e.op, std::move(a), target, type);
        }
        case TExprKind::Binary:
            return BinaryNode(e, target);
        case TExprKind::And:
        case TExprKind::Or:
            return Logic(e, target);
        case TExprKind::IsTest: {
            TSlot a = Expr(*e.args[0]);
            if (!a.ok) return a;
            return Unary(e.op, std::move(a), target, TSqlType::Boolean);
        }
        case TExprKind::Between:
            return Between(e, target);
        case TExprKind::In:
            return In(e, target);
        case TExprKind::Case:
            return Case(e, target);
        case TExprKind::Cast: {
            TSlot a = Expr(*e.args[0]);
            if (!a.ok) return a;
            const int32_t op = e.castType == TSqlType::Integer   ? soCastInteger
                               : e.castType == TSqlType::Real    ? soCastReal
                               : e.castType == TSqlType::Boolean ? soCastBoolean
                               : e.castType == TSqlType::Date    ? soCastDate
                                                                 : soCastText;
            return Unary(op, std::move(a), target, e.castType);
        }
        case TExprKind::Call:
            return Call(e, target);
        case TExprKind::Interval:
            c.Fail(e, FormatMsg(std::string(Msg(sqlmsg::IntervalInvalid)), SqlText(e.value)));
            return Bad();
    }
    return Bad();
}

TSqlCompiler::TSlot TSqlCompiler::TEmitter::Column(const TSqlExpr& e, int target) {
    const std::string lower = LowerName(e.name);
    if (e.qualifier.empty()) {
        // Words that read the statement's clock.
        static const struct {
            std::string_view word, function;
        } kClockWords[] = {{"now", "now"},
                           {"current_timestamp", "now"},
                           {"current_date", "date"},
                           {"current_time", "time"},
                           {"date", "date"}};
        if (!e.quoted)
            for (const auto& w : kClockWords)
                if (lower == w.word) {
                    const TSqlFunction* f = FindSqlFunction(w.function);
                    if (f) {
                        const int32_t number =
                            static_cast<int32_t>(f - SqlFunctionTable().data()) + 1;
                        return CallNumber(e, number, {}, nullptr, target, f->result);
                    }
                }
        // The full path: the path and the name joined.
        if (lower == "fullpath" && !e.quoted) {
            TSqlExpr path, name;
            path.kind = name.kind = TExprKind::Column;
            path.pos = name.pos = e.pos;
            path.end = name.end = e.end;
            path.name = "path";
            name.name = "filename";
            const int number = TBuiltinHeads::Acquire()->Find("fullname");
            if (number > 0)
                return CallNumber(e, -number, {&path, &name}, nullptr, target, TSqlType::Text);
        }
        // A double-quoted name that is no column is a text.
        if (e.quoted) return Into(Constant(Variant(e.name)), target);
    }
    const std::string written = e.qualifier.empty() ? e.name : e.qualifier + "." + e.name;
    c.Fail(e, FormatMsg(std::string(sqlmsg::UnknownName), written));
    return Bad();
}

TSqlCompiler::TSlot TSqlCompiler::TEmitter::BinaryNode(const TSqlExpr& e, int target) {
    const TSqlExpr& left = *e.args[0];
    const TSqlExpr& right = *e.args[1];
    // x + interval 'N unit', x - interval 'N unit': the date moved.
    if ((e.op == soAdd || e.op == soSub) && right.kind == TExprKind::Interval) {
        std::vector<std::string> modifiers;
        if (!IntervalModifiers(SqlText(right.value), e.op == soSub, modifiers)) {
            c.Fail(right,
                   FormatMsg(std::string(Msg(sqlmsg::IntervalInvalid)), SqlText(right.value)));
            return Bad();
        }
        const TSqlFunction* f = FindSqlFunction("datetime");
        if (!f) {
            c.Fail(e, FormatMsg(std::string(Msg(sqlmsg::UnknownFunction)), "datetime"));
            return Bad();
        }
        std::vector<Variant> extra;
        for (std::string& m : modifiers)
            extra.emplace_back(std::move(m));
        const int32_t number = static_cast<int32_t>(f - SqlFunctionTable().data()) + 1;
        return CallNumber(e, number, {&left}, &extra, target, TSqlType::Date);
    }
    TSlot a = Expr(left);
    if (!a.ok) return a;
    TSlot b = Expr(right);
    if (!b.ok) return b;
    TSqlType type = TSqlType::Boolean;
    switch (e.op) {
        case soAdd:
            // "+" joins texts and adds numbers; a text and a number are
            // neither, as the script language has it.
            if ((a.type == TSqlType::Text && (IsNumberType(b.type) || b.type == TSqlType::Date)) ||
                (b.type == TSqlType::Text && (IsNumberType(a.type) || a.type == TSqlType::Date))) {
                c.FailInExpression(right, 0, Msg(sqlmsg::TypesIncompatible));
                return Bad();
            }
            type = ArithmeticType(e.op, a.type, b.type);
            break;
        case soSub:
        case soMul:
        case soDiv:
        case soMod:
            type = ArithmeticType(e.op, a.type, b.type);
            break;
        case soConcat:
            type = TSqlType::Text;
            break;
        default:
            break;
    }
    if (e.op == soRegexp && b.constant && !SqlIsNull(b.value)) {
        // A constant pattern RE2 refuses is the statement's fault, not the rows'.
        std::string error;
        if (!CachedRegexp(SqlText(b.value), error)) {
            c.Fail(right, FormatMsg(std::string(sqlmsg::RegexpInvalid), SqlText(b.value)) + error);
            return Bad();
        }
    }
    if (e.negated) {
        TSlot r = Binary(e.op, std::move(a), std::move(b), -1, type);
        return Unary(soNot, std::move(r), target, TSqlType::Boolean);
    }
    return Binary(e.op, std::move(a), std::move(b), target, type);
}

// and -> a1 AND a2 ...: stops at the first false; or at the first true.
// Each operand's code follows the test of the value so far, so an operand
// after the deciding one never runs. Constant operands decide or drop out
// while compiling.
TSqlCompiler::TSlot TSqlCompiler::TEmitter::Logic(const TSqlExpr& e, int target) {
    const bool isAnd = e.kind == TExprKind::And;
    const int32_t op = isAnd ? soAnd : soOr;
    const uint32_t decides = isAnd ? kSqlJumpIfFalse : kSqlJumpIfTrue;
    const int deciding = isAnd ? 0 : 1;
    TSlot r = Result(target, TSqlType::Boolean);
    int combined = 0;  // operands with code so far
    bool sawUnknown = false;
    std::vector<int> exits;
    for (const TSqlExprPtr& arg : e.args) {
        TSlot s = Expr(*arg);
        if (!s.ok) return s;
        if (s.constant) {
            TSqlFaults faults;
            const int t = SqlTruthOf(s.value, TSqlContext{0, &faults});
            if (!faults.RowFaulted()) {
                if (t == deciding) {
                    if (combined == 0) return Into(Constant(Variant(!isAnd)), target);
                    TSlot decided = Constant(Variant(!isAnd));
                    Emit(opMov, r.index, Materialise(decided), -1, 0);
                    combined = -1;  // decided: the value is in r as it stands
                    break;
                }
                if (t < 0) sawUnknown = true;
                continue;
            }
        }
        if (combined == 0)
            Emit(opSqlUnary, r.index, Materialise(s), -1, soTruth);
        else
            Emit(opSqlOp, r.index, r.index, Materialise(s), op);
        ++combined;
        exits.push_back(Jump(r.index, decides));
    }
    if (combined == 0)
        return Into(sawUnknown ? Constant(Variant::Null()) : Constant(Variant(isAnd)), target);
    if (combined > 0 && sawUnknown) {
        TSlot unknown = Constant(Variant::Null());
        Emit(opSqlOp, r.index, r.index, Materialise(unknown), op);
    }
    for (int j : exits)
        Land(j);
    return r;
}

TSqlCompiler::TSlot TSqlCompiler::TEmitter::Between(const TSqlExpr& e, int target) {
    TSlot x = Expr(*e.args[0]);
    if (!x.ok) return x;
    TSlot low = Expr(*e.args[1]);
    if (!low.ok) return low;
    TSlot high = Expr(*e.args[2]);
    if (!high.ok) return high;
    if (!x.constant) Materialise(x);
    TSlot ge = Binary(soGe, x, std::move(low), -1, TSqlType::Boolean);
    TSlot le = Binary(soLe, x, std::move(high), -1, TSqlType::Boolean);
    TSlot both =
        Binary(soAnd, std::move(ge), std::move(le), e.negated ? -1 : target, TSqlType::Boolean);
    if (!e.negated) return both;
    return Unary(soNot, std::move(both), target, TSqlType::Boolean);
}

// x in (a, b, ...): x = a OR x = b ..., stopping at the first match.
TSqlCompiler::TSlot TSqlCompiler::TEmitter::In(const TSqlExpr& e, int target) {
    TSlot x = Expr(*e.args[0]);
    if (!x.ok) return x;
    std::vector<TSlot> items;
    bool allConstant = x.constant;
    for (size_t i = 1; i < e.args.size(); ++i) {
        TSlot s = Expr(*e.args[i]);
        if (!s.ok) return s;
        allConstant = allConstant && s.constant;
        items.push_back(std::move(s));
    }
    if (allConstant) {
        Variant acc(false);
        bool folded = true;
        for (TSlot& s : items) {
            Variant eq, next;
            if (!Fold(soEq, x, &s, eq)) {
                folded = false;
                break;
            }
            SqlBinary(soOr, acc, eq, next, TSqlContext{});
            acc = next;
        }
        if (folded) {
            if (e.negated) {
                Variant n;
                SqlUnary(soNot, acc, n, TSqlContext{});
                acc = n;
            }
            return Into(Constant(std::move(acc)), target);
        }
    }
    const int xs = Materialise(x);
    TSlot r = Result(e.negated ? -1 : target, TSqlType::Boolean);
    TSlot no = Constant(Variant(false));
    Emit(opMov, r.index, Materialise(no), -1, 0);
    const int eq = NewSlot();
    std::vector<int> exits;
    for (TSlot& s : items) {
        Emit(opSqlOp, eq, xs, Materialise(s), soEq);
        Emit(opSqlOp, r.index, r.index, eq, soOr);
        exits.push_back(Jump(r.index, kSqlJumpIfTrue));
    }
    for (int j : exits)
        Land(j);
    if (!e.negated) return r;
    return Unary(soNot, std::move(r), target, TSqlType::Boolean);
}

// case [x] when c then v ... [else v] end: only the branch taken runs.
TSqlCompiler::TSlot TSqlCompiler::TEmitter::Case(const TSqlExpr& e, int target) {
    size_t next = 0;
    TSlot operand;
    if (e.hasOperand) {
        operand = Expr(*e.args[next++]);
        if (!operand.ok) return operand;
        if (!operand.constant) Materialise(operand);
    }
    const size_t pairsEnd = e.hasElse ? e.args.size() - 1 : e.args.size();
    TSlot r = Result(target, TSqlType::Any);
    std::vector<int> ends;
    TSqlType type = TSqlType::Null;
    auto merge = [&](TSqlType t) {
        if (t == TSqlType::Null) return;
        type = type == TSqlType::Null || type == t ? t : TSqlType::Any;
    };
    bool decided = false;
    for (; next < pairsEnd && !decided; next += 2) {
        TSlot cond = Expr(*e.args[next]);
        if (!cond.ok) return cond;
        if (e.hasOperand) cond = Binary(soEq, operand, std::move(cond), -1, TSqlType::Boolean);
        int skip = -1;
        if (cond.constant) {
            TSqlFaults faults;
            const int t = SqlTruthOf(cond.value, TSqlContext{0, &faults});
            if (t != 1) continue;  // never taken
            decided = true;        // always taken: no later branch runs
        } else {
            skip = Jump(Materialise(cond), kSqlJumpIfFalse | kSqlJumpIfUnknown);
        }
        TSlot value = Expr(*e.args[next + 1], r.index);
        if (!value.ok) return value;
        merge(value.type);
        if (!decided) ends.push_back(Goto());
        if (skip >= 0) Land(skip);
    }
    if (!decided) {
        if (e.hasElse) {
            TSlot value = Expr(*e.args.back(), r.index);
            if (!value.ok) return value;
            merge(value.type);
        } else {
            Into(Constant(Variant::Null()), r.index);
        }
    }
    for (int j : ends)
        Land(j);
    r.type = type == TSqlType::Null ? TSqlType::Any : type;
    return r;
}

TSqlCompiler::TSlot TSqlCompiler::TEmitter::CallNumber(const TSqlExpr& e, int32_t number,
                                                       const std::vector<const TSqlExpr*>& args,
                                                       const std::vector<Variant>* extra,
                                                       int target, TSqlType type) {
    (void)e;
    const size_t count = args.size() + (extra ? extra->size() : 0);
    // The arguments stand in consecutive slots, made fresh here.
    const int base = static_cast<int>(func->varDefs.size());
    for (size_t i = 0; i < count; ++i)
        NewSlot();
    for (size_t i = 0; i < args.size(); ++i) {
        TSlot a = Expr(*args[i], base + static_cast<int>(i));
        if (!a.ok) return a;
    }
    if (extra)
        for (size_t i = 0; i < extra->size(); ++i)
            Into(Constant((*extra)[i]), base + static_cast<int>(args.size() + i));
    TSlot r = Result(target, type);
    Emit(opSqlCall, r.index, count ? base : 0, -1, number, static_cast<uint32_t>(count));
    return r;
}

// A constant pattern of the regular expression built-ins that RE2 refuses
// (or a replacement naming a group the pattern lacks) cannot work for any
// row: the statement's fault, reported where the text stands.
bool TSqlCompiler::TEmitter::CheckRegexpArguments(const TSqlExpr& e, const std::string& lower) {
    size_t patternArg = 0;
    if (lower == "regexp_like" || lower == "regexp_substr" || lower == "regexp_replace")
        patternArg = 1;
    else if (lower == "contains_regexp")
        patternArg = e.args.size() == 3 ? 2 : 1;
    else
        return true;
    auto literal = [&](size_t a) -> const TSqlExpr* {
        if (a >= e.args.size()) return nullptr;
        const TSqlExpr* arg = e.args[a].get();
        return arg->kind == TExprKind::Literal && arg->value.type() == VarType::String ? arg
                                                                                       : nullptr;
    };
    const TSqlExpr* pattern = literal(patternArg);
    if (!pattern) return true;
    std::string error;
    const std::shared_ptr<const TRegexp> re = CachedRegexp(pattern->value.RawString(), error);
    if (!re) {
        c.FailInExpression(*pattern, 0,
                           FormatMsg(sqlmsg::RegexpInvalid, pattern->value.RawString()) + error);
        return false;
    }
    const TSqlExpr* rewrite = lower == "regexp_replace" ? literal(2) : nullptr;
    std::string replaced;
    if (rewrite && !re->ReplaceAll("", rewrite->value.RawString(), replaced, error)) {
        c.FailInExpression(*rewrite, 0,
                           FormatMsg(sqlmsg::RewriteInvalid, rewrite->value.RawString()) + error);
        return false;
    }
    return true;
}

TSqlCompiler::TSlot TSqlCompiler::TEmitter::Call(const TSqlExpr& e, int target) {
    const std::string lower = LowerName(e.name);
    std::vector<const TSqlExpr*> args;
    for (const TSqlExprPtr& a : e.args)
        args.push_back(a.get());
    if (IsAggregateName(lower)) {
        c.FailInExpression(e, 0, FormatMsg(std::string(sqlmsg::AggregateMisplaced), e.name));
        return Bad();
    }
    if (e.star || e.distinct) {
        c.Fail(e, Msg(sqlmsg::StarMisplaced));
        return Bad();
    }
    const int n = static_cast<int>(args.size());
    if (const TSqlFunction* f = FindSqlFunction(lower)) {
        if (n < f->minArgs || (f->maxArgs >= 0 && n > f->maxArgs)) {
            c.Fail(e, FormatMsg(std::string(Msg(sqlmsg::FunctionArgs)), e.name));
            return Bad();
        }
        const int32_t number = static_cast<int32_t>(f - SqlFunctionTable().data()) + 1;
        return CallNumber(e, number, args, nullptr, target, f->result);
    }
    const std::shared_ptr<const TBuiltinHeads> heads = TBuiltinHeads::Acquire();
    const int number = heads->Find(lower);
    if (number > 0) {
        const TBuiltinHead& head = heads->Head(number);
        const int declared = static_cast<int>(head.Vars.size()) - 1;
        int required = 0;
        for (int i = 1; i <= declared; ++i)
            if (!head.Vars[static_cast<size_t>(i)].Optional) required = i;
        if (n < required || n > declared) {
            c.Fail(e, FormatMsg(std::string(Msg(sqlmsg::FunctionArgs)), e.name));
            return Bad();
        }
        if (head.ReadsContent) readsContent = true;
        if (!CheckRegexpArguments(e, lower)) return Bad();
        return CallNumber(e, -number, args, nullptr, target, TypeOfCode(head.ResultType));
    }
    c.Fail(e, FormatMsg(std::string(Msg(sqlmsg::UnknownFunction)), e.name));
    return Bad();
}

// ---- TSqlCompiler -------------------------------------------------------------

bool TSqlCompiler::Fail(const TSqlExpr& at, std::string_view message) {
    errors_.Add(std::string(message), at.pos);
    return false;
}

bool TSqlCompiler::FailInExpression(const TSqlExpr& at, int position, std::string_view detail) {
    const TSqlExpr& whole = subject_ ? *subject_ : at;
    std::string text = statement_.TextOf(whole);
    int pos = position > 0 ? position : at.pos - whole.pos + 1;
    if (text.size() > 80) {
        // Quote only the part around the place.
        const size_t from = static_cast<size_t>(std::max(0, pos - 40));
        size_t start = from;
        while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
            --start;
        text = text.substr(start, 80);
        while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0x80))
            text.pop_back();
        pos -= static_cast<int>(start);
    }
    errors_.Add(ExpressionMessage(text, pos, detail), at.pos);
    return false;
}

bool TSqlCompiler::Compile(const TSqlExpr& e, TCompiledExpr& out) {
    TEmitter emitter(*this);
    const int before = errors_.Count();
    TSlot result = emitter.Expr(e, -1);
    if (!result.ok || errors_.Count() > before) return false;
    out.type = result.type;
    out.readsContent = emitter.readsContent;
    out.program.reset();
    if (result.constant) {
        out.kind = TCompiledExpr::Kind::Constant;
        out.value = std::move(result.value);
        if (out.type == TSqlType::Null) out.type = TSqlType::Any;
        return true;
    }
    if (emitter.instructions == 0) {
        for (size_t i = 0; i < emitter.inputs.size(); ++i)
            if (emitter.inputSlots[i] == result.index) {
                out.kind = TCompiledExpr::Kind::Input;
                out.ref = emitter.inputs[i];
                return true;
            }
    }
    // The value ends in the result slot.
    emitter.Emit(opMov, 0, result.index, -1, 0);
    auto funcs = std::make_unique<TFuncDefList>();
    auto init = std::make_unique<TClassDefInf>();
    init->Name = "initialization";
    init->Loaded = 1;
    funcs->Append(std::move(init));
    funcs->Append(std::move(emitter.func));
    out.kind = TCompiledExpr::Kind::Program;
    out.program =
        std::make_unique<TSqlProgram>(std::move(funcs), std::move(emitter.inputs),
                                      std::move(emitter.inputSlots), std::move(emitter.constants));
    return true;
}

// ---- Comparing parsed expressions ----------------------------------------------

bool SameExpression(const TSqlExpr& a, const TSqlExpr& b) {
    if (a.kind != b.kind || a.op != b.op || a.negated != b.negated || a.distinct != b.distinct ||
        a.star != b.star || a.hasOperand != b.hasOperand || a.hasElse != b.hasElse ||
        a.castType != b.castType || a.args.size() != b.args.size())
        return false;
    if (a.kind == TExprKind::Column && a.quoted != b.quoted) return false;
    if (!SameTextAscii(a.name, b.name) || !SameTextAscii(a.qualifier, b.qualifier)) return false;
    if (a.kind == TExprKind::Literal || a.kind == TExprKind::Interval) {
        if (a.value.type() != b.value.type() || !a.value.SameAs(b.value)) return false;
    }
    for (size_t i = 0; i < a.args.size(); ++i)
        if (!SameExpression(*a.args[i], *b.args[i])) return false;
    return true;
}

std::string AggregateNameOf(const TSqlExpr& e) {
    if (e.kind != TExprKind::Call) return {};
    std::string lower = LowerName(e.name);
    return IsAggregateName(lower) ? lower : std::string();
}

}  // namespace corvane
