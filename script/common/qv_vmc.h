// qv_vmc: compiled-code images.
//
// A unit image (TVMC_OBJ) is what the compiler makes of one source unit: its
// functions with their variable definitions and instructions, its constants,
// global variables and the names of the units it uses. On disk or in a
// stream it is a ".vmc" image; a program image (TProgramImage) is what the
// linker makes of the functions a program needs, in a second format. Both
// formats are fixed byte for byte: little-endian integers, every string a
// 32-bit byte count followed by the bytes.
//
// The unit is spread over files by job, all declared here except the two
// helpers that have headers of their own:
//   qv_vmc.cpp         the model: images of used units, created on need;
//   ImageLookup.cpp    names resolved across the units an image uses
//                      (through a TFileAdapter that supplies other units'
//                      images) and among the built-ins (BuiltinHeads);
//   ImageFormat.cpp    both formats written and read, and the soundness
//                      check of every body read;
//   MemoryStream.h     the byte buffer images are written to and read from;
//   ImageDisassembler.h  instructions, functions and units as readable text
//                      for tests and developers.
//
// Reading an image is reading untrusted bytes. Every count, length, offset
// and position is checked against the stream before it is used, counts are
// checked against the bytes left before anything is allocated, and the
// instructions of a loaded body are checked (addresses, jump targets,
// relocation positions) so that the linker and the interpreter can rely on
// them. A bad unit image stays unloaded; a bad body raises "目标代码无效。".
//
// What it does not do: compiling (u_compile), linking and the file adapter's
// real storage (the build driver), running instructions (the interpreter),
// the built-in functions themselves (the built-in library). The instruction
// record and the opcode table live in qv_consts, beside the opcode enum, so
// that the compiler's lists (base_inf) can hold instructions without
// depending on this unit.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "script/common/BuiltinHeads.h"
#include "script/common/MemoryStream.h"
#include "script/common/U_err.h"
#include "script/common/base_inf.h"
#include "script/common/qv_consts.h"

namespace corvane {

inline constexpr std::string_view kUnitImageIdent = "qv_p_compiler(1.00.00)";
inline constexpr std::string_view kUnitImagePrefix = "qv_p_compiler";
inline constexpr std::string_view kProgramImageIdent = "qv_vmc_exe(1.00.00)";
inline constexpr std::string_view kProgramImagePrefix = "qv_vmc_exe";

// Whether bytes (the start of a file) begin like a unit image: the
// identification string's count and the prefix. What the file adapter
// checks before it replaces a file with an image.
bool IsUnitImageStart(std::string_view bytes);
// How many leading bytes IsUnitImageStart looks at.
inline constexpr size_t kUnitImageStartBytes = 4 + kUnitImagePrefix.size();

// ---------------------------------------------------------------------------
// Where an image reaches other units: named files (unit images, and the
// sources of used units named with an extension). The build driver's
// adapter implements it over a directory or host callbacks; tests use an
// in-memory one.
class TFileAdapter {
  public:
    virtual ~TFileAdapter() = default;
    // The content of a named file, or nullptr when there is none. The
    // adapter owns the stream (it caches it); it stays valid as long as the
    // adapter does. Readers seek in it.
    virtual TMemoryStream* GetFile(std::string_view name) = 0;
    // Stores a copy of the stream's bytes under the name; false when nothing
    // was stored.
    virtual bool SetFile(std::string_view name, const TMemoryStream& stream) = 0;
};

// ---------------------------------------------------------------------------
// One unit image in memory.
class TVMC_OBJ {
  public:
    // Acquires the shared table of built-in heads unless one is given.
    explicit TVMC_OBJ(TFileAdapter* adapter = nullptr,
                      std::shared_ptr<const TBuiltinHeads> builtins = TBuiltinHeads::Acquire());
    TVMC_OBJ(const TVMC_OBJ&) = delete;
    TVMC_OBJ& operator=(const TVMC_OBJ&) = delete;

    std::string SourceName;  // file name of the unit's source, when it had one
    TusedFileList UsedUnits;
    TvarDeflist Globals;
    TFuncDefList Funcs;
    Tconstlist Consts;
    TFileAdapter* Adapter;                          // may be null
    std::shared_ptr<const TBuiltinHeads> Builtins;  // may be null
    bool Loaded = false;                            // read successfully, or compiled without errors
    bool Registered = false;                        // set by the build driver's unit manager
    // The stream LoadFromAdapter read this image from (owned by the adapter).
    TMemoryStream* LoadedFrom = nullptr;

    // The image of used unit n (1..UsedUnits.Count()), loaded through the
    // adapter on first need; an image that cannot be had stays unloaded and
    // empty. Raises "范围越界。" for n outside the list.
    TVMC_OBJ& UnitImage(int n);
    // Attaches an image for used unit n (the compiler does this for a unit it
    // compiled from source).
    void SetUnitImage(int n, std::unique_ptr<TVMC_OBJ> image);
    bool HasUnitImage(int n) const;

    // Empties the stream and writes the unit image from position 0.
    void SaveToStream(TMemoryStream& stream) const;
    // Reads identification, lists and function heads from position 0;
    // bodies stay on the stream. False (and unloaded, empty) on a wrong
    // identification or any fault.
    bool LoadFromStream(TMemoryStream& stream);
    // Writes the image through the adapter under the name; false without an
    // adapter or when the adapter stores nothing.
    bool SaveToAdapter(std::string_view unitName) const;
    // Loads the image the adapter has under the name; any failure leaves it
    // unloaded.
    bool LoadFromAdapter(std::string_view unitName);
    // Reads the rest of function i's head and its body. Nothing when the
    // image is not loaded; "“loadfuncbody”的参数不合法。" for a bad i;
    // "目标代码无效。" for a body the stream does not hold intact (the
    // function is then unchanged).
    void LoadFuncBody(TMemoryStream& stream, int i);

    // Cross-unit lookups: (0, p) in this unit; (n, p) with p > 0 in used
    // unit n (entry 0 of a used unit is never visible); built-ins (-1, -k).
    bool FindFunc(std::string_view name, int& unit, int& pos);
    bool FindConst(std::string_view name, int& unit, int& pos);
    bool FindGlobal(std::string_view name, int& unit, int& pos);
    // "范围越界。" for a unit or position that does not exist.
    std::string GetConstValue(int unit, int pos);
    Tvardef GetGlobalDef(int unit, int pos);
    // A copy of the head (the whole record for loaded functions); unit -1
    // builds one from the built-in's head (pos = -k or k).
    TClassDefInf GetFuncHead(int unit, int pos);

  private:
    void Reset();
    std::vector<std::unique_ptr<TVMC_OBJ>> unitImages_;  // slot n-1 for unit n
    std::vector<int32_t> varCounts_;  // per function: all its variables, from the head
};

// ---------------------------------------------------------------------------
// A linked program: the functions a program needs, numbered program-wide,
// its global variables, its main function and the initialization functions
// in the order they run. The program executor holds one.
struct TProgramImage {
    int32_t Main = -1;
    TvarDeflist Globals;
    TFuncDefList Funcs;
    std::vector<int32_t> InitList;
    bool Loaded = false;

    void Reset();
    // Writes nothing unless loaded; the stream is emptied first.
    bool SaveToStream(TMemoryStream& stream) const;
    // Resets, then reads; false (and unloaded) on a wrong identification or
    // any fault, including numbers that point outside the program.
    bool LoadFromStream(TMemoryStream& stream);
};

// ---------------------------------------------------------------------------
// Sizes by the size rules of the formats (byte counts).
size_t InstructionSize(const TQVInstruction& ins);
size_t BodySize(const TsubList& code);
size_t VarBlockSize(const TvarDeflist& vars);
size_t ConstBlockSize(const Tconstlist& consts);
size_t FuncHeadSize(const TClassDefInf& f);

// Checks a body against its function: every used address names an existing
// local (or an index variable), globals of an existing unit (unitCount used
// units; or, with programGlobals >= 0, an existing program global), jumps
// land inside the body or just after it, relocation positions are
// instructions. calleeLimit: for a program, the number of functions (an
// opCallPrep's Imm must be below it); -1 in a unit image.
bool CodeIsSound(const TClassDefInf& f, int unitCount, int programGlobals, int calleeLimit);

}  // namespace corvane
