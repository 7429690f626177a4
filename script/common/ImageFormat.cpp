// The two image formats, byte by byte: sizes, the readers and writers of
// every block, the soundness check of a loaded body, and the streaming
// members of TVMC_OBJ and TProgramImage (declared in qv_vmc.h).
#include "script/common/qv_vmc.h"

#include <cstring>
#include <exception>

namespace corvane {

// ---------------------------------------------------------------------------
// Sizes

// Fixed part of one address: Kind, Index, Module, Indexed, IndexVar, the
// Name's count.
static constexpr size_t kAddrFixed = 4 + 4 + 4 + 1 + 4 + 4;
// Line, OpCode, three addresses, Imm, Imm2, the Text's count.
static constexpr size_t kInstructionFixed = 4 + 1 + 3 * kAddrFixed + 4 + 4 + 4;
static_assert(kInstructionFixed == 80);
static constexpr size_t kVarDefFixed = 14;
static constexpr size_t kConstFixed = 8;
static constexpr size_t kHeadFixed = 19;

size_t InstructionSize(const TQVInstruction& ins) {
    return kInstructionFixed + ins.Dest.Name.size() + ins.Src1.Name.size() + ins.Src2.Name.size() +
           ins.Text.size();
}

size_t BodySize(const TsubList& code) {
    size_t n = 4;
    for (const TQVInstruction& ins : code)
        n += InstructionSize(ins);
    return n;
}

size_t VarBlockSize(const TvarDeflist& vars) {
    size_t n = 4;
    for (const Tvardef& v : vars)
        n += kVarDefFixed + v.Name.size() + v.InitText.size();
    return n;
}

size_t ConstBlockSize(const Tconstlist& consts) {
    size_t n = 4;
    for (const Tconst& c : consts)
        n += kConstFixed + c.Name.size() + c.Value.size();
    return n;
}

size_t FuncHeadSize(const TClassDefInf& f) {
    return kHeadFixed + f.Name.size() + VarBlockSize(f.varDefs) + ConstBlockSize(f.consts) + 4 +
           4 * f.Relocs.size();
}

// ---------------------------------------------------------------------------
// Writers and readers of the pieces

static void WriteAddr(TMemoryStream& s, const Taddr& a) {
    s.WriteU32(a.Kind);
    s.WriteI32(a.Index);
    s.WriteU32(a.Module);
    s.WriteU8(a.Indexed);
    s.WriteI32(a.IndexVar);
    s.WriteString(a.Name);
}

static void ReadAddr(TMemoryStream& s, Taddr& a) {
    a.Kind = s.ReadU32();
    a.Index = s.ReadI32();
    a.Module = s.ReadU32();
    a.Indexed = s.ReadU8();
    a.IndexVar = s.ReadI32();
    a.Name = s.ReadString();
}

static void WriteInstruction(TMemoryStream& s, const TQVInstruction& ins) {
    s.WriteU32(ins.Line);
    s.WriteU8(ins.OpCode);
    WriteAddr(s, ins.Dest);
    WriteAddr(s, ins.Src1);
    WriteAddr(s, ins.Src2);
    s.WriteI32(ins.Imm);
    s.WriteU32(ins.Imm2);
    s.WriteString(ins.Text);
}

static void ReadInstruction(TMemoryStream& s, TQVInstruction& ins) {
    ins.Line = s.ReadU32();
    ins.OpCode = static_cast<TOpCode>(s.ReadU8());
    ReadAddr(s, ins.Dest);
    ReadAddr(s, ins.Src1);
    ReadAddr(s, ins.Src2);
    ins.Imm = s.ReadI32();
    ins.Imm2 = s.ReadU32();
    ins.Text = s.ReadString();
}

static void WriteBody(TMemoryStream& s, const TsubList& code) {
    s.WriteI32(static_cast<int32_t>(code.size()));
    for (const TQVInstruction& ins : code)
        WriteInstruction(s, ins);
}

static TsubList ReadBody(TMemoryStream& s) {
    TsubList code(s.ReadCount(kInstructionFixed));
    for (TQVInstruction& ins : code)
        ReadInstruction(s, ins);
    return code;
}

static void WriteVarDef(TMemoryStream& s, const Tvardef& v) {
    s.WriteString(v.Name);
    s.WriteU8(v.DataType);
    s.WriteString(v.InitText);
    s.WriteU8(v.IsVarParam);
    s.WriteI32(v.Size);
}

static void ReadVarDef(TMemoryStream& s, Tvardef& v) {
    v.Name = s.ReadString();
    v.DataType = static_cast<TDataType>(s.ReadU8());
    v.InitText = s.ReadString();
    v.IsVarParam = s.ReadU8();
    v.Size = s.ReadI32();
}

static void WriteVarBlock(TMemoryStream& s, const TvarDeflist& vars) {
    s.WriteI32(static_cast<int32_t>(vars.size()));
    for (const Tvardef& v : vars)
        WriteVarDef(s, v);
}

static TvarDeflist ReadVarBlock(TMemoryStream& s) {
    TvarDeflist vars(s.ReadCount(kVarDefFixed));
    for (Tvardef& v : vars)
        ReadVarDef(s, v);
    return vars;
}

static void WriteConstBlock(TMemoryStream& s, const Tconstlist& consts) {
    s.WriteI32(static_cast<int32_t>(consts.size()));
    for (const Tconst& c : consts) {
        s.WriteString(c.Name);
        s.WriteString(c.Value);
    }
}

static Tconstlist ReadConstBlock(TMemoryStream& s) {
    Tconstlist consts(s.ReadCount(kConstFixed));
    for (Tconst& c : consts) {
        c.Name = s.ReadString();
        c.Value = s.ReadString();
    }
    return consts;
}

static void WriteRelocBlock(TMemoryStream& s, const glb_list& relocs) {
    s.WriteI32(static_cast<int32_t>(relocs.size()));
    for (int32_t r : relocs)
        s.WriteI32(r);
}

static glb_list ReadRelocBlock(TMemoryStream& s) {
    glb_list relocs(s.ReadCount(4));
    for (int32_t& r : relocs)
        r = s.ReadI32();
    return relocs;
}

// The whole head, as both formats store it.
static void WriteHead(TMemoryStream& s, const TClassDefInf& f, int32_t bodyOffset,
                      int32_t bodySize) {
    s.WriteString(f.Name);
    s.WriteU8(f.ResultType);
    s.WriteU8(f.AssignedType);
    s.WriteI32(f.HeadCount);
    s.WriteU8(f.IsExternal);
    WriteVarBlock(s, f.varDefs);
    s.WriteI32(bodyOffset);
    s.WriteI32(bodySize);
    WriteConstBlock(s, f.consts);
    WriteRelocBlock(s, f.Relocs);
}

// First half of a head: up to and including the head's variables (result
// and parameters). Returns the number of all variables the head declares.
static size_t ReadHeadFirstHalf(TMemoryStream& s, TClassDefInf& f) {
    f.Name = s.ReadString();
    f.ResultType = static_cast<TDataType>(s.ReadU8());
    f.AssignedType = static_cast<TDataType>(s.ReadU8());
    f.HeadCount = s.ReadI32();
    f.IsExternal = s.ReadU8();
    const size_t varCount = s.ReadCount(kVarDefFixed);
    if (f.HeadCount < 0 || static_cast<size_t>(f.HeadCount) > varCount) throw EStreamError();
    f.varDefs.assign(static_cast<size_t>(f.HeadCount), Tvardef{});
    for (Tvardef& v : f.varDefs)
        ReadVarDef(s, v);
    return varCount;
}

// Second half: the remaining variables, body position and size, constants
// and relocations.
static void ReadHeadSecondHalf(TMemoryStream& s, TClassDefInf& f, size_t varCount) {
    const size_t head = static_cast<size_t>(f.HeadCount);
    f.varDefs.resize(head);
    f.varDefs.resize(varCount);
    for (size_t i = head; i < varCount; ++i)
        ReadVarDef(s, f.varDefs[i]);
    f.BodyOffset = s.ReadI32();
    f.BodySize = s.ReadI32();
    f.consts = ReadConstBlock(s);
    f.Relocs = ReadRelocBlock(s);
}

// ---------------------------------------------------------------------------
// Soundness of a loaded body

bool CodeIsSound(const TClassDefInf& f, int unitCount, int programGlobals, int calleeLimit) {
    const int64_t vars = static_cast<int64_t>(f.varDefs.size());
    const int64_t n = static_cast<int64_t>(f.code.size());
    auto addrOk = [&](const Taddr& a) {
        switch (a.Kind) {
            case akLocal:
                if (a.Index < 0 || a.Index >= vars) return false;
                break;
            case akGlobal:
                if (a.Index < 0) return false;
                if (programGlobals >= 0) {
                    if (a.Module != 0 || a.Index >= programGlobals) return false;
                } else if (a.Module > static_cast<uint32_t>(unitCount)) {
                    return false;
                }
                break;
            case akCallee:
                if (a.Index < 0) return false;
                break;
            default:
                return false;
        }
        return !a.Indexed || (a.IndexVar >= 0 && a.IndexVar < vars);
    };
    for (const TQVInstruction& ins : f.code) {
        const int used = OperandCount(ins.OpCode);
        if (used >= 1 && !addrOk(ins.Dest)) return false;
        if (used >= 2 && !addrOk(ins.Src1)) return false;
        if (used >= 3 && !addrOk(ins.Src2)) return false;
        if ((ins.OpCode == opJmp || ins.OpCode == opJmpTrue || ins.OpCode == opSqlJump) &&
            (ins.Imm < 0 || ins.Imm > n))
            return false;
        if (ins.OpCode == opCallPrep) {
            if (calleeLimit < 0 ? (ins.Imm < -1 || ins.Imm > unitCount) : ins.Imm >= calleeLimit)
                return false;
        }
    }
    for (int32_t r : f.Relocs)
        if (r < 0 || r >= n) return false;
    return true;
}

void TVMC_OBJ::SaveToStream(TMemoryStream& s) const {
    s.Clear();
    s.WriteString(kUnitImageIdent);
    s.WriteString(SourceName);

    size_t usedSize = 4;
    for (int n = 1; n <= UsedUnits.Count(); ++n)
        usedSize += 4 + UsedUnits.Get(n).size();
    const size_t usedPos = s.Position() + 16;
    const size_t constPos = usedPos + usedSize;
    const size_t globalPos = constPos + ConstBlockSize(Consts);
    const size_t countPos = globalPos + VarBlockSize(Globals);
    s.WriteU32(static_cast<uint32_t>(usedPos));
    s.WriteU32(static_cast<uint32_t>(constPos));
    s.WriteU32(static_cast<uint32_t>(globalPos));
    s.WriteU32(static_cast<uint32_t>(countPos));

    s.WriteI32(UsedUnits.Count());
    for (int n = 1; n <= UsedUnits.Count(); ++n)
        s.WriteString(UsedUnits.Get(n));
    WriteConstBlock(s, Consts);
    WriteVarBlock(s, Globals);
    s.WriteI32(Funcs.Count());

    size_t bodyOffset = countPos + 4;
    for (int i = 0; i < Funcs.Count(); ++i)
        bodyOffset += 4 + FuncHeadSize(Funcs.Get(i));
    for (int i = 0; i < Funcs.Count(); ++i) {
        const TClassDefInf& f = Funcs.Get(i);
        const size_t bodySize = BodySize(f.code);
        s.WriteI32(static_cast<int32_t>(FuncHeadSize(f)));
        WriteHead(s, f, static_cast<int32_t>(bodyOffset), static_cast<int32_t>(bodySize));
        bodyOffset += bodySize;
    }
    for (int i = 0; i < Funcs.Count(); ++i)
        WriteBody(s, Funcs.Get(i).code);
}

bool TVMC_OBJ::LoadFromStream(TMemoryStream& s) {
    Reset();
    try {
        s.Seek(0);
        // A hostile count must not make us read a huge "identification".
        if (s.Remaining() < 4) return false;
        const std::string ident = s.ReadString();
        if (ident.compare(0, kUnitImagePrefix.size(), kUnitImagePrefix) != 0) return false;
        SourceName = s.ReadString();
        s.Seek(s.Position() + 16);  // section positions: never needed to read
        const size_t used = s.ReadCount(4);
        for (size_t n = 0; n < used; ++n)
            UsedUnits.Add(s.ReadString());
        Consts = ReadConstBlock(s);
        Globals = ReadVarBlock(s);
        const size_t count = s.ReadCount(4 + kHeadFixed);
        size_t pos = s.Position();
        for (size_t i = 0; i < count; ++i) {
            s.Seek(pos);
            const int32_t headSize = s.ReadI32();
            auto f = std::make_unique<TClassDefInf>();
            const size_t varCount = ReadHeadFirstHalf(s, *f);
            f->headPos = static_cast<int64_t>(s.Position());
            f->Loaded = 0;
            if (headSize < 0) throw EStreamError();
            pos += 4 + static_cast<size_t>(headSize);
            Funcs.Append(std::move(f));
            varCounts_.push_back(static_cast<int32_t>(varCount));
        }
        Loaded = true;
    } catch (const EScriptError&) {
        // A truncated or hostile image, or a used-unit list the list class
        // refuses: the image stays unloaded and empty.
        Reset();
    }
    return Loaded;
}

bool IsUnitImageStart(std::string_view bytes) {
    if (bytes.size() < kUnitImageStartBytes) return false;
    uint32_t count = 0;
    for (int k = 3; k >= 0; --k)
        count = count << 8 | static_cast<uint8_t>(bytes[static_cast<size_t>(k)]);
    return count >= kUnitImagePrefix.size() &&
           bytes.substr(4, kUnitImagePrefix.size()) == kUnitImagePrefix;
}

bool TVMC_OBJ::SaveToAdapter(std::string_view unitName) const {
    if (!Adapter) return false;
    TMemoryStream s;
    SaveToStream(s);
    return Adapter->SetFile(unitName, s);
}

bool TVMC_OBJ::LoadFromAdapter(std::string_view unitName) {
    LoadedFrom = nullptr;
    if (!Adapter) return false;
    TMemoryStream* s = nullptr;
    try {
        s = Adapter->GetFile(unitName);
    } catch (const std::exception&) {
        s = nullptr;
    }
    if (!s || !LoadFromStream(*s)) return false;
    LoadedFrom = s;
    return true;
}

void TVMC_OBJ::LoadFuncBody(TMemoryStream& s, int i) {
    if (!Loaded) return;
    if (i < 0 || i >= Funcs.Count())
        throw EScriptError(FormatMsg(msg::BadParameter, "loadfuncbody"));
    TClassDefInf& f = Funcs.Get(i);
    // Read into a copy; the record changes only when the whole body is sound.
    TClassDefInf g = f;
    const size_t varCount = static_cast<size_t>(i) < varCounts_.size()
                                ? static_cast<size_t>(varCounts_[static_cast<size_t>(i)])
                                : f.varDefs.size();
    if (f.headPos < 0) throw EStreamError();
    s.Seek(static_cast<size_t>(f.headPos));
    ReadHeadSecondHalf(s, g, varCount);
    if (g.BodyOffset < 0) throw EStreamError();
    s.Seek(static_cast<size_t>(g.BodyOffset));
    g.code = ReadBody(s);
    if (!CodeIsSound(g, UsedUnits.Count(), -1, -1)) throw EStreamError();
    g.Loaded = 1;
    f = std::move(g);
}

bool TProgramImage::SaveToStream(TMemoryStream& s) const {
    if (!Loaded) return false;
    s.Clear();
    s.WriteString(kProgramImageIdent);
    s.WriteI32(Main);
    WriteVarBlock(s, Globals);
    s.WriteI32(Funcs.Count());
    for (int i = 0; i < Funcs.Count(); ++i) {
        const TClassDefInf& f = Funcs.Get(i);
        WriteHead(s, f, 0, 0);
        WriteBody(s, f.code);
    }
    s.WriteI32(static_cast<int32_t>(InitList.size()));
    for (int32_t n : InitList)
        s.WriteI32(n);
    return true;
}

bool TProgramImage::LoadFromStream(TMemoryStream& s) {
    Reset();
    try {
        s.Seek(0);
        if (s.Remaining() < 4) return false;
        const std::string ident = s.ReadString();
        if (ident.compare(0, kProgramImagePrefix.size(), kProgramImagePrefix) != 0) return false;
        Main = s.ReadI32();
        Globals = ReadVarBlock(s);
        const size_t count = s.ReadCount(kHeadFixed + 4);
        for (size_t i = 0; i < count; ++i) {
            auto f = std::make_unique<TClassDefInf>();
            const size_t varCount = ReadHeadFirstHalf(s, *f);
            ReadHeadSecondHalf(s, *f, varCount);
            f->BodyOffset = 0;  // meaningless in a program image
            f->BodySize = 0;
            f->code = ReadBody(s);
            f->Loaded = 1;
            Funcs.Append(std::move(f));
        }
        InitList.resize(s.ReadCount(4));
        for (int32_t& n : InitList)
            n = s.ReadI32();
        const int funcs = Funcs.Count();
        if (Main < -1 || Main >= funcs) throw EStreamError();
        for (int32_t n : InitList)
            if (n < 0 || n >= funcs) throw EStreamError();
        for (int i = 0; i < funcs; ++i)
            if (!CodeIsSound(Funcs.Get(i), 0, static_cast<int>(Globals.size()), funcs))
                throw EStreamError();
        Loaded = true;
    } catch (const EScriptError&) {
        Reset();
    }
    return Loaded;
}

}  // namespace corvane
