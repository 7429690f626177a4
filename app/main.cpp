// corvane: the desktop program's entry point.
//
// Creates the application (which turns failures reaching the event loop
// into message boxes, U_application) and the main window, installs the
// desktop's answers to the script runtime's hooks (parameter dialog,
// message boxes), and runs the event loop until the window closes. Where config.ini lives
// is decided here from the program's directory: next to the program when
// that directory can be written (a portable build), otherwise in the user's
// configuration directory, in which case an empty default directory means
// the home directory. Everything else happens in ui/.
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "ui/U_application.h"
#include "ui/U_engineAdapter.h"
#include "ui/U_hostHooks.h"
#include "ui/U_main.h"

namespace {

std::string WithSlash(QString dir) {
    if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
    return dir.toStdString();
}

}  // namespace

int main(int argc, char* argv[]) {
    // Failures that reach the event loop become message boxes.
    corvane::TCorvaneApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setOrganizationName(QStringLiteral("Corvane"));

    const QString programDir = QApplication::applicationDirPath();
    const QFileInfo dirInfo(programDir);
    const QString userConfig = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    const bool portable = dirInfo.isDir() && dirInfo.isWritable();
    if (!portable) QDir().mkpath(userConfig);
    const corvane::TConfigLocation location = corvane::ChooseConfigLocation(
        WithSlash(programDir), portable, WithSlash(userConfig), WithSlash(QDir::homePath()));

    corvane::TMainEnv env;
    env.programDir = WithSlash(programDir);
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
