// The interpreter: every opcode with its edge cases, the call protocol
// (arguments, results, var parameters, built-ins, external functions),
// address resolution, the depth limit and cancellation. Functions are built
// by hand from instructions so that each case shows exactly what runs.
#include "script/runtime/CodeMng.h"

#include <gtest/gtest.h>

#include "script/common/U_err.h"
#include "support/Expect.h"
#include "tests/support/HandCode.h"

namespace corvane {
namespace {

using testing::Addr;
using testing::C;
using testing::Fn;
using testing::G;
using testing::I;
using testing::L;
using testing::LI;

TQVInstruction Load(Taddr d, std::string text) {
    return I(opLoadText, d, {}, {}, 0, text);
}

class CodeMngTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = FormatSettings::Current();
        FormatSettings::SetCurrent(FormatSettings{});
    }
    void TearDown() override { FormatSettings::SetCurrent(saved_); }

    int Add(std::unique_ptr<TClassDefInf> f) { return funcs_.Append(std::move(f)); }

    // Runs function n in a fresh activation; returns it for inspection.
    std::unique_ptr<TASMCodeEngine> Run(int n) {
        auto e = std::make_unique<TASMCodeEngine>(n, &globals_, &funcs_);
        e->Run();
        return e;
    }
    // Runs a function made of vars and code; returns the result as text.
    std::string Result(std::vector<Tvardef> vars, std::vector<TQVInstruction> code) {
        int n = Add(Fn("f", std::move(vars), 1, std::move(code)));
        return Run(n)->Locals().At(0).AsString();
    }
    std::string Error(std::vector<Tvardef> vars, std::vector<TQVInstruction> code) {
        int n = Add(Fn("f", std::move(vars), 1, std::move(code)));
        try {
            Run(n);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "";
    }

    FormatSettings saved_;
    TFuncDefList funcs_;
    TVarMngr globals_;
};

Tvardef V(const char* name, TDataType t, int size = 1) {
    return Tvardef(name, t, "", 0, size);
}

// ---------------------------------------------------------------------------
// Simple opcodes

TEST_F(CodeMngTest, BodyOfOnlyHaltKeepsTheInitialResult) {
    EXPECT_EQ(Result({V("result", dtInteger)}, {}), "0");
    EXPECT_EQ(Result({Tvardef("result", dtString, "init")}, {}), "init");
}

TEST_F(CodeMngTest, InitialTextsAreAppliedAtCreation) {
    int n = Add(Fn("f",
                   {Tvardef("result", dtInteger, "42"), Tvardef("c", dtChar, "xy"),
                    Tvardef("d", dtDouble, "2.5")},
                   1, {}));
    auto e = Run(n);
    EXPECT_EQ(e->Locals().At(0).AsInteger(), 42);
    EXPECT_EQ(e->Locals().At(1).AsString(), "x");
    EXPECT_DOUBLE_EQ(e->Locals().At(2).AsFloat(), 2.5);
}

TEST_F(CodeMngTest, AddByDestinationType) {
    struct Case {
        TDataType dest, s1t;
        const char *s1, *s2;
        const char* expected;
    } cases[] = {
        {dtInteger, dtDouble, "2.9", "0", "2"},
        {dtVariant, dtDouble, "2.9", "0", "2.9"},
        {dtInteger, dtDouble, "-2.9", "0", "-2"},  // truncation toward zero
        {dtWord, dtInteger, "65535", "2", "1"},
        {dtByte, dtInteger, "250", "10", "4"},
        {dtDouble, dtInteger, "1", "0.5", "1.5"},
        {dtString, dtInteger, "1", "2", ""},  // no effect on other types
        {dtBoolean, dtInteger, "1", "2", "F"},
    };
    for (auto& c : cases) {
        std::string r = Result({V("result", c.dest), V("a", c.s1t), V("b", dtDouble)},
                               {Load(L(1), c.s1), Load(L(2), c.s2), I(opAdd, L(0), L(1), L(2))});
        EXPECT_EQ(r, c.expected) << c.s1 << "+" << c.s2 << " into type " << int(c.dest);
    }
}

TEST_F(CodeMngTest, AddWithAStringOperandConcatenates) {
    EXPECT_EQ(Result({V("result", dtString), V("a", dtInteger), V("b", dtString)},
                     {Load(L(1), "1"), Load(L(2), "b"), I(opAdd, L(0), L(1), L(2))}),
              "1b");
    EXPECT_EQ(Result({V("result", dtVariant), V("a", dtString), V("b", dtDouble)},
                     {Load(L(1), "x"), Load(L(2), "2.5"), I(opAdd, L(0), L(1), L(2))}),
              "x2.5");
}

TEST_F(CodeMngTest, IntegerArithmeticIsExactIn64Bits) {
    // 2^53 + 1 cannot be held by a double.
    EXPECT_EQ(Result({V("result", dtInteger), V("a", dtInteger), V("b", dtInteger)},
                     {Load(L(1), "9007199254740992"), Load(L(2), "1"), I(opAdd, L(0), L(1), L(2))}),
              "9007199254740993");
    EXPECT_EQ(
        Result({V("result", dtInteger), V("a", dtInteger), V("b", dtInteger)},
               {Load(L(1), "3037000499"), Load(L(2), "3037000499"), I(opMul, L(0), L(1), L(2))}),
        "9223372030926249001");
    EXPECT_EQ(
        Result({V("result", dtInteger), V("a", dtInteger), V("b", dtInteger)},
               {Load(L(1), "-9007199254740993"), Load(L(2), "1"), I(opSub, L(0), L(1), L(2))}),
        "-9007199254740994");
    // A variant destination holds the exact integer too.
    int n = Add(Fn("f", {V("result", dtVariant), V("a", dtInteger), V("b", dtWord)}, 1,
                   {Load(L(1), "9007199254740993"), Load(L(2), "2"), I(opMul, L(0), L(1), L(2))}));
    Variant product = Run(n)->Locals().At(0).AsVariant();
    EXPECT_EQ(product.type(), VarType::Integer);
    EXPECT_EQ(product.AsInteger(), 18014398509481986);
    // Beyond 64 bits the result is an error, not a wrapped value.
    EXPECT_EQ(Error({V("result", dtInteger), V("a", dtInteger)},
                    {Load(L(1), "9223372036854775807"), I(opAdd, L(0), L(1), L(1))}),
              "Invalid floating point operation");
}

TEST_F(CodeMngTest, IntegerOperandsOfEveryKindAreExact) {
    // 2^53 + 1 held by an integer, by a variant and by an external variable
    // (the host answers with an integer) is added, subtracted and multiplied
    // as an integer, into every numeric destination.
    globals_.SetGetHandler(
        [](const std::string&, Variant& v) { v = Variant(int64_t{9007199254740993}); });
    const int extInt = globals_.AddExternal("xi", dtInteger);
    const int extAny = globals_.AddExternal("xv", dtVariant);
    struct Case {
        int op;
        Taddr s1;
        TDataType dest;
        const char* expected;
    } cases[] = {
        {opAdd, L(2), dtInteger, "9007199254740995"},
        {opAdd, L(3), dtInteger, "9007199254740995"},
        {opAdd, G(extInt), dtVariant, "9007199254740995"},
        {opAdd, G(extAny), dtInteger, "9007199254740995"},
        {opSub, L(3), dtVariant, "9007199254740991"},
        {opSub, G(extInt), dtInteger, "9007199254740991"},
        {opMul, L(3), dtInteger, "18014398509481986"},
        {opMul, G(extAny), dtVariant, "18014398509481986"},
        // a word keeps the low 16 bits of the exact value
        {opAdd, L(3), dtWord, "3"},
        {opMul, G(extInt), dtWord, "2"},
        // a double takes the nearest double of the exact value
        {opAdd, L(3), dtDouble, "9.007199254741E15"},
    };
    for (const Case& c : cases) {
        // locals: result, the addend 2, an integer and a variant holding 2^53 + 1
        const std::string r =
            Result({V("result", c.dest), V("two", dtInteger), V("n", dtInteger), V("v", dtVariant)},
                   {Load(L(1), "2"), Load(L(2), "9007199254740993"), I(opMov, L(3), L(2)),
                    I(c.op, L(0), c.s1, L(1))});
        EXPECT_EQ(r, c.expected) << c.op << " " << c.s1.Kind << ":" << c.s1.Index << " into "
                                 << int(c.dest);
    }
    // A variant holding a double, or a double operand, keeps double arithmetic.
    EXPECT_EQ(Result({V("result", dtVariant), V("d", dtDouble), V("v", dtVariant)},
                     {Load(L(1), "0.5"), I(opMov, L(2), L(1)), I(opAdd, L(0), L(2), L(2))}),
              "1");
}

TEST_F(CodeMngTest, IntegerOverflowIsAnErrorWhateverTheDestination) {
    for (TDataType dest : {dtInteger, dtWord, dtByte, dtDouble, dtVariant, dtDate}) {
        for (int op : {opAdd, opSub, opMul}) {
            // max + max, min - max, max * max
            EXPECT_EQ(
                Error({V("result", dest), V("a", dtInteger), V("b", dtInteger)},
                      {Load(L(1), op == opSub ? "-9223372036854775808" : "9223372036854775807"),
                       Load(L(2), "9223372036854775807"), I(op, L(0), L(1), L(2))}),
                kMsgIntegerOverflow)
                << op << " into " << int(dest);
        }
    }
    // The ends of the range themselves are no overflow.
    EXPECT_EQ(
        Result({V("result", dtInteger), V("a", dtInteger), V("b", dtInteger)},
               {Load(L(1), "-9223372036854775807"), Load(L(2), "1"), I(opSub, L(0), L(1), L(2))}),
        "-9223372036854775808");
}

TEST_F(CodeMngTest, MovRoundsWhileArithmeticTruncates) {
    for (auto [text, expected] : {std::pair{"2.5", "2"}, {"3.5", "4"}, {"-2.5", "-2"}})
        EXPECT_EQ(Result({V("result", dtInteger), V("d", dtDouble)},
                         {Load(L(1), text), I(opMov, L(0), L(1))}),
                  expected);
    EXPECT_EQ(Result({V("result", dtInteger), V("a", dtDouble), V("b", dtDouble)},
                     {Load(L(1), "3.5"), Load(L(2), "0"), I(opSub, L(0), L(1), L(2))}),
              "3");
    EXPECT_EQ(Result({V("result", dtDouble), V("a", dtDouble), V("b", dtInteger)},
                     {Load(L(1), "1.5"), Load(L(2), "4"), I(opMul, L(0), L(1), L(2))}),
              "6");
}

TEST_F(CodeMngTest, DivisionAndRemainder) {
    EXPECT_EQ(Result({V("result", dtDouble), V("a", dtInteger), V("b", dtInteger)},
                     {Load(L(1), "7"), Load(L(2), "2"), I(opDiv, L(0), L(1), L(2))}),
              "3.5");
    EXPECT_EQ(Result({V("result", dtInteger), V("a", dtInteger), V("b", dtInteger)},
                     {Load(L(1), "-7"), Load(L(2), "3"), I(opMod, L(0), L(1), L(2))}),
              "-1");
    EXPECT_EQ(Result({V("result", dtInteger), V("a", dtInteger), V("b", dtInteger)},
                     {Load(L(1), "7"), Load(L(2), "-3"), I(opMod, L(0), L(1), L(2))}),
              "1");
    EXPECT_EQ(
        Result({V("result", dtInteger), V("a", dtInteger), V("b", dtInteger)},
               {Load(L(1), "-9223372036854775808"), Load(L(2), "-1"), I(opMod, L(0), L(1), L(2))}),
        "0");
    struct Case {
        int op;
        const char* a;
        const char* message;
    } errors[] = {
        {opDiv, "1", "Floating point division by zero"},
        {opDiv, "0", "Invalid floating point operation"},
        {opMod, "1", "Division by zero"},
    };
    for (auto& c : errors)
        EXPECT_EQ(Error({V("result", dtDouble), V("a", dtInteger), V("b", dtInteger)},
                        {Load(L(1), c.a), I(c.op, L(0), L(1), L(2))}),
                  c.message);
}

TEST_F(CodeMngTest, JumpsAndTheFlag) {
    // flag := 2 via opTest; opJmpTrue does not jump on 2.
    EXPECT_EQ(Result({V("result", dtInteger), V("f", dtInteger)},
                     {Load(L(1), "2"), I(opTest, L(1)), I(opJmpTrue, {}, {}, {}, 4),
                      Load(L(0), "10"), I(opHalt), Load(L(0), "20")}),
              "10");
    EXPECT_EQ(Result({V("result", dtInteger), V("f", dtInteger)},
                     {Load(L(1), "1"), I(opTest, L(1)), I(opJmpTrue, {}, {}, {}, 5),
                      Load(L(0), "10"), I(opHalt), Load(L(0), "20")}),
              "20");
    // A jump beyond the body ends the function.
    EXPECT_EQ(Result({V("result", dtInteger)}, {I(opJmp, {}, {}, {}, 1000), Load(L(0), "1")}), "0");
    // Opcodes above the table stop the function like opHalt.
    EXPECT_EQ(Result({V("result", dtInteger)}, {I(30), Load(L(0), "1")}), "0");
    EXPECT_EQ(Result({V("result", dtInteger)}, {I(255), Load(L(0), "1")}), "0");
}

TEST_F(CodeMngTest, LogicOpcodesAssumeZeroAndOne) {
    struct Case {
        int op;
        const char* a;
        const char* b;
        int64_t flag;
    } cases[] = {
        {opAnd, "1", "1", 1}, {opAnd, "1", "0", 0}, {opAnd, "2", "3", 6}, {opOr, "0", "0", 0},
        {opOr, "1", "1", 1},  {opOr, "0", "5", 1},  {opXor, "1", "0", 1}, {opXor, "2", "3", 0},
        {opXor, "0", "0", 0}, {opNot, "0", "", 1},  {opNot, "7", "", 0},
    };
    for (auto& c : cases) {
        int n = Add(Fn("f", {V("result", dtInteger), V("a", dtInteger), V("b", dtInteger)}, 1,
                       {Load(L(1), c.a), Load(L(2), c.b), I(c.op, L(0), L(1), L(2))}));
        auto e = Run(n);
        EXPECT_EQ(e->Flag(), c.flag) << c.op << " " << c.a << " " << c.b;
        EXPECT_EQ(e->Locals().At(0).AsInteger(), c.flag);
    }
    // opAnd of 2 and 3 gives 6, which opJmpTrue treats as false.
    EXPECT_EQ(Result({V("result", dtInteger), V("a", dtInteger), V("b", dtInteger)},
                     {Load(L(1), "2"), Load(L(2), "3"), I(opAnd, L(1), L(1), L(2)),
                      I(opJmpTrue, {}, {}, {}, 5), Load(L(0), "1")}),
              "1");
}

TEST_F(CodeMngTest, FlagStackAndSetFlag) {
    EXPECT_EQ(Result({V("result", dtInteger), V("a", dtInteger)},
                     {Load(L(1), "1"), I(opTest, L(1)), I(opPushFlag), Load(L(1), "0"),
                      I(opTest, L(1)), I(opPopFlag), I(opSetFlag, L(0))}),
              "1");
    EXPECT_EQ(Result({V("result", dtInteger)}, {I(opPopFlag), I(opSetFlag, L(0))}), "0");
    std::vector<TQVInstruction> pushes(51, I(opPushFlag));
    EXPECT_EQ(Error({V("result", dtInteger)}, pushes), "范围越界。");
}

TEST_F(CodeMngTest, LoadTextByDestinationType) {
    EXPECT_EQ(Result({V("result", dtChar)}, {Load(L(0), "")}), "");
    int n = Add(Fn("f", {V("result", dtChar)}, 1, {Load(L(0), "")}));
    EXPECT_EQ(Run(n)->Locals().At(0).AsChar(), EmptyChar);
    EXPECT_EQ(Result({V("result", dtChar)}, {Load(L(0), "xyz")}), "x");
    EXPECT_EQ(Result({V("result", dtBoolean)}, {Load(L(0), "True")}), "T");
    EXPECT_EQ(Result({V("result", dtInteger)}, {Load(L(0), "abc")}), "0");  // unchanged
}

TEST_F(CodeMngTest, AddImmStepsAnInteger) {
    EXPECT_EQ(Result({V("result", dtInteger), V("i", dtInteger)},
                     {Load(L(1), "5"), I(opAddImm, L(0), L(1), {}, -1)}),
              "4");
    EXPECT_EQ(Result({V("result", dtWord), V("i", dtWord)},
                     {Load(L(1), "65535"), I(opAddImm, L(0), L(1), {}, 1)}),
              "0");
}

// ---------------------------------------------------------------------------
// Comparisons and copies

TEST_F(CodeMngTest, CompareByTheLeftOperandsType) {
    struct Case {
        TDataType ta;
        const char* a;
        TDataType tb;
        const char* b;
        int32_t kind;
        int64_t r;
    } cases[] = {
        {dtString, "abc", dtString, "abc", ckLessEqual, 1},
        {dtString, "abc", dtString, "abd", ckLess, 1},
        {dtString, "ABC", dtString, "abc", ckEqual, 0},
        {dtString, "ab", dtString, "abc", ckLess, 1},   // a prefix orders first
        {dtString, "é", dtString, "z", ckGreater, 1},   // unsigned bytes
        {dtInteger, "5", dtString, "5", ckEqual, 0},    // the text reads as integer 0
        {dtString, "5", dtInteger, "5", ckEqual, 1},    // compared as text
        {dtInteger, "3", dtDouble, "3.7", ckEqual, 1},  // the double truncates
        {dtDouble, "3", dtDouble, "3.7", ckLess, 1},
        {dtInteger, "2", dtInteger, "3", ckNotEqual, 1},
        {dtInteger, "3", dtInteger, "3", ckGreaterEqual, 1},
        {dtInteger, "2", dtInteger, "3", ckGreaterEqual, 0},
        {dtInteger, "4", dtInteger, "3", ckLessEqual, 0},
        {dtBoolean, "T", dtBoolean, "F", ckGreater, 1},
        {dtDate, "2024-03-01", dtString, "2024-03-02", ckLess, 1},
        {dtVariant, "10", dtVariant, "9", ckGreater, 0},  // two texts compare as text
        {dtChar, "a", dtString, "a", ckEqual, 1},
        {dtString, "abc.txt", dtString, "%.txt", ckLike, 1},
        {dtString, "abc.txt", dtString, "a_c%", ckLike, 1},
        {dtString, "abc", dtString, "b%", ckLike, 0},
        {dtInteger, "123", dtString, "1%", ckLike, 1},
    };
    for (auto& c : cases) {
        TXVarData a("a", c.ta), b("b", c.tb);
        a.SetString(c.a);
        b.SetString(c.b);
        EXPECT_EQ(CompareVars(a, b, c.kind), c.r) << c.a << " " << c.kind << " " << c.b;
    }
}

TEST_F(CodeMngTest, CompareVariantsOrdering) {
    struct Case {
        Variant a, b;
        int r;
    } cases[] = {
        {Variant(int64_t{2}), Variant(2.5), -1},
        {Variant("10"), Variant(int64_t{9}), 1},  // a text against a number: numbers
        {Variant("b"), Variant("a"), 1},
        {Variant::Null(), Variant(int64_t{0}), -1},
        {Variant::Null(), Variant::Null(), 0},
        {Variant(), Variant(int64_t{0}), 0},
        {Variant(), Variant(""), 0},
        {Variant(false), Variant(true), -1},
        {Variant::FromDate(45000), Variant("2023-03-15"), 0},
    };
    for (auto& c : cases)
        EXPECT_EQ(CompareVariants(c.a, c.b), c.r) << c.a.AsString() << " " << c.b.AsString();
    EXPECT_THROW(CompareVariants(Variant("x"), Variant(int64_t{1})), VariantError);
}

TEST_F(CodeMngTest, ConvertingAssignments) {
    struct Case {
        TDataType dt;
        TDataType st;
        const char* s;
        bool ok;
        const char* d;
    } cases[] = {
        {dtInteger, dtString, "12", true, "12"},
        {dtInteger, dtString, "abc", false, "7"},  // unchanged, no error
        {dtString, dtChar, "x", true, "x"},
        {dtString, dtInteger, "12", true, "12"},
        {dtChar, dtString, "xyz", true, "x"},
        {dtChar, dtString, "", true, ""},
        {dtChar, dtInteger, "5", false, "s"},
        {dtBoolean, dtString, "true", true, "T"},
        {dtDate, dtString, "2024-03-01 12:00", true, "2024-03-01"},
        {dtVariant, dtDate, "2024-03-01", true, "45352"},
        {dtWord, dtInteger, "70000", true, "4464"},
    };
    for (auto& c : cases) {
        TXVarData d("d", c.dt), s("s", c.st);
        if (c.dt == dtChar)
            d.SetChar('s');
        else
            d.SetString("7");
        s.SetString(c.s);
        EXPECT_EQ(AssignConvertVar(d, s), c.ok) << c.s;
        EXPECT_EQ(d.AsString(), c.d) << c.s;
    }
    // An empty character copies into a string as the empty text.
    TXVarData c("c", dtChar), str("s", dtString);
    str.SetString("old");
    AssignConvertVar(str, c);
    EXPECT_EQ(str.AsString(), "");
}

TEST_F(CodeMngTest, ConvertOfABadTextLeavesTheTargetAndGoesOn) {
    EXPECT_EQ(Result({V("result", dtInteger), V("s", dtString)},
                     {Load(L(0), "5"), Load(L(1), "abc"), I(opConvert, L(0), L(1)),
                      I(opAddImm, L(0), L(0), {}, 1)}),
              "6");
    // The same through opMov between different types.
    EXPECT_EQ(Result({V("result", dtInteger), V("s", dtString)},
                     {Load(L(0), "5"), Load(L(1), "abc"), I(opMov, L(0), L(1))}),
              "5");
}

// ---------------------------------------------------------------------------
// Addresses

TEST_F(CodeMngTest, StringCharactersReadAndWriteInPlace) {
    // s := 'abc'; i := 2; s[i] := 'x'; result := s[i] + s
    EXPECT_EQ(Result({V("result", dtString), V("s", dtString), V("i", dtInteger), V("c", dtChar)},
                     {Load(L(1), "abc"), Load(L(2), "2"), Load(L(3), "x"), I(opMov, LI(1, 2), L(3)),
                      I(opConcat, L(0), LI(1, 2), L(1))}),
              "xaxc");
    EXPECT_EQ(Error({V("result", dtString), V("s", dtString), V("i", dtInteger)},
                    {Load(L(1), "abc"), Load(L(2), "4"), I(opMov, L(0), LI(1, 2))}),
              "地址越界。");
}

TEST_F(CodeMngTest, ArrayElements) {
    EXPECT_EQ(
        Result({V("result", dtInteger), V("a", dtInteger, 3), V("i", dtInteger)},
               {Load(L(2), "2"), Load(LI(1, 2), "7"), Load(L(2), "0"),
                I(opAdd, L(0), LI(1, 2), L(2)), Load(L(2), "2"), I(opAdd, L(0), L(0), LI(1, 2))}),
        "7");
    EXPECT_EQ(Error({V("result", dtInteger), V("a", dtInteger, 3), V("i", dtInteger)},
                    {Load(L(2), "3"), I(opMov, L(0), LI(1, 2))}),
              "地址越界。");
}

TEST_F(CodeMngTest, AddressFaults) {
    EXPECT_EQ(Error({V("result", dtInteger), V("x", dtInteger), V("i", dtInteger)},
                    {I(opMov, L(0), LI(1, 2))}),
              "无效的地址访问。");
    EXPECT_EQ(Error({V("result", dtInteger)}, {I(opMov, L(0), L(5))}), "地址越界。");
    EXPECT_EQ(Error({V("result", dtInteger)}, {I(opMov, L(0), L(-1))}), "地址越界。");
    EXPECT_EQ(Error({V("result", dtInteger)}, {I(opMov, L(0), C(1))}), "无效的地址访问。");
    EXPECT_EQ(Error({V("result", dtInteger)}, {I(opMov, L(0), Addr(7, 0))}), "无效的地址访问。");
    EXPECT_EQ(Error({V("result", dtInteger), V("i", dtInteger)}, {I(opMov, L(0), LI(0, 9))}),
              "地址越界。");
}

TEST_F(CodeMngTest, GlobalsAndExternalGlobals) {
    globals_.SetGetHandler([](const std::string& name, Variant& v) { v = Variant(name + "!"); });
    std::vector<std::string> sets;
    globals_.SetSetHandler([&](const std::string& name, const Variant& v) {
        sets.push_back(name + "=" + v.AsString());
    });
    int g = globals_.AddScalar("g", dtInteger);
    int ext = globals_.AddExternal("x", dtString);
    globals_.At(g).SetInteger(40);
    EXPECT_EQ(Result({V("result", dtString), V("n", dtInteger)},
                     {Load(L(1), "2"), I(opAdd, G(g), G(g), L(1)), I(opMov, G(ext), G(g)),
                      I(opMov, L(0), G(ext))}),
              "x!");
    EXPECT_EQ(globals_.At(g).AsInteger(), 42);
    EXPECT_EQ(sets, std::vector<std::string>{"x=42"});
}

TEST_F(CodeMngTest, ExternalLocalsReachTheGlobalAccessors) {
    globals_.SetGetHandler([](const std::string& name, Variant& v) { v = Variant(name); });
    EXPECT_EQ(Result({V("result", dtString), V("e", dtString, 0)}, {I(opMov, L(0), L(1))}), "e");
    TVarMngr none;
    int n = Add(Fn("f", {V("result", dtString), V("e", dtString, -1)}, 1, {I(opMov, L(0), L(1))}));
    TASMCodeEngine e(n, &none, &funcs_);
    EXPECT_THROW_WITH_MESSAGE(e.Run(), EScriptError, "“OnGet”没有初始化。");
}

// ---------------------------------------------------------------------------
// Calls

TEST_F(CodeMngTest, CallWithArgumentsResultAndVarParameter) {
    // function add(a: integer; var b: integer): integer; b := b + 1; result := a + b
    Tvardef byRef("b", dtInteger, "", 1, 1);
    int add = Add(Fn("add", {V("result", dtInteger), V("a", dtInteger), byRef}, 3,
                     {I(opAddImm, L(2), L(2), {}, 1), I(opAdd, L(0), L(1), L(2))}));
    // main: x := 10; y := 5; flag := 1; result := add(x, y) * 100 + y; keeps its flag
    int main = Add(
        Fn("main",
           {V("result", dtInteger), V("x", dtInteger), V("y", dtInteger), V("t", dtInteger),
            V("k", dtInteger), V("f", dtInteger)},
           1,
           {Load(L(1), "10"), Load(L(2), "5"), Load(L(5), "1"), I(opTest, L(5)),
            I(opCallPrep, {}, {}, {}, add), I(opMov, C(1), L(1)), I(opMov, C(2), L(2)), I(opCall),
            I(opMov, L(2), C(2)), I(opMov, L(3), C(0)), I(opCallEnd), I(opSetFlag, L(5)),
            Load(L(4), "100"), I(opMul, L(3), L(3), L(4)), I(opAdd, L(0), L(3), L(2))}));
    auto e = Run(main);
    EXPECT_EQ(e->Locals().At(0).AsInteger(), 1606);
    EXPECT_EQ(e->Locals().At(5).AsInteger(), 1);  // the caller's flag survived the call
}

TEST_F(CodeMngTest, RecursionCreatesAnActivationPerLevel) {
    // function fact(n): if n <= 1 then result := 1 else result := n * fact(n - 1)
    int fact = funcs_.Count();
    Add(Fn("fact",
           {V("result", dtInteger), V("n", dtInteger), V("one", dtInteger), V("b", dtBoolean),
            V("m", dtInteger), V("r", dtInteger)},
           2,
           {Load(L(2), "1"),                          // 0
            I(opCmp, L(3), L(1), L(2), ckLessEqual),  // 1  n <= 1?
            I(opJmpTrue, {}, {}, {}, 11),             // 2
            I(opSub, L(4), L(1), L(2)),               // 3
            I(opCallPrep, {}, {}, {}, fact),          // 4
            I(opMov, C(1), L(4)),                     // 5
            I(opCall),                                // 6
            I(opMov, L(5), C(0)),                     // 7
            I(opCallEnd),                             // 8
            I(opMul, L(0), L(1), L(5)),               // 9
            I(opJmp, {}, {}, {}, 12),                 // 10 -> the final opHalt
            Load(L(0), "1")}));                       // 11
    auto e = std::make_unique<TASMCodeEngine>(fact, &globals_, &funcs_);
    e->Locals().At(1).SetInteger(20);
    e->Run();
    EXPECT_EQ(e->Locals().At(0).AsInteger(), 2432902008176640000);
    // Deeper than the limit: the run stops with the depth message.
    auto deep = std::make_unique<TASMCodeEngine>(fact, &globals_, &funcs_);
    deep->Locals().At(1).SetInteger(kMaxCallDepth + 5);
    EXPECT_THROW_WITH_MESSAGE(deep->Run(), EScriptError, "函数调用嵌套太深，最多允许1000层。");
}

TEST_F(CodeMngTest, DepthLimitHoldsWithoutRecursionOnTheStack) {
    // function down(n): if n > 0 then down(n - 1); result := n
    int down = funcs_.Count();
    Add(Fn("down",
           {V("result", dtInteger), V("n", dtInteger), V("z", dtInteger), V("b", dtBoolean),
            V("m", dtInteger)},
           2,
           {Load(L(2), "0"), I(opCmp, L(3), L(1), L(2), ckLessEqual), I(opJmpTrue, {}, {}, {}, 8),
            I(opAddImm, L(4), L(1), {}, -1), I(opCallPrep, {}, {}, {}, down), I(opMov, C(1), L(4)),
            I(opCall), I(opCallEnd), I(opMov, L(0), L(1))}));
    auto ok = std::make_unique<TASMCodeEngine>(down, &globals_, &funcs_);
    ok->Locals().At(1).SetInteger(kMaxCallDepth - 1);
    ok->Run();
    EXPECT_EQ(ok->Locals().At(0).AsInteger(), kMaxCallDepth - 1);
    auto bad = std::make_unique<TASMCodeEngine>(down, &globals_, &funcs_);
    bad->Locals().At(1).SetInteger(kMaxCallDepth);
    EXPECT_THROW(bad->Run(), EScriptError);
}

TEST_F(CodeMngTest, EveryCallSeesFreshVariables) {
    // function f: result := x + 10; x := 5   (x has no initial value, s has one)
    int f = Add(
        Fn("f", {V("result", dtInteger), V("x", dtInteger), Tvardef("s", dtString, "i")}, 1,
           {Load(L(0), "10"), I(opAdd, L(0), L(0), L(1)), Load(L(1), "5"), Load(L(2), "changed")}));
    // main: calls f twice (the second call reuses the first activation) and
    // adds up the results and the texts it sees.
    int main = Add(Fn("main", {V("result", dtString), V("r", dtInteger)}, 1,
                      {I(opCallPrep, {}, {}, {}, f), I(opCall), I(opMov, L(1), C(0)),
                       I(opConcat, L(0), L(0), C(2)), I(opCallEnd),  //
                       I(opCallPrep, {}, {}, {}, f), I(opConcat, L(0), L(0), C(2)), I(opCall),
                       I(opAdd, L(1), L(1), C(0)), I(opCallEnd), I(opConcat, L(0), L(0), L(1))}));
    EXPECT_EQ(Run(main)->Locals().At(0).AsString(), "changedi20");
}

TEST_F(CodeMngTest, BuiltinCallThroughTheSameProtocol) {
    int length = TbaseFunctions::Acquire()->Find("length");
    EXPECT_EQ(Result({V("result", dtInteger), V("s", dtString)},
                     {Load(L(1), "汉字ab"), I(opCallPrep, {}, {}, {}, -length),
                      I(opMov, C(1), L(1)), I(opCall), I(opMov, L(0), C(0)), I(opCallEnd)}),
              "8");
    EXPECT_EQ(Error({V("result", dtInteger)}, {I(opCallPrep, {}, {}, {}, -99)}), "范围越界。");
    EXPECT_EQ(Error({V("result", dtInteger)}, {I(opCallPrep, {}, {}, {}, 99)}),
              "Bounds is exceeded!");
    EXPECT_EQ(Error({V("result", dtInteger)}, {I(opCall)}), "无效的地址访问。");
}

TEST_F(CodeMngTest, ExternalFunctionsGoToTheHandler) {
    auto ext = Fn("twice", {V("result", dtInteger), V("x", dtInteger), V("s", dtString)}, 3, {});
    ext->IsExternal = 1;
    int twice = Add(std::move(ext));
    int main = Add(Fn("main", {V("result", dtInteger), V("a", dtInteger)}, 1,
                      {Load(L(1), "21"), I(opCallPrep, {}, {}, {}, twice), I(opMov, C(1), L(1)),
                       I(opCall), I(opMov, L(1), C(1)), I(opMov, L(0), C(0)), I(opCallEnd)}));
    std::string seen;
    auto e = std::make_unique<TASMCodeEngine>(main, &globals_, &funcs_);
    e->SetOnExternalFunc([&](const std::string& name, Tparamlist& params, Variant& rtn) {
        for (auto& p : params)
            seen += p.Name + "=" + p.Value.AsString() + ";";
        seen = name + ":" + seen;
        params[0].Value = Variant(int64_t{0});  // not copied back
        rtn = Variant(params.size() == 2 ? int64_t{42} : int64_t{-1});
    });
    e->Run();
    EXPECT_EQ(seen, "twice:x=21;s=;");
    EXPECT_EQ(e->Locals().At(0).AsInteger(), 42);
    EXPECT_EQ(e->Locals().At(1).AsInteger(), 21);
    // Without a handler the result keeps its initial value.
    auto quiet = std::make_unique<TASMCodeEngine>(main, &globals_, &funcs_);
    quiet->Run();
    EXPECT_EQ(quiet->Locals().At(0).AsInteger(), 0);
}

TEST_F(CodeMngTest, TagsGoToTheHandlerWithBothTables) {
    int n = Add(Fn("f", {V("result", dtInteger), V("loc", dtInteger)}, 1,
                   {I(opTag, {}, {}, {}, 0, "hello")}));
    globals_.AddScalar("glob", dtInteger);
    std::string seen;
    TASMCodeEngine e(n, &globals_, &funcs_);
    e.SetOnTag([&](const std::string& t, TVarMngr& g, TVarMngr& l) {
        seen = t + " " + g.At(0).Name() + " " + l.At(1).Name();
    });
    e.Run();
    EXPECT_EQ(seen, "hello glob loc");
    TASMCodeEngine silent(n, &globals_, &funcs_);
    silent.Run();  // no handler: nothing happens
}

TEST_F(CodeMngTest, ResetIPRunsAgainWithTheVariablesAsTheyAre) {
    int n = Add(Fn("f", {V("result", dtInteger)}, 1, {I(opAddImm, L(0), L(0), {}, 1)}));
    TASMCodeEngine e(n, &globals_, &funcs_);
    e.Run();
    e.ResetIP();
    e.Run();
    EXPECT_EQ(e.Locals().At(0).AsInteger(), 2);
}

TEST_F(CodeMngTest, ATextThatKeepsDoublingStops) {
    EXPECT_EQ(Error({V("result", dtString), V("s", dtString)},
                    {Load(L(1), "x"), I(opConcat, L(1), L(1), L(1)), I(opJmp, {}, {}, {}, 1)}),
              "字符串太长。");
    EXPECT_EQ(Error({V("result", dtString), V("s", dtString)},
                    {Load(L(1), "x"), I(opAdd, L(1), L(1), L(1)), I(opJmp, {}, {}, {}, 1)}),
              "字符串太长。");
}

TEST_F(CodeMngTest, AppendingToTheDestinationsOwnText) {
    // s := s + x appends in place when s is a string variable; every other
    // shape builds the text anew. The results are the same.
    struct Case {
        const char* name;
        TDataType dest;
        std::vector<TQVInstruction> code;  // after s := 'ab', t := 'cd', i := 5
        const char* expected;
    } cases[] = {
        {"concat of a string", dtString, {I(opConcat, L(1), L(1), L(2))}, "abcd"},
        {"add of a string", dtString, {I(opAdd, L(1), L(1), L(2))}, "abcd"},
        {"an integer appended", dtString, {I(opAdd, L(1), L(1), L(3))}, "ab5"},
        {"the text appended to itself", dtString, {I(opConcat, L(1), L(1), L(1))}, "abab"},
        {"a character of the text itself", dtString, {I(opConcat, L(1), L(1), LI(1, 4))}, "abb"},
        {"into a variant", dtVariant, {I(opConcat, L(1), L(1), L(2))}, "abcd"},
        {"into a character", dtChar, {I(opConcat, L(1), L(1), L(2))}, "a"},
        {"into another variable",
         dtString,
         {I(opConcat, L(2), L(1), L(2)), I(opMov, L(1), L(2))},
         "abcd"},
        {"many appends",
         dtString,
         {Load(L(3), "0"), I(opConcat, L(1), L(1), L(2)), I(opAddImm, L(3), L(3), {}, 1),
          Load(L(4), "1000"), I(opCmp, L(5), L(3), L(4), ckLess), I(opJmpTrue, {}, {}, {}, 5)},
         nullptr},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TQVInstruction> code = {Load(L(1), "ab"), Load(L(2), "cd"), Load(L(3), "5"),
                                            Load(L(4), "2")};
        code.insert(code.end(), c.code.begin(), c.code.end());
        code.push_back(I(opMov, L(0), L(1)));
        std::string expected = c.expected ? c.expected : "ab";
        if (!c.expected)
            for (int i = 0; i < 1000; ++i)
                expected += "cd";
        EXPECT_EQ(Result({V("result", dtString), V("s", c.dest), V("t", dtString),
                          V("i", dtInteger), V("k", dtInteger), V("f", dtBoolean)},
                         std::move(code)),
                  expected);
    }
}

TEST_F(CodeMngTest, AnEndlessLoopStopsWhenCancelled) {
    int n = Add(Fn("f", {V("result", dtInteger)}, 1,
                   {I(opAddImm, L(0), L(0), {}, 1), I(opJmp, {}, {}, {}, 0)}));
    TASMCodeEngine e(n, &globals_, &funcs_);
    int polls = 0;
    e.SetCancelCheck([&] { return ++polls == 3; });
    EXPECT_THROW_WITH_MESSAGE(e.Run(), EScriptError, "程序运行被中止。");
    EXPECT_EQ(polls, 3);
    EXPECT_GT(e.Locals().At(0).AsInteger(), 0);
}

TEST_F(CodeMngTest, CancellationReachesCallees) {
    int loop = Add(Fn("loop", {V("result", dtInteger)}, 1, {I(opJmp, {}, {}, {}, 0)}));
    int main = Add(Fn("main", {V("result", dtInteger)}, 1,
                      {I(opCallPrep, {}, {}, {}, loop), I(opCall), I(opCallEnd)}));
    TASMCodeEngine e(main, &globals_, &funcs_);
    e.SetCancelCheck([] { return true; });
    EXPECT_THROW(e.Run(), EScriptError);
}

}  // namespace
}  // namespace corvane
