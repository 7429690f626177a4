// corvane: the desktop program's entry point.
//
// Creates the application (which turns failures reaching the event loop
// into message boxes, U_application) and the main window, installs the
// desktop's answers to the script runtime's hooks (parameter dialog,
// message boxes), loads Qt's own Chinese texts for the standard dialogs,
// and runs the event loop until the window closes. Where config.ini lives
// is decided here from the program's directory: next to the program when
// that directory can be written (a portable build), otherwise in the user's
// configuration directory, in which case an empty default directory means
// the home directory. An installed program (its data directory, with the
// manual, beside it: /usr/bin and /usr/share/corvane) always uses the
// user's configuration directory, also when run by root, who may write
// /usr/bin. Everything else happens in ui/.
//
// The command line: an optional project file to open (what the desktop
// entry passes on a double-click), --help and --version (answered before Qt
// starts, so they work without a display), and Qt's own options.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QStandardPaths>
#include <cstdio>
#include <string>

#include "corvane_version.h"
#include "ui/U_application.h"
#include "ui/U_engineAdapter.h"
#include "ui/U_hostHooks.h"
#include "ui/U_main.h"
#include "ui/U_translations.h"

namespace {

constexpr int kExitUsage = 2;

const char* const kUsage =
    "Usage: corvane [PROJECT.cvq]\n"
    "       corvane --help | --version\n"
    "\n"
    "Starts the desktop program; given a project file, opens that project\n"
    "instead of the most recent one. Qt's own options (-platform NAME,\n"
    "-style NAME, ...) are accepted too.\n";

std::string WithSlash(QString dir) {
    if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
    return dir.toStdString();
}

// --help and --version; -1 when neither is given.
int InfoOption(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") break;
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("corvane %s\n", CORVANE_VERSION_TEXT);
            return 0;
        }
    }
    return -1;
}

// The project file among the arguments Qt left; false on bad usage.
bool ProjectArgument(QString& project) {
    QStringList args = QApplication::arguments();
    args.removeFirst();
    bool optionsDone = false;
    for (const QString& a : args) {
        if (!optionsDone && a == QLatin1String("--")) {
            optionsDone = true;
            continue;
        }
        std::string error;
        if (!optionsDone && a.startsWith(QLatin1Char('-')))
            error = "unknown option '" + a.toStdString() + "'";
        else if (!project.isEmpty())
            error = "more than one project file";
        if (!error.empty()) {
            std::fprintf(stderr, "corvane: %s\nTry 'corvane --help'.\n", error.c_str());
            return false;
        }
        project = QFileInfo(a).absoluteFilePath();
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (const int rc = InfoOption(argc, argv); rc >= 0) return rc;
    // Failures that reach the event loop become message boxes.
    corvane::TCorvaneApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setOrganizationName(QStringLiteral("Corvane"));
    QApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("corvane"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("corvane")));
    QString project;
    if (!ProjectArgument(project)) return kExitUsage;

    corvane::InstallQtTranslations(app);

    const QString programDir = QApplication::applicationDirPath();
    const QFileInfo dirInfo(programDir);
    const QString dataDir = QDir::cleanPath(programDir + QStringLiteral("/" CORVANE_DATA_FROM_BIN));
    const bool installed = QFileInfo(dataDir).isDir();
    // ~/.config/Corvane (or $XDG_CONFIG_HOME/Corvane), as the manual says;
    // AppConfigLocation would add the organisation: Corvane/Corvane.
    const QString userConfig =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
        QStringLiteral("/Corvane");
    const bool portable = !installed && dirInfo.isDir() && dirInfo.isWritable();
    if (!portable) QDir().mkpath(userConfig);
    const corvane::TConfigLocation location = corvane::ChooseConfigLocation(
        WithSlash(programDir), portable, WithSlash(userConfig), WithSlash(QDir::homePath()));

    corvane::TMainEnv env;
    env.programDir = WithSlash(programDir);
    if (installed) env.dataDir = WithSlash(dataDir);
    env.projectFile = project.toStdString();
    env.iniPath = location.iniPath;
    env.fallbackDir = location.fallbackDir;
    env.engineFactory = corvane::FileSystemEngineFactory();

    corvane::InstallHostHooks();
    int rc = 0;
    {
        corvane::TfrmMain window(env);
        window.show();
        rc = app.exec();
    }
    corvane::RemoveHostHooks();
    return rc;
}
