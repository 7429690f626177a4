#include "script/compiler/PeepholeOptimizer.h"

namespace corvane {

bool SameOperand(const Taddr& a, const Taddr& b) {
    if (a.Kind != b.Kind || a.Module != b.Module || a.Index != b.Index) return false;
    if ((a.Indexed != 0) != (b.Indexed != 0)) return false;
    return !a.Indexed || a.IndexVar == b.IndexVar;
}

bool RemoveAt(TsubList& list, int j) {
    for (const TQVInstruction& i : list)
        if (IsJump(i) && i.Imm == j) return false;
    for (TQVInstruction& i : list)
        if (IsJump(i) && i.Imm > j) --i.Imm;
    list.erase(list.begin() + j);
    return true;
}

void Optimize(TsubList& list, const TCodeEmitter& code) {
    // 1. x := x goes.
    for (int i = static_cast<int>(list.size()) - 1; i >= 0; --i) {
        const TQVInstruction& m = list[static_cast<size_t>(i)];
        if (m.OpCode == opMov && SameOperand(m.Dest, m.Src1)) RemoveAt(list, i);
    }
    // 2. t := a op b; x := t  becomes  x := a op b.
    for (int i = static_cast<int>(list.size()) - 1; i >= 1; --i) {
        if (static_cast<size_t>(i) >= list.size()) continue;
        const TQVInstruction& m = list[static_cast<size_t>(i)];
        const TQVInstruction& p = list[static_cast<size_t>(i - 1)];
        if (m.OpCode != opMov || !code.IsTempOperand(m.Src1) || !SameOperand(m.Src1, p.Dest))
            continue;
        switch (p.OpCode) {
            case opJmp:
            case opJmpTrue:
            case opPushFlag:
            case opPopFlag:
            case opHalt:
            case opTest:
            case opCallPrep:
            case opCall:
            case opCallEnd:
                continue;
            case opConvert:
                // word(x) cuts its value; writing the conversion straight
                // into a variable of another type would not.
                if (code.OperandType(m.Dest) != code.DeclaredType(p.Dest.Index)) continue;
                break;
            default:
                break;
        }
        const Taddr dest = m.Dest;
        if (RemoveAt(list, i)) list[static_cast<size_t>(i - 1)].Dest = dest;
    }
}

}  // namespace corvane
