// The main window, built with stand-in services and a stand-in engine:
// element names and texts, executing on the worker thread with the
// rendered result, column widths fitted and remembered, the filter box,
// copying rows and paths, exporting the shown rows, statement errors marked in the editor, notices
// of a run, a cancelled run's partial rows, shortcuts, the window state,
// the context-menu rule, generating a script (undoable), dropping a tree
// node into the editor, deleting rows and the question on close.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>
#include <atomic>
#include <fstream>
#include <functional>

#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>

#include "ui/U_dirTree.h"
#include "ui/U_main.h"
#include "ui/U_messages.h"
#include "ui/U_projectFile.h"
#include "ui/U_resultModel.h"
#include "ui/U_settings.h"
#include "ui/U_sqlEditor.h"
#include "ui_test_support.h"

using namespace corvane;
using namespace corvane::test;

namespace {

// When the stand-in engine handed its rows over (for the rendering time).
std::atomic<long long> gResultTakenNs{0};

long long NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The base directory the last stand-in engine was given (written on the
// worker, read after the run has finished).
std::string gBaseDir;

// Answers "select <n> rows of <dir>" with n rows of files in dir; "bad"
// does not parse; a statement containing "oops" does not parse either and
// says where ("oops" itself); "slow ..." lists until cancelled and then
// hands over its rows; "warn" has two warnings, any other statement
// containing "warn" one; "oom" runs out of memory.
class ScriptedEngine : public IQueryEngine {
  public:
    void SetBaseDirectory(const std::string& dir) override { gBaseDir = dir; }
    std::vector<std::string> Warnings() override {
        if (sql_ == "warn")
            return {"表 'a' 的目录不存在或无法打开", "表 'b /s' 中有 2 个子目录无法读取：b/x、b/y"};
        if (sql_.find("warn") != std::string::npos) return {"目录不存在：/x"};
        return {};
    }
    void SetSQL(const std::string& sql) override { sql_ = sql; }
    void Parse() override {}
    std::string GetErrorText() override {
        if (sql_ == "bad") return "语法错误\r\n";
        if (sql_.find("oops") != std::string::npos) return "不认识的名字：oops\r\n";
        return "";
    }
    std::vector<TStatementError> ErrorList() override {
        const size_t at = sql_.find("oops");
        if (at == std::string::npos) return IQueryEngine::ErrorList();
        return {{"不认识的名字：oops", static_cast<int>(at) + 1}};
    }
    void Execute(IProgress* progress) override {
        if (sql_ == "oom") throw std::bad_alloc();
        if (sql_.rfind("slow", 0) == 0) {
            for (long long n = 1; !progress->Cancelled(); ++n) {
                progress->Listed(n);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }
    TQueryResult TakeResult() override {
        TQueryResult r;
        std::istringstream in(sql_);
        std::string word, dir;
        long long n = 0;
        in >> word >> n >> word >> word >> dir;
        if (word == "of")
            r.fieldNames = {"a.path", "a.filename", "a.size", "a.isdir"};
        else
            r.fieldNames = {"size"};
        for (long long i = 0; i < n; ++i) {
            TSimpleRow row{Variant(dir), Variant("f" + std::to_string(i)), Variant(int64_t(i)),
                           Variant(i == 0)};
            row.resize(r.fieldNames.size());
            r.rows.Append(row);
        }
        gResultTakenNs = NowNs();
        return r;
    }

  private:
    std::string sql_;
};

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    struct Fixture {
        QTemporaryDir dir, trash;
        FakePrompt prompt;
        FakeDialogs dialogs;
        FakeShell shell{trash.path()};
        std::unique_ptr<TfrmMain> window;

        // tweak changes the environment before the window is built.
        explicit Fixture(std::function<void(TMainEnv&)> tweak = {}) : tweak_(std::move(tweak)) {
            Open();
        }
        // (Re)builds the window over the same config.ini.
        void Open() {
            window.reset();
            TMainEnv env;
            env.programDir = dir.path().toStdString() + "/";
            env.iniPath = env.programDir + "config.ini";
            env.fallbackDir = env.programDir;
            env.engineFactory = [] { return std::unique_ptr<IQueryEngine>(new ScriptedEngine); };
            env.shell = &shell;
            env.prompt = &prompt;
            env.dialogs = &dialogs;
            if (tweak_) tweak_(env);
            window = std::make_unique<TfrmMain>(env);
        }
        std::function<void(TMainEnv&)> tweak_;
        template <class T>
        T* Find(const char* name) {
            return window->findChild<T*>(QString::fromLatin1(name));
        }
        void Run(const std::string& sql) {
            window->Editor().SetText(sql);
            QSignalSpy finished(&window->Runner(), &TQueryRunner::Finished);
            window->tbtn_executeClick();
            QVERIFY(finished.wait(20000));
        }
        QStringList Shown(int column) {
            QStringList texts;
            auto* model = Find<QTreeView>("lv_rslt")->model();
            for (int r = 0; r < model->rowCount(); ++r)
                texts << model->index(r, column).data().toString();
            return texts;
        }
    };

  private slots:
    void elementsCarryTheirNamesAndTexts() {
        Fixture f;
        QCOMPARE(f.window->windowTitle(), QStringLiteral("Corvane"));
        for (const char* name :
             {"tv_dirList", "mm_sql", "mm_msg", "lv_rslt", "PageControl1", "StatusBar1", "pp_tree",
              "pp_Dataset", "pp_help", "pp_open", "ppm_recent"})
            QVERIFY2(f.window->findChild<QObject*>(QString::fromLatin1(name)), name);
        QStringList toolbar;
        for (QAction* a : f.Find<QToolBar>("ToolBar1")->actions())
            if (!a->isSeparator()) toolbar << a->text();
        QCOMPARE(toolbar, (QStringList{"打开", "新建", "保存", "另存为", " 语法检查 ", "执行",
                                       "导出", "设置", "帮助"}));
        auto* pages = f.Find<QTabWidget>("PageControl1");
        QCOMPARE(pages->tabText(0), QStringLiteral("SQL"));
        QCOMPARE(pages->tabText(1), QStringLiteral("执行结果"));
        QCOMPARE(pages->tabPosition(), QTabWidget::South);
        auto texts = [&](const char* menu) {
            QStringList list;
            for (QAction* a : f.Find<QMenu>(menu)->actions())
                list << a->text();
            return list;
        };
        QCOMPARE(texts("pp_tree"),
                 (QStringList{"自动生成脚本", "查找重复文件", "添加", "编辑", "删除"}));
        QCOMPARE(texts("pp_Dataset"),
                 (QStringList{"打开", "打开所在目录", "定位", "删除", "", "复制", "复制完整路径",
                              "", "导出为 CSV...", "导出为 JSON..."}));
        QCOMPARE(texts("pp_export"), (QStringList{"导出为 CSV...", "导出为 JSON..."}));
        QCOMPARE(texts("pp_help"), (QStringList{"使用说明", "关于..."}));
        QCOMPARE(texts("pp_open"), (QStringList{"打开...", "最近打开的"}));
        QCOMPARE(f.Find<QPlainTextEdit>("mm_msg")->toolTip(), QStringLiteral("消息框"));
        QVERIFY(f.Find<QPlainTextEdit>("mm_msg")->isReadOnly());
        QCOMPARE(f.Find<QTreeView>("lv_rslt")->selectionMode(),
                 QAbstractItemView::ExtendedSelection);
        QCOMPARE(texts("ppm_recent"), (QStringList{"（无）"}));
    }

    void tooltipsNameTheShortcuts_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("keys");
        QTest::newRow("run") << "执行" << QStringList{"F9", "Ctrl+Return", "F5"};
        QTest::newRow("check") << " 语法检查 " << QStringList{"Ctrl+F9"};
        QTest::newRow("open") << "打开" << QStringList{"Ctrl+O"};
        QTest::newRow("save") << "保存" << QStringList{"Ctrl+S"};
        QTest::newRow("help") << "帮助" << QStringList{"F1"};
    }

    void tooltipsNameTheShortcuts() {
        QFETCH(QString, action);
        QFETCH(QStringList, keys);
        Fixture f;
        for (QAction* a : f.Find<QToolBar>("ToolBar1")->actions()) {
            if (a->text() != action) continue;
            for (const QString& key : keys) {
                QVERIFY2(a->toolTip().contains(key), qPrintable(a->toolTip()));
                QVERIFY(a->shortcuts().contains(QKeySequence(key)));
            }
            return;
        }
        QFAIL("no such action");
    }

    void executingRendersTheResultOnPageOne() {
        Fixture f;
        f.Run("select 3 rows of /data");
        QCOMPARE(f.window->MessageText(), QStringLiteral("OK"));
        QCOMPARE(f.Find<QTabWidget>("PageControl1")->currentIndex(), 1);
        QCOMPARE(f.window->StatusText(1), QStringLiteral("个数：3"));
        QVERIFY(f.window->StatusText(0).startsWith(QStringLiteral("用时：")));
        QVERIFY(f.window->StatusText(0).endsWith(QStringLiteral("毫秒")));
        auto* list = f.Find<QTreeView>("lv_rslt");
        QStringList captions;
        for (int c = 0; c < list->model()->columnCount(); ++c)
            captions << list->model()->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(captions, (QStringList{"目录", "文件名", "大小", "目录否"}));
        QCOMPARE(list->model()->index(1, 1).data().toString(), QStringLiteral("f1"));
        QCOMPARE(f.Shown(3), (QStringList{"是", "否", "否"}));
        QVERIFY(f.window->ResultHasContextMenu());
        QVERIFY(list->isEnabled());
    }

    void aResultWithoutPathHasNoFileActions() {
        Fixture f;
        f.Run("select 3 rows of /data");
        f.Run("select 0 sizes");
        QVERIFY(!f.window->ResultHasContextMenu());
        QCOMPARE(f.window->StatusText(1), QStringLiteral("个数：0"));
        QCOMPARE(f.window->ResultModel().columnCount(), 1);
    }

    void parseErrorsStayOnTheSqlPage() {
        Fixture f;
        f.Run("select 3 rows of /data");
        f.Run("bad");
        QCOMPARE(f.window->MessageText(), QStringLiteral("语法错误"));
        QCOMPARE(f.Find<QTabWidget>("PageControl1")->currentIndex(), 0);
    }

    void whatCouldNotBeReadFollowsOkInTheMessagePane() {
        Fixture f;
        f.Run("warn");
        QCOMPARE(f.window->MessageText(),
                 QStringLiteral("OK\n提示：表 'a' 的目录不存在或无法打开\n"
                                "提示：表 'b /s' 中有 2 个子目录无法读取：b/x、b/y"));
        f.Run("select 3 rows of /data");
        QCOMPARE(f.window->MessageText(), QStringLiteral("OK"));
    }

    void relativeTablesLeadFromTheProjectsDirectory() {
        Fixture f;
        gBaseDir = "unset";
        f.Run("select 0 sizes");
        QCOMPARE(gBaseDir, f.dir.path().toStdString() + "/");  // new: the default directory
        QVERIFY(QDir(f.dir.path()).mkdir(QStringLiteral("queries")));
        const std::string project = f.dir.path().toStdString() + "/queries/q.cvq";
        f.dialogs.saveFiles = {project};
        QVERIFY(f.window->Controller().SaveAs());
        f.Run("select 0 sizes");
        QCOMPARE(gBaseDir, f.dir.path().toStdString() + "/queries");
    }

    void anEmptyEditorDoesNothing() {
        Fixture f;
        f.window->Editor().SetText("bad");
        f.window->tbtn_checkClick();
        QCOMPARE(f.window->MessageText(), QStringLiteral("语法错误"));
        f.window->Editor().SetText("");
        f.window->tbtn_checkClick();
        f.window->tbtn_executeClick();
        QVERIFY(!f.window->Runner().IsRunning());
        QCOMPARE(f.window->MessageText(), QStringLiteral("语法错误"));
        f.window->Editor().SetText("select");
        f.window->tbtn_checkClick();
        QCOMPARE(f.window->MessageText(), QStringLiteral("OK"));
    }

    void cancelStopsARunningQueryAndShowsWhatItFound() {
        Fixture f;
        f.Run("select 3 rows of /data");
        f.window->Editor().SetText("slow 5 rows of /x");
        QSignalSpy finished(&f.window->Runner(), &TQueryRunner::Finished);
        f.window->tbtn_executeClick();
        // A new run starts with a clean status bar, then counts live.
        QCOMPARE(f.window->StatusText(0), QStringLiteral("用时：0毫秒"));
        QCOMPARE(f.window->StatusText(1), QStringLiteral("个数："));
        auto* cancel = f.Find<QToolButton>("btn_cancel");
        QVERIFY(cancel->isEnabled());
        QTRY_VERIFY(f.window->StatusText(2).startsWith(QStringLiteral("已列出：")) &&
                    f.window->StatusText(2) != QStringLiteral("已列出：0"));
        QTRY_VERIFY(f.window->StatusText(0) != QStringLiteral("用时：0毫秒"));
        cancel->click();
        QVERIFY(finished.wait(20000));
        QCOMPARE(f.window->StatusText(2), QStringLiteral("已取消"));
        QVERIFY(!cancel->isEnabled());
        QVERIFY(f.prompt.errors.empty());
        QCOMPARE(f.window->ResultModel().rowCount(), 5);
        QCOMPARE(f.window->ResultNotice(),
                 QStringLiteral("查询已取消：下面只是取消前找到的 5 行，结果不完整。"));
        QCOMPARE(f.window->StatusText(1), QStringLiteral("个数：5"));
        // A complete run takes the notice away.
        f.Run("select 2 rows of /data");
        QCOMPARE(f.window->ResultNotice(), QString());
    }

    void escapeCancelsAndTheRunKeysRun_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Ctrl+Return") << int(Qt::Key_Return) << int(Qt::ControlModifier);
        QTest::newRow("Ctrl+Enter")
            << int(Qt::Key_Enter) << int(Qt::ControlModifier | Qt::KeypadModifier);
        QTest::newRow("F5") << int(Qt::Key_F5) << int(Qt::NoModifier);
        QTest::newRow("F9") << int(Qt::Key_F9) << int(Qt::NoModifier);
    }

    void escapeCancelsAndTheRunKeysRun() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        Fixture f;
        f.window->show();
        QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
        f.window->Editor().SetText("slow 1 rows of /x");
        f.window->Editor().setFocus();
        QSignalSpy finished(&f.window->Runner(), &TQueryRunner::Finished);
        QTest::keyClick(f.window->Editor().viewport(), Qt::Key(key),
                        Qt::KeyboardModifiers(modifiers));
        QVERIFY(f.window->Runner().IsRunning());
        QCOMPARE(f.window->Editor().Text(),
                 std::string("slow 1 rows of /x"));  // no line break typed
        QTest::keyClick(f.window->Editor().viewport(), Qt::Key_Escape);
        QVERIFY(finished.wait(20000));
        QCOMPARE(f.window->StatusText(2), QStringLiteral("已取消"));
    }

    void onlyTheSelectionRunsWhenThereIsOne() {
        Fixture f;
        f.window->Editor().SetText("select 9 rows of /a\nselect 2 rows of /b");
        f.window->Editor().setSelection(1, 0, 1, 19);
        QSignalSpy finished(&f.window->Runner(), &TQueryRunner::Finished);
        f.window->tbtn_executeClick();
        QVERIFY(finished.wait(20000));
        QCOMPARE(f.window->ResultModel().rowCount(), 2);
        QCOMPARE(f.window->ResultModel().Directory(0), std::string("/b"));
    }

    void statementErrorsAreMarkedWhereTheyHappen() {
        Fixture f;
        const std::string text = "select 文件, x\nfrom oops o";
        const int at = static_cast<int>(text.find("oops"));
        f.Run(text);
        QCOMPARE(f.window->MessageText(), QStringLiteral("第2行第6列：不认识的名字：oops"));
        QCOMPARE(f.window->Editor().MarkedLines(), std::vector<int>{1});
        QVERIFY(f.window->Editor().IsMarked(at));
        QVERIFY(f.window->Editor().IsMarked(at + 3));
        QVERIFY(!f.window->Editor().IsMarked(at + 4));
        QVERIFY(!f.window->Editor().IsMarked(0));
        // Double-clicking the message puts the cursor there.
        f.window->Editor().GoToByte(0);
        f.Find<QTabWidget>("PageControl1")->setCurrentIndex(1);
        f.window->Messages().ActivateLine(0);
        QCOMPARE(f.window->Editor().CursorByte(), at);
        QCOMPARE(f.Find<QTabWidget>("PageControl1")->currentIndex(), 0);
        // A check marks the same way; a run that parses takes the marks away.
        f.window->tbtn_checkClick();
        QCOMPARE(f.window->Editor().MarkedLines(), std::vector<int>{1});
        f.Run("select 1 rows of /d");
        QVERIFY(f.window->Editor().MarkedLines().empty());
        QVERIFY(!f.window->Editor().IsMarked(at));
    }

    void errorsInASelectionCountFromTheEditorText() {
        Fixture f;
        f.window->Editor().SetText("select 1 rows of /d\n\nselect x from oops");
        f.window->Editor().setSelection(2, 0, 2, 18);
        f.window->tbtn_checkClick();
        QCOMPARE(f.window->MessageText(), QStringLiteral("第3行第15列：不认识的名字：oops"));
        QCOMPARE(f.window->Editor().MarkedLines(), std::vector<int>{2});
    }

    void noticesOfARunAreShown() {
        Fixture f;
        f.Run("select 2 rows of /warn");
        QCOMPARE(f.window->MessageText(), QStringLiteral("OK\n提示：目录不存在：/x"));
        QCOMPARE(f.window->ResultNotice(), QStringLiteral("提示：目录不存在：/x"));
        QCOMPARE(f.window->StatusText(2), QStringLiteral("有 1 条提示"));
    }

    void columnsFitTheirContentsAndTheUsersWidthsAreRemembered() {
        Fixture f;
        f.window->show();
        const std::string dir = "/a/rather/long/directory/name/that/needs/room";
        f.Run("select 3 rows of " + dir);
        auto* list = f.Find<QTreeView>("lv_rslt");
        const QFontMetrics fm = list->fontMetrics();
        // Wide enough for the path, narrow for a small number, never wider
        // than the maximum.
        QVERIFY(list->columnWidth(0) >= fm.horizontalAdvance(QString::fromStdString(dir)));
        QVERIFY(list->columnWidth(0) <= 420);
        QVERIFY(list->columnWidth(2) < list->columnWidth(0));
        QVERIFY(list->columnWidth(2) >=
                list->header()->fontMetrics().horizontalAdvance(QStringLiteral("大小")));
        QCOMPARE(list->textElideMode(), Qt::ElideMiddle);
        // The user widens the file name column: remembered by its name.
        list->header()->resizeSection(1, 231);
        QCOMPARE(f.window->Config().ColumnWidth("filename"), 231);
        QCOMPARE(f.window->Config().ColumnWidth("path"), 0);
        f.Run("select 1 rows of /x");
        QCOMPARE(list->columnWidth(1), 231);
        // Kept in config.ini across sessions.
        f.prompt.answers = {TAnswer::No};  // the statement need not be saved
        QVERIFY(f.window->close());
        f.Open();
        f.Run("select 1 rows of /x");
        QCOMPARE(f.Find<QTreeView>("lv_rslt")->columnWidth(1), 231);
    }

    void theFilterBoxNarrowsTheShownRows() {
        Fixture f;
        f.Run("select 20 rows of /data");
        auto* count = f.Find<QLabel>("lbl_filterCount");
        f.window->SetResultFilter(QStringLiteral("F1"));
        QCOMPARE(f.Shown(1), (QStringList{"f1", "f10", "f11", "f12", "f13", "f14", "f15", "f16",
                                          "f17", "f18", "f19"}));
        QCOMPARE(count->text(), QStringLiteral("显示 11 / 20 行"));
        f.window->SetResultFilter(QStringLiteral("是"));  // the shown text of a boolean
        QCOMPARE(f.Shown(1), QStringList{"f0"});
        f.window->SetResultFilter(QString());
        QCOMPARE(f.Shown(1).size(), 20);
        QCOMPARE(count->text(), QString());
        QCOMPARE(f.window->StatusText(1), QStringLiteral("个数：20"));
    }

    void copyingRowsAndPaths() {
        Fixture f;
        f.window->show();
        f.Run("select 4 rows of /data");
        f.window->SelectResultRows({2, 0});
        auto* list = f.Find<QTreeView>("lv_rslt");
        list->setFocus();
        QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(),
                 QStringLiteral("a.path\ta.filename\ta.size\ta.isdir\n"
                                "/data\tf0\t0\tTrue\n"
                                "/data\tf2\t2\tFalse\n"));
        f.window->CopyPaths();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("/data/f0\n/data/f2\n"));
        // In the order the list shows them.
        list->sortByColumn(1, Qt::DescendingOrder);
        f.window->CopyPaths();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("/data/f2\n/data/f0\n"));
    }

    // The shown rows in the shown order, to the file the dialog gave, in
    // the format chosen there; the toolbar button repeats the last format.
    void exportingTheShownRows() {
        Fixture f;
        f.Run("select 12 rows of /data");
        f.window->SetResultFilter(QStringLiteral("f1"));  // f1, f10, f11
        f.Find<QTreeView>("lv_rslt")->sortByColumn(1, Qt::DescendingOrder);
        const QString csv = f.dir.filePath("out.csv");
        f.dialogs.exportFiles.push_back(csv.toStdString());
        f.window->ExportCsv();
        // First offered in the project's folder, then where the last one went.
        QCOMPARE(f.dialogs.calls.back(),
                 "export:" + f.window->Controller().BaseDirectory() + ":csv");
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("a.path,a.filename,a.size,a.isdir\r\n"
                                            "/data,f11,11,False\r\n"
                                            "/data,f10,10,False\r\n"
                                            "/data,f1,1,False\r\n"));
        QVERIFY(f.window->statusBar()->currentMessage().contains(QStringLiteral("已导出 3 行")));

        // JSON chosen in the dialog; the toolbar button then offers JSON
        // in the folder used last.
        f.dialogs.exportFiles.push_back(f.dir.filePath("out.json").toStdString());
        f.dialogs.exportFormats.push_back(TResultFormat::rfJson);
        f.window->ExportCsv();
        f.window->SetResultFilter(QString());
        f.dialogs.exportFiles.push_back(f.dir.filePath("all.json").toStdString());
        f.window->ExportLast();
        QCOMPARE(f.dialogs.calls.back(), "export:" + f.dir.path().toStdString() + ":json");
        struct {
            const char* file;
            int rows;
            const char* first;  // names sort as texts: f9 before f11
            int size;
        } const exports[] = {{"out.json", 3, "f11", 11}, {"all.json", 12, "f9", 9}};
        for (const auto& e : exports) {
            QFile json(f.dir.filePath(QString::fromLatin1(e.file)));
            QVERIFY(json.open(QIODevice::ReadOnly));
            const QJsonArray array = QJsonDocument::fromJson(json.readAll()).array();
            QCOMPARE(array.size(), e.rows);
            QCOMPARE(array[0].toObject()["a.filename"].toString(), QString::fromLatin1(e.first));
            QCOMPARE(array[0].toObject()["a.size"].toInteger(), e.size);
        }

        // A file that cannot be written is reported, not ignored.
        f.dialogs.exportFiles.push_back(f.dir.filePath("no/such/x.csv").toStdString());
        f.window->ExportCsv();
        QCOMPARE(f.prompt.errors.size(), size_t(1));
        QVERIFY(f.prompt.errors[0].find("导出失败") == 0);
        // A cancelled dialog writes nothing.
        const size_t calls = f.dialogs.calls.size();
        f.window->ExportJson();
        QCOMPARE(f.dialogs.calls.size(), calls + 1);
        QCOMPARE(f.prompt.errors.size(), size_t(1));
    }

    void enterOrADoubleClickOnARowOpensItsFile() {
        Fixture f;
        f.window->show();
        const std::string d = f.dir.path().toStdString();
        std::ofstream(d + "/f1") << "x";
        f.Run("select 2 rows of " + d);
        f.window->SelectResultRows({1});
        auto* list = f.Find<QTreeView>("lv_rslt");
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(f.shell.opened, std::vector<std::string>{d + "/f1"});
        // A single click only selects; a double-click opens.
        const QPoint row1 = list->visualRect(list->model()->index(1, 1)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row1);
        QCOMPARE(f.shell.opened.size(), size_t(1));
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row1);
        QCOMPARE(f.shell.opened, (std::vector<std::string>{d + "/f1", d + "/f1"}));
    }

    void theWindowStateComesBack() {
        Fixture f;
        f.window->show();
        f.window->resize(900, 600);
        f.Find<QSplitter>("Splitter1")->setSizes({123, 700});
        f.Find<QTabWidget>("PageControl1")->setCurrentIndex(1);
        QVERIFY(f.window->close());
        f.Open();
        f.window->show();
        QCOMPARE(f.Find<QTabWidget>("PageControl1")->currentIndex(), 1);
        QCOMPARE(f.Find<QSplitter>("Splitter1")->sizes().first(), 123);
        QCOMPARE(f.window->size(), QSize(900, 600));
    }

    void runningOutOfMemoryShowsAMessageAndTheWindowGoesOn() {
        Fixture f;
        f.Run("oom");
        QCOMPARE(f.prompt.errors, std::vector<std::string>{"内存不足，操作已停止。"});
        QCOMPARE(f.Find<QTabWidget>("PageControl1")->currentIndex(), 0);
        QVERIFY(!f.Find<QToolButton>("btn_cancel")->isEnabled());
        f.Run("select 3 rows of /data");
        QCOMPARE(f.window->StatusText(1), QStringLiteral("个数：3"));
        QCOMPARE(f.prompt.errors.size(), size_t(1));
    }

    void aLargeResultRendersAtOnce() {
        Fixture f;
        f.window->show();
        f.Run("select 200000 rows of /big");
        QApplication::processEvents();
        QCOMPARE(f.window->ResultModel().rowCount(), 200000);
        // A figure for the report, not a pass mark: from the rows leaving the
        // worker to the list painted.
        qInfo("200000 rows: handed over, rendered and painted in %lld ms",
              (NowNs() - gResultTakenNs) / 1000000);
    }

    void rowActionsUseTheSelectedRows() {
        Fixture f;
        const std::string d = f.dir.path().toStdString();
        for (int i = 0; i < 3; ++i)
            std::ofstream(d + "/f" + std::to_string(i)) << "x";
        f.Run("select 3 rows of " + d);
        f.window->SelectResultRows({1});
        f.window->N1Click();
        f.window->N2Click();
        f.window->N4Click();
        QCOMPARE(f.shell.opened, (std::vector<std::string>{d + "/f1", d}));
        QCOMPARE(f.shell.shown, (std::vector<std::string>{d + "/f1"}));
        f.window->SelectResultRows({0, 2});
        f.window->N5Click();
        QCOMPARE(f.prompt.asked,
                 std::vector<std::string>{"Corvane|确定要把选中的2个文件移到回收站吗?|YN"});
        QCOMPARE(f.window->ResultModel().rowCount(), 1);
        QCOMPARE(f.window->ResultModel().FileName(0), std::string("f1"));
        QCOMPARE(f.window->StatusText(1), QStringLiteral("个数：1"));
        QVERIFY(QFile::exists(f.trash.filePath("f0")));
        QVERIFY(QFile::exists(QString::fromStdString(d + "/f1")));
    }

    void generatingAScriptFillsTheEditor() {
        Fixture f;
        f.window->TreeModel().AddTable(TFileDirOption{58, false, "/d1", ""});
        f.window->TreeModel().AddTable(TFileDirOption{58, false, "/d2", ""});
        f.Find<QTabWidget>("PageControl1")->setCurrentIndex(1);
        f.window->SelectTreeNode(f.window->TreeModel().RootIndex());
        f.window->N6Click();
        QCOMPARE(f.window->Editor().Text(), "select a.*,b.*\nfrom " +
                                                FormatDirOption({58, false, "/d1", ""}) + " a," +
                                                FormatDirOption({58, false, "/d2", ""}) + " b");
        QCOMPARE(f.Find<QTabWidget>("PageControl1")->currentIndex(), 0);
        QVERIFY(f.window->Controller().Modified());
        QVERIFY(f.prompt.asked.empty());  // an empty editor: nothing to ask
        f.window->Editor().undo();
        QCOMPARE(f.window->Editor().Text(), std::string());
    }

    void findingDuplicatesPutsTheReportOfTheTableInTheEditor() {
        Fixture f;
        f.window->TreeModel().AddTable(TFileDirOption{58, true, "/data", ""});
        f.window->SelectTreeNode(f.window->TreeModel().RootIndex());
        f.window->FindDuplicatesClick();  // not a directory node: nothing
        QCOMPARE(f.window->Editor().Text(), std::string());
        f.Find<QTabWidget>("PageControl1")->setCurrentIndex(1);
        f.window->SelectTreeNode(f.window->TreeModel().TableIndex(0));
        f.window->FindDuplicatesClick();
        QCOMPARE(f.window->Editor().Text(),
                 "select xxh128(path, filename) h, count(*) n, sum(size) bytes\nfrom " +
                     FormatDirOption({58, true, "/data", ""}) +
                     " a\nwhere size > 0\ngroup by h having n > 1\norder by bytes desc");
        QCOMPARE(f.Find<QTabWidget>("PageControl1")->currentIndex(), 0);
        QVERIFY(f.prompt.asked.empty());
        // One undoable step.
        QTest::keyClick(&f.window->Editor(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(f.window->Editor().Text(), std::string());
        // With a statement in the editor it asks, as generating a script does.
        f.window->Editor().SetText("select 1");
        f.prompt.choices = {2};
        f.window->FindDuplicatesClick();
        QCOMPARE(f.prompt.asked.size(), size_t{1});
        QCOMPARE(f.window->Editor().Text(), std::string("select 1"));
    }

    void aGeneratedScriptNeverTakesTheStatementAway_data() {
        QTest::addColumn<int>("choice");  // 0 insert at the cursor, 1 replace, 2 cancel
        QTest::addColumn<QString>("after");
        const QString script = QString::fromStdString(
            "select * \nfrom " + FormatDirOption({58, false, "/d1", ""}) + " a");
        QTest::newRow("insert at the cursor") << 0 << "select 1 " + script + "-- mine";
        QTest::newRow("replace after asking") << 1 << script;
        QTest::newRow("cancel") << 2 << "select 1 -- mine";
    }

    void aGeneratedScriptNeverTakesTheStatementAway() {
        QFETCH(int, choice);
        QFETCH(QString, after);
        Fixture f;
        f.window->TreeModel().AddTable(TFileDirOption{58, false, "/d1", ""});
        f.window->Editor().SetText("select 1 -- mine");
        f.window->Editor().setCursorPosition(0, 9);
        f.window->SelectTreeNode(f.window->TreeModel().TableIndex(0));
        f.prompt.choices = {choice};
        f.window->N6Click();
        QCOMPARE(f.prompt.asked,
                 std::vector<std::string>{"自动生成脚本|编辑器中已有语句。生成的脚本要放在哪里？|"
                                          "插入到光标处|替换全部语句|取消"});
        QCOMPARE(QString::fromStdString(f.window->Editor().Text()), after);
        // Ctrl+Z gives the statement back.
        QTest::keyClick(&f.window->Editor(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(f.window->Editor().Text(), std::string("select 1 -- mine"));
    }

    void droppingATreeNodeInsertsItsText() {
        Fixture f;
        f.window->show();
        f.window->Editor().SetText("select  from a");
        QMimeData fromTree;
        fromTree.setData(QString::fromLatin1(TDirTreeModel::kDragMimeType), " a.size ");
        fromTree.setText(" a.size ");
        f.window->Editor().setCursorPosition(0, 7);
        // Drop where the caret already is, so the position does not matter.
        int line = 0, index = 0;
        f.window->Editor().getCursorPosition(&line, &index);
        const long pos = f.window->Editor().SendScintilla(QsciScintilla::SCI_GETCURRENTPOS);
        const QPoint at(static_cast<int>(f.window->Editor().SendScintilla(
                            QsciScintilla::SCI_POINTXFROMPOSITION, 0UL, pos)),
                        static_cast<int>(f.window->Editor().SendScintilla(
                            QsciScintilla::SCI_POINTYFROMPOSITION, 0UL, pos)) +
                            2);
        // The drag arrives at the editor's viewport: enter, then drop.
        QWidget* viewport = f.window->Editor().viewport();
        QDragEnterEvent enterTree(at, Qt::CopyAction, &fromTree, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &enterTree);
        QVERIFY(enterTree.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &fromTree, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(f.window->Editor().Text(), std::string("select  a.size  from a"));
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral(" a.size "));

        QMimeData plain;
        plain.setText("junk");
        QDragEnterEvent enter(at, Qt::CopyAction, &plain, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        QVERIFY(!enter.isAccepted());
    }

    void closingAModifiedProjectAsks() {
        Fixture f;
        f.window->Editor().SetText("changed");
        f.prompt.answers = {TAnswer::Cancel, TAnswer::No};
        QVERIFY(!f.window->close());
        QCOMPARE(f.prompt.asked,
                 std::vector<std::string>{"Corvane|当前文件已经修改，是否保存|YNC"});
        QVERIFY(f.window->close());
    }

    void helpOpensTheManualNextToTheProgram() {
        Fixture f;
        f.window->N9Click();
        QCOMPARE(f.prompt.informed,
                 std::vector<std::string>{"找不到使用说明：" + f.dir.path().toStdString() +
                                          "/readme.html"});
        std::ofstream(f.dir.filePath("readme.html").toStdString()) << "<html></html>";
        f.window->N9Click();
        QCOMPARE(f.shell.opened,
                 std::vector<std::string>{f.dir.path().toStdString() + "/readme.html"});
    }

    void helpOpensTheInstalledManualWhenNoneIsNextToTheProgram() {
        QTemporaryDir data;
        const std::string dataDir = data.path().toStdString() + "/";
        Fixture f([&](TMainEnv& env) { env.dataDir = dataDir; });
        const std::string beside = f.dir.path().toStdString() + "/readme.html";
        f.window->N9Click();
        QCOMPARE(f.prompt.informed, std::vector<std::string>{"找不到使用说明：" + beside});
        std::ofstream(dataDir + "readme.html") << "<html></html>";
        f.window->N9Click();
        std::ofstream(beside) << "<html></html>";
        f.window->N9Click();
        QCOMPARE(f.shell.opened, (std::vector<std::string>{dataDir + "readme.html", beside}));
    }

    void aProjectNamedOnTheCommandLineIsOpenedInsteadOfTheLastOne() {
        std::string named, last;
        Fixture f([&](TMainEnv& env) {
            named = env.programDir + "named.cvq";
            last = env.programDir + "last.cvq";
            TProjectData project;
            TFileDirOption option;
            option.path = env.programDir;
            project.dirs.push_back({"x", option});
            project.sql = "select * from x";
            std::string error;
            QVERIFY2(SaveProjectFile(named, project, error), error.c_str());
            project.sql = "select 1";
            QVERIFY2(SaveProjectFile(last, project, error), error.c_str());
            std::ofstream(env.iniPath) << "[recent]\nfile1=" << last << "\n";
            env.autoOpen = true;
            env.projectFile = named;
        });
        QVERIFY(f.prompt.errors.empty());
        QCOMPARE(f.window->Controller().FileName(), named);
        QCOMPARE(f.window->Editor().Text(), std::string("select * from x"));
        QCOMPARE(f.window->windowTitle(),
                 QStringLiteral("Corvane -- named.cvq (%1)").arg(f.dir.path()));
        QCOMPARE(f.window->TreeModel().Tables().size(), size_t(1));
        QVERIFY(!f.window->Controller().Modified());

        // A file that cannot be read is reported; the window starts empty.
        Fixture missing([](TMainEnv& env) { env.projectFile = env.programDir + "none.cvq"; });
        QCOMPARE(missing.prompt.errors.size(), size_t(1));
        QVERIFY(missing.window->Controller().FileName().empty());
        QCOMPARE(missing.window->windowTitle(), QStringLiteral("Corvane"));
    }
};

QTEST_MAIN(MainWindowTest)
#include "U_main_test.moc"
