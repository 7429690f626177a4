// U_DlgDirAttr: see U_DlgDirAttr.h.
#include "ui/U_DlgDirAttr.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

namespace {

constexpr uint32_t kAnyFile = 63;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

TDirDialogValues DirDialogValuesFrom(const TFileDirOption& option) {
    TDirDialogValues v;
    v.path = option.path;
    v.filter = option.nameMask;
    v.subDirs = option.subDirs;
    if (option.attrMask == kAnyFile) {
        v.anyFile = v.readOnly = v.hidden = v.system = v.directory = true;
    } else {
        v.readOnly = option.attrMask & 1;
        v.hidden = option.attrMask & 2;
        v.system = option.attrMask & 4;
        v.directory = option.attrMask & 16;
    }
    return v;
}

void ApplyDirDialogValues(const TDirDialogValues& v, TFileDirOption& option) {
    if (v.anyFile) {
        option.attrMask = kAnyFile;
    } else {
        option.attrMask = (v.readOnly ? 1u : 0u) + (v.hidden ? 2u : 0u) + (v.system ? 4u : 0u) +
                          (v.directory ? 16u : 0u);
    }
    option.path = v.path;
    option.nameMask = v.filter;
    option.subDirs = v.subDirs;
}

TfrmDlgDirOption::TfrmDlgDirOption(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("目录"));
    setObjectName(QStringLiteral("TfrmDlgDirOption"));

    edt_path = new QLineEdit(this);
    btn_brws = new QPushButton(QStringLiteral("..."), this);
    btn_brws->setToolTip(QStringLiteral("浏览"));
    btn_brws->setFixedWidth(32);
    connect(btn_brws, &QPushButton::clicked, this, &TfrmDlgDirOption::btn_brwsClick);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(new QLabel(QStringLiteral("目录："), this));
    pathRow->addWidget(edt_path, 1);
    pathRow->addWidget(btn_brws);

    auto* group = new QGroupBox(QStringLiteral("选项"), this);
    chk_readonly = new QCheckBox(QStringLiteral("readonly"), group);
    chk_hidden = new QCheckBox(QStringLiteral("Hidden"), group);
    chk_dir = new QCheckBox(QStringLiteral("Directory"), group);
    chk_sys = new QCheckBox(QStringLiteral("SysFile"), group);
    chk_anyFile = new QCheckBox(QStringLiteral("AnyFile"), group);
    chk_sub = new QCheckBox(QStringLiteral("SubDir"), group);
    chk_filter = new QCheckBox(QStringLiteral("Filter:"), group);
    edt_filter = new QLineEdit(group);
    auto* grid = new QGridLayout(group);
    grid->addWidget(chk_readonly, 0, 0);
    grid->addWidget(chk_hidden, 0, 1);
    grid->addWidget(chk_dir, 0, 2);
    grid->addWidget(chk_sys, 1, 0);
    grid->addWidget(chk_anyFile, 1, 1);
    grid->addWidget(chk_sub, 1, 2);
    grid->addWidget(chk_filter, 2, 0);
    grid->addWidget(edt_filter, 2, 1, 1, 2);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    btn_help = buttons->addButton(QStringLiteral("&Help"), QDialogButtonBox::HelpRole);
    btn_help->setObjectName(QStringLiteral("btn_help"));
    btn_help->setEnabled(false);
    connect(buttons, &QDialogButtonBox::helpRequested, this, [this] {
        if (help_) help_();
    });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(pathRow);
    layout->addWidget(group);
    layout->addWidget(buttons);
    resize(420, 220);
}

void TfrmDlgDirOption::Load(const TDirDialogValues& v) {
    edt_path->setText(Q(v.path));
    edt_filter->setText(Q(v.filter));
    chk_filter->setChecked(!v.filter.empty());
    chk_sub->setChecked(v.subDirs);
    chk_anyFile->setChecked(v.anyFile);
    chk_readonly->setChecked(v.readOnly);
    chk_hidden->setChecked(v.hidden);
    chk_sys->setChecked(v.system);
    chk_dir->setChecked(v.directory);
}

TDirDialogValues TfrmDlgDirOption::Values() const {
    TDirDialogValues v;
    v.path = edt_path->text().toStdString();
    v.filter = edt_filter->text().toStdString();
    v.subDirs = chk_sub->isChecked();
    v.anyFile = chk_anyFile->isChecked();
    v.readOnly = chk_readonly->isChecked();
    v.hidden = chk_hidden->isChecked();
    v.system = chk_sys->isChecked();
    v.directory = chk_dir->isChecked();
    return v;
}

void TfrmDlgDirOption::btn_brwsClick() {
    QString folder =
        QFileDialog::getExistingDirectory(this, QStringLiteral("选择一个目录"), edt_path->text());
    if (!folder.isEmpty()) edt_path->setText(folder);
}

void TfrmDlgDirOption::SetHelp(std::function<void()> help) {
    help_ = std::move(help);
    btn_help->setEnabled(static_cast<bool>(help_));
}

bool TfrmDlgDirOption::Edit(QWidget* parent, TFileDirOption& option, std::function<void()> help) {
    TfrmDlgDirOption dialog(parent);
    dialog.SetHelp(std::move(help));
    dialog.Load(DirDialogValuesFrom(option));
    if (dialog.exec() != QDialog::Accepted) return false;
    ApplyDirDialogValues(dialog.Values(), option);
    return true;
}

}  // namespace corvane
