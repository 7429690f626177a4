// The main window, built with stand-in services and a stand-in engine:
// element names and texts, executing on the worker thread with the
// rendered result, the context-menu rule, generating a script, dropping a
// tree node into the editor, deleting rows and the question on close.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>
#include <atomic>
#include <fstream>
#include <functional>

#include "ui/U_dirTree.h"
#include "ui/U_main.h"
#include "ui/U_projectFile.h"
#include "ui/U_resultModel.h"
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
// does not parse; "slow" lists until cancelled; "warn" has two warnings;
// "oom" runs out of memory.
class ScriptedEngine : public IQueryEngine {
  public:
    void SetBaseDirectory(const std::string& dir) override { gBaseDir = dir; }
    std::vector<std::string> Warnings() override {
        if (sql_ != "warn") return {};
        return {"表 'a' 的目录不存在或无法打开", "表 'b /s' 中有 2 个子目录无法读取：b/x、b/y"};
    }
    void SetSQL(const std::string& sql) override { sql_ = sql; }
    void Parse() override {}
    std::string GetErrorText() override { return sql_ == "bad" ? "语法错误\r\n" : ""; }
    void Execute(IProgress* progress) override {
        if (sql_ == "oom") throw std::bad_alloc();
        if (sql_ == "slow") {
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
        for (long long i = 0; i < n; ++i)
            r.rows.push_back(std::make_unique<TSimpleRow>(
                TSimpleRow{Variant(dir), Variant("f" + std::to_string(i)), Variant(int64_t(i)),
                           Variant(i == 0)}));
        if (r.fieldNames.size() == 1)
            for (auto& row : r.rows)
                row->resize(1);
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
        explicit Fixture(const std::function<void(TMainEnv&)>& tweak = {}) {
            TMainEnv env;
            env.programDir = dir.path().toStdString() + "/";
            env.iniPath = env.programDir + "config.ini";
            env.fallbackDir = env.programDir;
            env.engineFactory = [] { return std::unique_ptr<IQueryEngine>(new ScriptedEngine); };
            env.shell = &shell;
            env.prompt = &prompt;
            env.dialogs = &dialogs;
            if (tweak) tweak(env);
            window = std::make_unique<TfrmMain>(env);
        }
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
                                       "设置", "帮助"}));
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
        QCOMPARE(texts("pp_tree"), (QStringList{"自动生成脚本", "添加", "编辑", "删除"}));
        QCOMPARE(texts("pp_Dataset"), (QStringList{"打开", "打开所在目录", "定位", "删除"}));
        QCOMPARE(texts("pp_help"), (QStringList{"使用说明", "关于..."}));
        QCOMPARE(texts("pp_open"), (QStringList{"打开...", "最近打开的"}));
        QCOMPARE(f.Find<QPlainTextEdit>("mm_msg")->toolTip(), QStringLiteral("消息框"));
        QVERIFY(f.Find<QPlainTextEdit>("mm_msg")->isReadOnly());
        QCOMPARE(f.Find<QTreeView>("lv_rslt")->selectionMode(),
                 QAbstractItemView::ExtendedSelection);
        QCOMPARE(texts("ppm_recent"), (QStringList{"", "", ""}));
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
        QCOMPARE(list->columnWidth(0), 160);
        QCOMPARE(list->columnWidth(1), 80);
        QCOMPARE(list->model()->index(1, 1).data().toString(), QStringLiteral("f1"));
        QVERIFY(f.window->ResultHasContextMenu());
        QVERIFY(list->isEnabled());
    }

    void aResultWithoutPathHasNoContextMenu() {
        Fixture f;
        f.Run("select 3 rows of /data");
        f.Run("select 0 sizes");
        QVERIFY(!f.window->ResultHasContextMenu());
        QCOMPARE(f.window->StatusText(1), QStringLiteral("个数：0"));
        QCOMPARE(f.window->ResultModel().columnCount(), 1);
    }

    void parseErrorsStayOnTheSqlPage() {
        Fixture f;
        f.Run("bad");
        QCOMPARE(f.window->MessageText(), QStringLiteral("语法错误\n"));
        QCOMPARE(f.Find<QTabWidget>("PageControl1")->currentIndex(), 0);
    }

    void whatCouldNotBeReadFollowsOkInTheMessagePane() {
        Fixture f;
        f.Run("warn");
        QCOMPARE(f.window->MessageText(),
                 QStringLiteral("OK\n表 'a' 的目录不存在或无法打开\n"
                                "表 'b /s' 中有 2 个子目录无法读取：b/x、b/y"));
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
        QCOMPARE(f.window->MessageText(), QStringLiteral("语法错误\n"));
        f.window->Editor().SetText("");
        f.window->tbtn_checkClick();
        f.window->tbtn_executeClick();
        QVERIFY(!f.window->Runner().IsRunning());
        QCOMPARE(f.window->MessageText(), QStringLiteral("语法错误\n"));
        f.window->Editor().SetText("select");
        f.window->tbtn_checkClick();
        QCOMPARE(f.window->MessageText(), QStringLiteral("OK"));
    }

    void cancelStopsARunningQuery() {
        Fixture f;
        f.window->Editor().SetText("slow");
        QSignalSpy finished(&f.window->Runner(), &TQueryRunner::Finished);
        f.window->tbtn_executeClick();
        auto* cancel = f.Find<QToolButton>("btn_cancel");
        QVERIFY(cancel->isEnabled());
        QTRY_VERIFY(f.window->StatusText(2).startsWith(QStringLiteral("已列出：")) &&
                    f.window->StatusText(2) != QStringLiteral("已列出：0"));
        cancel->click();
        QVERIFY(finished.wait(20000));
        QCOMPARE(f.window->StatusText(2), QStringLiteral("已取消"));
        QVERIFY(!cancel->isEnabled());
        QVERIFY(f.prompt.errors.empty());
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
        QCOMPARE(f.prompt.asked, std::vector<std::string>{"Corvane|确定要删除选中的2个文件吗?|YN"});
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
        QCOMPARE(f.window->windowTitle(), QString::fromStdString("Corvane  --" + named));
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
