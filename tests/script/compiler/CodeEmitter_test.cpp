// The emitter on its own: open jumps and their patching, appending lists,
// and the temporaries with their release rule.
#include "script/compiler/CodeEmitter.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

// A function with result, i (integer) and w (word); temporaries follow.
struct Function {
    Function() {
        code.SetFunction(nullptr, &defs);
        code.StartBody();
    }
    std::string NameAt(int slot) const { return defs.at(static_cast<size_t>(slot)).Name; }

    TvarDeflist defs = {{"result", dtInteger}, {"i", dtInteger}, {"w", dtWord}};
    TCodeEmitter code;
};

TEST(Backpatching, OpenJumpsArePatchedOnce) {
    Function f;
    TsubList list;
    f.code.Emit(Instruction(opTest, LocalAddr(1)), list, 3);
    EXPECT_EQ(PositionAfterNext(list), 3);
    f.code.EmitJump(opJmpTrue, list, 3, PositionAfterNext(list));
    const size_t open = f.code.EmitJump(opJmp, list, 4);
    EXPECT_EQ(open, 2u);
    EXPECT_EQ(list[open].Imm, kNoJump);
    EXPECT_EQ(list[1].Imm, 3);
    EXPECT_EQ(list[1].Line, 3u);
    f.code.Emit(Instruction(opHalt), list, -1);
    EXPECT_EQ(list.back().Line, 0u);  // no line (-1) is stored as 0
    PatchJumpHere(list, open);
    EXPECT_EQ(list[open].Imm, NextPosition(list));
    EXPECT_EQ(list[open].Imm, 4);
    EXPECT_DEBUG_DEATH(PatchJump(list, open, 1), "only an open jump");
}

TEST(Backpatching, AppendingMovesClosedTargetsAndKeepsOpenOnes) {
    Function f;
    TsubList from, to;
    f.code.Emit(Instruction(opHalt), to, 1);
    f.code.EmitJump(opJmp, from, 1, 1);
    f.code.EmitJump(opJmp, from, 1);
    AppendList(from, to);
    EXPECT_TRUE(from.empty());
    ASSERT_EQ(to.size(), 3u);
    EXPECT_EQ(to[1].Imm, 2);
    EXPECT_EQ(to[2].Imm, kNoJump);
}

TEST(Temporaries, ReusedOnceReadAndKeptWhileLocked) {
    Function f;
    TsubList list;
    const int a = f.code.temps.Allocate(dtInteger);
    const int b = f.code.temps.Allocate(dtInteger);
    EXPECT_EQ(f.NameAt(a), "_tmp_int_1");
    EXPECT_EQ(f.NameAt(b), "_tmp_int_2");
    // i := a + b reads both: both are free again.
    f.code.Emit(Instruction(opAdd, LocalAddr(1), LocalAddr(a), LocalAddr(b)), list, 1);
    EXPECT_EQ(f.code.temps.Allocate(dtInteger), a);
    // A destination stays in use until read; a locked one even then.
    f.code.temps.Lock(LocalAddr(a), true);
    f.code.Emit(Instruction(opMov, LocalAddr(1), LocalAddr(a)), list, 1);
    EXPECT_EQ(f.code.temps.Allocate(dtInteger), b);
    const int c = f.code.temps.Allocate(dtInteger);
    EXPECT_EQ(f.NameAt(c), "_tmp_int_3");
    f.code.temps.Lock(LocalAddr(a), false);
    EXPECT_EQ(f.code.temps.Allocate(dtInteger), a);
}

TEST(Temporaries, TypesAndNames) {
    Function f;
    // A word temporary is defined as an integer but checked as a word.
    const int w = f.code.temps.Allocate(dtWord);
    EXPECT_EQ(f.NameAt(w), "_tmp_int_1");
    EXPECT_EQ(f.code.DeclaredType(w), dtInteger);
    EXPECT_EQ(f.code.OperandType(LocalAddr(w)), dtWord);
    // word(x) needs a true word.
    const int exact = f.code.temps.Allocate(dtWord, true);
    EXPECT_EQ(f.code.DeclaredType(exact), dtWord);
    // An untyped one is a variant until it is given its type.
    const int u = f.code.temps.Allocate(dtUnknown);
    EXPECT_EQ(f.NameAt(u), "_tmp__0");
    EXPECT_EQ(f.code.DeclaredType(u), dtVariant);
    f.code.temps.Retype(u, dtString);
    EXPECT_EQ(f.NameAt(u), "_tmp_str_1");
    EXPECT_EQ(f.code.OperandType(LocalAddr(u)), dtString);
    EXPECT_TRUE(f.code.IsTempOperand(LocalAddr(u)));
    EXPECT_FALSE(f.code.IsTempOperand(LocalAddr(1)));
    EXPECT_EQ(f.code.OperandType(LocalAddr(2)), dtWord);
    EXPECT_EQ(f.code.OperandType(NoDest()), dtNone);
    EXPECT_TRUE(IsNoDest(NoDest()));
    EXPECT_FALSE(IsNoDest(LocalAddr(kResultSlot)));
}

TEST(Operands, DisplayNames) {
    Function f;
    Taddr element = LocalAddr(1);
    element.Indexed = 1;
    element.IndexVar = 2;
    EXPECT_EQ(f.code.OperandName(element), "i[w]");
    EXPECT_EQ(f.code.OperandName(CalleeAddr(kResultSlot)), "params[0]");
    EXPECT_EQ(f.code.OperandName(LocalAddr(7)), "");
}

TEST(StoreCode, NamesOperandsAndRecordsRelocations) {
    Function f;
    TsubList code;
    f.code.Emit(Instruction(opMov, LocalAddr(1), LocalAddr(2)), code, 1);
    f.code.Emit(Instruction(opCallPrep), code, 1);
    f.code.Emit(Instruction(opHalt), code, 2);
    TClassDefInf func;
    f.code.StoreCode(code, func);
    ASSERT_EQ(func.code.size(), 3u);
    EXPECT_EQ(func.code[0].Dest.Name, "i");
    EXPECT_EQ(func.code[0].Src1.Name, "w");
    EXPECT_EQ(func.Relocs, (glb_list{1}));
}

}  // namespace
}  // namespace corvane
