// The runtime's hooks as the desktop installs them: a script on a worker
// thread gets the parameter dialog and the message box on the GUI thread,
// and a worker waiting for an answer gives up when the window closes.
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>
#include <future>
#include <thread>

#include "script/runtime/u_paramDlg.h"
#include "ui/U_frmParamDlg.h"
#include "ui/U_hostHooks.h"

using namespace corvane;

class HostHooksTest : public QObject {
    Q_OBJECT

    // Runs f on a worker thread while the GUI thread keeps its event loop.
    template <class R>
    static R OnWorker(std::function<R()> f) {
        auto answer = std::async(std::launch::async, std::move(f));
        while (answer.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return answer.get();
    }

  private slots:
    void init() { InstallHostHooks(); }
    void cleanup() { RemoveHostHooks(); }

    void theParameterDialogOpensOnTheGuiThread() {
        QThread* dialogThread = nullptr;
        QTimer::singleShot(50, [&dialogThread] {
            auto* dialog = qobject_cast<Tfrm_paramDlg*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialogThread = dialog->thread();
            dialog->findChild<QTableWidget*>("paramlist")->item(0, 1)->setText("7");
            dialog->findChild<QPushButton*>("BitBtn1")->click();
        });
        Tparamlist params{{"n", Variant("0")}, {"s", Variant("0")}};
        const bool ok = OnWorker<bool>([&params] { return ShowParamDialog(params); });
        QVERIFY(ok);
        QCOMPARE(dialogThread, QThread::currentThread());
        QCOMPARE(params[0].Value.AsString(), std::string("7"));
        QCOMPARE(params[1].Value.AsString(), std::string("0"));
    }

    void showmessageWaitsForTheUser() {
        QString shown;
        QTimer::singleShot(50, [&shown] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            shown = box->text();
            box->accept();
        });
        OnWorker<bool>([] {
            ShowScriptMessage("你好");
            return true;
        });
        QCOMPARE(shown, QStringLiteral("你好"));
    }

    void aClosingWindowReleasesAWaitingScript() {
        // Nobody answers: the GUI thread does not run its event loop, as
        // when it waits for the worker while the window closes.
        Tparamlist params{{"n", Variant("0")}};
        auto answer = std::async(std::launch::async, [&params] { return ShowParamDialog(params); });
        QVERIFY(answer.wait_for(std::chrono::milliseconds(200)) == std::future_status::timeout);
        SetHostHooksClosing(true);
        QVERIFY(!answer.get());
        QCOMPARE(params[0].Value.AsString(), std::string("0"));
        SetHostHooksClosing(false);
        // The request posted before closing finds nobody waiting any more.
        QTimer::singleShot(0, [] {
            if (auto* dialog = QApplication::activeModalWidget()) dialog->close();
        });
        QCoreApplication::processEvents();
    }
};

QTEST_MAIN(HostHooksTest)
#include "U_hostHooks_test.moc"
