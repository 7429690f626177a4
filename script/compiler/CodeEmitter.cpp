#include "script/compiler/CodeEmitter.h"

#include <algorithm>
#include <cassert>

#include "script/common/qv_vmc.h"

namespace corvane {

namespace {

// Class numbers of TypeClassOf that have temporaries: 1..kTypeClassCount.
bool IsTypeClass(int cls) {
    return cls >= 1 && cls <= kTypeClassCount;
}

}  // namespace

// ===========================================================================
// Operands and instructions

Taddr LocalAddr(int slot) {
    Taddr a;
    a.Kind = akLocal;
    a.Index = slot;
    return a;
}

Taddr NoDest() {
    return LocalAddr(kNoSlot);
}

bool IsNoDest(const Taddr& a) {
    return a.Index < 0;
}

Taddr CalleeAddr(int slot) {
    Taddr a;
    a.Kind = akCallee;
    a.Index = slot;
    return a;
}

TQVInstruction Instruction(TOpCode op, const Taddr& dest, const Taddr& src1, const Taddr& src2,
                           int32_t imm) {
    TQVInstruction i;
    i.OpCode = op;
    i.Dest = dest;
    i.Src1 = src1;
    i.Src2 = src2;
    i.Imm = imm;
    return i;
}

bool IsJump(const TQVInstruction& i) {
    return i.OpCode == opJmp || i.OpCode == opJmpTrue;
}

bool IsTempName(std::string_view name) {
    return name.starts_with("_tmp_");
}

// ===========================================================================
// Instruction lists and backpatching

void AppendList(TsubList& from, TsubList& to) {
    const int32_t base = static_cast<int32_t>(to.size());
    to.reserve(to.size() + from.size());
    for (TQVInstruction& i : from) {
        if (IsJump(i) && i.Imm >= 0) i.Imm += base;
        to.push_back(std::move(i));
    }
    from.clear();
}

int32_t NextPosition(const TsubList& list) {
    return static_cast<int32_t>(list.size());
}

int32_t PositionAfterNext(const TsubList& list) {
    return NextPosition(list) + 2;
}

void PatchJump(TsubList& list, size_t at, int32_t target) {
    assert(at < list.size() && IsJump(list[at]) && list[at].Imm == kNoJump &&
           "only an open jump is patched, and only once");
    list[at].Imm = target;
}

void PatchJumpHere(TsubList& list, size_t at) {
    PatchJump(list, at, NextPosition(list));
}

// ===========================================================================
// Temporaries

Ttmpmng::Ttmpmng() {
    static const char* const prefixes[kTypeClassCount] = {"int", "wrd", "byt", "str", "chr",
                                                          "flt", "bln", "dat", "any"};
    for (int i = 0; i < kTypeClassCount; ++i)
        classes_[i].prefix = prefixes[i];
}

void Ttmpmng::Reset(compiler::TvarList* vars) {
    vars_ = vars;
    for (Ttmp_inf& c : classes_)
        c.states.clear();
    ++body_;
}

std::string Ttmpmng::FreeName(const std::string& stem, size_t& number) const {
    // A source may declare a variable named like a temporary; skip such
    // names rather than fail on a repeat.
    while (vars_->IndexOf(stem + std::to_string(number)) >= 0)
        ++number;
    return stem + std::to_string(number);
}

TDataType Ttmpmng::StorageOf(int type) {
    return type == dtWord || type == dtByte ? dtInteger : static_cast<TDataType>(type);
}

int Ttmpmng::Allocate(int type, bool exact) {
    const int cls = IsValueType(type) ? TypeClassOf(type) : dtUnknown;
    if (cls == dtUnknown) {
        size_t number = untyped_.size();
        const std::string name = FreeName("_tmp__", number);
        // Defined as a variant until Retype decides: a definition of type
        // dtUnknown could never be created at run time.
        const int slot = vars_->Add({name, dtVariant});
        Tvar_state s;
        s.Name = name;
        s.inUse = 1;
        s.slot = slot;
        s.DataType = dtUnknown;
        s.body = body_;
        untyped_.push_back(s);
        return slot;
    }
    const TDataType storage = exact ? static_cast<TDataType>(type) : StorageOf(type);
    Ttmp_inf& c = classes_[cls - 1];
    for (Tvar_state& s : c.states) {
        if (s.inUse || s.locked) continue;
        // A reused temporary keeps the definition it was created with, so it
        // is taken only when that definition holds the new value unchanged.
        const TDataType def = (*vars_->defs)[static_cast<size_t>(s.slot)].DataType;
        if (exact ? def != storage : !CanAssign(def, storage)) continue;
        s.DataType = static_cast<TDataType>(type);
        s.inUse = 1;
        return s.slot;
    }
    size_t number = c.states.size() + 1;
    const std::string name = FreeName("_tmp_" + c.prefix + "_", number);
    const int slot = vars_->Add({name, storage});
    Tvar_state s;
    s.Name = name;
    s.inUse = 1;
    s.slot = slot;
    s.DataType = static_cast<TDataType>(type);
    c.states.push_back(s);
    return slot;
}

void Ttmpmng::Lock(const Taddr& a, bool flag) {
    if (a.Kind != akLocal) return;
    for (Ttmp_inf& c : classes_)
        for (Tvar_state& s : c.states)
            if (s.slot == a.Index) s.locked = flag;
}

int Ttmpmng::TypeOfSlot(int slot) const {
    for (const Ttmp_inf& c : classes_)
        for (const Tvar_state& s : c.states)
            if (s.slot == slot) return s.DataType;
    return -1;
}

void Ttmpmng::Retype(int slot, int type) {
    if (!IsValueType(type)) return;
    // Only an untyped temporary of this body: slots of earlier bodies mean
    // other variables here.
    const Tvar_state* entry = nullptr;
    for (const Tvar_state& s : untyped_)
        if (s.slot == slot && s.body == body_) entry = &s;
    if (!entry) return;
    // The class of the type code itself: a word stays a word here.
    Ttmp_inf& c = classes_[type - 1];
    size_t number = c.states.size() + 1;
    const std::string name = FreeName("_tmp_" + c.prefix + "_", number);
    Tvar_state s;
    s.Name = name;
    s.inUse = entry->inUse;
    s.slot = slot;
    s.DataType = static_cast<TDataType>(type);
    c.states.push_back(s);
    Tvardef& def = (*vars_->defs)[static_cast<size_t>(slot)];
    def.Name = name;
    def.DataType = StorageOf(type);
}

Tvar_state* Ttmpmng::StateOf(int slot, int cls) {
    if (!IsTypeClass(cls)) return nullptr;
    for (Tvar_state& s : classes_[cls - 1].states)
        if (s.slot == slot) return &s;
    return nullptr;
}

void Ttmpmng::SetInUse(int slot, bool inUse) {
    if (!vars_ || slot < 0 || slot >= vars_->Count()) return;
    const Tvardef& def = (*vars_->defs)[static_cast<size_t>(slot)];
    if (!IsTempName(def.Name)) return;
    if (Tvar_state* s = StateOf(slot, TypeClassOf(def.DataType))) s->inUse = inUse;
}

void Ttmpmng::Release(const TQVInstruction& ins) {
    const Taddr* ops[3] = {&ins.Dest, &ins.Src1, &ins.Src2};
    for (int k = OperandCount(ins.OpCode) - 1; k >= 0; --k) {
        const Taddr& a = *ops[k];
        if (a.Kind == akLocal) SetInUse(a.Index, k == 0 && ins.OpCode != opTest);
        if (a.Indexed) SetInUse(a.IndexVar, false);
    }
}

// ===========================================================================
// The code of one function

void TCodeEmitter::SetFunction(TVMC_OBJ* image, TvarDeflist* vars) {
    image_ = image;
    vars_.defs = vars;
}

int TCodeEmitter::OperandType(const Taddr& a) const {
    switch (a.Kind) {
        case akLocal: {
            if (a.Index < 0 || a.Index >= vars_.Count()) return dtNone;
            const int t = temps.TypeOfSlot(a.Index);
            return t >= 0 ? t : (*vars_.defs)[static_cast<size_t>(a.Index)].DataType;
        }
        case akGlobal:
            try {
                return image_->GetGlobalDef(static_cast<int>(a.Module), a.Index).DataType;
            } catch (const EScriptError&) {
                return dtNone;
            }
        default:
            return dtNone;
    }
}

TDataType TCodeEmitter::DeclaredType(int slot) const {
    return (*vars_.defs)[static_cast<size_t>(slot)].DataType;
}

bool TCodeEmitter::IsTempOperand(const Taddr& a) const {
    return a.Kind == akLocal && a.Index >= 0 && a.Index < vars_.Count() &&
           IsTempName((*vars_.defs)[static_cast<size_t>(a.Index)].Name);
}

std::string TCodeEmitter::OperandName(const Taddr& a) const {
    auto local = [&](int slot) -> std::string {
        if (slot < 0 || slot >= vars_.Count()) return {};
        return (*vars_.defs)[static_cast<size_t>(slot)].Name;
    };
    std::string name;
    switch (a.Kind) {
        case akCallee:
            return "params[" + std::to_string(a.Index) + "]";
        case akLocal:
            name = local(a.Index);
            break;
        case akGlobal:
            try {
                name = image_->GetGlobalDef(static_cast<int>(a.Module), a.Index).Name;
            } catch (const EScriptError&) {
            }
            break;
        default:
            return {};
    }
    if (a.Indexed) name += "[" + local(a.IndexVar) + "]";
    return name;
}

void TCodeEmitter::Emit(TQVInstruction ins, TsubList& list, int line) {
    ins.Line = static_cast<uint32_t>(std::max(line, 0));
    temps.Release(ins);
    list.push_back(std::move(ins));
}

size_t TCodeEmitter::EmitJump(TOpCode op, TsubList& list, int line, int32_t target) {
    const size_t at = list.size();
    Emit(Instruction(op, {}, {}, {}, target), list, line);
    return at;
}

void TCodeEmitter::StoreCode(TsubList& code, TClassDefInf& func) const {
    for (TQVInstruction& ins : code) {
        Taddr* ops[3] = {&ins.Dest, &ins.Src1, &ins.Src2};
        for (int k = 0; k < OperandCount(ins.OpCode); ++k)
            ops[k]->Name = OperandName(*ops[k]);
    }
    Tfunc_adapter adapter(&func);
    for (size_t k = 0; k < code.size(); ++k) {
        const TQVInstruction& ins = code[k];
        bool reloc = ins.OpCode == opCallPrep;
        const Taddr* ops[3] = {&ins.Dest, &ins.Src1, &ins.Src2};
        for (int m = 0; m < OperandCount(ins.OpCode); ++m)
            reloc = reloc || ops[m]->Kind == akGlobal;
        if (reloc) func.Relocs.push_back(static_cast<int32_t>(k));
        adapter.AddInstruction(std::move(code[k]));
    }
}

}  // namespace corvane
