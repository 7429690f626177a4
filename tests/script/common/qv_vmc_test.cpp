// Unit and program images: the byte layout, round trips, lazy bodies, the
// cross-unit lookups, and hostile or truncated bytes.
#include "script/common/qv_vmc.h"
#include "script/common/ImageDisassembler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "script/compiler/MemoryAdapter.h"
#include "script/runtime/u_base_funcs.h"
#include "support/Expect.h"
#include "support/ImageCompare.h"

namespace corvane {
namespace {

using corvane::testing::ExpectSameFunc;
using corvane::testing::MemoryAdapter;

// The text of the script error f raises, or "(no error)".
template <typename F>
std::string ErrorOf(F f) {
    return testing::ErrorOf<EScriptError>(f);
}

uint32_t U32At(const TMemoryStream& s, size_t pos) {
    const auto& b = s.Bytes();
    return b[pos] | b[pos + 1] << 8 | b[pos + 2] << 16 | static_cast<uint32_t>(b[pos + 3]) << 24;
}

Taddr Local(int slot, const char* name = "") {
    Taddr a;
    a.Kind = akLocal;
    a.Index = slot;
    a.Name = name;
    return a;
}

Taddr Global(uint32_t unit, int index, const char* name = "") {
    Taddr a;
    a.Kind = akGlobal;
    a.Module = unit;
    a.Index = index;
    a.Name = name;
    return a;
}

TQVInstruction Ins(TOpCode op, Taddr d = {}, Taddr s1 = {}, Taddr s2 = {}, int32_t imm = 0,
                   std::string text = "") {
    TQVInstruction i;
    i.Line = 3;
    i.OpCode = op;
    i.Dest = std::move(d);
    i.Src1 = std::move(s1);
    i.Src2 = std::move(s2);
    i.Imm = imm;
    i.Text = std::move(text);
    return i;
}

std::unique_ptr<TClassDefInf> Halting(const char* name) {
    auto f = std::make_unique<TClassDefInf>();
    f->Name = name;
    f->varDefs = {{"result", dtBoolean}};
    f->code = {Ins(opHalt)};
    f->Loaded = 1;
    return f;
}

// A unit with two used units, constants, globals and three functions with
// locals, constants, relocations and every kind of instruction field.
void FillUnit(TVMC_OBJ& u) {
    u.SourceName = "demo.pas";
    u.UsedUnits.Add("lib1");
    u.UsedUnits.Add("lib2");
    u.Consts = {{"pi", "3.14"}, {"greeting", "'Hi'"}};
    u.Globals = {
        {"g", dtInteger, "", 0, 1}, {"arr", dtString, "", 0, 10}, {"ext", dtDate, "", 0, 0}};
    u.Funcs.Add(Halting("initialization"));
    auto f = std::make_unique<TClassDefInf>();
    f->Name = "add2";
    f->ResultType = dtInteger;
    f->AssignedType = dtInteger;
    f->HeadCount = 3;
    f->varDefs = {{"result", dtInteger},
                  {"a", dtInteger},
                  {"b", dtWord, "", 1, 1},
                  {"loc", dtDouble},
                  {"_tmp_int_1", dtInteger}};
    f->consts = {{"k", "7"}};
    Taddr idx = Global(0, 1, "arr[_tmp_int_1]");
    idx.Indexed = 1;
    idx.IndexVar = 4;
    f->code = {Ins(opLoadText, Local(4, "_tmp_int_1"), {}, {}, 0, "7"),
               Ins(opAdd, Local(0, "result"), Local(1, "a"), Local(2, "b")),
               Ins(opMov, idx, Local(0, "result")),
               Ins(opCmp, Local(4), Local(1), Local(2), ckLessEqual),
               Ins(opTest, Local(4)),
               Ins(opJmpTrue, {}, {}, {}, 7),
               Ins(opTag, {}, {}, {}, 0, "a\r\nb"),
               Ins(opHalt)};
    f->code[2].Imm2 = 0;
    f->Relocs = {2};
    f->Loaded = 1;
    u.Funcs.Add(std::move(f));
    auto e = std::make_unique<TClassDefInf>();
    e->Name = "ext";
    e->ResultType = dtString;
    e->HeadCount = 2;
    e->IsExternal = 1;
    e->Loaded = 1;
    e->varDefs = {{"result", dtString}, {"s", dtChar}};
    u.Funcs.Add(std::move(e));
    auto c = std::make_unique<TClassDefInf>();
    c->Name = "caller";
    c->HeadCount = 1;
    c->varDefs = {{"result", dtBoolean}};
    TQVInstruction prep = Ins(opCallPrep, {}, {}, {}, 2);
    prep.Imm2 = 5;
    TQVInstruction mov = Ins(opMov, Global(2, 3, "other"), Local(0));
    c->code = {
        prep,       Ins(opCall), Ins(opCallEnd), mov, Ins(opAddImm, Local(0), Local(0), {}, -1),
        Ins(opHalt)};
    c->Relocs = {0, 3};
    c->Loaded = 1;
    u.Funcs.Add(std::move(c));
}

TEST(UnitImage, EmptyUnitLayout) {
    TVMC_OBJ u;
    TMemoryStream s;
    u.SaveToStream(s);
    const size_t p = 4 + kUnitImageIdent.size() + 4 + 16;
    EXPECT_EQ(U32At(s, p - 16), p);
    EXPECT_EQ(U32At(s, p - 12), p + 4);
    EXPECT_EQ(U32At(s, p - 8), p + 8);
    EXPECT_EQ(U32At(s, p - 4), p + 12);
    EXPECT_EQ(s.Size(), p + 16);  // four empty blocks: used, consts, globals, function count
    EXPECT_EQ(s.View().substr(4, kUnitImageIdent.size()), kUnitImageIdent);
}

TEST(UnitImage, SizesFollowTheRules) {
    TVMC_OBJ u;
    u.Funcs.Add(Halting("initialization"));
    TMemoryStream s;
    u.SaveToStream(s);
    const TClassDefInf& f = u.Funcs.Get(0);
    EXPECT_EQ(BodySize(f.code), 4u + 80u);
    // head: 19 + name + var block (4 + 14 + 6) + const block 4 + reloc block 4
    EXPECT_EQ(FuncHeadSize(f), 19u + 14u + 24u + 4u + 4u);
    const size_t countPos = U32At(s, 4 + kUnitImageIdent.size() + 4 + 12);
    EXPECT_EQ(U32At(s, countPos), 1u);
    EXPECT_EQ(U32At(s, countPos + 4), FuncHeadSize(f));
    EXPECT_EQ(s.Size(), countPos + 4 + 4 + FuncHeadSize(f) + BodySize(f.code));
}

TEST(UnitImage, RoundTripWithLazyBodies) {
    TVMC_OBJ u;
    FillUnit(u);
    TMemoryStream s;
    u.SaveToStream(s);

    TVMC_OBJ r;
    ASSERT_TRUE(r.LoadFromStream(s));
    EXPECT_EQ(r.SourceName, "demo.pas");
    EXPECT_EQ(r.UsedUnits.Count(), 2);
    EXPECT_EQ(r.UsedUnits.Get(2), "lib2");
    EXPECT_EQ(r.Consts, u.Consts);
    EXPECT_EQ(r.Globals, u.Globals);
    ASSERT_EQ(r.Funcs.Count(), 4);
    // Heads only: result and parameters are known, locals and code are not.
    const TClassDefInf& head = r.Funcs.Get(1);
    EXPECT_EQ(head.Loaded, 0);
    EXPECT_EQ(head.varDefs.size(), 3u);
    EXPECT_TRUE(head.code.empty());
    EXPECT_TRUE(head.consts.empty());

    for (int i = 0; i < 4; ++i) {
        r.LoadFuncBody(s, i);
        EXPECT_EQ(r.Funcs.Get(i).Loaded, 1);
        ExpectSameFunc(r.Funcs.Get(i), u.Funcs.Get(i));
    }
    r.LoadFuncBody(s, 1);  // a second read changes nothing
    ExpectSameFunc(r.Funcs.Get(1), u.Funcs.Get(1));

    TMemoryStream again;
    r.SaveToStream(again);
    EXPECT_EQ(again.Bytes(), s.Bytes());
}

TEST(UnitImage, IdentificationPrefixDecides) {
    TVMC_OBJ u;
    FillUnit(u);
    TMemoryStream s;
    u.SaveToStream(s);
    std::string bytes(s.View());
    // Another version in the parentheses, same length: loads.
    bytes.replace(4, kUnitImageIdent.size(), "qv_p_compiler(9.99.99)");
    TMemoryStream other(bytes);
    TVMC_OBJ a;
    EXPECT_TRUE(a.LoadFromStream(other));
    bytes.replace(4, 2, "xx");
    TMemoryStream wrong(bytes);
    EXPECT_FALSE(a.LoadFromStream(wrong));
    EXPECT_EQ(a.Funcs.Count(), 0);
}

TEST(UnitImage, LoadFuncBodyArguments) {
    TVMC_OBJ u;
    FillUnit(u);
    TMemoryStream s;
    u.SaveToStream(s);
    TVMC_OBJ unloaded;
    unloaded.LoadFuncBody(s, 0);  // nothing happens on an unloaded image
    TVMC_OBJ r;
    ASSERT_TRUE(r.LoadFromStream(s));
    EXPECT_EQ(ErrorOf([&] { r.LoadFuncBody(s, 4); }), "“loadfuncbody”的参数不合法。");
    EXPECT_EQ(ErrorOf([&] { r.LoadFuncBody(s, -1); }), "“loadfuncbody”的参数不合法。");
}

TEST(UnitImage, EveryTruncationIsRefusedOrReadSoundly) {
    TVMC_OBJ u;
    FillUnit(u);
    TMemoryStream s;
    u.SaveToStream(s);
    const std::string full(s.View());
    for (size_t n = 0; n < full.size(); ++n) {
        TMemoryStream cut(full.substr(0, n));
        TVMC_OBJ r;
        if (!r.LoadFromStream(cut)) {
            EXPECT_EQ(r.Funcs.Count(), 0);
            continue;
        }
        // The heads were complete; the bodies behind them are not all there.
        bool anyFailed = false;
        for (int i = 0; i < r.Funcs.Count(); ++i) {
            const std::string e = ErrorOf([&] { r.LoadFuncBody(cut, i); });
            if (e != "(no error)") {
                EXPECT_EQ(e, "目标代码无效。");
                EXPECT_EQ(r.Funcs.Get(i).Loaded, 0);  // unchanged
                anyFailed = true;
            }
        }
        EXPECT_TRUE(anyFailed) << n;
    }
}

TEST(UnitImage, HostileBytesNeverReadOutOfBounds) {
    TVMC_OBJ u;
    FillUnit(u);
    TMemoryStream s;
    u.SaveToStream(s);
    const std::string full(s.View());
    // Every byte set to 0xFF and to 0x7F in turn: huge counts, negative
    // offsets, wild addresses. Loading and reading bodies must either work or
    // refuse; the sanitizer build checks that nothing is read out of bounds.
    for (size_t i = 0; i < full.size(); ++i) {
        for (char v : {'\xff', '\x7f', '\x01'}) {
            std::string bad = full;
            bad[i] = v;
            TMemoryStream hs(bad);
            TVMC_OBJ r;
            if (!r.LoadFromStream(hs)) continue;
            for (int f = 0; f < r.Funcs.Count(); ++f) {
                const std::string e = ErrorOf([&] { r.LoadFuncBody(hs, f); });
                EXPECT_TRUE(e == "(no error)" || e == "目标代码无效。") << e;
            }
        }
    }
    // A function count of two billion is refused before anything is allocated.
    TVMC_OBJ e;
    TMemoryStream es;
    e.SaveToStream(es);
    std::string huge(es.View());
    huge.replace(huge.size() - 4, 4, "\xff\xff\xff\x7f");
    TMemoryStream hs(huge);
    EXPECT_FALSE(e.LoadFromStream(hs));
}

TEST(UnitImage, BodiesWithWildAddressesAreRefused) {
    struct Case {
        const char* what;
        TQVInstruction ins;
    } cases[] = {
        {"local slot", Ins(opMov, Local(0), Local(9))},
        {"negative slot", Ins(opTest, Local(-1))},
        {"jump target", Ins(opJmp, {}, {}, {}, 3)},
        {"unit of a global", Ins(opMov, Local(0), Global(3, 0))},
        {"address kind", Ins(opMov, Local(0), Taddr{})},
        {"used unit of a call", Ins(opCallPrep, {}, {}, {}, 5)},
    };
    for (const auto& c : cases) {
        TVMC_OBJ u;
        u.UsedUnits.Add("one");
        auto f = Halting("initialization");
        f->code.insert(f->code.begin(), c.ins);
        u.Funcs.Add(std::move(f));
        TMemoryStream s;
        u.SaveToStream(s);
        TVMC_OBJ r;
        ASSERT_TRUE(r.LoadFromStream(s));
        EXPECT_EQ(ErrorOf([&] { r.LoadFuncBody(s, 0); }), "目标代码无效。") << c.what;
    }
    // The jump just past the last instruction is sound: a body may end on a
    // jump target after its final halt.
    TVMC_OBJ u;
    auto f = Halting("initialization");
    f->code.insert(f->code.begin(), Ins(opJmp, {}, {}, {}, 2));
    u.Funcs.Add(std::move(f));
    TMemoryStream s;
    u.SaveToStream(s);
    TVMC_OBJ r;
    ASSERT_TRUE(r.LoadFromStream(s));
    EXPECT_EQ(ErrorOf([&] { r.LoadFuncBody(s, 0); }), "(no error)");
}

// A used unit: initialization (0), "shared" (1); globals and constants with
// their first entries hidden from users of the unit.
void FillLib(TVMC_OBJ& lib) {
    lib.Funcs.Add(Halting("initialization"));
    lib.Funcs.Add(Halting("shared"));
    lib.Globals = {{"hidden", dtInteger}, {"visible", dtString}};
    lib.Consts = {{"c0", "1"}, {"c1", "'x'"}};
}

TEST(UnitImage, CrossUnitLookups) {
    MemoryAdapter adapter;
    {
        TVMC_OBJ lib(&adapter);
        FillLib(lib);
        EXPECT_TRUE(lib.SaveToAdapter("lib"));
    }
    TVMC_OBJ u(&adapter);
    u.UsedUnits.Add("missing");
    u.UsedUnits.Add("lib");
    u.Funcs.Add(Halting("initialization"));
    u.Funcs.Add(Halting("own"));
    u.Globals = {{"mine", dtWord}};
    u.Consts = {{"k", "2"}};

    int unit = 99, pos = 99;
    EXPECT_TRUE(u.FindFunc("own", unit, pos));
    EXPECT_EQ(std::pair(unit, pos), std::pair(0, 1));
    EXPECT_TRUE(u.FindFunc("initialization", unit, pos));  // own entry 0 is visible
    EXPECT_EQ(std::pair(unit, pos), std::pair(0, 0));
    EXPECT_TRUE(u.FindFunc("shared", unit, pos));
    EXPECT_EQ(std::pair(unit, pos), std::pair(2, 1));
    EXPECT_TRUE(u.FindFunc("LENGTH", unit, pos));
    const int length = TbaseFunctions::Acquire()->Find("length");
    EXPECT_EQ(std::pair(unit, pos), std::pair(-1, -length));
    EXPECT_FALSE(u.FindFunc("nothing", unit, pos));

    EXPECT_TRUE(u.FindGlobal("visible", unit, pos));
    EXPECT_EQ(std::pair(unit, pos), std::pair(2, 1));
    EXPECT_FALSE(u.FindGlobal("hidden", unit, pos));
    EXPECT_TRUE(u.FindConst("c1", unit, pos));
    EXPECT_EQ(u.GetConstValue(unit, pos), "'x'");
    EXPECT_FALSE(u.FindConst("c0", unit, pos));
    EXPECT_TRUE(u.FindConst("k", unit, pos));
    EXPECT_EQ(std::pair(unit, pos), std::pair(0, 0));

    EXPECT_EQ(u.GetGlobalDef(2, 1).Name, "visible");
    EXPECT_EQ(ErrorOf([&] { u.GetGlobalDef(2, 2); }), "范围越界。");
    EXPECT_EQ(ErrorOf([&] { u.GetGlobalDef(3, 0); }), "范围越界。");
    EXPECT_EQ(ErrorOf([&] { u.GetConstValue(0, 1); }), "范围越界。");
    EXPECT_EQ(u.GetFuncHead(2, 1).Name, "shared");
    const TClassDefInf b = u.GetFuncHead(-1, -length);
    EXPECT_EQ(b.Name, "length");
    EXPECT_EQ(b.HeadCount, 2);
    EXPECT_EQ(b.IsExternal, 0);
    EXPECT_EQ(ErrorOf([&] { u.GetFuncHead(-1, -999); }), "范围越界。");
    EXPECT_EQ(ErrorOf([&] { u.GetFuncHead(-1, 0); }), "范围越界。");
    // The unit the adapter cannot supply is an empty, unloaded image.
    EXPECT_FALSE(u.UnitImage(1).Loaded);
    EXPECT_TRUE(u.UnitImage(2).Loaded);
}

TEST(UnitImage, AnInitializationOnlyNameFallsThroughToBuiltins) {
    MemoryAdapter adapter;
    {
        TVMC_OBJ lib(&adapter);
        lib.Funcs.Add(Halting("now"));  // position 0 of the used unit
        lib.SaveToAdapter("lib");
    }
    TVMC_OBJ u(&adapter);
    u.UsedUnits.Add("lib");
    int unit = 0, pos = 0;
    ASSERT_TRUE(u.FindFunc("now", unit, pos));
    EXPECT_EQ(std::pair(unit, pos), std::pair(-1, -TbaseFunctions::Acquire()->Find("now")));
    // Without a registry nothing falls through.
    TVMC_OBJ bare(&adapter, nullptr);
    bare.UsedUnits.Add("lib");
    EXPECT_FALSE(bare.FindFunc("now", unit, pos));
}

TEST(ProgramImage, RoundTripAndChecks) {
    TProgramImage p;
    p.Main = 1;
    p.Globals = {{"g", dtInteger}};
    p.Funcs.Append(Halting("initialization"));
    auto f = Halting("main");
    f->code.insert(f->code.begin(), Ins(opMov, Global(0, 0, "g"), Local(0)));
    f->code.insert(f->code.begin(), Ins(opCallPrep, {}, {}, {}, -4));
    p.Funcs.Append(std::move(f));
    p.Funcs.Append(Halting("main"));  // same name, own position
    p.InitList = {0};
    TMemoryStream s;
    EXPECT_FALSE(p.SaveToStream(s));  // not loaded: nothing written
    EXPECT_EQ(s.Size(), 0u);
    p.Loaded = true;
    ASSERT_TRUE(p.SaveToStream(s));

    TProgramImage r;
    ASSERT_TRUE(r.LoadFromStream(s));
    EXPECT_EQ(r.Main, 1);
    EXPECT_EQ(r.InitList, p.InitList);
    EXPECT_EQ(r.Globals, p.Globals);
    ASSERT_EQ(r.Funcs.Count(), 3);
    for (int i = 0; i < 3; ++i)
        ExpectSameFunc(r.Funcs.Get(i), p.Funcs.Get(i));
    TMemoryStream again;
    r.SaveToStream(again);
    EXPECT_EQ(again.Bytes(), s.Bytes());

    const std::string full(s.View());
    for (size_t n = 0; n < full.size(); ++n) {
        TMemoryStream cut(full.substr(0, n));
        TProgramImage c;
        EXPECT_FALSE(c.LoadFromStream(cut)) << n;
        EXPECT_FALSE(c.Loaded);
    }
    // Main and initialization numbers must name functions of the program.
    for (int32_t main : {3, -2}) {
        TProgramImage q;
        q.Funcs.Append(Halting("initialization"));
        q.Main = main;
        q.Loaded = true;
        TMemoryStream qs;
        q.SaveToStream(qs);
        EXPECT_FALSE(TProgramImage().LoadFromStream(qs)) << main;
    }
    TProgramImage q;
    q.Funcs.Append(Halting("initialization"));
    q.InitList = {1};
    q.Loaded = true;
    TMemoryStream qs;
    q.SaveToStream(qs);
    EXPECT_FALSE(TProgramImage().LoadFromStream(qs));
    // A unit image is no program image.
    TVMC_OBJ u;
    TMemoryStream us;
    u.SaveToStream(us);
    EXPECT_FALSE(TProgramImage().LoadFromStream(us));
}

TEST(Disassembler, ReadableLines) {
    Taddr idx = Local(1, "");
    idx.Indexed = 1;
    idx.IndexVar = 2;
    struct Case {
        TQVInstruction ins;
        const char* text;
    } cases[] = {
        {Ins(opMov, Local(0, "result"), Local(1, "a")), "mov result, a"},
        {Ins(opMov, idx, Global(1, 2)), "mov L1[L2], @G1.2"},
        {Ins(opCmp, Local(3), Local(1), Local(2), ckLike), "cmp L3, L1, L2 like"},
        {Ins(opJmpTrue, {}, {}, {}, 7), "jmptrue -> 7"},
        {Ins(opAddImm, Local(1, "i"), Local(1, "i"), {}, 1), "addimm i, i +1"},
        {Ins(opAddImm, Local(1, "i"), Local(1, "i"), {}, -1), "addimm i, i -1"},
        {Ins(opLoadText, Local(4, "_tmp_str_1"), {}, {}, 0, "it's"), "loadtext _tmp_str_1 'it's'"},
        {Ins(opTag, {}, {}, {}, 0, "a\r\nb"), "tag 'a\\r\\nb'"},
        {Ins(static_cast<TOpCode>(200), Local(0), Local(1), Local(2)), "op200 L0, L1, L2"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DisassembleInstruction(c.ins), c.text);
    TQVInstruction prep = Ins(opCallPrep, {}, {}, {}, -1);
    prep.Imm2 = static_cast<uint32_t>(-3);
    EXPECT_EQ(DisassembleInstruction(prep, 4), "4 callprep -1:-3");
}

}  // namespace
}  // namespace corvane
