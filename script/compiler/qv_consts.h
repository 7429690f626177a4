// qv_consts: the fixed codes shared by the compiler, the images, the
// runtime and the engine's ORDER BY.
//
// Value type codes, comparison kinds and operation codes are stored as
// single bytes (or 32-bit immediates) in compiled images, so their numeric
// values are part of the image format and must never change.
#pragma once

#include <cstdint>

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

// Operation codes of the three-address machine.
enum TOpCode : uint8_t {
    opMov = 0,
    opAdd = 1,
    opSub = 2,
    opMul = 3,
    opDiv = 4,
    opMod = 5,
    opJmp = 6,
    opJmpTrue = 7,
    opCmp = 8,
    opPushFlag = 9,
    opPopFlag = 10,
    opConcat = 11,
    opHalt = 12,
    opLoadText = 13,
    opConvert = 14,
    opAnd = 15,
    opOr = 16,
    opXor = 17,
    opNot = 18,
    opTest = 19,
    opSetFlag = 20,
    opTag = 21,
    opCallPrep = 22,
    opCall = 23,
    opCallEnd = 24,
    opAddImm = 25
};

}  // namespace corvane
