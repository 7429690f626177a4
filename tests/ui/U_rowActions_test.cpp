// Row actions through a stand-in shell: open, open folder, locate (and
// their failures), and delete into a trash folder of the test.
#include <QtTest>
#include <fstream>

#include "ui/U_desktop.h"
#include "ui/U_rowActions.h"
#include "ui_test_support.h"

using namespace corvane;
using namespace corvane::test;

class RowActionsTest : public QObject {
    Q_OBJECT

    struct Files {
        QTemporaryDir dir, trash;
        std::string Make(const char* name) {
            std::string path = dir.filePath(QString::fromUtf8(name)).toStdString();
            std::ofstream(path) << "x";
            return path;
        }
        std::string Dir() const { return dir.path().toStdString(); }
    };

  private slots:
    void openLocateAndFolderUseTheShell() {
        Files f;
        const std::string path = f.Make("a b.txt");
        FakeShell shell;
        FakePrompt prompt;
        TRowActions actions(shell, prompt);
        actions.Open({0, f.Dir() + "/", "a b.txt"});
        actions.OpenFolder({0, f.Dir(), "a b.txt"});
        actions.Locate({0, f.Dir(), "a b.txt"});
        QCOMPARE(shell.opened, (std::vector<std::string>{path, f.Dir()}));
        QCOMPARE(shell.shown, (std::vector<std::string>{path}));
        QVERIFY(prompt.errors.empty());
    }

    void failuresToOpenOrLocateAreShown() {
        Files f;
        const std::string path = f.Make("here");
        const std::string gone = f.Dir() + "/gone";
        FakeShell shell;
        FakePrompt prompt;
        TRowActions actions(shell, prompt);
        // A file deleted since the query ran: nothing is started.
        actions.Open({0, f.Dir(), "gone"});
        actions.Locate({0, f.Dir(), "gone"});
        actions.OpenFolder({0, f.Dir() + "/nodir", "x"});
        QVERIFY(shell.opened.empty() && shell.shown.empty());
        // No handler for the file, no file manager.
        shell.handlerMissing = true;
        actions.Open({0, f.Dir(), "here"});
        actions.OpenFolder({0, f.Dir(), "here"});
        actions.Locate({0, f.Dir(), "here"});
        QCOMPARE(prompt.errors,
                 (std::vector<std::string>{"找不到文件：" + gone, "找不到文件：" + gone,
                                           "找不到文件：" + f.Dir() + "/nodir", "无法打开：" + path,
                                           "无法打开目录：" + f.Dir(),
                                           "无法在文件管理器中显示：" + path}));
    }

    void anEmptyDirectoryOrNameDoesNothing_data() {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("file");
        QTest::newRow("no directory") << ""
                                      << "a";
        QTest::newRow("no name") << "/data"
                                 << "";
        QTest::newRow("no row") << ""
                                << "";
    }

    void anEmptyDirectoryOrNameDoesNothing() {
        QFETCH(QString, dir);
        QFETCH(QString, file);
        FakeShell shell;
        FakePrompt prompt;
        TRowActions actions(shell, prompt);
        TRowFile row{0, dir.toStdString(), file.toStdString()};
        actions.Open(row);
        actions.OpenFolder(row);
        actions.Locate(row);
        QCOMPARE(actions.Delete({row}), std::vector<int>{});
        QVERIFY(shell.opened.empty() && shell.shown.empty() && prompt.asked.empty());
    }

    void deletingOneFileNamesIt() {
        Files f;
        std::string path = f.Make("one.txt");
        FakeShell shell(f.trash.path());
        FakePrompt prompt;
        TRowActions actions(shell, prompt);
        QCOMPARE(actions.Delete({{4, f.Dir(), "one.txt"}}), std::vector<int>{4});
        QCOMPARE(prompt.asked,
                 std::vector<std::string>{"Corvane|确定要把\"" + path + "\"移到回收站吗?|YN"});
        QVERIFY(!QFile::exists(QString::fromStdString(path)));
        QVERIFY(QFile::exists(f.trash.filePath("one.txt")));
    }

    void deletingSeveralFilesCountsThem() {
        Files f;
        f.Make("1");
        f.Make("2");
        FakeShell shell(f.trash.path());
        FakePrompt prompt;
        TRowActions actions(shell, prompt);
        std::vector<int> gone =
            actions.Delete({{0, f.Dir(), "1"}, {3, f.Dir() + "/", "2"}, {5, f.Dir(), "1"}});
        std::sort(gone.begin(), gone.end());
        QCOMPARE(gone, (std::vector<int>{0, 3, 5}));  // the file listed twice goes with both rows
        QCOMPARE(prompt.asked,
                 std::vector<std::string>{"Corvane|确定要把选中的2个文件移到回收站吗?|YN"});
        QCOMPARE(shell.trashed.size(), size_t(2));
    }

    void answeringNoDeletesNothing() {
        Files f;
        std::string path = f.Make("keep");
        FakeShell shell(f.trash.path());
        FakePrompt prompt;
        prompt.answers = {TAnswer::No};
        TRowActions actions(shell, prompt);
        QCOMPARE(actions.Delete({{0, f.Dir(), "keep"}}), std::vector<int>{});
        QVERIFY(QFile::exists(QString::fromStdString(path)));
    }

    void onlyRowsWhoseFilesWentLeaveAndFailuresAreShown() {
        Files f;
        std::string a = f.Make("a"), b = f.Make("b");
        FakeShell shell(f.trash.path());
        shell.refuse = {b};
        FakePrompt prompt;
        TRowActions actions(shell, prompt);
        std::vector<int> gone =
            actions.Delete({{0, f.Dir(), "a"}, {1, f.Dir(), "b"}, {2, f.Dir(), "missing"}});
        QCOMPARE(gone, std::vector<int>{0});
        QCOMPARE(prompt.errors,
                 std::vector<std::string>{"以下文件未能移到回收站：\n" + b + "：拒绝\n" + f.Dir() +
                                          "/missing：文件不存在"});
        QVERIFY(QFile::exists(QString::fromStdString(b)));
    }

    // The desktop trash itself, inside a data directory of the test that
    // does not exist yet (Qt 6.4 would otherwise drop the file into
    // "files/" under the current directory and report success).
    void theDesktopTrashCreatesTheDataDirectoryFirst() {
        Files f;
        std::string path = f.Make("gone.txt");
        QTemporaryDir home, work;
        const QString data = home.filePath(QStringLiteral("not/yet/there"));
        qputenv("XDG_DATA_HOME", data.toUtf8());
        const QString oldCwd = QDir::currentPath();
        QDir::setCurrent(work.path());
        TDesktopShell shell;
        std::string error;
        const bool ok = shell.MoveToTrash(path, error);
        QDir::setCurrent(oldCwd);
        qunsetenv("XDG_DATA_HOME");
        QVERIFY2(ok, error.c_str());
        QVERIFY(!QFile::exists(QString::fromStdString(path)));
        QVERIFY(QFile::exists(data + QStringLiteral("/Trash/files/gone.txt")));
        QVERIFY(QDir(work.path()).isEmpty());
    }

    void theDesktopTrashRefusesAMissingFile() {
        TDesktopShell shell;
        std::string error;
        QVERIFY(!shell.MoveToTrash("/no/such/file", error));
        QCOMPARE(error, std::string("文件不存在"));
    }
};

QTEST_MAIN(RowActionsTest)
#include "U_rowActions_test.moc"
