// corvane-screenshot: shows the main window twice and saves a picture of
// each (docs/screenshot.png and docs/screenshot-error.png, through
// scripts/screenshot.sh under a virtual display).
//
// Usage: corvane-screenshot REPOSITORY OUTPUT-DIRECTORY
//
// The first picture is a result list over a real folder: REPOSITORY is
// registered as table a (with its ui/ headers as b and docs/ as c), a
// statement over a runs with the real engine on the worker thread, and the
// result page is grabbed with its fitted columns. The second is a
// statement error: a statement naming a column that does not exist is
// checked, the error is marked in the editor and the cursor is put on it
// as a double-click on the message would. Settings go to a temporary
// directory.
#include <QApplication>
#include <QHash>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

#include "ui/U_dirTree.h"
#include "ui/U_engineAdapter.h"
#include "ui/U_main.h"
#include "ui/U_messages.h"
#include "ui/U_sqlEditor.h"
#include "ui/U_translations.h"

namespace {

void Settle() {
    for (int i = 0; i < 10; ++i) {
        QApplication::processEvents();
        QThread::msleep(50);
    }
}

std::unique_ptr<corvane::TfrmMain> MakeWindow(const QTemporaryDir& settings,
                                              const std::string& repo) {
    corvane::TMainEnv env;
    env.programDir = settings.path().toStdString() + "/";
    env.iniPath = env.programDir + "config.ini";
    env.fallbackDir = repo;
    env.engineFactory = corvane::FileSystemEngineFactory();
    env.autoOpen = false;
    auto window = std::make_unique<corvane::TfrmMain>(env);
    window->resize(1100, 680);
    corvane::TFileDirOption top;
    top.path = repo;
    window->TreeModel().AddTable(top);
    corvane::TFileDirOption ui;
    ui.path = repo + "/ui";
    ui.nameMask = "*.h";
    window->TreeModel().AddTable(ui);
    corvane::TFileDirOption docs;
    docs.path = repo + "/docs";
    docs.attrMask = 63;
    window->TreeModel().AddTable(docs);
    return window;
}

// A window picture holds few colours apart from the shades of smoothed
// text: with the 256 most frequent ones as a palette the picture stays
// sharp and the file a fraction of its size.
QImage WithPalette(const QImage& picture) {
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    QHash<QRgb, qsizetype> counts;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            ++counts[line[x]];
    }
    std::vector<std::pair<qsizetype, QRgb>> byCount;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        byCount.emplace_back(it.value(), it.key());
    std::sort(byCount.begin(), byCount.end(), std::greater<>());
    QList<QRgb> palette;
    for (size_t i = 0; i < byCount.size() && i < 256; ++i)
        palette.push_back(byCount[i].second);
    return image.convertToFormat(QImage::Format_Indexed8, palette, Qt::ThresholdDither);
}

bool Save(QWidget& window, const std::string& file) {
    if (WithPalette(window.grab().toImage()).save(QString::fromStdString(file))) {
        std::printf("%s\n", file.c_str());
        return true;
    }
    std::fprintf(stderr, "cannot write %s\n", file.c_str());
    return false;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: corvane-screenshot REPOSITORY OUTPUT-DIRECTORY\n");
        return 2;
    }
    QApplication app(argc, argv);
    corvane::InstallQtTranslations(app);
    const std::string repo = argv[1];
    const std::string out = std::string(argv[2]) + "/";

    {
        QTemporaryDir settings;
        auto window = MakeWindow(settings, repo);
        corvane::TFileDirOption tree;
        tree.path = repo;
        tree.subDirs = true;
        window->Editor().SetText(
            "select a.filename, a.size, a.lastwritetime, a.isdir, a.path\n"
            "from " +
            corvane::FormatDirOption(tree) +
            " a\n"
            "where not (a.path like '%/build%') and a.isdir = false\n"
            "order by a.size desc");
        window->show();
        QSignalSpy finished(&window->Runner(), &corvane::TQueryRunner::Finished);
        window->tbtn_executeClick();
        if (!finished.wait(120000)) {
            std::fprintf(stderr, "the query did not finish\n");
            return 1;
        }
        Settle();
        if (window->MessageText() != QStringLiteral("OK")) {
            std::fprintf(stderr, "%s\n", window->MessageText().toStdString().c_str());
            return 1;
        }
        if (!Save(*window, out + "screenshot.png")) return 1;
    }
    {
        QTemporaryDir settings;
        auto window = MakeWindow(settings, repo);
        window->Editor().SetText(
            "select a.filename, a.size, a.lastwritetime\n"
            "from '" +
            repo +
            "' a\n"
            "where a.size > 1000 and a.lastwritetme > '2024-01-01'\n"
            "order by a.size desc");
        window->show();
        Settle();
        window->tbtn_checkClick();
        if (window->Messages().Log().FirstPositioned() < 0) {
            std::fprintf(stderr, "no positioned error: %s\n",
                         window->MessageText().toStdString().c_str());
            return 1;
        }
        window->Messages().ActivateLine(0);
        Settle();
        if (!Save(*window, out + "screenshot-error.png")) return 1;
    }
    return 0;
}
