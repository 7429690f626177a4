// U_hostHooks: see U_hostHooks.h.
#include "ui/U_hostHooks.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>

#include "script/runtime/u_paramDlg.h"
#include "ui/U_frmParamDlg.h"

namespace corvane {

namespace {

std::atomic<bool> gClosing{false};

// Runs f on the GUI thread and returns its answer; fallback when the window
// closes before the user has answered.
template <class R>
R CallOnGui(std::function<R()> f, R fallback) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) return f();
    if (gClosing.load()) return fallback;
    auto promise = std::make_shared<std::promise<R>>();
    std::future<R> answer = promise->get_future();
    QMetaObject::invokeMethod(
        app, [f = std::move(f), promise] { promise->set_value(f()); }, Qt::QueuedConnection);
    while (answer.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
        if (gClosing.load()) return fallback;
    return answer.get();
}

QWidget* DialogParent() {
    return QApplication::activeWindow();
}

bool AskParams(Tparamlist& params) {
    TParamTexts texts;
    for (const TparamInf& p : params)
        texts.emplace_back(p.Name, p.Value.AsString());
    auto shared = std::make_shared<TParamTexts>(std::move(texts));
    const bool ok =
        CallOnGui<bool>([shared] { return ShowParamForm(*shared, DialogParent()); }, false);
    if (!ok) return false;
    for (size_t i = 0; i < params.size() && i < shared->size(); ++i)
        params[i].Value = Variant((*shared)[i].second);
    return true;
}

void ShowText(const std::string& text) {
    CallOnGui<bool>(
        [text] {
            QMessageBox::information(DialogParent(), QStringLiteral("Corvane"),
                                     QString::fromStdString(text));
            return true;
        },
        true);
}

}  // namespace

void InstallHostHooks() {
    gClosing = false;
    SetParamDialogHook(AskParams);
    SetMessageHook(ShowText);
    SetResultReportHook(ShowText);
}

void RemoveHostHooks() {
    SetParamDialogHook({});
    SetMessageHook({});
    SetResultReportHook({});
}

void SetHostHooksClosing(bool closing) {
    gClosing = closing;
}

}  // namespace corvane
