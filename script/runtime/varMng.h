// varMng: run-time variables of the script machine and their conversions.
//
// Every script variable at run time is a TXVarData held by a TVarMngr table:
// one table for the program's globals (owned by the program executor,
// u_ExeFile) and one per function activation of the interpreter (CodeMng)
// for its result, parameters, locals and temporaries. Instructions reach
// variables by position, and every arithmetic, comparison or copy goes
// through the small set of typed reads (AsInteger, AsFloat, AsString, ...)
// and writes (SetInteger, SetFloat, SetString, ...) defined here, which
// convert between the ten value types. The conversion rules are a table per
// operation and per type; the .cpp keeps them in that shape on purpose.
//
// A variable is one of:
//   scalar    its own storage of its type (integers are 64 bits wide; word
//             and byte keep 16 and 8 bits);
//   array     type code 0, elements in a TvarList (numbered from 0);
//   external  no storage: reads call the table's TOnGet, writes its TOnSet,
//             under the variable's name (how hosts feed values in);
//   shell     a dtChar view of one byte inside a string variable, handed
//             out by ElementAt so that s[i] reads and writes in place.
//
// This unit does not execute instructions (CodeMng does), does not know
// variable definitions of images (the program executor and the interpreter
// turn definitions into Add* calls) and does not format values beyond the
// general conversions (the built-ins in u_base_funcs do).
//
// Memory: every variable charges the heap blocks of its texts, and every
// array its elements, to one process-wide byte budget (kDefaultScriptMemoryLimit
// below), so that scripts from untrusted source cannot exhaust memory
// with many long texts even though each text alone is bounded.
//
// Run-time faults are thrown as EScriptError carrying the fixed message
// text; failed Variant conversions surface as VariantError.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Variant.h"
#include "script/common/U_err.h"
#include "script/common/qv_consts.h"

namespace corvane {

// A run-time fault of a script (or of linking one) is an EScriptError
// (U_err): the what() text is the message the user sees.

// Message texts raised by the runtime.
inline constexpr const char* kMsgAddressOutOfRange = "地址越界。";
inline constexpr const char* kMsgOnGetNotInitialised = "“OnGet”没有初始化。";
inline constexpr const char* kMsgInvalidAddress = "无效的地址访问。";
inline constexpr const char* kMsgRangeExceeded = "范围越界。";
// A double that has no integer value in the 64-bit range (NaN, infinity,
// beyond +-2^63) was truncated to an integer.
inline constexpr const char* kMsgInvalidFloatOp = "Invalid floating point operation";
// An array declaration larger than the runtime will allocate (see
// kMaxArrayElements); %s is the variable's name.
inline constexpr const char* kMsgArrayTooLarge = "数组“%s”太大。";

// The largest array the runtime allocates is kMaxArrayElements (qv_consts,
// shared with the compiler). kMaxLiveArrayElements bounds the array elements
// alive at once in the whole process (every activation of a recursive
// function has its own arrays). Array lengths come from script source, which
// is untrusted; a script asking for more gets kMsgArrayTooLarge instead of
// exhausting memory. An element takes about 200 bytes.
inline constexpr int64_t kMaxLiveArrayElements = 1 << 20;

// The bytes all script variables of the process may hold at once: the
// heap blocks of their texts (a string variable's, a variant's) and the
// array elements. Each text is bounded on its own (64 MiB when texts are
// joined), but 262 144 array elements of long texts, or 1000 nested calls
// each carrying one, would still exhaust memory. A write that would pass
// the budget raises kMsgScriptMemory (an array, kMsgArrayTooLarge) and
// frees the variable's text. Hosts may change the budget
// (SetScriptMemoryLimit).
inline constexpr int64_t kDefaultScriptMemoryLimit = int64_t{1} << 30;
// %s is the budget as written for people ("1 GiB").
inline constexpr const char* kMsgScriptMemory = "程序占用的内存太多，最多允许%s。";
// 0 removes the bound. Process-wide, like the budget.
void SetScriptMemoryLimit(int64_t bytes);
int64_t ScriptMemoryLimit();
// The bytes charged to the budget now.
int64_t ScriptMemoryInUse();

// One named value: parameters of external functions, built-ins and the
// OnParam event.
struct TparamInf {
    std::string Name;
    Variant Value;
};
using Tparamlist = std::vector<TparamInf>;

// Host accessors. TOnGet stores the value of the named external variable in
// value (which starts empty); TOnSet receives a new value for it.
using TOnGet = std::function<void(const std::string& varnm, Variant& value)>;
using TOnSet = std::function<void(const std::string& varnm, const Variant& value)>;
// Host implementation of a function declared "external": params holds the
// arguments by parameter name, rtnValue receives the result.
using TOnExternalFunc =
    std::function<void(const std::string& func_nm, Tparamlist& params, Variant& rtnValue)>;

// Truncates toward zero; throws kMsgInvalidFloatOp when the result does not
// fit 64 bits.
int64_t TruncToInteger(double x);

class TvarList;

// One run-time variable. See the unit comment for its four forms.
class TXVarData {
  public:
    TXVarData() = default;
    // A scalar with its own storage, initialised to zero, false, the empty
    // text, the empty character or the empty variant.
    TXVarData(std::string name, TDataType type);
    ~TXVarData();
    TXVarData(TXVarData&&) noexcept;
    TXVarData& operator=(TXVarData&&) noexcept;

    const std::string& Name() const { return name_; }
    bool IsExternal() const { return external_; }
    TDataType DataType() const { return type_; }
    bool IsArray() const { return array_ != nullptr; }
    // The elements of an array variable; null for anything else.
    TvarList* Elements() const { return array_.get(); }

    // Reads. An external variable first asks OnGet (raising
    // kMsgOnGetNotInitialised without one) and converts what it gets.
    int64_t AsInteger() const;
    double AsFloat() const;
    std::string AsString() const;
    void AppendString(std::string& out) const;
    Variant AsVariant() const;
    void ReadVariant(Variant& out) const;  // AsVariant into a reused Variant
    double AsDateTime() const;
    uint8_t AsOrdinal() const;
    bool AsBoolean() const;
    uint8_t AsChar() const;

    // Writes. An external variable converts the value to a Variant and hands
    // it to OnSet (raising kMsgOnGetNotInitialised without one).
    void SetInteger(int64_t n);
    void SetWord(uint16_t w);
    void SetByte(uint8_t b);
    void SetFloat(double x);
    void SetString(std::string_view s);
    // SetString of a text the caller gives up (no copy for a string or a
    // variant variable).
    void MoveString(std::string&& s);
    void SetBoolean(bool b);
    void SetChar(uint8_t c);
    void SetVariant(const Variant& v);
    // The value of a plain variant variable, without a copy; null for any
    // other kind (external, typed, array), which ReadVariant must read.
    const Variant* VariantValue() const {
        return type_ == dtVariant && !external_ && !array_ ? &var_ : nullptr;
    }
    // Gives a plain variant variable the value v holds, v receiving the old
    // one (so both keep their text storage); any other kind takes a copy.
    void SwapInVariant(Variant& v);

    // Appends tail's text to this variable's own text in place, for s := s
    // + t: the text grows geometrically, so a loop of appends costs time in
    // proportion to what it appends (building a new text each time would
    // copy the whole text per append). False, with nothing changed, when
    // this is not a plain string variable (external, shell or of another
    // type), when tail is this variable, or when the text would grow beyond
    // maxLength; the caller then joins the texts the general way.
    bool AppendText(const TXVarData& tail, size_t maxLength);

    // Back to the value of a fresh variable (zero, false, the empty text or
    // character, the empty variant; array elements too). Externals and
    // shells have nothing to reset.
    void ResetValue();

  private:
    friend class TVarMngr;
    friend class TvarList;

    // Arrays and externals are made by the table.
    static TXVarData MakeArray(std::string name, int64_t count, TDataType elementType);
    static TXVarData MakeExternal(std::string name, TDataType type,
                                  std::shared_ptr<const TOnGet> onGet,
                                  std::shared_ptr<const TOnSet> onSet);

    void Fetch(Variant& out) const;  // external read through OnGet
    void Store(const Variant& v);    // external write through OnSet
    uint8_t CharByte() const {
        return shellText_ ? static_cast<uint8_t>((*shellText_)[shellPos_]) : byte_;
    }
    void PutCharByte(uint8_t c) {
        if (shellText_)
            (*shellText_)[shellPos_] = static_cast<char>(c);
        else
            byte_ = c;
    }
    void SetIntegerClass(int64_t n);  // n into dtInteger/dtWord/dtByte storage
    // The heap blocks of str_ and var_'s text (capacity, not length: what
    // stays allocated).
    int64_t HeldBytes() const;
    // After a write to str_ or var_: brings the script budget's charge in
    // line with HeldBytes (raising kMsgScriptMemory beyond the budget).
    void Recount() {
        if (HeldBytes() != charged_) Recharge();
    }
    void Recharge();
    // Frees the blocks of str_ and var_ (both end empty).
    void FreeTexts();
    // ResetValue frees text blocks above this size.
    static constexpr int64_t kKeptTextBlock = 4096;

    std::string name_;
    bool external_ = false;
    TDataType type_ = dtNone;
    int64_t int_ = 0;   // dtInteger, dtWord (0..65535), dtByte (0..255)
    double float_ = 0;  // dtDouble, dtDate
    uint8_t byte_ = 0;  // dtChar (EmptyChar = none), dtBoolean (0 or 1)
    std::string str_;   // dtString
    Variant var_;       // dtVariant
    std::unique_ptr<TvarList> array_;
    // A shell: the character str[shellPos_] of another variable's text.
    std::string* shellText_ = nullptr;
    size_t shellPos_ = 0;
    std::shared_ptr<const TOnGet> onGet_;
    std::shared_ptr<const TOnSet> onSet_;
    int64_t charged_ = 0;  // bytes this variable has charged to the script budget
};

// The elements of one array variable, numbered from 0. (The compiler has a
// different class of the same name: a view over variable definitions.)
class TvarList {
  public:
    // Raises kMsgArrayTooLarge (with the array's name) beyond
    // kMaxArrayElements or the live-element budget.
    TvarList(int64_t count, TDataType elementType, std::string_view arrayName = {});
    ~TvarList();
    TvarList(const TvarList&) = delete;
    TvarList& operator=(const TvarList&) = delete;
    int Count() const { return static_cast<int>(items_.size()); }
    TXVarData& Item(int i) { return items_[static_cast<size_t>(i)]; }

  private:
    std::vector<TXVarData> items_;
};

// The four character shells of a table, handed out in a ring so that one
// instruction can address up to three characters of the same table at once.
class TShellArray {
  public:
    TXVarData& Next();

  private:
    TXVarData shells_[4] = {TXVarData({}, dtChar), TXVarData({}, dtChar), TXVarData({}, dtChar),
                            TXVarData({}, dtChar)};
    int cursor_ = 0;
};

// A variable table: globals of a program, or the variables of one
// activation, by position.
class TVarMngr {
  public:
    TVarMngr();
    ~TVarMngr();
    TVarMngr(const TVarMngr&) = delete;
    TVarMngr& operator=(const TVarMngr&) = delete;

    int AddScalar(std::string name, TDataType type);
    // Throws kMsgArrayTooLarge for more than kMaxArrayElements elements.
    int AddArray(std::string name, int64_t count, TDataType elementType);
    // -1 (and nothing added) when a variable of that name is present.
    int AddExternal(std::string name, TDataType type);
    // First variable whose name equals name exactly; -1 when none.
    int IndexOf(std::string_view name) const;
    void Clear();
    // Every variable back to its fresh value (see TXVarData::ResetValue).
    void ResetValues();

    int Count() const { return static_cast<int>(items_.size()); }
    // The variable at a position (0..Count()-1, unchecked).
    TXVarData& At(int i) { return *items_[static_cast<size_t>(i)]; }
    const TXVarData& At(int i) const { return *items_[static_cast<size_t>(i)]; }

    // Element i of the variable at position: an array element (from 0) or,
    // for a string, a shell on character i (from 1). Raises
    // kMsgAddressOutOfRange for a bad position or index; null for a variable
    // that has no elements.
    TXVarData* ElementAt(int position, int64_t i);
    TXVarData& NextShell() { return shells_.Next(); }

    // Stores the accessor and installs it into every external variable
    // present; later externals pick it up when added.
    void SetGetHandler(TOnGet handler);
    void SetSetHandler(TOnSet handler);
    // The same accessors, shared (the interpreter copies a global table's
    // accessors into each activation).
    void ShareHandlersFrom(const TVarMngr& other);

  private:
    std::vector<std::unique_ptr<TXVarData>> items_;
    TShellArray shells_;
    std::shared_ptr<const TOnGet> onGet_;
    std::shared_ptr<const TOnSet> onSet_;
};

}  // namespace corvane
