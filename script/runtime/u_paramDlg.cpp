#include "script/runtime/u_paramDlg.h"

#include <mutex>

namespace corvane {

namespace {

struct Hooks {
    std::mutex lock;
    TParamDialogHook paramDialog;
    TMessageHook message;
    TMessageHook result;
};

Hooks& TheHooks() {
    static Hooks hooks;
    return hooks;
}

// A copy of a hook taken under the lock, so that it is called without it.
template <typename F>
F Get(F Hooks::*member) {
    Hooks& h = TheHooks();
    std::lock_guard<std::mutex> guard(h.lock);
    return h.*member;
}

template <typename F>
void Put(F Hooks::*member, F hook) {
    Hooks& h = TheHooks();
    std::lock_guard<std::mutex> guard(h.lock);
    h.*member = std::move(hook);
}

}  // namespace

void SetParamDialogHook(TParamDialogHook hook) {
    Put(&Hooks::paramDialog, std::move(hook));
}
void SetMessageHook(TMessageHook hook) {
    Put(&Hooks::message, std::move(hook));
}
void SetResultReportHook(TMessageHook hook) {
    Put(&Hooks::result, std::move(hook));
}

bool ShowParamDialog(Tparamlist& params) {
    if (params.empty()) return true;
    TParamDialogHook hook = Get(&Hooks::paramDialog);
    if (!hook) return false;
    Tparamlist edited = params;
    if (!hook(edited) || edited.size() != params.size()) return false;
    // The dialog hands values back as the texts in its grid.
    for (size_t i = 0; i < params.size(); ++i)
        params[i].Value = Variant(edited[i].Value.AsString());
    return true;
}

void ShowScriptMessage(const std::string& text) {
    TMessageHook hook = Get(&Hooks::message);
    if (hook) hook(text);
}

void ShowResultReport(const std::string& text) {
    TMessageHook hook = Get(&Hooks::result);
    if (hook) hook(text);
}

}  // namespace corvane
