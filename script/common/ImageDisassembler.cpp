#include "script/common/ImageDisassembler.h"

namespace corvane {

// ---------------------------------------------------------------------------
// Listings

std::string FormatAddr(const Taddr& a) {
    std::string out;
    if (a.Kind == akGlobal) out += '@';
    if (!a.Name.empty()) {
        out += a.Name;
        return out;
    }
    switch (a.Kind) {
        case akLocal:
            out += "L" + std::to_string(a.Index);
            break;
        case akGlobal:
            out += "G" + std::to_string(a.Module) + "." + std::to_string(a.Index);
            break;
        case akCallee:
            out += "C" + std::to_string(a.Index);
            break;
        default:
            out += "?" + std::to_string(a.Kind) + "." + std::to_string(a.Index);
            break;
    }
    if (a.Indexed) out += "[L" + std::to_string(a.IndexVar) + "]";
    return out;
}

static void AppendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
}

std::string DisassembleInstruction(const TQVInstruction& ins, int pos) {
    std::string out;
    if (pos >= 0) out += std::to_string(pos) + " ";
    const TInstructionInfo& info = InstructionInfo(ins.OpCode);
    if (info.name.empty())
        out += "op" + std::to_string(ins.OpCode);
    else
        out += info.name;
    const int used = OperandCount(ins.OpCode);
    const Taddr* addrs[3] = {&ins.Dest, &ins.Src1, &ins.Src2};
    for (int k = 0; k < used; ++k) {
        out += k == 0 ? " " : ", ";
        out += FormatAddr(*addrs[k]);
    }
    switch (info.imm) {
        case TImmUse::Target:
            out += " -> " + std::to_string(ins.Imm);
            break;
        case TImmUse::Compare: {
            std::string rel = "?" + std::to_string(ins.Imm);
            for (const tRltn_value& r : kRelations)
                if (r.code == ins.Imm) rel = std::string(r.name);
            out += " " + rel;
            break;
        }
        case TImmUse::Callee:
            out += " " + std::to_string(ins.Imm) + ":" +
                   std::to_string(static_cast<int32_t>(ins.Imm2));
            break;
        case TImmUse::Step:
            out += ins.Imm >= 0 ? " +" : " ";
            out += std::to_string(ins.Imm);
            break;
        case TImmUse::SqlOp:
            out += " #" + std::to_string(ins.Imm);
            break;
        case TImmUse::SqlFunc:
            out += " fn" + std::to_string(ins.Imm) + "/" +
                   std::to_string(static_cast<int32_t>(ins.Imm2));
            break;
        case TImmUse::None:
            break;
    }
    if (ins.OpCode == opSqlJump) out += " if " + std::to_string(ins.Imm2);
    if (info.usesText) {
        out += " '";
        AppendEscaped(out, ins.Text);
        out += "'";
    }
    return out;
}

std::string DisassembleFunction(const TClassDefInf& f) {
    std::string out = (f.ResultType == dtNone ? "procedure " : "function ") + f.Name;
    if (f.ResultType != dtNone) out += ": " + std::string(TypeNameOf(f.ResultType));
    if (f.IsExternal) out += " external";
    out += "  (head " + std::to_string(f.HeadCount) + ")\n";
    for (size_t i = 0; i < f.varDefs.size(); ++i) {
        const Tvardef& v = f.varDefs[i];
        out += "  var " + std::to_string(i) + " " + v.Name + ": ";
        std::string_view tn = TypeNameOf(v.DataType);
        out += tn.empty() ? std::to_string(v.DataType) : std::string(tn);
        if (v.Size != 1) out += " size " + std::to_string(v.Size);
        if (v.IsVarParam) out += " var";
        out += "\n";
    }
    for (const Tconst& c : f.consts)
        out += "  const " + c.Name + " = " + c.Value + "\n";
    for (size_t i = 0; i < f.code.size(); ++i)
        out += "  " + DisassembleInstruction(f.code[i], static_cast<int>(i)) + "\n";
    return out;
}

std::string DisassembleUnit(const TVMC_OBJ& unit) {
    std::string out;
    for (int n = 1; n <= unit.UsedUnits.Count(); ++n)
        out += "uses " + std::to_string(n) + " " + unit.UsedUnits.Get(n) + "\n";
    for (const Tconst& c : unit.Consts)
        out += "const " + c.Name + " = " + c.Value + "\n";
    for (size_t i = 0; i < unit.Globals.size(); ++i) {
        const Tvardef& v = unit.Globals[i];
        out += "global " + std::to_string(i) + " " + v.Name + ": " +
               std::string(TypeNameOf(v.DataType));
        if (v.Size != 1) out += " size " + std::to_string(v.Size);
        out += "\n";
    }
    for (int i = 0; i < unit.Funcs.Count(); ++i)
        out += std::to_string(i) + ": " + DisassembleFunction(unit.Funcs.Get(i));
    return out;
}

}  // namespace corvane
