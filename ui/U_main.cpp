// U_main: see U_main.h.
#include "ui/U_main.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDrag>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "ui/U_about.h"
#include "ui/U_desktop.h"
#include "ui/U_dirTree.h"
#include "ui/U_hostHooks.h"
#include "ui/U_resultModel.h"
#include "ui/U_sqlEditor.h"

namespace corvane {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The engine's error list ends every message with CR LF; the message box
// shows plain lines.
QString AsLines(const std::string& text) {
    QString lines = Q(text);
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return lines;
}

}  // namespace

void TDirTreeView::startDrag(Qt::DropActions) {
    auto* tree = qobject_cast<TDirTreeModel*>(model());
    const QModelIndex node = currentIndex();
    if (!tree || tree->KindOf(node) == TDirTreeModel::nkRoot) return;
    const std::string text = tree->DragTextFor(node, isExpanded(node));
    if (text.empty()) return;
    auto* mime = new QMimeData;  // owned by the drag
    mime->setData(QString::fromLatin1(TDirTreeModel::kDragMimeType),
                  QByteArray::fromStdString(text));
    mime->setText(Q(text));
    auto* drag = new QDrag(this);  // deletes itself after exec
    drag->setMimeData(mime);
    drag->exec(Qt::CopyAction);
}

TfrmMain::TfrmMain(TMainEnv env, QWidget* parent) : QMainWindow(parent), env_(std::move(env)) {
    CreateServices();
    CreateActions();
    CreateToolBar();
    CreateWidgets();
    CreateMenus();
    CreateStatusBar();
    FormCreate();
}

TfrmMain::~TfrmMain() {
    // FormDestroy: a query still running is cancelled and waited for, so
    // the engine never outlives the window.
    runner_->Stop();
}

void TfrmMain::CreateServices() {
    if (!env_.shell) ownShell_ = std::make_unique<TDesktopShell>();
    if (!env_.prompt) ownPrompt_ = std::make_unique<TMessagePrompt>(this);
    if (!env_.dialogs) ownDialogs_ = std::make_unique<TFormDialogs>(this);
    if (!env_.shell) env_.shell = ownShell_.get();
    if (!env_.prompt) env_.prompt = ownPrompt_.get();
    if (!env_.dialogs) env_.dialogs = ownDialogs_.get();
    runner_ = new TQueryRunner(env_.engineFactory, this);
    connect(runner_, &TQueryRunner::Finished, this, &TfrmMain::QueryFinished);
    connect(runner_, &TQueryRunner::Progress, this, [this](long long listed) {
        statusPanels_[2]->setText(QStringLiteral("已列出：%1").arg(listed));
    });
    rowActions_ = std::make_unique<TRowActions>(*env_.shell, *env_.prompt);
}

void TfrmMain::CreateActions() {
    auto make = [this](const QString& text, const QString& tip, void (TfrmMain::*slot)()) {
        auto* action = new QAction(text, this);
        action->setStatusTip(tip);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    tbtn_open = new QAction(QStringLiteral("打开"), this);
    tbtn_open->setStatusTip(QStringLiteral("打开一个项目"));
    connect(tbtn_open, &QAction::triggered, this, &TfrmMain::N10Click);
    tbtn_new =
        make(QStringLiteral("新建"), QStringLiteral("新建一个项目"), &TfrmMain::tbtn_newClick);
    tbtn_new->setShortcut(QKeySequence::New);
    tbtn_save = make(QStringLiteral("保存"), QStringLiteral("保存项目"), &TfrmMain::tbtn_saveClick);
    tbtn_save->setShortcut(QKeySequence::Save);
    tbtn_saveas = make(QStringLiteral("另存为"), QStringLiteral("把项目保存到另一个文件"),
                       &TfrmMain::tbtn_saveasClick);
    tbtn_check = make(QStringLiteral(" 语法检查 "), QStringLiteral("检查语句的语法"),
                      &TfrmMain::tbtn_checkClick);
    tbtn_check->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F9));
    tbtn_execute =
        make(QStringLiteral("执行"), QStringLiteral("执行语句"), &TfrmMain::tbtn_executeClick);
    tbtn_execute->setShortcut(QKeySequence(Qt::Key_F9));
    tbtn_setting =
        make(QStringLiteral("设置"), QStringLiteral("程序设置"), &TfrmMain::tbtn_settingClick);
    tbtn_help = make(QStringLiteral("帮助"), QStringLiteral("使用说明"), &TfrmMain::N9Click);
}

void TfrmMain::CreateToolBar() {
    QToolBar* bar = addToolBar(QStringLiteral("toolbar"));
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    bar->addAction(tbtn_open);
    bar->addAction(tbtn_new);
    bar->addAction(tbtn_save);
    bar->addAction(tbtn_saveas);
    bar->addSeparator();
    bar->addAction(tbtn_check);
    bar->addAction(tbtn_execute);
    bar->addSeparator();
    bar->addAction(tbtn_setting);
    bar->addAction(tbtn_help);
}

void TfrmMain::CreateWidgets() {
    const QIcon folder = style()->standardIcon(QStyle::SP_DirIcon);
    const QIcon file = style()->standardIcon(QStyle::SP_FileIcon);

    treeModel_ = new TDirTreeModel(columns_, folder, file, this);
    tv_dirList = new TDirTreeView(this);
    tv_dirList->setObjectName(QStringLiteral("tv_dirList"));
    tv_dirList->setModel(treeModel_);
    tv_dirList->setHeaderHidden(true);
    tv_dirList->setDragEnabled(true);
    tv_dirList->setDragDropMode(QAbstractItemView::DragOnly);
    tv_dirList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tv_dirList->setContextMenuPolicy(Qt::CustomContextMenu);
    tv_dirList->expand(treeModel_->RootIndex());

    mm_sql = new TSqlEditor(this);
    mm_sql->setObjectName(QStringLiteral("mm_sql"));
    connect(mm_sql, &QsciScintilla::textChanged, this, &TfrmMain::mm_sqlChange);
    mm_msg = new QPlainTextEdit(this);
    mm_msg->setObjectName(QStringLiteral("mm_msg"));
    mm_msg->setReadOnly(true);
    mm_msg->setToolTip(QStringLiteral("消息框"));
    Splitter2 = new QSplitter(Qt::Vertical, this);
    Splitter2->setObjectName(QStringLiteral("Splitter2"));
    Splitter2->addWidget(mm_sql);
    Splitter2->addWidget(mm_msg);
    Splitter2->setStretchFactor(0, 4);
    Splitter2->setStretchFactor(1, 1);

    resultModel_ = new TResultModel(folder, file, this);
    resultProxy_ = new TResultSortProxy(this);
    resultProxy_->setSourceModel(resultModel_);
    resultProxy_->setDynamicSortFilter(false);
    lv_rslt = new QTreeView(this);
    lv_rslt->setObjectName(QStringLiteral("lv_rslt"));
    lv_rslt->setModel(resultProxy_);
    lv_rslt->setRootIsDecorated(false);
    lv_rslt->setUniformRowHeights(true);
    lv_rslt->setAllColumnsShowFocus(true);
    lv_rslt->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lv_rslt->setSelectionBehavior(QAbstractItemView::SelectRows);
    lv_rslt->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lv_rslt->setSortingEnabled(true);
    lv_rslt->header()->setSortIndicator(-1, Qt::AscendingOrder);
    lv_rslt->header()->setStretchLastSection(false);
    lv_rslt->setContextMenuPolicy(Qt::NoContextMenu);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setTabPosition(QTabWidget::South);
    PageControl1->addTab(Splitter2, QStringLiteral("SQL"));
    PageControl1->addTab(lv_rslt, QStringLiteral("执行结果"));

    Splitter1 = new QSplitter(Qt::Horizontal, this);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->addWidget(tv_dirList);
    Splitter1->addWidget(PageControl1);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({200, 700});
    setCentralWidget(Splitter1);
    resize(1000, 650);
}

void TfrmMain::CreateMenus() {
    pp_open = new QMenu(this);
    pp_open->setObjectName(QStringLiteral("pp_open"));
    pp_open->addAction(QStringLiteral("打开..."), this, &TfrmMain::N10Click);
    ppm_recent = pp_open->addMenu(QStringLiteral("最近打开的"));
    ppm_recent->setObjectName(QStringLiteral("ppm_recent"));
    ppm_recent->setToolTipsVisible(true);
    tbtn_open->setMenu(pp_open);

    pp_help = new QMenu(this);
    pp_help->setObjectName(QStringLiteral("pp_help"));
    pp_help->addAction(QStringLiteral("使用说明"), this, &TfrmMain::N9Click);
    pp_help->addAction(QStringLiteral("关于..."), this, &TfrmMain::about1Click);
    tbtn_help->setMenu(pp_help);
    if (auto* bar = findChild<QToolBar*>(QStringLiteral("ToolBar1"))) {
        for (QAction* action : {tbtn_open, tbtn_help})
            if (auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action)))
                button->setPopupMode(QToolButton::MenuButtonPopup);
    }

    pp_tree = new QMenu(this);
    pp_tree->setObjectName(QStringLiteral("pp_tree"));
    pp_tree->addAction(QStringLiteral("自动生成脚本"), this, &TfrmMain::N6Click);
    pp_tree->addAction(QStringLiteral("添加"), this, &TfrmMain::ppm_addClick);
    ppm_edit = pp_tree->addAction(QStringLiteral("编辑"), this, &TfrmMain::ppm_editClick);
    ppm_dlt = pp_tree->addAction(QStringLiteral("删除"), this, &TfrmMain::ppm_dltClick);
    connect(tv_dirList, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const bool onTable = treeModel_->KindOf(SelectedTreeNode()) == TDirTreeModel::nkTable;
        ppm_edit->setEnabled(onTable);
        ppm_dlt->setEnabled(onTable);
        pp_tree->popup(tv_dirList->viewport()->mapToGlobal(pos));
    });

    pp_Dataset = new QMenu(this);
    pp_Dataset->setObjectName(QStringLiteral("pp_Dataset"));
    pp_Dataset->addAction(QStringLiteral("打开"), this, &TfrmMain::N1Click);
    pp_Dataset->addAction(QStringLiteral("打开所在目录"), this, &TfrmMain::N2Click);
    pp_Dataset->addAction(QStringLiteral("定位"), this, &TfrmMain::N4Click);
    pp_Dataset->addAction(QStringLiteral("删除"), this, &TfrmMain::N5Click);
    connect(lv_rslt, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        pp_Dataset->popup(lv_rslt->viewport()->mapToGlobal(pos));
    });
}

void TfrmMain::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    const int widths[3] = {160, 140, 160};
    for (int i = 0; i < 3; ++i) {
        statusPanels_[i] = new QLabel(this);
        statusPanels_[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        statusPanels_[i]->setMinimumWidth(widths[i]);
        bar->addWidget(statusPanels_[i]);
    }
    btn_cancel = new QToolButton(this);
    btn_cancel->setObjectName(QStringLiteral("btn_cancel"));
    btn_cancel->setText(QStringLiteral("取消"));
    btn_cancel->setToolTip(QStringLiteral("停止正在执行的查询"));
    btn_cancel->setEnabled(false);
    connect(btn_cancel, &QToolButton::clicked, this, &TfrmMain::tbtn_cancelClick);
    bar->addPermanentWidget(btn_cancel);
}

void TfrmMain::FormCreate() {
    setWindowTitle(QStringLiteral("Corvane"));
    config_ = std::make_unique<TConfig>(env_.iniPath, env_.fallbackDir);
    runner_->SetMemoryLimit(config_->MemoryLimit());
    controller_ =
        std::make_unique<TProjectController>(*treeModel_, static_cast<IProjectView&>(*this),
                                             *config_, *env_.dialogs, *env_.prompt, *env_.shell);
    RecentChanged(config_->Recent());
    // A project named on the command line (a double-click on a .cvq file)
    // wins over reopening the last one.
    if (!env_.projectFile.empty())
        controller_->OpenRecent(env_.projectFile);
    else if (env_.autoOpen)
        controller_->StartUp();
}

// ---- IProjectView

std::string TfrmMain::SqlText() const {
    return mm_sql->Text();
}

void TfrmMain::SetSqlText(const std::string& text) {
    mm_sql->SetText(text);
}

void TfrmMain::SetTitle(const std::string& title) {
    setWindowTitle(Q(title));
}

void TfrmMain::RecentChanged(const std::vector<std::string>& files) {
    ppm_recent->clear();
    for (const std::string& file : files) {
        QAction* item = ppm_recent->addAction(Q(file), this, &TfrmMain::ppm_ARecentFileClick);
        item->setToolTip(Q(file));
        item->setStatusTip(Q(file));
        item->setData(Q(file));
        item->setEnabled(!file.empty());
    }
}

// ---- accessors for tests

QString TfrmMain::MessageText() const {
    return mm_msg->toPlainText();
}

QString TfrmMain::StatusText(int panel) const {
    return statusPanels_[panel]->text();
}

void TfrmMain::SelectTreeNode(const QModelIndex& index) {
    tv_dirList->setCurrentIndex(index);
}

void TfrmMain::SelectResultRows(const std::vector<int>& rows) {
    lv_rslt->clearSelection();
    QItemSelection selection;
    for (int row : rows) {
        QModelIndex index = resultProxy_->mapFromSource(resultModel_->index(row, 0));
        selection.select(index, index);
    }
    lv_rslt->selectionModel()->select(selection,
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    if (!rows.empty())
        lv_rslt->selectionModel()->setCurrentIndex(
            resultProxy_->mapFromSource(resultModel_->index(rows.front(), 0)),
            QItemSelectionModel::NoUpdate);
}

bool TfrmMain::ResultHasContextMenu() const {
    return lv_rslt->contextMenuPolicy() == Qt::CustomContextMenu;
}

// ---- queries

void TfrmMain::tbtn_executeClick() {
    const std::string sql = SqlText();
    if (sql.empty() || runner_->IsRunning()) return;
    SetBusy(true);
    statusPanels_[2]->setText(QStringLiteral("已列出：0"));
    runner_->Start(sql, controller_->BaseDirectory());
}

void TfrmMain::tbtn_cancelClick() {
    runner_->Cancel();
    btn_cancel->setEnabled(false);
    statusPanels_[2]->setText(QStringLiteral("正在取消…"));
}

void TfrmMain::SetBusy(bool busy) {
    tbtn_execute->setEnabled(!busy);
    tbtn_check->setEnabled(!busy);
    btn_cancel->setEnabled(busy);
    if (busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void TfrmMain::QueryFinished(std::shared_ptr<TQueryOutcome> outcome) {
    SetBusy(false);
    QString message =
        outcome->parseErrors.empty() ? QStringLiteral("OK") : AsLines(outcome->parseErrors);
    for (const std::string& warning : outcome->warnings)  // what could not be read
        message += QLatin1Char('\n') + Q(warning);
    mm_msg->setPlainText(message);
    if (outcome->executed) {
        RenderResult(std::move(outcome->result));
        PageControl1->setCurrentIndex(1);
    }
    statusPanels_[0]->setText(QStringLiteral("用时：%1毫秒").arg(outcome->elapsedMs));
    if (outcome->cancelled) statusPanels_[2]->setText(QStringLiteral("已取消"));
    if (!outcome->runError.empty()) env_.prompt->Error(outcome->runError);
}

void TfrmMain::RenderResult(TQueryResult result) {
    lv_rslt->setUpdatesEnabled(false);
    lv_rslt->header()->setSortIndicator(-1, Qt::AscendingOrder);
    resultProxy_->sort(-1);
    resultModel_->SetResult(std::move(result), columns_);
    for (int c = 0; c < resultModel_->columnCount(); ++c)
        lv_rslt->setColumnWidth(c, resultModel_->ColumnWidth(c));
    lv_rslt->setContextMenuPolicy(resultModel_->HasRowActions() ? Qt::CustomContextMenu
                                                                : Qt::NoContextMenu);
    statusPanels_[1]->setText(Q(resultModel_->CountText()));
    lv_rslt->setUpdatesEnabled(true);
}

void TfrmMain::tbtn_checkClick() {
    const std::string sql = SqlText();
    if (sql.empty() || runner_->IsRunning()) return;
    try {
        mm_msg->setPlainText(AsLines(CheckSyntax(env_.engineFactory, sql)));
    } catch (const std::exception& e) {
        env_.prompt->Error(FailureText(e));
    }
}

// ---- tree

QModelIndex TfrmMain::SelectedTreeNode() const {
    return tv_dirList->currentIndex();
}

void TfrmMain::N6Click() {
    const std::string script = treeModel_->ScriptFor(SelectedTreeNode());
    if (script.empty()) return;
    SetSqlText(script);
    PageControl1->setCurrentIndex(0);
    mm_sql->setFocus();
}

void TfrmMain::ppm_addClick() {
    controller_->AddTable();
    tv_dirList->expand(treeModel_->RootIndex());
}

void TfrmMain::ppm_editClick() {
    controller_->EditTable(SelectedTreeNode());
}

void TfrmMain::ppm_dltClick() {
    controller_->DeleteTable(SelectedTreeNode());
}

// ---- result rows

TRowFile TfrmMain::CurrentRow() const {
    const QModelIndex current = lv_rslt->currentIndex();
    if (!current.isValid() || !lv_rslt->selectionModel()->isRowSelected(current.row(), {}))
        return {};
    const int row = resultProxy_->mapToSource(current).row();
    return {row, resultModel_->Directory(row), resultModel_->FileName(row)};
}

std::vector<TRowFile> TfrmMain::SelectedRows() const {
    std::vector<TRowFile> rows;
    for (const QModelIndex& index : lv_rslt->selectionModel()->selectedRows()) {
        const int row = resultProxy_->mapToSource(index).row();
        rows.push_back({row, resultModel_->Directory(row), resultModel_->FileName(row)});
    }
    return rows;
}

void TfrmMain::N1Click() {
    rowActions_->Open(CurrentRow());
}

void TfrmMain::N2Click() {
    rowActions_->OpenFolder(CurrentRow());
}

void TfrmMain::N4Click() {
    rowActions_->Locate(CurrentRow());
}

void TfrmMain::N5Click() {
    std::vector<int> gone = rowActions_->Delete(SelectedRows());
    if (gone.empty()) return;
    resultModel_->RemoveRowsAt(std::move(gone));
    statusPanels_[1]->setText(Q(resultModel_->CountText()));
}

// ---- project commands

void TfrmMain::mm_sqlChange() {
    controller_->SqlChanged();
}

void TfrmMain::tbtn_newClick() {
    controller_->NewProject();
}

void TfrmMain::tbtn_saveClick() {
    controller_->Save();
}

void TfrmMain::tbtn_saveasClick() {
    controller_->SaveAs();
}

void TfrmMain::N10Click() {
    controller_->OpenProject();
}

void TfrmMain::ppm_ARecentFileClick() {
    if (auto* item = qobject_cast<QAction*>(sender()))
        controller_->OpenRecent(item->data().toString().toStdString());
}

void TfrmMain::tbtn_settingClick() {
    controller_->EditSettings();
}

void TfrmMain::N9Click() {
    // A build or a portable copy has the manual next to the program, an
    // installed program in its data directory.
    std::string manual = env_.programDir + "readme.html";
    if (!QFileInfo::exists(Q(manual)) && !env_.dataDir.empty() &&
        QFileInfo::exists(Q(env_.dataDir + "readme.html")))
        manual = env_.dataDir + "readme.html";
    if (!QFileInfo::exists(Q(manual))) {
        env_.prompt->Inform("找不到使用说明：" + manual);
        return;
    }
    env_.shell->OpenPath(manual);
}

void TfrmMain::about1Click() {
    TAboutBox box(this);
    box.exec();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (!controller_->QueryClose()) {
        event->ignore();
        return;
    }
    SetHostHooksClosing(true);  // a script waiting for a dialog gives up
    runner_->Stop();
    event->accept();
}

}  // namespace corvane
