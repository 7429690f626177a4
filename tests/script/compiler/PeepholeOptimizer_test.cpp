// The peephole pass on its own: what it removes and merges, and what it
// must leave alone.
#include "script/compiler/PeepholeOptimizer.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(InstructionLists, RemoveAtKeepsJumpTargets) {
    auto jmp = [](TOpCode op, int target) {
        TQVInstruction i;
        i.OpCode = op;
        i.Imm = target;
        return i;
    };
    TQVInstruction mov;
    mov.OpCode = opMov;
    TsubList list = {jmp(opJmp, 2), mov, mov, jmp(opJmpTrue, 4), mov};
    EXPECT_FALSE(RemoveAt(list, 2));  // a jump lands there
    EXPECT_TRUE(RemoveAt(list, 1));
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].Imm, 1);
    EXPECT_EQ(list[2].Imm, 3);
    // Appending shifts the targets by where the list starts.
    TsubList to = {mov, mov};
    AppendList(list, to);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(to[2].Imm, 3);
    EXPECT_EQ(to[4].Imm, 5);
}

// Slots of the function every case runs in.
enum Slot { kResult, kX, kY, kB, kW, kT, kTb, kTw };

Taddr L(int slot) {
    return LocalAddr(slot);
}

// slot[index], an element whose index is held in the slot index.
Taddr E(int slot, int index) {
    Taddr a = LocalAddr(slot);
    a.Indexed = 1;
    a.IndexVar = index;
    return a;
}

// "op dest,src1,src2 #imm" with slot numbers (an element as "slot[index]"), enough to tell two
// lists apart.
std::vector<std::string> Show(const TsubList& list) {
    std::vector<std::string> out;
    for (const TQVInstruction& i : list) {
        std::string s = std::string(InstructionInfo(i.OpCode).name);
        const Taddr* ops[3] = {&i.Dest, &i.Src1, &i.Src2};
        for (int k = 0; k < OperandCount(i.OpCode); ++k) {
            s += (k ? "," : " ") + std::to_string(ops[k]->Index);
            if (ops[k]->Indexed) s += "[" + std::to_string(ops[k]->IndexVar) + "]";
        }
        if (InstructionInfo(i.OpCode).imm != TImmUse::None) s += " #" + std::to_string(i.Imm);
        out.push_back(s);
    }
    return out;
}

struct PeepholeCase {
    const char* name;
    TsubList code;
    std::vector<std::string> want;
};

void PrintTo(const PeepholeCase& c, std::ostream* os) {
    *os << c.name;
}

class Peephole : public ::testing::TestWithParam<PeepholeCase> {};

TEST_P(Peephole, Optimize) {
    TvarDeflist defs = {{"result", dtInteger},     {"x", dtInteger},      {"y", dtInteger},
                        {"b", dtBoolean},          {"w", dtWord},         {"_tmp_int_1", dtInteger},
                        {"_tmp_bln_1", dtBoolean}, {"_tmp_wrd_1", dtWord}};
    TCodeEmitter code;
    code.SetFunction(nullptr, &defs);
    code.StartBody();
    TsubList list = GetParam().code;
    Optimize(list, code);
    EXPECT_EQ(Show(list), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Compiler, Peephole,
    ::testing::Values(
        PeepholeCase{"SelfCopyGoes", {Instruction(opMov, L(kX), L(kX))}, {}},
        PeepholeCase{"TemporaryIsMergedIntoItsCopy",
                     {Instruction(opAdd, L(kT), L(kX), L(kY)), Instruction(opMov, L(kY), L(kT))},
                     {"add 2,1,2"}},
        PeepholeCase{"ACopyOfAVariableStays",
                     {Instruction(opAdd, L(kY), L(kX), L(kX)), Instruction(opMov, L(kX), L(kY))},
                     {"add 2,1,1", "mov 1,2"}},
        PeepholeCase{"ComparisonKeepsItsKind",
                     {Instruction(opCmp, L(kTb), L(kX), L(kY), ckNotEqual),
                      Instruction(opMov, L(kB), L(kTb))},
                     {"cmp 3,1,2 #10"}},
        PeepholeCase{"ATestIsNeverMergedInto",
                     {Instruction(opTest, L(kTb)), Instruction(opMov, L(kB), L(kTb))},
                     {"test 6", "mov 3,6"}},
        PeepholeCase{"ACallIsNeverMergedInto",
                     {Instruction(opCallEnd, L(kT)), Instruction(opMov, L(kX), L(kT))},
                     {"callend", "mov 1,5"}},
        PeepholeCase{"AJumpTargetStays",
                     {Instruction(opJmp, {}, {}, {}, 1), Instruction(opMov, L(kX), L(kX))},
                     {"jmp #1", "mov 1,1"}},
        PeepholeCase{"ACopyOfTheSameElementGoes", {Instruction(opMov, E(kX, kW), E(kX, kW))}, {}},
        PeepholeCase{
            "ACopyBetweenElementsStays",
            {Instruction(opMov, E(kX, kW), E(kX, kY)), Instruction(opMov, E(kX, kW), L(kX))},
            {"mov 1[4],1[2]", "mov 1[4],1"}},
        PeepholeCase{"ACopyAJumpLandsOnStays",
                     {Instruction(opJmp, {}, {}, {}, 2), Instruction(opAdd, L(kT), L(kX), L(kY)),
                      Instruction(opMov, L(kX), L(kT))},
                     {"jmp #2", "add 5,1,2", "mov 1,5"}},
        PeepholeCase{"AMergeMovesLaterTargets",
                     {Instruction(opJmp, {}, {}, {}, 3), Instruction(opAdd, L(kT), L(kX), L(kY)),
                      Instruction(opMov, L(kX), L(kT)), Instruction(opHalt)},
                     {"jmp #2", "add 1,1,2", "halt"}},
        PeepholeCase{"AConversionIntoItsOwnTypeIsMerged",
                     {Instruction(opConvert, L(kTw), L(kX)), Instruction(opMov, L(kW), L(kTw))},
                     {"convert 4,1"}},
        PeepholeCase{"AConversionIntoAnotherTypeStays",
                     {Instruction(opConvert, L(kTw), L(kX)), Instruction(opMov, L(kY), L(kTw))},
                     {"convert 7,1", "mov 2,7"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace corvane
