// U_hostHooks: the desktop program's answers to the script runtime's host
// hooks: the parameter dialog (U_frmParamDlg), the showmessage box and the
// result box as real modal windows.
//
// Scripts run inside queries, and queries run on a worker thread, so each
// hook call is carried to the GUI thread and the worker waits there for the
// answer. While the window is closing a waiting hook gives up (the
// parameter dialog counts as cancelled, a message as seen), so a worker is
// never stuck behind a GUI thread that is itself waiting for the worker.
#pragma once

namespace corvane {

// Installs the three hooks; call once on the GUI thread after the
// application object exists.
void InstallHostHooks();
// Removes them (the runtime then cancels dialogs and drops messages).
void RemoveHostHooks();
// Set while the main window closes: waiting hooks give up.
void SetHostHooksClosing(bool closing);

}  // namespace corvane
