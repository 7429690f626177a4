// U_main: the main window (TfrmMain).
//
// The form only assembles and forwards: the directory tree (tv_dirList over
// TDirTreeModel), the SQL editor (mm_sql) with the message box (mm_msg,
// TMessagePane) under it on page "SQL", the result list (lv_rslt over
// TResultModel and a sorting and filtering proxy, with the filter box and
// a notice line above it) on page "执行结果", the toolbar, the context
// menus and the status bar (elapsed time, row count, progress, Cancel).
// Project commands go to TProjectController, row actions to TRowActions,
// queries to TQueryRunner (a worker thread), statements generated from the
// tree to TDirTreeModel, messages to TMessageLog, column widths to
// U_columnFit and TConfig. What the form shows is what those classes
// answer.
//
// Shortcuts: F9, Ctrl+Enter and F5 run (the selection only, when there is
// one), Ctrl+F9 checks, Esc cancels a running query, Ctrl+O opens, Ctrl+N
// new, Ctrl+S saves, F1 opens the manual; in the result list Ctrl+C copies
// the selected rows and Enter or a double-click opens the row's file.
//
// Its services (engine, shell, prompts, dialogs, configuration file) are
// handed in through TMainEnv, so tests build the real window with stand-ins.
#pragma once

#include <QElapsedTimer>
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
class QLineEdit;
class QMenu;
class QSplitter;
class QTabWidget;
class QToolButton;
class QAction;

namespace corvane {

class TDirTreeModel;
class TMessagePane;
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
    TMessagePane& Messages() { return *mm_msg; }
    TResultSortProxy& ResultView() { return *resultProxy_; }
    QTreeView& ResultList() { return *lv_rslt; }
    TConfig& Config() { return *config_; }
    QString MessageText() const;
    QString StatusText(int panel) const;
    // The notice line above the result list (empty when hidden).
    QString ResultNotice() const;
    // Selects a tree node (as a click would).
    void SelectTreeNode(const QModelIndex& index);
    // Selects result rows (source rows) and makes the first current.
    void SelectResultRows(const std::vector<int>& rows);
    // The file actions of the result list's context menu are enabled
    // (the result has "filename" and "path").
    bool ResultHasContextMenu() const;
    // The filter box above the result list.
    void SetResultFilter(const QString& text);

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
    // Tree, directory node: "查找重复文件" puts the duplicate report of the
    // table in the editor, like a generated script.
    void FindDuplicatesClick();
    void N1Click();
    void N2Click();
    void N4Click();
    void N5Click();
    void N9Click();
    void about1Click();
    // Result list: copy the selected rows, copy their full paths, export.
    void CopyRows();
    void CopyPaths();
    void ExportCsv();
    void ExportJson();
    // The toolbar button: the format chosen last (CSV at first).
    void ExportLast();
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

    // Puts a generated statement in the editor as one undoable step: into
    // an empty editor at once, else where the user chooses (at the cursor,
    // in place of everything, or not at all).
    void PutGeneratedScript(const std::string& script);
    void CreateServices();
    void CreateActions();
    void CreateToolBar();
    void CreateWidgets();
    void CreateMenus();
    void CreateStatusBar();
    void FormCreate();
    void RestoreWindowState();
    void SaveWindowState();

    void SettingsChanged(const TSettings& settings) override;
    void QueryFinished(std::shared_ptr<TQueryOutcome> outcome);
    void ShowProgress(long long listed, long long joined);
    void RenderResult(TQueryResult result);
    void FitColumns();
    void ColumnResized(int column, int newWidth);
    void ForgetColumnWidths();
    void UpdateFilterCount();
    void SetBusy(bool busy);
    void ExportResult(TResultFormat format);
    void ShowErrors(const std::vector<TStatementError>& errors);
    QModelIndex SelectedTreeNode() const;
    TRowFile CurrentRow() const;
    std::vector<TRowFile> SelectedRows() const;
    // Selected source rows in the order the list shows them.
    std::vector<int> SelectedSourceRows() const;

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
    TMessagePane* mm_msg = nullptr;
    QTreeView* lv_rslt = nullptr;
    QLineEdit* edt_filter = nullptr;
    QLabel* lbl_filterCount = nullptr;
    QLabel* lbl_notice = nullptr;
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
    QAction* tbtn_export = nullptr;
    QAction* act_cancel = nullptr;
    QAction* act_copy = nullptr;
    QAction* act_copyPaths = nullptr;
    QAction* ppm_edit = nullptr;
    QAction* ppm_dlt = nullptr;
    QAction* ppm_duplicates = nullptr;
    QList<QAction*> rowFileActions_;  // enabled only with filename and path
    QMenu* pp_export = nullptr;

    // The statement of the running query: where it starts in the editor
    // text, and that text (for the lines and columns of its errors).
    int runStart_ = 0;
    std::string runEditorText_;
    QElapsedTimer runClock_;
    bool applyingWidths_ = false;
    // Export: the folder and format used last; a write in progress (its
    // progress box lets events through, so nothing may replace the rows).
    std::string exportDir_;
    TResultFormat exportFormat_ = TResultFormat::rfCsv;
    bool exporting_ = false;  // column widths set by the program, not the user
};

}  // namespace corvane
