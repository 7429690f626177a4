// U_application: see U_application.h.
#include "ui/U_application.h"

#include <QMessageBox>
#include <exception>

#include "ui/U_queryRunner.h"

namespace corvane {

TCorvaneApplication::TCorvaneApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TCorvaneApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        Report(FailureText(e));
    } catch (...) {
        Report("未知错误");
    }
    return false;
}

void TCorvaneApplication::Report(const std::string& message) {
    // Whatever failed has unwound and freed what it held; should even the
    // message fail, the loop still goes on.
    try {
        if (onFailure_) {
            onFailure_(message);
            return;
        }
        QMessageBox::critical(activeWindow(), QStringLiteral("Corvane"),
                              QString::fromStdString(message));
    } catch (...) {
    }
}

}  // namespace corvane
