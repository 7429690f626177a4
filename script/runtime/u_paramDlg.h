// u_paramDlg: the modal pieces of the script runtime, as host hooks.
//
// Running a script can need the user three ways: the parameter dialog that
// asks for the main function's parameter values, the message box of the
// showmessage built-in, and the box that reports a function's result when a
// program's ReportResult is set. The core holds no GUI, so each is a hook a
// host installs once per process: the desktop program installs real modal
// dialogs (and marshals to its GUI thread), the command line prints. With no
// hook installed the parameter dialog answers Cancel and both kinds of
// message are dropped.
//
// The texts and sizes of the described dialog are kept here as constants so
// that the desktop implementation shows exactly them. This unit does not
// decide when a dialog is needed (the program executor, u_ExeFile, does) and
// does not run the showmessage built-in (u_base_funcs does, through
// ShowScriptMessage).
#pragma once

#include <functional>
#include <string>

#include "script/runtime/varMng.h"

namespace corvane {

// The parameter dialog as described: a name/value grid and two buttons.
inline constexpr const char* kParamDlgCaption = "参数设置";
inline constexpr const char* kParamDlgColumnTitles = "参数名称,参数值";
inline constexpr const char* kParamDlgOk = "确定(&O)";
inline constexpr const char* kParamDlgCancel = "取消(&C)";
inline constexpr int kParamDlgClientWidth = 366;
inline constexpr int kParamDlgClientHeight = 424;

// Shows the parameters (name and value as text) for editing; returns true on
// OK with the edited texts stored back into the values, false on Cancel.
using TParamDialogHook = std::function<bool(Tparamlist& params)>;
// Shows one text modally and returns when the user has seen it.
using TMessageHook = std::function<void(const std::string& text)>;

// Install (or, with an empty function, remove) a hook. Safe to call from any
// thread; a hook may be called from the thread that runs a script.
void SetParamDialogHook(TParamDialogHook hook);
void SetMessageHook(TMessageHook hook);       // the showmessage built-in
void SetResultReportHook(TMessageHook hook);  // a program's ReportResult box

// The parameter dialog: an empty list returns true without asking. Otherwise
// the hook decides; on OK every value becomes a string variant of its text.
// Without a hook: false (Cancel).
bool ShowParamDialog(Tparamlist& params);
// The showmessage box and the result box; dropped without a hook.
void ShowScriptMessage(const std::string& text);
void ShowResultReport(const std::string& text);

}  // namespace corvane
