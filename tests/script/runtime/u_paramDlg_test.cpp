// The host hooks for the runtime's modal pieces: what happens with and
// without a hook installed.
#include "script/runtime/u_paramDlg.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

struct HookReset {
    ~HookReset() {
        SetParamDialogHook(nullptr);
        SetMessageHook(nullptr);
        SetResultReportHook(nullptr);
    }
};

TEST(ParamDlg, EmptyListNeverAsks) {
    HookReset reset;
    bool asked = false;
    SetParamDialogHook([&](Tparamlist&) { return asked = true; });
    Tparamlist none;
    EXPECT_TRUE(ShowParamDialog(none));
    EXPECT_FALSE(asked);
}

TEST(ParamDlg, WithoutAHookTheDialogAnswersCancel) {
    HookReset reset;
    Tparamlist params{{"a", Variant("0")}};
    EXPECT_FALSE(ShowParamDialog(params));
    EXPECT_EQ(params[0].Value.AsString(), "0");
}

TEST(ParamDlg, ConfirmedValuesComeBackAsText) {
    HookReset reset;
    SetParamDialogHook([](Tparamlist& p) {
        p[0].Value = Variant(int64_t{12});
        p[1].Value = Variant("x");
        return true;
    });
    Tparamlist params{{"a", Variant("0")}, {"b", Variant("0")}};
    ASSERT_TRUE(ShowParamDialog(params));
    EXPECT_EQ(params[0].Value.type(), VarType::String);
    EXPECT_EQ(params[0].Value.AsString(), "12");
    EXPECT_EQ(params[1].Value.AsString(), "x");
}

TEST(ParamDlg, CancelledValuesStayAsTheyWere) {
    HookReset reset;
    SetParamDialogHook([](Tparamlist& p) {
        p[0].Value = Variant("changed");
        return false;
    });
    Tparamlist params{{"a", Variant("0")}};
    EXPECT_FALSE(ShowParamDialog(params));
    EXPECT_EQ(params[0].Value.AsString(), "0");
}

TEST(ParamDlg, MessagesAndResultReportsHaveSeparateHooks) {
    HookReset reset;
    std::vector<std::string> messages, results;
    ShowScriptMessage("dropped");
    SetMessageHook([&](const std::string& t) { messages.push_back(t); });
    SetResultReportHook([&](const std::string& t) { results.push_back(t); });
    ShowScriptMessage("m");
    ShowResultReport("r");
    EXPECT_EQ(messages, std::vector<std::string>{"m"});
    EXPECT_EQ(results, std::vector<std::string>{"r"});
}

}  // namespace
}  // namespace corvane
