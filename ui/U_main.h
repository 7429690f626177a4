// U_main: the main window (TfrmMain).
//
// The form only assembles and forwards: the directory tree (tv_dirList over
// TDirTreeModel), the SQL editor (mm_sql) with the message box (mm_msg)
// under it on page "SQL", the result list (lv_rslt over TResultModel and a
// sorting proxy) on page "执行结果", the toolbar, the context menus and the
// status bar (elapsed time, row count, progress, Cancel). Project commands
// go to TProjectController, row actions to TRowActions, queries to
// TQueryRunner (a worker thread), statements generated from the tree to
// TDirTreeModel. What the form shows is what those classes answer.
//
// Its services (engine, shell, prompts, dialogs, configuration file) are
// handed in through TMainEnv, so tests build the real window with stand-ins.
#pragma once

#include <QMainWindow>
#include <QTreeView>
#include <memory>
#include <string>
#include <vector>

#include "ui/U_columns.h"
#include "ui/U_projectCtl.h"
#include "ui/U_queryRunner.h"
#include "ui/U_rowActions.h"

class QLabel;
class QMenu;
class QPlainTextEdit;
class QSplitter;
class QTabWidget;
class QToolButton;
class QAction;

namespace corvane {

class TDirTreeModel;
class TResultModel;
class TResultSortProxy;
class TSqlEditor;

// What the window needs from outside. Null services get the desktop ones.
struct TMainEnv {
    std::string programDir;   // ends in "/"; readme.html is looked up here
    std::string dataDir;      // ends in "/" or empty; then here (installed)
    std::string projectFile;  // opened at start-up instead of the last one
    std::string iniPath;      // config.ini
    std::string fallbackDir;  // replaces an empty default directory
    TEngineFactory engineFactory;
    IShellService* shell = nullptr;
    IUserPrompt* prompt = nullptr;
    IDialogs* dialogs = nullptr;
    bool autoOpen = true;  // reopen the last project (off in tests)
};

// The tree view: starts drags of directory and column nodes.
class TDirTreeView : public QTreeView {
    Q_OBJECT
  public:
    using QTreeView::QTreeView;

  protected:
    void startDrag(Qt::DropActions supportedActions) override;
};

class TfrmMain : public QMainWindow, private IProjectView {
    Q_OBJECT
  public:
    explicit TfrmMain(TMainEnv env, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // For tests and the screenshot script.
    TProjectController& Controller() { return *controller_; }
    TDirTreeModel& TreeModel() { return *treeModel_; }
    TResultModel& ResultModel() { return *resultModel_; }
    TQueryRunner& Runner() { return *runner_; }
    TSqlEditor& Editor() { return *mm_sql; }
    QString MessageText() const;
    QString StatusText(int panel) const;
    // Selects a tree node (as a click would).
    void SelectTreeNode(const QModelIndex& index);
    // Selects result rows (source rows) and makes the first current.
    void SelectResultRows(const std::vector<int>& rows);
    bool ResultHasContextMenu() const;

  public slots:
    void tbtn_executeClick();
    void tbtn_checkClick();
    void tbtn_cancelClick();
    void tbtn_newClick();
    void tbtn_saveClick();
    void tbtn_saveasClick();
    void tbtn_settingClick();
    void N10Click();
    void ppm_ARecentFileClick();
    void N6Click();
    void N1Click();
    void N2Click();
    void N4Click();
    void N5Click();
    void N9Click();
    void about1Click();
    void ppm_addClick();
    void ppm_editClick();
    void ppm_dltClick();
    void mm_sqlChange();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    // IProjectView
    std::string SqlText() const override;
    void SetSqlText(const std::string& text) override;
    void SetTitle(const std::string& title) override;
    void RecentChanged(const std::vector<std::string>& files) override;

    void CreateServices();
    void CreateActions();
    void CreateToolBar();
    void CreateWidgets();
    void CreateMenus();
    void CreateStatusBar();
    void FormCreate();

    void QueryFinished(std::shared_ptr<TQueryOutcome> outcome);
    void RenderResult(TQueryResult result);
    void SetBusy(bool busy);
    QModelIndex SelectedTreeNode() const;
    TRowFile CurrentRow() const;
    std::vector<TRowFile> SelectedRows() const;

    TMainEnv env_;
    TColumnMaps columns_;
    std::unique_ptr<IShellService> ownShell_;
    std::unique_ptr<IUserPrompt> ownPrompt_;
    std::unique_ptr<IDialogs> ownDialogs_;
    std::unique_ptr<TConfig> config_;
    std::unique_ptr<TProjectController> controller_;
    std::unique_ptr<TRowActions> rowActions_;

    TDirTreeModel* treeModel_ = nullptr;
    TResultModel* resultModel_ = nullptr;
    TResultSortProxy* resultProxy_ = nullptr;
    TQueryRunner* runner_ = nullptr;

    TDirTreeView* tv_dirList = nullptr;
    TSqlEditor* mm_sql = nullptr;
    QPlainTextEdit* mm_msg = nullptr;
    QTreeView* lv_rslt = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QSplitter* Splitter1 = nullptr;
    QSplitter* Splitter2 = nullptr;
    QLabel* statusPanels_[3] = {nullptr, nullptr, nullptr};
    QToolButton* btn_cancel = nullptr;

    QMenu* pp_open = nullptr;
    QMenu* ppm_recent = nullptr;
    QMenu* pp_help = nullptr;
    QMenu* pp_tree = nullptr;
    QMenu* pp_Dataset = nullptr;

    QAction* tbtn_open = nullptr;
    QAction* tbtn_new = nullptr;
    QAction* tbtn_save = nullptr;
    QAction* tbtn_saveas = nullptr;
    QAction* tbtn_check = nullptr;
    QAction* tbtn_execute = nullptr;
    QAction* tbtn_setting = nullptr;
    QAction* tbtn_help = nullptr;
    QAction* ppm_edit = nullptr;
    QAction* ppm_dlt = nullptr;
};

}  // namespace corvane
