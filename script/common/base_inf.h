// base_inf: the records and lists the compiler fills and the runtime reads.
//
// One compiled unit is a list of function records (TClassDefInf), each with
// its variable definitions, constants, instructions and relocation list,
// plus the unit's global variables, constants and used units. This unit
// holds those shapes and the small list classes over them: the function
// list, the used-unit list, the two views (TvarList over variable
// definitions, Tconstclass over constants) and a first-in first-out queue
// of texts.
//
// Misuse of a list (a position out of range, a name added twice) raises an
// EScriptError with the fixed text; the list is then unchanged.
//
// What it does not do: how these records are written to and read from a
// stream is qv_vmc (the image); the fixed tables and recognisers are
// qv_consts and u_keywords; filling the records is u_compile.
//
// Contrast compiler::TvarList here (a view over a function's or a unit's
// variable DEFINITIONS, used while compiling) with the runtime's TvarList
// (varMng), which holds VALUES.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "script/common/U_err.h"
#include "script/common/qv_consts.h"

namespace corvane {

// One variable definition.
struct Tvardef {
    // Arguments in field order; the usual forms are {name, type} and
    // {name, type, "", 0, size}.
    Tvardef(std::string name = {}, TDataType type = dtNone, std::string initText = {},
            uint8_t isVarParam = 0, int32_t size = 1)
        : Name(std::move(name)),
          DataType(type),
          InitText(std::move(initText)),
          IsVarParam(isVarParam),
          Size(size) {}

    std::string Name;  // lower case
    TDataType DataType = dtNone;
    std::string InitText;    // the compiler leaves it empty; the runtime applies it
    uint8_t IsVarParam = 0;  // 1: a parameter passed by reference
    int32_t Size = 1;        // 1 scalar, N >= 2 array, 0 (or -1) external

    bool operator==(const Tvardef&) const = default;
};
using TvarDeflist = std::vector<Tvardef>;

// One constant: the source text after "=" as written (quotes kept).
struct Tconst {
    std::string Name;
    std::string Value;

    bool operator==(const Tconst&) const = default;
};
using Tconstlist = std::vector<Tconst>;

// Names and values are stored with at most this many bytes.
constexpr size_t kConstTextMax = 255;

// A function's instructions, and the separate lists expression code is
// built in before it is appended.
using TsubList = std::vector<TQVInstruction>;
// Ascending positions of the instructions the linker must fix: every
// opCallPrep and every instruction using an akGlobal address.
using glb_list = std::vector<int32_t>;

// One source line that survived comment removal: its number (from 1) and
// its trimmed text in its own letter case.
struct Tline {
    int32_t lineNo = 0;
    std::string text;
};
using Tcodetxt = std::vector<Tline>;

// One script function, or the head of a built-in.
struct TClassDefInf {
    uint8_t Loaded = 0;      // 1 once the body is present (at once for external)
    int32_t BodyOffset = 0;  // image reader and writer only
    int32_t BodySize = 0;
    std::string Name;
    TDataType ResultType = dtNone;  // 0 for a procedure
    // 0: result; 1..HeadCount-1: parameters; then locals and temporaries.
    TvarDeflist varDefs;
    int32_t HeadCount = 0;  // result plus parameters (0 for initialization)
    // Built-ins only (never stored in an image): the first parameter slot
    // a call may leave out, with all after it; 0 when every one is needed.
    int32_t FirstOptional = 0;
    TsubList code;
    // Type of the value last assigned to result by an assignment; 100 never.
    TDataType AssignedType = dtUnknown;
    uint8_t IsExternal = 0;  // 1: the host runs it
    Tconstlist consts;       // constants declared inside the function
    Tcodetxt bodyText;       // source lines from the split until compiled
    glb_list Relocs;
    int64_t headPos = 0;  // image reader: where the second half of the head starts
};

// Appends instructions to one function's code.
class Tfunc_adapter {
  public:
    explicit Tfunc_adapter(TClassDefInf* func) : func(func) {}
    void AddInstruction(TQVInstruction instruction) {
        func->code.push_back(std::move(instruction));
    }

    TClassDefInf* func;
};

// The position of "initialization" in every image's function list.
constexpr int kInitializationFunc = 0;

// The functions of one image in declaration order; entry 0
// (kInitializationFunc) is always "initialization". Owns its records.
class TFuncDefList {
  public:
    // Position of an existing function of that name (nothing is added), else
    // the new position (from 0).
    int Add(std::unique_ptr<TClassDefInf> rec);
    // Appends even when the name is present (image readers and the linker:
    // positions are what calls refer to). Returns the new position.
    int Append(std::unique_ptr<TClassDefInf> rec);
    int IndexOf(std::string_view name) const;
    // Raises "Bounds is exceeded!" outside 0..Count()-1.
    TClassDefInf& Get(int i);
    const TClassDefInf& Get(int i) const;
    int Count() const { return static_cast<int>(items_.size()); }
    void Clear() { items_.clear(); }

  private:
    std::vector<std::unique_ptr<TClassDefInf>> items_;
};

// A first-in first-out queue of texts, kept in a ring that grows by 50
// slots whenever a push finds it full.
class TstringStack {
  public:
    TstringStack();
    void Push(std::string s);
    // The oldest text; raises "栈为空。" when nothing is held.
    std::string Pop();
    // True when the next push must grow the ring.
    bool IsFull() const { return Next(writePos_) == readPos_; }
    int Count() const { return count_; }
    int Capacity() const { return static_cast<int>(ring_.size()); }

  private:
    size_t Next(size_t i) const { return i + 1 == ring_.size() ? 0 : i + 1; }
    std::vector<std::string> ring_;
    size_t readPos_ = 0, writePos_ = 0;
    int count_ = 0;
};

// The used units of one image, numbered 1..100.
class TusedFileList {
  public:
    static constexpr int kMax = 100;
    // Raises "文件“%s”重复声明。" for a present name and "引用文件太多。"
    // when 100 are held; else the new number.
    int Add(std::string name);
    int IndexOf(std::string_view name) const;  // 1..Count(), or -1
    // Raises "范围越界。" outside 1..Count().
    const std::string& Get(int i) const;
    int Count() const { return static_cast<int>(names_.size()); }
    void Clear() { names_.clear(); }

  private:
    std::vector<std::string> names_;
};

// The compiler's TvarList lives in namespace compiler: the runtime's
// variable storage (varMng) has a class of the same name, and units such as
// the interpreter and the build driver see both headers.
namespace compiler {

// Add/find/get over variable definitions it does not own.
class TvarList {
  public:
    explicit TvarList(TvarDeflist* defs = nullptr) : defs(defs) {}
    // Appends a copy; raises "变量“%s”重复声明。" for a present name.
    int Add(const Tvardef& def);
    int IndexOf(std::string_view name) const;
    // Raises "范围越界。" outside the list.
    Tvardef Get(int i) const;
    int Count() const { return defs ? static_cast<int>(defs->size()) : 0; }

    TvarDeflist* defs;
};

}  // namespace compiler

// Add/find/value over constants it does not own.
class Tconstclass {
  public:
    explicit Tconstclass(Tconstlist* consts = nullptr) : consts(consts) {}
    // -1 when the name is present; else stores both (each cut to 255 bytes)
    // and returns the new position.
    int Add(std::string_view name, std::string_view value);
    int IndexOf(std::string_view name) const;
    // The value text; empty for a position outside the list.
    std::string ValueOf(int i) const;
    int Count() const { return consts ? static_cast<int>(consts->size()) : 0; }

    Tconstlist* consts;
};

// The first at most kConstTextMax bytes of s, never splitting a UTF-8
// character.
std::string CutConstText(std::string_view s);

}  // namespace corvane
