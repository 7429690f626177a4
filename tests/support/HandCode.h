// HandCode: functions written instruction by instruction, for the
// interpreter's and the program executor's tests, so that each case shows
// exactly what runs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "script/common/base_inf.h"
#include "script/common/qv_consts.h"

namespace corvane::testing {

inline Taddr Addr(uint32_t kind, int index) {
    Taddr a;
    a.Kind = kind;
    a.Index = index;
    return a;
}
inline Taddr L(int i) {
    return Addr(akLocal, i);
}
inline Taddr G(int i) {
    return Addr(akGlobal, i);
}
inline Taddr C(int i) {
    return Addr(akCallee, i);
}
// Element (value of local idx) of local i.
inline Taddr LI(int i, int idx) {
    Taddr a = L(i);
    a.Indexed = 1;
    a.IndexVar = idx;
    return a;
}

inline TQVInstruction I(int op, Taddr d = {}, Taddr s1 = {}, Taddr s2 = {}, int32_t imm = 0,
                        std::string text = {}) {
    TQVInstruction ins;
    ins.OpCode = static_cast<TOpCode>(op);
    ins.Dest = std::move(d);
    ins.Src1 = std::move(s1);
    ins.Src2 = std::move(s2);
    ins.Imm = imm;
    ins.Text = std::move(text);
    return ins;
}

// A loaded function: variables (0 is the result), the head count, the code;
// a final halt is added.
inline std::unique_ptr<TClassDefInf> Fn(std::string name, std::vector<Tvardef> vars, int headCount,
                                        std::vector<TQVInstruction> code) {
    auto f = std::make_unique<TClassDefInf>();
    f->Name = std::move(name);
    f->ResultType = vars.empty() ? dtNone : vars[0].DataType;
    f->varDefs = std::move(vars);
    f->HeadCount = headCount;
    f->code = std::move(code);
    f->code.push_back(I(opHalt));
    f->Loaded = 1;
    return f;
}

}  // namespace corvane::testing
