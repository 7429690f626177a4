// U_main: see U_main.h.
#include "ui/U_main.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDrag>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressDialog>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/Text.h"
#include "ui/U_about.h"
#include "ui/U_columnFit.h"
#include "ui/U_desktop.h"
#include "ui/U_dirTree.h"
#include "ui/U_export.h"
#include "ui/U_hostHooks.h"
#include "ui/U_messages.h"
#include "ui/U_resultModel.h"
#include "ui/U_sqlEditor.h"

namespace corvane {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// "text (F9, Ctrl+Enter)": a tooltip that names the shortcuts.
QString WithShortcuts(const QString& text, const QList<QKeySequence>& keys) {
    QStringList names;
    for (const QKeySequence& key : keys)
        names << key.toString(QKeySequence::NativeText);
    return names.isEmpty() ? text
                           : text + QStringLiteral(" (") + names.join(QStringLiteral(", ")) + u')';
}

void SetShortcuts(QAction* action, const QList<QKeySequence>& keys) {
    action->setShortcuts(keys);
    action->setToolTip(
        WithShortcuts(action->statusTip().isEmpty() ? action->text() : action->statusTip(), keys));
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
    if (!env_.dialogs) ownDialogs_ = std::make_unique<TFormDialogs>(this, [this] { N9Click(); });
    if (!env_.shell) env_.shell = ownShell_.get();
    if (!env_.prompt) env_.prompt = ownPrompt_.get();
    if (!env_.dialogs) env_.dialogs = ownDialogs_.get();
    runner_ = new TQueryRunner(env_.engineFactory, this);
    connect(runner_, &TQueryRunner::Finished, this, &TfrmMain::QueryFinished);
    connect(runner_, &TQueryRunner::Progress, this, &TfrmMain::ShowProgress);
    rowActions_ = std::make_unique<TRowActions>(*env_.shell, *env_.prompt);
}

void TfrmMain::CreateActions() {
    auto make = [this](const QString& text, const QString& tip, void (TfrmMain::*slot)()) {
        auto* action = new QAction(text, this);
        action->setStatusTip(tip);
        action->setToolTip(tip);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    tbtn_open = make(QStringLiteral("打开"), QStringLiteral("打开一个项目"), &TfrmMain::N10Click);
    SetShortcuts(tbtn_open, {QKeySequence::Open});
    tbtn_new =
        make(QStringLiteral("新建"), QStringLiteral("新建一个项目"), &TfrmMain::tbtn_newClick);
    SetShortcuts(tbtn_new, {QKeySequence::New});
    tbtn_save = make(QStringLiteral("保存"), QStringLiteral("保存项目"), &TfrmMain::tbtn_saveClick);
    SetShortcuts(tbtn_save, {QKeySequence::Save});
    tbtn_saveas = make(QStringLiteral("另存为"), QStringLiteral("把项目保存到另一个文件"),
                       &TfrmMain::tbtn_saveasClick);
    SetShortcuts(tbtn_saveas, {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)});
    tbtn_check = make(QStringLiteral(" 语法检查 "), QStringLiteral("检查语句的语法"),
                      &TfrmMain::tbtn_checkClick);
    SetShortcuts(tbtn_check, {QKeySequence(Qt::CTRL | Qt::Key_F9)});
    tbtn_execute =
        make(QStringLiteral("执行"), QStringLiteral("执行语句（有选中的文字时只执行选中部分）"),
             &TfrmMain::tbtn_executeClick);
    SetShortcuts(tbtn_execute, {QKeySequence(Qt::Key_F9), QKeySequence(Qt::CTRL | Qt::Key_Return),
                                QKeySequence(Qt::CTRL | Qt::Key_Enter), QKeySequence(Qt::Key_F5)});
    act_cancel = make(QStringLiteral("取消"), QStringLiteral("停止正在执行的查询"),
                      &TfrmMain::tbtn_cancelClick);
    SetShortcuts(act_cancel, {QKeySequence(Qt::Key_Escape)});
    act_cancel->setEnabled(false);
    addAction(act_cancel);
    tbtn_export = make(QStringLiteral("导出"), QStringLiteral("把结果导出为 CSV 或 JSON 文件"),
                       &TfrmMain::ExportLast);
    tbtn_export->setEnabled(false);
    tbtn_setting =
        make(QStringLiteral("设置"), QStringLiteral("程序设置"), &TfrmMain::tbtn_settingClick);
    tbtn_help = make(QStringLiteral("帮助"), QStringLiteral("使用说明"), &TfrmMain::N9Click);
    SetShortcuts(tbtn_help, {QKeySequence(Qt::Key_F1)});
    act_copy = make(QStringLiteral("复制"), QStringLiteral("复制选中的行（制表符分隔，含标题行）"),
                    &TfrmMain::CopyRows);
    SetShortcuts(act_copy, {QKeySequence::Copy});
    act_copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    act_copyPaths = make(QStringLiteral("复制完整路径"),
                         QStringLiteral("复制选中行的完整路径，每行一个"), &TfrmMain::CopyPaths);
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
    bar->addAction(tbtn_export);
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
    mm_msg = new TMessagePane(this);
    mm_msg->setObjectName(QStringLiteral("mm_msg"));
    mm_msg->setToolTip(QStringLiteral("消息框"));
    connect(mm_msg, &TMessagePane::PositionActivated, this, [this](int pos) {
        PageControl1->setCurrentIndex(0);
        mm_sql->GoToByte(pos);
    });
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
    lv_rslt->setTextElideMode(Qt::ElideMiddle);
    lv_rslt->setSortingEnabled(true);
    lv_rslt->header()->setSortIndicator(-1, Qt::AscendingOrder);
    lv_rslt->header()->setStretchLastSection(false);
    lv_rslt->header()->setContextMenuPolicy(Qt::CustomContextMenu);
    lv_rslt->setContextMenuPolicy(Qt::CustomContextMenu);
    lv_rslt->addAction(act_copy);
    connect(lv_rslt->header(), &QHeaderView::sectionResized, this,
            [this](int column, int, int width) { ColumnResized(column, width); });
    // Enter and a double-click open the row's file (not "activated": with
    // a single-click style that would open files on every click).
    auto openRow = [this] {
        if (resultModel_->HasRowActions()) N1Click();
    };
    connect(lv_rslt, &QAbstractItemView::doubleClicked, this, openRow);
    auto* enter = new QAction(this);
    enter->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    enter->setShortcutContext(Qt::WidgetShortcut);
    connect(enter, &QAction::triggered, this, openRow);
    lv_rslt->addAction(enter);

    edt_filter = new QLineEdit(this);
    edt_filter->setObjectName(QStringLiteral("edt_filter"));
    edt_filter->setPlaceholderText(
        QStringLiteral("筛选：只显示含有这段文字的行（不重新执行查询）"));
    edt_filter->setClearButtonEnabled(true);
    connect(edt_filter, &QLineEdit::textChanged, this, [this](const QString& text) {
        resultProxy_->SetFilterText(text);
        UpdateFilterCount();
    });
    lbl_filterCount = new QLabel(this);
    lbl_filterCount->setObjectName(QStringLiteral("lbl_filterCount"));
    lbl_notice = new QLabel(this);
    lbl_notice->setObjectName(QStringLiteral("lbl_notice"));
    lbl_notice->setWordWrap(true);
    lbl_notice->setStyleSheet(
        QStringLiteral("QLabel { background: #fff4d0; border: 1px solid #e0c060; padding: 3px; }"));
    lbl_notice->hide();
    auto* filterRow = new QHBoxLayout;
    filterRow->setContentsMargins(0, 0, 0, 0);
    filterRow->addWidget(edt_filter, 1);
    filterRow->addWidget(lbl_filterCount);
    auto* resultPage = new QWidget(this);
    resultPage->setObjectName(QStringLiteral("resultPage"));
    auto* resultLayout = new QVBoxLayout(resultPage);
    resultLayout->setContentsMargins(2, 2, 2, 0);
    resultLayout->setSpacing(2);
    resultLayout->addLayout(filterRow);
    resultLayout->addWidget(lbl_notice);
    resultLayout->addWidget(lv_rslt, 1);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setTabPosition(QTabWidget::South);
    PageControl1->addTab(Splitter2, QStringLiteral("SQL"));
    PageControl1->addTab(resultPage, QStringLiteral("执行结果"));

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

    pp_export = new QMenu(this);
    pp_export->setObjectName(QStringLiteral("pp_export"));
    pp_export->addAction(QStringLiteral("导出为 CSV..."), this, &TfrmMain::ExportCsv);
    pp_export->addAction(QStringLiteral("导出为 JSON..."), this, &TfrmMain::ExportJson);
    tbtn_export->setMenu(pp_export);
    if (auto* bar = findChild<QToolBar*>(QStringLiteral("ToolBar1"))) {
        for (QAction* action : {tbtn_open, tbtn_help, tbtn_export})
            if (auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action)))
                button->setPopupMode(QToolButton::MenuButtonPopup);
    }

    pp_tree = new QMenu(this);
    pp_tree->setObjectName(QStringLiteral("pp_tree"));
    pp_tree->addAction(QStringLiteral("自动生成脚本"), this, &TfrmMain::N6Click);
    ppm_duplicates =
        pp_tree->addAction(QStringLiteral("查找重复文件"), this, &TfrmMain::FindDuplicatesClick);
    ppm_duplicates->setToolTip(QStringLiteral("生成一条语句：这个目录表中内容相同的文件"));
    pp_tree->addAction(QStringLiteral("添加"), this, &TfrmMain::ppm_addClick);
    ppm_edit = pp_tree->addAction(QStringLiteral("编辑"), this, &TfrmMain::ppm_editClick);
    ppm_dlt = pp_tree->addAction(QStringLiteral("删除"), this, &TfrmMain::ppm_dltClick);
    connect(tv_dirList, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const bool onTable = treeModel_->KindOf(SelectedTreeNode()) == TDirTreeModel::nkTable;
        ppm_edit->setEnabled(onTable);
        ppm_dlt->setEnabled(onTable);
        ppm_duplicates->setEnabled(onTable);
        pp_tree->popup(tv_dirList->viewport()->mapToGlobal(pos));
    });

    pp_Dataset = new QMenu(this);
    pp_Dataset->setObjectName(QStringLiteral("pp_Dataset"));
    QAction* open = pp_Dataset->addAction(QStringLiteral("打开"), this, &TfrmMain::N1Click);
    open->setShortcutVisibleInContextMenu(true);
    QAction* folderAction =
        pp_Dataset->addAction(QStringLiteral("打开所在目录"), this, &TfrmMain::N2Click);
    QAction* locate = pp_Dataset->addAction(QStringLiteral("定位"), this, &TfrmMain::N4Click);
    QAction* trash = pp_Dataset->addAction(QStringLiteral("删除"), this, &TfrmMain::N5Click);
    trash->setToolTip(QStringLiteral("把选中的文件移到回收站"));
    pp_Dataset->addSeparator();
    pp_Dataset->addAction(act_copy);
    pp_Dataset->addAction(act_copyPaths);
    pp_Dataset->addSeparator();
    pp_Dataset->addAction(QStringLiteral("导出为 CSV..."), this, &TfrmMain::ExportCsv);
    pp_Dataset->addAction(QStringLiteral("导出为 JSON..."), this, &TfrmMain::ExportJson);
    rowFileActions_ = {open, folderAction, locate, trash, act_copyPaths};
    connect(lv_rslt, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        for (QAction* action : rowFileActions_)
            action->setEnabled(resultModel_->HasRowActions());
        pp_Dataset->popup(lv_rslt->viewport()->mapToGlobal(pos));
    });

    auto* headerMenu = new QMenu(this);
    headerMenu->setObjectName(QStringLiteral("pp_header"));
    headerMenu->addAction(QStringLiteral("自动调整列宽"), this, &TfrmMain::ForgetColumnWidths)
        ->setToolTip(QStringLiteral("忘记手动设置的列宽，按内容重新调整"));
    connect(lv_rslt->header(), &QWidget::customContextMenuRequested, this,
            [this, headerMenu](const QPoint& pos) {
                headerMenu->popup(lv_rslt->header()->mapToGlobal(pos));
            });
}

void TfrmMain::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    const int widths[3] = {160, 140, 220};
    for (int i = 0; i < 3; ++i) {
        statusPanels_[i] = new QLabel(this);
        statusPanels_[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        statusPanels_[i]->setMinimumWidth(widths[i]);
        bar->addWidget(statusPanels_[i]);
    }
    btn_cancel = new QToolButton(this);
    btn_cancel->setObjectName(QStringLiteral("btn_cancel"));
    btn_cancel->setDefaultAction(act_cancel);
    bar->addPermanentWidget(btn_cancel);
}

void TfrmMain::FormCreate() {
    setWindowTitle(QStringLiteral("Corvane"));
    config_ = std::make_unique<TConfig>(env_.iniPath, env_.fallbackDir);
    runner_->SetMemoryLimit(config_->MemoryLimit());
    runner_->SetListingThreads(config_->ListingThreads());
    controller_ =
        std::make_unique<TProjectController>(*treeModel_, static_cast<IProjectView&>(*this),
                                             *config_, *env_.dialogs, *env_.prompt, *env_.shell);
    resultModel_->SetDisplayOptions({DisplayLocale(), config_->Settings().humanSizes});
    RecentChanged(config_->Recent());
    RestoreWindowState();
    // A project named on the command line (a double-click on a .cvq file)
    // wins over reopening the last one.
    if (!env_.projectFile.empty())
        controller_->OpenRecent(env_.projectFile);
    else if (env_.autoOpen)
        controller_->StartUp();
}

// Window geometry, splitter positions and the last page, kept in config.ini
// as base64 texts of Qt's own state blobs.
void TfrmMain::RestoreWindowState() {
    auto blob = [this](const char* key) {
        return QByteArray::fromBase64(QByteArray::fromStdString(config_->WindowValue(key)));
    };
    const QByteArray geometry = blob("geometry");
    if (!geometry.isEmpty()) restoreGeometry(geometry);
    const QByteArray tree = blob("splitter1");
    if (!tree.isEmpty()) Splitter1->restoreState(tree);
    const QByteArray editor = blob("splitter2");
    if (!editor.isEmpty()) Splitter2->restoreState(editor);
    const std::string page = config_->WindowValue("page");
    if (page == "0" || page == "1") PageControl1->setCurrentIndex(page == "1" ? 1 : 0);
}

void TfrmMain::SaveWindowState() {
    auto blob = [this](const char* key, const QByteArray& state) {
        config_->SetWindowValue(key, state.toBase64().toStdString());
    };
    blob("geometry", saveGeometry());
    blob("splitter1", Splitter1->saveState());
    blob("splitter2", Splitter2->saveState());
    config_->SetWindowValue("page", std::to_string(PageControl1->currentIndex()));
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
    }
    if (files.empty()) ppm_recent->addAction(QStringLiteral("（无）"))->setEnabled(false);
}

void TfrmMain::SettingsChanged(const TSettings& settings) {
    TDisplayOptions options = resultModel_->DisplayOptions();
    options.humanSizes = settings.humanSizes;
    resultModel_->SetDisplayOptions(options);
}

// ---- accessors for tests

QString TfrmMain::MessageText() const {
    return mm_msg->toPlainText();
}

QString TfrmMain::StatusText(int panel) const {
    return statusPanels_[panel]->text();
}

QString TfrmMain::ResultNotice() const {
    return lbl_notice->isHidden() ? QString() : lbl_notice->text();
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
    return resultModel_->HasRowActions();
}

void TfrmMain::SetResultFilter(const QString& text) {
    edt_filter->setText(text);
}

// ---- queries

void TfrmMain::tbtn_executeClick() {
    if (runner_->IsRunning() || exporting_) return;
    int start = 0;
    const std::string sql = mm_sql->Statement(start);
    if (sql.empty()) return;
    runStart_ = start;
    runEditorText_ = mm_sql->Text();
    mm_sql->ClearErrorMarks();
    SetBusy(true);
    runClock_.start();
    statusPanels_[0]->setText(QStringLiteral("用时：0毫秒"));
    statusPanels_[1]->setText(QStringLiteral("个数："));
    statusPanels_[2]->setText(QStringLiteral("已列出：0"));
    runner_->Start(sql, controller_->BaseDirectory());
}

void TfrmMain::tbtn_cancelClick() {
    if (!runner_->IsRunning()) return;
    runner_->Cancel();
    act_cancel->setEnabled(false);
    statusPanels_[2]->setText(QStringLiteral("正在取消…"));
}

void TfrmMain::ShowProgress(long long listed, long long joined) {
    if (!runner_->IsRunning()) return;
    statusPanels_[0]->setText(QStringLiteral("用时：%1毫秒").arg(runClock_.elapsed()));
    if (!act_cancel->isEnabled()) return;  // "正在取消…" stays
    statusPanels_[2]->setText(joined > 0 ? QStringLiteral("连接中：已组合 %1").arg(joined)
                                         : QStringLiteral("已列出：%1").arg(listed));
}

void TfrmMain::SetBusy(bool busy) {
    tbtn_execute->setEnabled(!busy);
    tbtn_check->setEnabled(!busy);
    tbtn_export->setEnabled(!busy && resultModel_->columnCount() > 0);
    act_cancel->setEnabled(busy);
    if (busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void TfrmMain::ShowErrors(const std::vector<TStatementError>& errors) {
    TMessageLog log;
    log.SetErrors(errors, runEditorText_, runStart_);
    for (const TMessageLog::TEntry& entry : log.Entries())
        if (entry.editorPos >= 0) mm_sql->MarkError(entry.editorPos);
    mm_msg->Show(log);
}

void TfrmMain::QueryFinished(std::shared_ptr<TQueryOutcome> outcome) {
    SetBusy(false);
    if (!outcome->parseErrors.empty()) {
        ShowErrors(outcome->errors);
        PageControl1->setCurrentIndex(0);
    } else {
        TMessageLog log;
        log.SetOk(outcome->warnings);
        mm_msg->Show(log);
    }
    if (outcome->executed || outcome->cancelled) {
        RenderResult(std::move(outcome->result));
        QStringList notice;
        if (outcome->cancelled)
            notice << QStringLiteral("查询已取消：下面只是取消前找到的 %1 行，结果不完整。")
                          .arg(resultModel_->rowCount());
        for (const std::string& warning : outcome->warnings)
            notice << QStringLiteral("提示：") + Q(warning);
        lbl_notice->setText(notice.join(u'\n'));
        lbl_notice->setVisible(!notice.isEmpty());
        PageControl1->setCurrentIndex(1);
    }
    statusPanels_[0]->setText(QStringLiteral("用时：%1毫秒").arg(outcome->elapsedMs));
    if (outcome->cancelled)
        statusPanels_[2]->setText(QStringLiteral("已取消"));
    else if (!outcome->warnings.empty())
        statusPanels_[2]->setText(QStringLiteral("有 %1 条提示").arg(outcome->warnings.size()));
    else if (outcome->listed > 0)
        statusPanels_[2]->setText(QStringLiteral("已列出：%1").arg(outcome->listed));
    else
        statusPanels_[2]->clear();
    if (!outcome->runError.empty()) env_.prompt->Error(outcome->runError);
}

void TfrmMain::RenderResult(TQueryResult result) {
    lv_rslt->setUpdatesEnabled(false);
    lv_rslt->header()->setSortIndicator(-1, Qt::AscendingOrder);
    resultProxy_->sort(-1);
    resultModel_->SetResult(std::move(result), columns_);
    FitColumns();
    statusPanels_[1]->setText(Q(resultModel_->CountText()));
    tbtn_export->setEnabled(resultModel_->columnCount() > 0);
    UpdateFilterCount();
    lv_rslt->setUpdatesEnabled(true);
}

// Widths: fitted to the contents, except those the user has set.
void TfrmMain::FitColumns() {
    const std::vector<int> fitted =
        FitColumnWidths(*resultProxy_, lv_rslt->fontMetrics(), lv_rslt->header()->fontMetrics());
    applyingWidths_ = true;
    for (int c = 0; c < static_cast<int>(fitted.size()); ++c) {
        const int remembered = config_->ColumnWidth(resultModel_->WidthKey(c));
        lv_rslt->setColumnWidth(c, remembered > 0 ? remembered : fitted[static_cast<size_t>(c)]);
    }
    applyingWidths_ = false;
}

void TfrmMain::ColumnResized(int column, int newWidth) {
    if (applyingWidths_ || newWidth <= 0) return;
    config_->SetColumnWidth(resultModel_->WidthKey(column), newWidth);
}

void TfrmMain::ForgetColumnWidths() {
    for (int c = 0; c < resultModel_->columnCount(); ++c)
        config_->SetColumnWidth(resultModel_->WidthKey(c), 0);
    FitColumns();
}

void TfrmMain::UpdateFilterCount() {
    if (resultProxy_->FilterText().empty()) {
        lbl_filterCount->clear();
        return;
    }
    lbl_filterCount->setText(QStringLiteral("显示 %1 / %2 行")
                                 .arg(resultProxy_->rowCount())
                                 .arg(resultModel_->rowCount()));
}

void TfrmMain::tbtn_checkClick() {
    if (runner_->IsRunning()) return;
    int start = 0;
    const std::string sql = mm_sql->Statement(start);
    if (sql.empty()) return;
    runStart_ = start;
    runEditorText_ = mm_sql->Text();
    mm_sql->ClearErrorMarks();
    try {
        const std::vector<TStatementError> errors =
            CheckStatement(env_.engineFactory, sql, controller_->BaseDirectory());
        if (errors.empty()) {
            TMessageLog log;
            log.SetOk();
            mm_msg->Show(log);
        } else {
            ShowErrors(errors);
        }
    } catch (const std::exception& e) {
        env_.prompt->Error(FailureText(e));
    }
}

// ---- tree

QModelIndex TfrmMain::SelectedTreeNode() const {
    return tv_dirList->currentIndex();
}

void TfrmMain::N6Click() {
    PutGeneratedScript(treeModel_->ScriptFor(SelectedTreeNode()));
}

void TfrmMain::FindDuplicatesClick() {
    PutGeneratedScript(treeModel_->DuplicateScriptFor(SelectedTreeNode()));
}

void TfrmMain::PutGeneratedScript(const std::string& script) {
    if (script.empty()) return;
    // The user's statement is never lost: the script goes in at the cursor
    // unless the user chooses to replace everything, and Ctrl+Z undoes
    // either.
    if (Trim(mm_sql->Text()).empty()) {
        mm_sql->ReplaceAllUndoable(script);
    } else {
        switch (env_.prompt->Choose("自动生成脚本", "编辑器中已有语句。生成的脚本要放在哪里？",
                                    {"插入到光标处", "替换全部语句", "取消"})) {
            case 0:
                mm_sql->InsertUndoable(script);
                break;
            case 1:
                mm_sql->ReplaceAllUndoable(script);
                break;
            default:
                return;
        }
    }
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
    for (int row : SelectedSourceRows())
        rows.push_back({row, resultModel_->Directory(row), resultModel_->FileName(row)});
    return rows;
}

std::vector<int> TfrmMain::SelectedSourceRows() const {
    std::vector<int> shown;
    for (const QModelIndex& index : lv_rslt->selectionModel()->selectedRows())
        shown.push_back(index.row());
    std::sort(shown.begin(), shown.end());
    std::vector<int> rows;
    for (int row : shown)
        rows.push_back(resultProxy_->mapToSource(resultProxy_->index(row, 0)).row());
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
    if (exporting_) return;
    std::vector<int> gone = rowActions_->Delete(SelectedRows());
    if (gone.empty()) return;
    resultModel_->RemoveRowsAt(std::move(gone));
    statusPanels_[1]->setText(Q(resultModel_->CountText()));
    UpdateFilterCount();
}

void TfrmMain::CopyRows() {
    const std::vector<int> rows = SelectedSourceRows();
    if (rows.empty()) return;
    QApplication::clipboard()->setText(Q(resultModel_->CopyText(rows)));
    statusBar()->showMessage(QStringLiteral("已复制 %1 行").arg(rows.size()), 3000);
}

void TfrmMain::CopyPaths() {
    const std::vector<int> rows = SelectedSourceRows();
    const std::string paths = resultModel_->CopyFullNames(rows);
    if (paths.empty()) return;
    QApplication::clipboard()->setText(Q(paths));
    statusBar()->showMessage(QStringLiteral("已复制 %1 个完整路径").arg(rows.size()), 3000);
}

void TfrmMain::ExportCsv() {
    ExportResult(TResultFormat::rfCsv);
}

void TfrmMain::ExportJson() {
    ExportResult(TResultFormat::rfJson);
}

void TfrmMain::ExportLast() {
    ExportResult(exportFormat_);
}

// The rows the list shows, in its order, with their raw values; the file
// is replaced only once it is complete. Large results show a progress box
// that can cancel.
void TfrmMain::ExportResult(TResultFormat format) {
    if (exporting_ || runner_->IsRunning() || resultModel_->columnCount() == 0) return;
    std::string file;
    const std::string startDir = exportDir_.empty() ? controller_->BaseDirectory() : exportDir_;
    if (!env_.dialogs->SaveExport(startDir, format, file) || file.empty()) return;
    exportFormat_ = format;
    exportDir_ = QFileInfo(Q(file)).absolutePath().toStdString();

    std::vector<int> rows;
    rows.reserve(static_cast<size_t>(resultProxy_->rowCount()));
    for (int r = 0; r < resultProxy_->rowCount(); ++r)
        rows.push_back(resultProxy_->mapToSource(resultProxy_->index(r, 0)).row());

    exporting_ = true;
    struct TDone {
        bool& flag;
        ~TDone() { flag = false; }
    } done{exporting_};
    std::unique_ptr<QProgressDialog> box;
    TExportProgress progress;
    if (rows.size() > kExportProgressStep) {
        box = std::make_unique<QProgressDialog>(QStringLiteral("正在导出到 %1 …").arg(Q(file)),
                                                QStringLiteral("取消"), 0,
                                                static_cast<int>(rows.size()), this);
        box->setWindowTitle(QStringLiteral("导出"));
        box->setWindowModality(Qt::WindowModal);
        box->setMinimumDuration(300);
        progress = [&box](size_t done, size_t) {
            box->setValue(static_cast<int>(done));  // lets the box paint and take the click
            return !box->wasCanceled();
        };
    }
    try {
        const TExportOutcome outcome = ExportToFile(file, *resultModel_, rows, format, progress);
        if (outcome == TExportOutcome::eoCancelled)
            statusBar()->showMessage(QStringLiteral("导出已取消，没有写入文件"), 5000);
        else
            statusBar()->showMessage(
                QStringLiteral("已导出 %1 行到 %2").arg(rows.size()).arg(Q(file)), 5000);
    } catch (const std::exception& e) {
        box.reset();
        env_.prompt->Error("导出失败：" + FailureText(e));
    }
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
    if (!env_.shell->OpenPath(manual)) env_.prompt->Error("无法打开使用说明：" + manual);
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
    SaveWindowState();
    try {
        config_->Flush();
    } catch (const std::exception& e) {
        env_.prompt->Error(e.what());
    }
    event->accept();
}

}  // namespace corvane
