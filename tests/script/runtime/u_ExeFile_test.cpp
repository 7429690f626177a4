// The program executor: the cached main activation, parameters from OnParam
// or the dialog hook, InitGlobals and initialization functions, built-ins run
// directly, and the events. Programs are program images built by hand and
// loaded through a stream, as the build driver's output would be.
#include "script/runtime/u_ExeFile.h"

#include <gtest/gtest.h>

#include "script/runtime/u_paramDlg.h"
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

Tvardef V(const char* name, TDataType t, const char* init = "", int size = 1) {
    return Tvardef(name, t, init, 0, size);
}

struct HookReset {
    ~HookReset() {
        SetParamDialogHook(nullptr);
        SetResultReportHook(nullptr);
    }
};

class ExeFileTest : public ::testing::Test {
  protected:
    // Loads the image into the program through a stream.
    void Load(TProgramImage& image) {
        image.Loaded = true;
        TMemoryStream s;
        ASSERT_TRUE(image.SaveToStream(s));
        ASSERT_TRUE(program_.LoadFromStream(s));
    }

    TProgram program_;
    HookReset reset_;
};

// function main: result := x; x := x + 1   (x a local without initial value)
TEST_F(ExeFileTest, MainKeepsItsActivationBetweenRuns) {
    TProgramImage image;
    image.Funcs.Append(Fn("main", {V("result", dtInteger), V("x", dtInteger)}, 1,
                          {I(opMov, L(0), L(1)), I(opAddImm, L(1), L(1), {}, 1)}));
    image.Main = 0;
    Load(image);
    EXPECT_EQ(program_.ExecuteMain().AsInteger(), 0);
    EXPECT_EQ(program_.ExecuteMain().AsInteger(), 1);
    program_.SetMain(0);  // the same main keeps the activation
    EXPECT_EQ(program_.ExecuteMain().AsInteger(), 2);
    // Any other function runs fresh every time.
    program_.SetMain(-1);
    EXPECT_EQ(program_.Execute(0).AsInteger(), 0);
    EXPECT_EQ(program_.Execute(0).AsInteger(), 0);
    program_.SetMain(0);  // a new cached activation
    EXPECT_EQ(program_.ExecuteMain().AsInteger(), 0);
    EXPECT_EQ(program_.LastResult.AsInteger(), 0);
    EXPECT_EQ(program_.LastResultType, dtInteger);
}

TEST_F(ExeFileTest, ParametersFromOnParam) {
    // function f(a: integer; s: string): string; result := s + a
    TProgramImage image;
    image.Funcs.Append(Fn("f", {V("result", dtString), V("a", dtInteger), V("s", dtString)}, 3,
                          {I(opConcat, L(0), L(2), L(1))}));
    image.Main = 0;
    Load(image);
    std::vector<std::string> names;
    program_.OnParam = [&](Tparamlist& params, bool& handled) {
        for (auto& p : params)
            names.push_back(p.Name + "=" + p.Value.AsString());
        params[1].Value = Variant("x");
        handled = true;
    };
    // Untouched parameters arrive as the text "0".
    EXPECT_EQ(program_.ExecuteMain().AsString(), "x0");
    EXPECT_EQ(names, (std::vector<std::string>{"a=0", "s=0"}));
}

TEST_F(ExeFileTest, UnhandledParametersGoToTheDialogHook) {
    TProgramImage image;
    image.Funcs.Append(
        Fn("f", {V("result", dtInteger), V("a", dtInteger)}, 2, {I(opAddImm, L(0), L(1), {}, 1)}));
    image.Main = 0;
    Load(image);
    program_.OnParam = [](Tparamlist&, bool&) {};  // leaves handled false
    // No hook: the dialog answers Cancel and nothing runs.
    Variant r = program_.ExecuteMain();
    EXPECT_EQ(r.type(), VarType::Boolean);
    EXPECT_FALSE(r.AsBoolean());
    // The dialog returns texts, converted into the integer parameter.
    SetParamDialogHook([](Tparamlist& p) {
        p[0].Value = Variant("41");
        return true;
    });
    EXPECT_EQ(program_.ExecuteMain().AsInteger(), 42);
}

TEST_F(ExeFileTest, AFunctionWithoutParametersNeverAsks) {
    TProgramImage image;
    image.Funcs.Append(Fn("f", {V("result", dtInteger, "7")}, 1, {}));
    image.Main = 0;
    Load(image);
    bool asked = false;
    program_.OnParam = [&](Tparamlist&, bool&) { asked = true; };
    SetParamDialogHook([&](Tparamlist&) { return asked = true; });
    EXPECT_EQ(program_.ExecuteMain().AsInteger(), 7);
    EXPECT_FALSE(asked);
}

TEST_F(ExeFileTest, InitGlobalsDeclaresOnceAndReappliesInitialTexts) {
    // globals: counter (initial 10), total (no initial); init adds 1 to total.
    TProgramImage image;
    image.Globals = {V("counter", dtInteger, "10"), V("total", dtInteger),
                     V("arr", dtInteger, "", 3), V("ext", dtString, "", 0)};
    image.Funcs.Append(
        Fn("initialization", {V("result", dtBoolean)}, 0, {I(opAddImm, G(1), G(1), {}, 1)}));
    image.Funcs.Append(Fn("main", {V("result", dtInteger)}, 1,
                          {I(opAddImm, G(0), G(0), {}, 5), I(opAdd, L(0), G(0), G(1))}));
    image.InitList = {0};
    image.Main = 1;
    Load(image);
    program_.SetOnGetValue([](const std::string& n, Variant& v) { v = Variant(n); });
    EXPECT_EQ(program_.ExecuteMain().AsInteger(), 16);  // 15 + 1
    EXPECT_EQ(program_.ExecuteMain().AsInteger(), 17);  // counter reset to 10, total 2
    ASSERT_EQ(program_.Globals().Count(), 4);
    EXPECT_TRUE(program_.Globals().At(2).IsArray());
    EXPECT_EQ(program_.Globals().At(3).AsString(), "ext");
    // Without automatic initialization the globals keep their values.
    program_.AutoInitGVar = false;
    EXPECT_EQ(program_.ExecuteMain().AsInteger(), 22);
    program_.InitGlobals();
    EXPECT_EQ(program_.Globals().At(0).AsInteger(), 10);
    EXPECT_EQ(program_.Globals().At(1).AsInteger(), 3);
}

TEST_F(ExeFileTest, GlobalsAreMissingUntilInitialised) {
    TProgramImage image;
    image.Globals = {V("g", dtInteger)};
    image.Funcs.Append(Fn("main", {V("result", dtInteger)}, 1, {I(opMov, L(0), G(0))}));
    image.Main = 0;
    Load(image);
    program_.AutoInitGVar = false;
    EXPECT_THROW_WITH_MESSAGE(program_.ExecuteMain(), EScriptError, "地址越界。");
}

TEST_F(ExeFileTest, BuiltinsRunDirectlyWithGatheredParameters) {
    TProgramImage image;
    image.Funcs.Append(Fn("main", {V("result", dtInteger)}, 1, {}));
    image.Main = 0;
    Load(image);
    int copy = TbaseFunctions::Acquire()->Find("copy");
    std::string before;
    program_.BeforeExecute = [&](const std::string& n) { before = n; };
    program_.OnParam = [](Tparamlist& p, bool& handled) {
        ASSERT_EQ(p.size(), 3u);
        EXPECT_EQ(p[0].Name, "s");
        p[0].Value = Variant("abcdef");
        p[1].Value = Variant("2");
        p[2].Value = Variant("3");
        handled = true;
    };
    EXPECT_EQ(program_.Execute(-copy).AsString(), "bcd");
    EXPECT_EQ(before, "copy");
    EXPECT_EQ(program_.LastResultType, dtString);
    EXPECT_FALSE(program_.Execute(-999).AsBoolean());
}

TEST_F(ExeFileTest, OutOfRangeAndUnloaded) {
    EXPECT_TRUE(program_.Execute(0).IsEmpty());  // nothing loaded
    TProgramImage image;
    image.Funcs.Append(Fn("main", {V("result", dtInteger, "1")}, 1, {}));
    image.Main = 0;
    Load(image);
    Variant r = program_.Execute(5);
    EXPECT_EQ(r.type(), VarType::Boolean);
    EXPECT_FALSE(r.AsBoolean());
}

TEST_F(ExeFileTest, TagHandlerReachesTheCachedActivationOnlyAtCreation) {
    TProgramImage image;
    image.Funcs.Append(Fn("main", {V("result", dtInteger)}, 1, {I(opTag, {}, {}, {}, 0, "t")}));
    auto ext = Fn("ext", {V("result", dtInteger)}, 1, {});
    ext->IsExternal = 1;
    image.Funcs.Append(std::move(ext));
    image.Funcs.Get(0).code.insert(
        image.Funcs.Get(0).code.begin() + 1,
        {I(opCallPrep, {}, {}, {}, 1), I(opCall), I(opMov, L(0), Addr(akCallee, 0)), I(opCallEnd)});
    image.Main = 0;
    Load(image);
    std::string tags;
    program_.OnTag = [&](const std::string& t, TVarMngr&, TVarMngr&) { tags += "1" + t; };
    program_.onExternalFunc = [](const std::string&, Tparamlist&, Variant& r) {
        r = Variant(int64_t{1});
    };
    EXPECT_EQ(program_.ExecuteMain().AsInteger(), 1);
    program_.OnTag = [&](const std::string& t, TVarMngr&, TVarMngr&) { tags += "2" + t; };
    program_.onExternalFunc = [](const std::string&, Tparamlist&, Variant& r) {
        r = Variant(int64_t{2});
    };
    EXPECT_EQ(program_.ExecuteMain().AsInteger(), 2);  // external function changes do reach it
    EXPECT_EQ(tags, "1t1t");                           // the tag handler change does not
    program_.SetMain(-1);
    program_.Execute(0);  // but a fresh activation sees it
    EXPECT_EQ(tags, "1t1t2t");
}

TEST_F(ExeFileTest, ReportResultGoesToTheHook) {
    TProgramImage image;
    image.Funcs.Append(Fn("main", {V("result", dtString, "done")}, 1, {}));
    image.Main = 0;
    Load(image);
    std::vector<std::string> shown;
    SetResultReportHook([&](const std::string& t) { shown.push_back(t); });
    program_.ExecuteMain();
    program_.ReportResult = true;
    program_.ExecuteMain();
    EXPECT_EQ(shown, std::vector<std::string>{"done"});
}

TEST_F(ExeFileTest, ErrorsPropagateAndTheProgramStaysUsable) {
    TProgramImage image;
    image.Funcs.Append(Fn("main", {V("result", dtInteger), V("a", dtInteger), V("z", dtInteger)}, 1,
                          {I(opAddImm, L(0), L(0), {}, 1), I(opMod, L(1), L(0), L(2))}));
    image.Main = 0;
    Load(image);
    EXPECT_THROW(program_.ExecuteMain(), EScriptError);
    EXPECT_THROW(program_.ExecuteMain(), EScriptError);
    // The cached activation stays as the error left it.
    EXPECT_EQ(program_.Globals().Count(), 0);
    program_.Reset();
    EXPECT_FALSE(program_.Loaded());
}

TEST_F(ExeFileTest, ImagesRoundTripAndBadImagesLoadNothing) {
    TProgramImage image;
    image.Funcs.Append(Fn("main", {V("result", dtInteger, "3")}, 1, {}));
    image.Main = 0;
    Load(image);
    TMemoryStream out;
    program_.SaveToStream(out);
    TProgram copy;
    ASSERT_TRUE(copy.LoadFromStream(out));
    EXPECT_EQ(copy.ExecuteMain().AsInteger(), 3);
    TMemoryStream junk(std::string_view("not an image"));
    EXPECT_FALSE(copy.LoadFromStream(junk));
    EXPECT_FALSE(copy.Loaded());
    EXPECT_TRUE(copy.ExecuteMain().IsEmpty());
}

TEST_F(ExeFileTest, CancelCheckStopsTheRun) {
    TProgramImage image;
    image.Funcs.Append(Fn("main", {V("result", dtInteger)}, 1, {I(opJmp, {}, {}, {}, 0)}));
    image.Main = 0;
    Load(image);
    program_.SetCancelCheck([] { return true; });
    EXPECT_THROW(program_.ExecuteMain(), EScriptError);
}

}  // namespace
}  // namespace corvane
