// corvane-screenshot: shows the main window with a real query result and
// saves a picture of it (docs/screenshot.png, through
// scripts/screenshot.sh under a virtual display).
//
// Usage: corvane-screenshot REPOSITORY OUTPUT.png
// Registers REPOSITORY as table a (and REPOSITORY/ui/*.h as b), runs a
// statement over a with the
// real engine on the worker thread, shows the result page and grabs the
// window. Settings go to a temporary directory.
#include <QApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "ui/U_dirTree.h"
#include "ui/U_engineAdapter.h"
#include "ui/U_main.h"
#include "ui/U_sqlEditor.h"

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: corvane-screenshot REPOSITORY OUTPUT.png\n");
        return 2;
    }
    QApplication app(argc, argv);
    QTemporaryDir settings;
    const std::string repo = argv[1];

    corvane::TMainEnv env;
    env.programDir = settings.path().toStdString() + "/";
    env.iniPath = env.programDir + "config.ini";
    env.fallbackDir = repo;
    env.engineFactory = corvane::FileSystemEngineFactory();
    env.autoOpen = false;
    corvane::TfrmMain window(env);
    window.resize(1100, 680);

    corvane::TFileDirOption top;
    top.path = repo;
    window.TreeModel().AddTable(top);
    corvane::TFileDirOption ui;
    ui.path = repo + "/ui";
    ui.nameMask = "*.h";
    window.TreeModel().AddTable(ui);
    corvane::TFileDirOption docs;
    docs.path = repo + "/docs";
    docs.attrMask = 63;
    window.TreeModel().AddTable(docs);
    window.Editor().SetText(
        "select a.filename, a.extension, a.size, trunc(a.size/1024) kb, a.lastwritetime,\n"
        "       a.isdir, a.path\n"
        "from " +
        corvane::FormatDirOption(top) +
        " a\n"
        "where not (a.filename like 'build%')\n"
        "order by a.isdir desc, a.filename");
    window.show();

    QSignalSpy finished(&window.Runner(), &corvane::TQueryRunner::Finished);
    window.tbtn_executeClick();
    if (!finished.wait(60000)) {
        std::fprintf(stderr, "the query did not finish\n");
        return 1;
    }
    for (int i = 0; i < 10; ++i) {
        QApplication::processEvents();
        QThread::msleep(50);
    }
    if (window.MessageText() != QStringLiteral("OK")) {
        std::fprintf(stderr, "%s\n", window.MessageText().toStdString().c_str());
        return 1;
    }
    if (!window.grab().save(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    std::printf("%s: %s\n", argv[2], window.MessageText().toStdString().c_str());
    return 0;
}
