// Project commands: the unsaved-changes question, New/Open/recent/Save/Save
// As with their titles and recent-list pushes, the title's name and
// modified mark, recent projects that are gone, the directory-table
// commands, files that cannot be read and a project with one bad table.
#include <QtTest>
#include <fstream>
#include <sstream>

#include "ui/U_projectCtl.h"
#include "ui/U_projectFile.h"
#include "ui_test_support.h"

using namespace corvane;
using namespace corvane::test;

namespace {

class FakeView : public IProjectView {
  public:
    std::string sql;
    std::string title;
    std::vector<std::string> recent;
    TProjectController* controller = nullptr;  // told of text changes, as the editor does

    std::string SqlText() const override { return sql; }
    void SetSqlText(const std::string& text) override {
        sql = text;
        if (controller) controller->SqlChanged();
    }
    void SetTitle(const std::string& t) override { title = t; }
    void RecentChanged(const std::vector<std::string>& files) override { recent = files; }
};

// "Corvane -- name.cvq (folder)", with "*" after the name when modified.
std::string TitleFor(const std::string& file, bool modified = false) {
    const size_t slash = file.rfind('/');
    return "Corvane -- " + file.substr(slash + 1) + (modified ? "*" : "") + " (" +
           file.substr(0, slash) + ")";
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

class ProjectCtlTest : public QObject {
    Q_OBJECT

    struct Fixture {
        QTemporaryDir dir;
        TColumnMaps columns;
        TDirTreeModel tree{columns, {}, {}};
        FakeView view;
        FakePrompt prompt;
        FakeDialogs dialogs;
        FakeShell shell;
        std::unique_ptr<TConfig> config;
        std::unique_ptr<TProjectController> ctl;

        Fixture() {
            config = std::make_unique<TConfig>(Path("config.ini"), Path(""));
            ctl = std::make_unique<TProjectController>(tree, view, *config, dialogs, prompt, shell);
            view.controller = ctl.get();
        }
        std::string Path(const char* name) const {
            return dir.filePath(QString::fromUtf8(name)).toStdString();
        }
        // A saved project with one table and a statement.
        std::string SavedProject(const char* name, const std::string& sql) {
            TProjectData p;
            p.dirs.push_back({"x", {}});
            p.dirs[0].option.path = dir.path().toStdString();
            p.dirs.push_back({"y", {}});
            p.dirs[1].option.path = "/tmp";
            p.sql = sql;
            std::string error;
            if (!SaveProjectFile(Path(name), p, error)) throw std::runtime_error(error);
            return Path(name);
        }
        void MakeModified() { view.SetSqlText("select * from changed"); }
    };

  private slots:
    void theQuestionComesBeforeEveryCommandThatDropsChanges_data() {
        QTest::addColumn<int>("command");  // 0 new, 1 open, 2 recent, 3 close
        QTest::addColumn<int>("answer");   // 0 yes, 1 no, 2 cancel
        QTest::addColumn<bool>("goesOn");
        QTest::addColumn<bool>("saved");
        const char* names[] = {"new", "open", "recent", "close"};
        for (int c = 0; c < 4; ++c) {
            QTest::addRow("%s, yes saves and goes on", names[c]) << c << 0 << true << true;
            QTest::addRow("%s, no goes on", names[c]) << c << 1 << true << false;
            QTest::addRow("%s, cancel stops", names[c]) << c << 2 << false << false;
        }
    }

    void theQuestionComesBeforeEveryCommandThatDropsChanges() {
        QFETCH(int, command);
        QFETCH(int, answer);
        QFETCH(bool, goesOn);
        QFETCH(bool, saved);
        Fixture f;
        const std::string current = f.SavedProject("current.cvq", "select 1");
        const std::string other = f.SavedProject("other.cvq", "select 2");
        f.ctl->OpenRecent(current);
        f.MakeModified();
        f.prompt.answers = {answer == 0   ? TAnswer::Yes
                            : answer == 1 ? TAnswer::No
                                          : TAnswer::Cancel};
        f.dialogs.openFiles = {other};
        bool went = true;
        switch (command) {
            case 0:
                f.ctl->NewProject();
                went = f.view.sql.empty();
                break;
            case 1:
                f.ctl->OpenProject();
                went = f.view.sql == "select 2";
                break;
            case 2:
                f.ctl->OpenRecent(other);
                went = f.view.sql == "select 2";
                break;
            case 3:
                went = f.ctl->QueryClose();
                break;
        }
        QCOMPARE(f.prompt.asked,
                 std::vector<std::string>{"Corvane|当前文件已经修改，是否保存|YNC"});
        QCOMPARE(went, goesOn);
        TProjectData onDisk;
        std::string error;
        QVERIFY(LoadProjectFile(current, onDisk, error));
        QCOMPARE(onDisk.sql == "select * from changed", saved);
        if (!goesOn) {
            QCOMPARE(f.view.sql, std::string("select * from changed"));
            QVERIFY(f.ctl->Modified());
        }
    }

    void anUnmodifiedProjectIsNotAskedAbout() {
        Fixture f;
        f.ctl->NewProject();
        f.ctl->NewProject();
        QVERIFY(f.ctl->QueryClose());
        QVERIFY(f.prompt.asked.empty());
    }

    void aFailedSaveStopsTheCommand() {
        Fixture f;
        f.MakeModified();
        f.prompt.answers = {TAnswer::Yes};
        // Yes, then the Save As dialog is cancelled: nothing is lost.
        f.ctl->NewProject();
        QCOMPARE(f.view.sql, std::string("select * from changed"));
        QVERIFY(f.ctl->Modified());
    }

    void openingSetsTitleFlagAndRecentList() {
        Fixture f;
        const std::string file = f.SavedProject("p.cvq", "select a\nfrom x");
        f.dialogs.openFiles = {file};
        f.ctl->OpenProject();
        QCOMPARE(f.dialogs.calls, std::vector<std::string>{"open:" + f.Path("")});
        QCOMPARE(f.view.title, TitleFor(file));
        QCOMPARE(f.view.sql, std::string("select a\nfrom x"));
        QVERIFY(!f.ctl->Modified());
        QCOMPARE(f.ctl->FileName(), file);
        QCOMPARE(f.tree.TableCount(), 2);
        QCOMPARE(f.tree.Table(0).alias, std::string("x"));
        QCOMPARE(f.tree.Table(1).alias, std::string("y"));
        QCOMPARE(f.view.recent, (std::vector<std::string>{file}));
        QVERIFY(ReadAll(f.Path("config.ini")).find("file1=" + file) != std::string::npos);
    }

    void theTitleNamesTheProjectAndMarksChanges() {
        Fixture f;
        f.ctl->NewProject();
        QCOMPARE(f.view.title, std::string("Corvane"));
        f.MakeModified();
        QCOMPARE(f.view.title, std::string("Corvane -- 未命名*"));
        f.dialogs.saveFiles = {f.Path("named.cvq")};
        QVERIFY(f.ctl->Save());
        QCOMPARE(f.view.title, TitleFor(f.Path("named.cvq")));
        f.tree.AddTable(TFileDirOption{58, false, "/tmp", ""});
        f.dialogs.folders = {f.dir.path().toStdString()};
        f.ctl->AddTable();
        QCOMPARE(f.view.title, TitleFor(f.Path("named.cvq"), true));
        QVERIFY(f.ctl->Save());
        QCOMPARE(f.view.title, TitleFor(f.Path("named.cvq")));
        QCOMPARE(f.ctl->Title(), f.view.title);
    }

    void aRecentProjectThatIsGoneIsDroppedAfterTelling() {
        Fixture f;
        const std::string kept = f.SavedProject("kept.cvq", "select 1");
        const std::string gone = f.SavedProject("gone.cvq", "select 2");
        f.ctl->OpenRecent(kept);
        f.ctl->OpenRecent(gone);
        f.ctl->NewProject();
        QCOMPARE(f.view.recent, (std::vector<std::string>{gone, kept}));
        QFile::remove(QString::fromStdString(gone));
        f.ctl->OpenRecent(gone);
        QCOMPARE(f.prompt.informed, std::vector<std::string>{"找不到项目文件：" + gone +
                                                             "\n已从最近打开的列表中去掉。"});
        QCOMPARE(f.view.recent, (std::vector<std::string>{kept}));
        QCOMPARE(f.config->Recent(), (std::vector<std::string>{kept}));
        QVERIFY(ReadAll(f.Path("config.ini")).find(gone) == std::string::npos);
        QVERIFY(f.ctl->FileName().empty());
        // A missing file that is not on the list (named on the command
        // line) is an error and leaves the list alone.
        const std::string stranger = f.Path("stranger.cvq");
        f.ctl->OpenRecent(stranger);
        QCOMPARE(f.prompt.errors, std::vector<std::string>{"找不到项目文件：" + stranger});
        QCOMPARE(f.prompt.informed.size(), size_t(1));
        QCOMPARE(f.config->Recent(), (std::vector<std::string>{kept}));
    }

    void aProjectWithOneBadTableOpensWithTheOthers() {
        Fixture f;
        std::ofstream(f.Path("mixed.cvq"))
            << "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><corvane><dirlist>"
               "<dir alias='a'><![CDATA[\"/tmp\"]]></dir>"
               "<dir alias='b'><![CDATA[x]]></dir>"
               "<dir alias='c'><![CDATA[\"/usr\"]]></dir>"
               "</dirlist><sql><![CDATA[select 1]]></sql></corvane>";
        f.dialogs.openFiles = {f.Path("mixed.cvq")};
        f.ctl->OpenProject();
        QVERIFY(f.prompt.errors.empty());
        QCOMPARE(f.tree.TableCount(), 2);
        QCOMPARE(f.tree.Table(0).alias, std::string("a"));
        QCOMPARE(f.tree.Table(1).alias, std::string("c"));
        QCOMPARE(f.view.sql, std::string("select 1"));
        QCOMPARE(f.ctl->FileName(), f.Path("mixed.cvq"));
        QCOMPARE(f.prompt.informed,
                 std::vector<std::string>{
                     "项目中以下目录连接无法识别，已略过（保存项目时不再保留）：\nb：x"});
    }

    void aProjectThatCannotBeReadLeavesTheCurrentOne() {
        Fixture f;
        const std::string good = f.SavedProject("good.cvq", "select 1");
        f.ctl->OpenRecent(good);
        std::ofstream(f.Path("bad.cvq")) << "<corvane><sql>x</sql></corvane>";
        f.dialogs.openFiles = {f.Path("bad.cvq")};
        f.ctl->OpenProject();
        QCOMPARE(f.prompt.errors, std::vector<std::string>{"项目文件缺少“dirlist”元素"});
        QCOMPARE(f.view.sql, std::string("select 1"));
        QCOMPARE(f.ctl->FileName(), good);
        QCOMPARE(f.tree.TableCount(), 2);
        QCOMPARE(f.view.recent[0], good);
    }

    void recentFilesThatAreEmptyOrCurrentAreIgnored() {
        Fixture f;
        const std::string file = f.SavedProject("p.cvq", "select 1");
        f.ctl->OpenRecent(file);
        f.MakeModified();
        f.ctl->OpenRecent(file);
        f.ctl->OpenRecent("");
        QVERIFY(f.prompt.asked.empty());
        QCOMPARE(f.view.sql, std::string("select * from changed"));
    }

    void saveWritesOnlyWhenModified() {
        Fixture f;
        const std::string file = f.SavedProject("p.cvq", "select 1");
        f.ctl->OpenRecent(file);
        QFile::remove(QString::fromStdString(file));
        QVERIFY(f.ctl->Save());
        QVERIFY(!QFile::exists(QString::fromStdString(file)));
        f.MakeModified();
        QVERIFY(f.ctl->Save());
        QVERIFY(!f.ctl->Modified());
        QVERIFY(ReadAll(file).find("select * from changed") != std::string::npos);
    }

    void saveAsAppendsTheExtension_data() {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("written");
        QTest::newRow("plain name") << "query1"
                                    << "query1.cvq";
        QTest::newRow("with extension") << "q.cvq"
                                        << "q.cvq";
        QTest::newRow("a dot in the folder") << "dotted.d/query1"
                                             << "dotted.d/query1";
    }

    void saveAsAppendsTheExtension() {
        QFETCH(QString, chosen);
        QFETCH(QString, written);
        Fixture f;
        QDir(f.dir.path()).mkdir(QStringLiteral("dotted.d"));
        const std::string base = f.dir.path().toStdString() + "/";
        // The folder part of the name holds no dot except for the third row.
        QTemporaryDir plain;
        const std::string folder =
            chosen.startsWith("dotted") ? base : plain.path().toStdString() + "/";
        f.dialogs.saveFiles = {folder + chosen.toStdString()};
        f.view.SetSqlText("select 1");
        QVERIFY(f.ctl->SaveAs());
        const std::string expected = folder + written.toStdString();
        QCOMPARE(f.ctl->FileName(), expected);
        QVERIFY(QFile::exists(QString::fromStdString(expected)));
        QCOMPARE(f.view.title, TitleFor(expected));
        QCOMPARE(f.view.recent[0], expected);
    }

    void savingAnEmptyProjectKeepsTheStatement() {
        Fixture f;
        f.dialogs.saveFiles = {f.Path("e.cvq")};
        f.view.SetSqlText("select 42");
        QVERIFY(f.ctl->Save());
        TProjectData back;
        std::string error;
        QVERIFY(LoadProjectFile(f.Path("e.cvq"), back, error));
        QCOMPARE(back.sql, std::string("select 42"));
    }

    void addingATable() {
        Fixture f;
        f.dialogs.folders = {f.dir.path().toStdString(), "/no/such/dir"};
        f.ctl->AddTable();
        QCOMPARE(f.dialogs.calls, std::vector<std::string>{"folder:选择一个目录:" + f.Path("")});
        QCOMPARE(f.tree.TableCount(), 1);
        TTreeTable t = f.tree.Table(0);
        QCOMPARE(t.alias, std::string("a"));
        QCOMPARE(t.option.path, f.dir.path().toStdString());
        QCOMPARE(t.option.attrMask, 63u);
        QCOMPARE(t.option.nameMask, std::string("*"));
        QVERIFY(!t.option.subDirs);
        QVERIFY(f.ctl->Modified());
        f.ctl->AddTable();
        QCOMPARE(f.prompt.informed, std::vector<std::string>{"目录不存在"});
        QCOMPARE(f.tree.TableCount(), 1);
    }

    void editingATable() {
        Fixture f;
        f.tree.AddTable(TFileDirOption{58, false, "/tmp", ""}, "k");
        TFileDirOption changed{16, true, f.dir.path().toStdString(), "*.c"};
        f.dialogs.dirOptions = {changed, TFileDirOption{58, false, "/no/such", ""}};
        f.ctl->EditTable(f.tree.index(0, 0, f.tree.TableIndex(0)));  // a column: nothing
        QVERIFY(f.dialogs.calls.empty());
        f.ctl->EditTable(f.tree.TableIndex(0));
        QCOMPARE(f.tree.Table(0).option, changed);
        QCOMPARE(f.tree.Table(0).alias, std::string("k"));
        QVERIFY(f.ctl->Modified());
        f.ctl->EditTable(f.tree.TableIndex(0));
        QCOMPARE(f.prompt.informed, std::vector<std::string>{"目录不存在"});
        QCOMPARE(f.tree.Table(0).option, changed);
    }

    void relativeAndHomePathsAreCheckedWhereTheyLead() {
        Fixture f;
        QVERIFY(QDir(f.dir.path()).mkpath(QStringLiteral("data/v1.2")));
        QCOMPARE(f.ctl->BaseDirectory(), f.Path(""));  // a new project: the default directory
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("HOME", f.dir.path().toUtf8());
        f.tree.AddTable(TFileDirOption{58, false, "/tmp", ""}, "k");
        const TFileDirOption relative{58, false, "data/v1.2", ""};
        const TFileDirOption home{58, true, "~/data", "*.c"};
        f.dialogs.dirOptions = {relative, home, TFileDirOption{58, false, "v1.2", ""}};
        f.ctl->EditTable(f.tree.TableIndex(0));
        QCOMPARE(f.tree.Table(0).option, relative);  // kept as typed
        f.ctl->EditTable(f.tree.TableIndex(0));
        QCOMPARE(f.tree.Table(0).option, home);
        f.ctl->EditTable(f.tree.TableIndex(0));  // not below the default directory
        QCOMPARE(f.prompt.informed, std::vector<std::string>{"目录不存在"});
        qputenv("HOME", oldHome);
        // A saved project: its own directory.
        f.dialogs.saveFiles = {f.Path("data/q.cvq")};
        QVERIFY(f.ctl->SaveAs());
        QCOMPARE(f.ctl->BaseDirectory(), f.Path("data"));
        f.dialogs.dirOptions = {TFileDirOption{58, false, "v1.2", ""}};
        f.ctl->EditTable(f.tree.TableIndex(0));
        QCOMPARE(f.tree.Table(0).option.path, std::string("v1.2"));
    }

    void deletingATableAsksFirst() {
        Fixture f;
        f.tree.AddTable(TFileDirOption{}, "a");
        f.tree.AddTable(TFileDirOption{}, "b");
        f.prompt.answers = {TAnswer::No, TAnswer::Yes};
        f.ctl->DeleteTable(f.tree.TableIndex(0));
        QCOMPARE(f.tree.TableCount(), 2);
        QVERIFY(!f.ctl->Modified());
        f.ctl->DeleteTable(f.tree.TableIndex(0));
        QCOMPARE(f.tree.TableCount(), 1);
        QCOMPARE(f.tree.Table(0).alias, std::string("b"));
        QCOMPARE(f.prompt.asked, (std::vector<std::string>{"删除一个目录连接|要删除吗？|YN",
                                                           "删除一个目录连接|要删除吗？|YN"}));
        QVERIFY(f.ctl->Modified());
        f.ctl->DeleteTable(f.tree.RootIndex());
        QCOMPARE(f.prompt.asked.size(), size_t(2));
    }

    void settingsAreStoredOnOk() {
        Fixture f;
        TSettings s;
        s.recentCount = 4;
        s.defaultDir = "/d";
        f.dialogs.settings = {s};
        const std::string file = f.SavedProject("p.cvq", "select 1");
        f.ctl->OpenRecent(file);
        f.ctl->EditSettings();
        QCOMPARE(f.config->Settings().recentCount, 4);
        QVERIFY(ReadAll(f.Path("config.ini")).find("recentCount=4\n") != std::string::npos);
        QCOMPARE(f.view.recent, std::vector<std::string>{file});
        f.ctl->EditSettings();  // cancelled
        QCOMPARE(f.config->Settings().defaultDir, std::string("/d"));
    }

    void startUpReopensTheLastProject() {
        Fixture f;
        const std::string file = f.SavedProject("last.cvq", "select 7");
        {
            TConfig writer(f.Path("config.ini"), "");
            writer.PushRecent(file);
        }
        f.config = std::make_unique<TConfig>(f.Path("config.ini"), "");
        f.ctl = std::make_unique<TProjectController>(f.tree, f.view, *f.config, f.dialogs, f.prompt,
                                                     f.shell);
        f.view.controller = f.ctl.get();
        f.ctl->StartUp();
        QCOMPARE(f.view.sql, std::string("select 7"));
        QCOMPARE(f.view.title, TitleFor(file));
        QVERIFY(!f.ctl->Modified());
    }
};

QTEST_MAIN(ProjectCtlTest)
#include "U_projectCtl_test.moc"
