// U_application: the desktop program's application object.
//
// Qt does not let an exception pass through its event loop: one thrown by an
// event handler or a slot (a std::bad_alloc while a huge result is shown,
// say) would end the program and take the user's unsaved project with it.
// TCorvaneApplication catches every exception at notify, the one place all
// events pass, shows it in a message box ("内存不足，操作已停止。" for
// std::bad_alloc) and lets the loop go on; the operation that failed is
// abandoned, the window stays.
//
// Queries run on a worker thread and report their own failures, running out
// of memory included (U_queryRunner); this is the net under everything else.
#pragma once

#include <QApplication>
#include <functional>
#include <string>

namespace corvane {

class TCorvaneApplication : public QApplication {
    Q_OBJECT
  public:
    TCorvaneApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // What shows a failure's message; by default a message box over the
    // active window. Tests install their own.
    using TFailureHandler = std::function<void(const std::string& message)>;
    void SetFailureHandler(TFailureHandler handler) { onFailure_ = std::move(handler); }

  private:
    void Report(const std::string& message);

    TFailureHandler onFailure_;
};

}  // namespace corvane
