// The application object: an exception that reaches the event loop (from an
// event handler or from a queued slot) becomes a message and the loop goes
// on, running out of memory included.
#include <QtTest>
#include <new>
#include <stdexcept>

#include "ui/U_application.h"

using namespace corvane;

namespace {

// Throws what its next event asks for.
class Thrower : public QObject {
  public:
    enum Kind { kNothing, kBadAlloc, kRuntime, kOther };
    Kind next = kNothing;
    int handled = 0;

  protected:
    bool event(QEvent* e) override {
        if (e->type() != QEvent::User) return QObject::event(e);
        ++handled;
        switch (next) {
            case kBadAlloc:
                throw std::bad_alloc();
            case kRuntime:
                throw std::runtime_error("地址越界。");
            case kOther:
                throw 42;
            case kNothing:
                break;
        }
        return true;
    }
};

}  // namespace

class ApplicationTest : public QObject {
    Q_OBJECT

  private slots:
    void failuresReachingTheLoopBecomeMessages() {
        auto* app = qobject_cast<TCorvaneApplication*>(QCoreApplication::instance());
        QVERIFY(app);
        std::vector<std::string> messages;
        app->SetFailureHandler([&](const std::string& m) { messages.push_back(m); });
        Thrower thrower;
        const struct {
            Thrower::Kind kind;
            const char* message;
        } cases[] = {
            {Thrower::kBadAlloc, "内存不足，操作已停止。"},
            {Thrower::kRuntime, "地址越界。"},
            {Thrower::kOther, "未知错误"},
            {Thrower::kNothing, nullptr},
        };
        for (const auto& c : cases) {
            messages.clear();
            thrower.next = c.kind;
            // Posted: the event passes the loop, as a user's click does.
            QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
            QCoreApplication::processEvents();
            if (c.message)
                QCOMPARE(messages, std::vector<std::string>{c.message});
            else
                QVERIFY(messages.empty());
        }
        QCOMPARE(thrower.handled, 4);
        // A queued slot that runs out of memory.
        messages.clear();
        QTimer::singleShot(0, &thrower, [] { throw std::bad_alloc(); });
        QTRY_COMPARE(messages.size(), size_t(1));
        QCOMPARE(messages[0], std::string("内存不足，操作已停止。"));
        app->SetFailureHandler({});
    }
};

int main(int argc, char** argv) {
    TCorvaneApplication app(argc, argv);
    ApplicationTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "U_application_test.moc"
