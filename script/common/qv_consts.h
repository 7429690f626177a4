// qv_consts: the fixed codes and tables shared by the compiler, the images,
// the runtime and the engine.
//
// What lives here:
//  - the value type codes, comparison kinds and operation codes; they are
//    stored as single bytes (or 32-bit immediates) in compiled images, so
//    their numeric values are part of the image format and never change;
//  - the instruction record (Taddr, TQVInstruction) and, beside the opcode
//    enum, the one instruction table that gives every opcode its name, the
//    addresses it uses and what its immediate means. The compiler's release
//    rule, the relocation lists, the linker, the image reader and the
//    disassembler all read that table, so they cannot drift apart;
//  - the operator, relation and type tables of the script language;
//  - the recognisers for names and literal texts (IsIdentifier, IsLiteral,
//    LiteralType, ...). They are stateless functions over these tables; the
//    SQL parser and the engine's operand code use them as well as the
//    compiler, which is why they sit here and not in base_inf (that unit
//    holds the compiler's stateful lists).
//
// What does not live here: reserved words (u_keywords), the compiler's
// lists and records (base_inf), images and their streams (qv_vmc), the
// meaning of an instruction at run time (the interpreter).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

// Value type codes; one byte wherever stored.
enum TDataType : uint8_t {
    dtNone = 0,      // no type (procedure result; an array in a run-time variable)
    dtInteger = 1,   // signed integer (64 bits wide at run time)
    dtWord = 2,      // unsigned 16-bit
    dtByte = 3,      // unsigned 8-bit
    dtString = 4,    // byte string
    dtChar = 5,      // one byte; EmptyChar (156) holds no character
    dtDouble = 6,    // 64-bit floating point
    dtBoolean = 7,   // one byte
    dtDate = 8,      // date-time as a double
    dtVariant = 9,   // a Variant
    dtUnknown = 100  // compiler-internal: not decided yet
};

// The byte a dtChar holds when it holds no character.
constexpr uint8_t EmptyChar = 156;

// The most elements one array variable may have. Array lengths come from
// script source, which is untrusted: the compiler refuses a longer
// declaration (msg::ArrayTooLarge) and the runtime, which may be handed an
// image from elsewhere, refuses to allocate one (kMsgArrayTooLarge). One
// constant for both, so a program that compiles never fails at run time for
// its array lengths alone.
inline constexpr int64_t kMaxArrayElements = 1 << 18;

// Comparison kinds, carried in the immediate of a comparison instruction.
enum TCompareKind : int32_t {
    ckEqual = 0,
    ckGreater = 1,
    ckLess = -1,
    ckGreaterEqual = 2,
    ckLessEqual = -2,
    ckNotEqual = 10,
    ckLike = 11
};

// ---------------------------------------------------------------------------
// Operation codes of the three-address machine. "D S1 S2" name the addresses
// an opcode uses (see OperandCount); "flag" is the machine's one integer
// register.
enum TOpCode : uint8_t {
    opMov = 0,        // D S1     D := S1 (converting when the types differ)
    opAdd = 1,        // D S1 S2  D := S1 + S2
    opSub = 2,        // D S1 S2  D := S1 - S2
    opMul = 3,        // D S1 S2  D := S1 * S2
    opDiv = 4,        // D S1 S2  D := S1 / S2 in floating point ("/" and "div")
    opMod = 5,        // D S1 S2  D := integer remainder
    opJmp = 6,        // -        go to Imm
    opJmpTrue = 7,    // -        go to Imm when flag = 1
    opCmp = 8,        // D S1 S2  flag := S1 <Imm: TCompareKind> S2; D := flag
    opPushFlag = 9,   // -        push flag (never emitted by the compiler)
    opPopFlag = 10,   // -        pop flag (never emitted by the compiler)
    opConcat = 11,    // D S1 S2  D := text of S1 + text of S2
    opHalt = 12,      // -        end of the function
    opLoadText = 13,  // D        D := Text converted to D's type
    opConvert = 14,   // D S1     converting assignment (type name applied to a value)
    opAnd = 15,       // D S1 S2  flag := S1 and S2; D := flag
    opOr = 16,        // D S1 S2  flag := S1 or S2; D := flag
    opXor = 17,       // D S1 S2  flag := S1 xor S2; D := flag
    opNot = 18,       // D S1     flag := not S1; D := flag
    opTest = 19,      // D        flag := D read as integer
    opSetFlag = 20,   // D        D := flag (never emitted by the compiler)
    opTag = 21,       // -        hand Text to the host's tag handler
    opCallPrep = 22,  // -        prepare the callee: Imm = unit (-1 built-in), Imm2 = position
    opCall = 23,      // -        run the prepared callee
    opCallEnd = 24,   // -        release the callee
    opAddImm = 25,    // D S1     D := S1 read as integer + Imm (for-loop step)
    // The SQL side's instructions (SQL expressions compile to them; the
    // script compiler never emits them). Operands are read as Variants and
    // follow SQL's rules (script/runtime/SqlOps).
    opSqlOp = 26,     // D S1 S2  D := S1 <Imm: TSqlOp> S2
    opSqlUnary = 27,  // D S1     D := <Imm: TSqlOp> S1
    opSqlJump = 28,   // D        go to Imm when D's truth is in the set Imm2 (kSqlJumpIf*)
    opSqlCall = 29    // D S1     D := function Imm of the Imm2 values from S1 on (local slots)
};
// Notes:
//  - Opcodes 30..255 may appear in a hostile image; they use three
//    addresses by the rule below and stop the function like opHalt.
//  - opSqlCall: Imm > 0 is SQL function Imm (its 1-based place in
//    SqlFunctionTable), Imm < 0 script built-in -Imm; the arguments are the
//    local slots S1.Index .. S1.Index + Imm2 - 1.
//  - After linking, opCallPrep's Imm is the program-wide function number
//    (negative: built-in -Imm) and Imm2 is 0.
//  - An open jump target while compiling is kNoJump (-1).
//  - opAdd, opSub, opMul: two integer operands (of any declared width, or
//    variants holding integers) give the exact 64-bit result or the
//    overflow error; it is cut only by a word or byte destination.

constexpr int kOpCodeCount = 30;  // opMov..opSqlCall
constexpr int32_t kNoJump = -1;

// What an instruction's Imm field holds.
enum class TImmUse : uint8_t {
    None,     // unused
    Target,   // jump target: an instruction position in the same function
    Compare,  // a TCompareKind
    Callee,   // unit (or function number after linking); Imm2 = position
    Step,     // addend of opAddImm
    SqlOp,    // a TSqlOp (script/runtime/SqlOps)
    SqlFunc   // an SQL function (> 0) or script built-in (< 0); Imm2 = argument count
};

// opSqlJump's Imm2: the truth values that jump, as a set of bits.
constexpr uint32_t kSqlJumpIfFalse = 1;
constexpr uint32_t kSqlJumpIfTrue = 2;
constexpr uint32_t kSqlJumpIfUnknown = 4;

// One row of the instruction table.
struct TInstructionInfo {
    std::string_view name;  // as the disassembler prints it
    int operands;           // addresses used: Dest, then Src1, then Src2
    TImmUse imm;
    bool usesText;  // opLoadText and opTag read Text
};

// Indexed by opcode 0..29.
extern const std::array<TInstructionInfo, kOpCodeCount> kInstructionTable;

// The table row of an opcode; codes outside the table get a row named "" with
// three addresses (they stop the function at run time).
const TInstructionInfo& InstructionInfo(int opcode);

// How many of Dest, Src1, Src2 an opcode uses, by the low 7 bits of the code:
// 2 for mov, convert, not, addimm; 1 for loadtext, test, setflag; 0 for the
// jumps, flag stack, halt, tag and the call triple; 3 for every other value.
int OperandCount(int opcode);

// ---------------------------------------------------------------------------
// Operand addresses and instructions.

enum TAddrKind : uint32_t {
    akNone = 0,    // an address the opcode does not use
    akLocal = 1,   // a variable of the running activation (Index = slot)
    akGlobal = 2,  // a global variable (Module = unit in a unit image; 0 after linking)
    akCallee = 3   // a variable of the callee prepared by opCallPrep
};

// Taddr::Module and the unit of a cross-unit lookup: the image itself (used
// unit n is n).
constexpr int kOwnUnit = 0;

// An operand address. Field order and widths are the stored order.
struct Taddr {
    uint32_t Kind = akNone;
    int32_t Index = 0;     // position in the table Kind selects
    uint32_t Module = 0;   // unit image: 0 own unit, n = n-th used unit
    uint8_t Indexed = 0;   // non-zero: one element of the variable
    int32_t IndexVar = 0;  // when Indexed: akLocal slot holding the element index
    std::string Name;      // display text only (the linker quotes it)

    bool operator==(const Taddr&) const = default;
};

// One instruction. Field order and widths are the stored order.
struct TQVInstruction {
    uint32_t Line = 0;  // source line (informational)
    TOpCode OpCode = opHalt;
    Taddr Dest, Src1, Src2;
    int32_t Imm = 0;    // see TImmUse
    uint32_t Imm2 = 0;  // opCallPrep in a unit image: callee position
    std::string Text;   // opLoadText literal, opTag text

    bool operator==(const TQVInstruction&) const = default;
};

// ---------------------------------------------------------------------------
// Operator table: 18 entries, named by their 1-based positions.

// An operator of the script language: its 1-based position in kOperators.
// The scanner reports the operator it read this way (okNone: none).
enum TOperatorKind : int {
    okNone = -1,
    okMul = 1,            // *
    okSlash = 2,          // /
    okDiv = 3,            // div (divides as doubles, like "/")
    okMod = 4,            // mod
    okAdd = 5,            // +
    okSub = 6,            // -
    okGreater = 7,        // >     okGreater..okLike are the relations,
    okLess = 8,           // <     in the order of kRelations
    okEqual = 9,          // =
    okGreaterEqual = 10,  // >=
    okLessEqual = 11,     // <=
    okNotEqual = 12,      // <>
    okLike = 13,          // like
    okAnd = 14,           // and
    okNot = 15,           // not
    okOr = 16,            // or
    okXor = 17,           // xor
    okAssign = 18         // :=
};
constexpr int kOperatorCount = okAssign;
// Operator names have at most this many bytes.
constexpr int kMaxOperatorLength = 4;

struct TOperatorEntry {
    std::string_view name;  // at most kMaxOperatorLength bytes
    TOpCode code;
    int precedence;  // higher binds tighter; ":=" is 0
};
extern const std::array<TOperatorEntry, kOperatorCount> kOperators;

// The table entry of an operator other than okNone.
const TOperatorEntry& OperatorEntry(TOperatorKind op);
// The operator with exactly this name, or okNone.
TOperatorKind OperatorIndex(std::string_view name);
// The first operator compiling to code (opConcat counts as opAdd), or
// okNone.
TOperatorKind OperatorOfCode(int code);

// Relation table: 7 entries; the operators okGreater..okLike match them in
// order.
struct tRltn_value {
    std::string_view name;
    TCompareKind code;
};
constexpr int kRelationCount = okLike - okGreater + 1;
extern const std::array<tRltn_value, kRelationCount> kRelations;

// Whether op is one of the relations okGreater..okLike.
bool IsRelation(TOperatorKind op);
// The comparison kind of a relation operator (IsRelation).
TCompareKind CompareKindOf(TOperatorKind op);
// Lower-cases name; 1-based position, or -1.
int RelationIndex(std::string_view name);

// ---------------------------------------------------------------------------
// Type codes, names and the type table.

// integer, word, byte, string, char, float/double, boolean, date/datetime,
// any/variant (exact lower-case names). False for any other text; code is
// then left untouched.
bool TypeCodeOf(std::string_view name, TDataType& code);
// ";" for 0, the canonical name for 1..9, "" for any other code.
std::string_view TypeNameOf(int code);
// Whether code is one of the value types dtInteger..dtVariant (1..9).
constexpr bool IsValueType(int code) {
    return code >= dtInteger && code <= dtVariant;
}
// Groups codes for temporaries: 1,2,3 -> 1; 4; 5; 6,8 -> 6; 7; 9; else 100.
// A class is named by its first type code, so classes are numbered 1..9.
int TypeClassOf(int code);
constexpr int kTypeClassCount = dtVariant;

// The type table cell of left (row) and right (column), codes 1..9.
// pickLeft = 1: a valid cell's result is the left type, else the right one.
// Read through pickLeft alone it says which assignments are allowed
// (target = left, source = right). Codes outside 1..9 give an invalid cell.
struct TTypeCell {
    uint8_t pickLeft;
    uint8_t valid;
};
TTypeCell TypeCell(int left, int right);
int TypePick(int left, int right);
// Whether a value of type source may be assigned to a target of type
// target (TypePick is 1).
inline bool CanAssign(int target, int source) {
    return TypePick(target, source) == 1;
}
// Result type of combining left with right, or -1 for an invalid cell.
int ResultTypeOf(int left, int right);
// -1 for an invalid cell; else the operand type that was not chosen (the
// right type when the result is the left type, else the left type).
int OtherTypeOf(int left, int right);

// ---------------------------------------------------------------------------
// Recognisers. "Trimmed" ones first drop leading and trailing blanks and
// control characters.

// Trimmed: not empty, not reserved, and free of + - * / = > < ( ) and ":=".
// Nothing else is tested: "1abc" and "a.b" are identifiers.
bool IsIdentifier(std::string_view s);
// Trimmed: empty, or first character ' or " and the last equal to it.
bool IsQuotedText(std::string_view s);
// Trimmed, any letter case: "true" or "false".
bool IsBooleanText(std::string_view s);
// Trimmed: an optional leading "-", then a digit; after it digits, at most
// one "." and any other character (which is not tested further).
bool IsNumberText(std::string_view s);
// Trimmed: a well-formed decimal number, as the script language writes one:
// an optional leading "-", digits, at most one "." followed by digits, and
// an optional exponent ("e" or "E", an optional sign, digits). "1e-5",
// "1.5E+5" and "2." are numbers; "1abc", "1e" and "1.2.3" are not.
bool IsNumberLiteral(std::string_view s);
// Whether s reads as a time of day with the current regional settings.
bool IsTimeText(std::string_view s);
// Quoted, number or boolean text, else IsTimeText.
bool IsLiteral(std::string_view s);
// The type code of a literal text (0 when it is none); see the rules in the
// implementation. Numbers are typed by a 32-bit test: at run time integers
// are 64 bits wide, but a literal's type does not depend on that. A number
// with a "." or an exponent is a double.
int LiteralType(std::string_view s);

}  // namespace corvane
