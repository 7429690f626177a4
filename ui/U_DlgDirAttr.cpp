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
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <string_view>

namespace corvane {

namespace {

constexpr uint32_t kAnyFile = 63;
// The largest depth the spin boxes offer.
constexpr int kMaxDialogDepth = INT_MAX;

int DialogDepth(uint32_t depth) {
    return depth > static_cast<uint32_t>(kMaxDialogDepth) ? kMaxDialogDepth
                                                          : static_cast<int>(depth);
}

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
    v.maxDepth = option.maxDepth ? DialogDepth(*option.maxDepth) : -1;
    v.minDepth = DialogDepth(option.minDepth);
    v.oneFileSystem = option.oneFileSystem;
    v.gitIgnore = option.gitIgnore;
    v.followLinks = option.followLinks;
    for (const std::string& pattern : option.excludes) {
        if (!IsWritableExclude(pattern)) continue;
        if (!v.excludes.empty()) v.excludes += ' ';
        v.excludes += pattern;
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
    option.maxDepth.reset();
    if (v.maxDepth >= 0) option.maxDepth = static_cast<uint32_t>(v.maxDepth);
    option.minDepth = v.minDepth > 0 ? static_cast<uint32_t>(v.minDepth) : 0;
    option.oneFileSystem = v.oneFileSystem;
    option.gitIgnore = v.gitIgnore;
    option.followLinks = v.followLinks;
    option.excludes.clear();
    std::string_view rest = v.excludes;
    while (!rest.empty()) {
        const size_t start = rest.find_first_not_of(" \t");
        if (start == std::string_view::npos) break;
        rest.remove_prefix(start);
        const size_t end = std::min(rest.find_first_of(" \t"), rest.size());
        option.excludes.emplace_back(rest.substr(0, end));
        rest.remove_prefix(end);
    }
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

    // The listing controls, as the table text names them.
    auto* controls = new QGroupBox(QStringLiteral("列出"), this);
    spn_maxDepth = new QSpinBox(controls);
    spn_maxDepth->setObjectName(QStringLiteral("spn_maxDepth"));
    spn_maxDepth->setRange(-1, kMaxDialogDepth);
    spn_maxDepth->setSpecialValueText(QStringLiteral("不限"));
    spn_maxDepth->setToolTip(QStringLiteral(
        "只列出深度不超过这个数的项（目录本身的项深度为 1）；设置后包含子目录（maxdepth）"));
    spn_minDepth = new QSpinBox(controls);
    spn_minDepth->setObjectName(QStringLiteral("spn_minDepth"));
    spn_minDepth->setRange(0, kMaxDialogDepth);
    spn_minDepth->setSpecialValueText(QStringLiteral("不限"));
    spn_minDepth->setToolTip(QStringLiteral("只列出深度至少为这个数的项（mindepth）"));
    chk_xdev = new QCheckBox(QStringLiteral("xdev"), controls);
    chk_xdev->setToolTip(QStringLiteral("不进入其他文件系统（挂载点，也包括绑定挂载）"));
    chk_gitignore = new QCheckBox(QStringLiteral("gitignore"), controls);
    chk_gitignore->setToolTip(QStringLiteral(
        "按 git 的规则忽略 .gitignore、.ignore、.git/info/exclude 和用户的排除文件中列出的项"));
    chk_follow = new QCheckBox(QStringLiteral("follow"), controls);
    chk_follow->setToolTip(QStringLiteral("进入指向目录的符号链接；指回上层目录的链接不进入"));
    edt_exclude = new QLineEdit(controls);
    edt_exclude->setObjectName(QStringLiteral("edt_exclude"));
    edt_exclude->setPlaceholderText(QStringLiteral("**/node_modules build/ *.o"));
    edt_exclude->setToolTip(QStringLiteral(
        "排除的模式，用空格分隔：不含 “/” 的模式匹配任何一层的名字，含 “/” 的匹配目录下的路径，"
        "末尾的 “/” 只匹配目录；排除的目录不会被打开（exclude）"));
    auto* cgrid = new QGridLayout(controls);
    cgrid->addWidget(new QLabel(QStringLiteral("MaxDepth:"), controls), 0, 0);
    cgrid->addWidget(spn_maxDepth, 0, 1);
    cgrid->addWidget(new QLabel(QStringLiteral("MinDepth:"), controls), 0, 2);
    cgrid->addWidget(spn_minDepth, 0, 3);
    cgrid->addWidget(chk_xdev, 1, 0);
    cgrid->addWidget(chk_gitignore, 1, 1);
    cgrid->addWidget(chk_follow, 1, 2);
    cgrid->addWidget(new QLabel(QStringLiteral("Exclude:"), controls), 2, 0);
    cgrid->addWidget(edt_exclude, 2, 1, 1, 3);

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
    layout->addWidget(controls);
    layout->addWidget(buttons);
    resize(460, 320);
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
    spn_maxDepth->setValue(v.maxDepth < -1 ? -1 : v.maxDepth);
    spn_minDepth->setValue(v.minDepth < 0 ? 0 : v.minDepth);
    chk_xdev->setChecked(v.oneFileSystem);
    chk_gitignore->setChecked(v.gitIgnore);
    chk_follow->setChecked(v.followLinks);
    edt_exclude->setText(Q(v.excludes));
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
    v.maxDepth = spn_maxDepth->value();
    v.minDepth = spn_minDepth->value();
    v.oneFileSystem = chk_xdev->isChecked();
    v.gitIgnore = chk_gitignore->isChecked();
    v.followLinks = chk_follow->isChecked();
    v.excludes = edt_exclude->text().toStdString();
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
