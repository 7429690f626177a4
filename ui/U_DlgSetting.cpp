// U_DlgSetting: see U_DlgSetting.h.
#include "ui/U_DlgSetting.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace corvane {

TFrmSetting::TFrmSetting(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("设置"));
    setObjectName(QStringLiteral("TFrmSetting"));

    edt_dir = new QLineEdit(this);
    btn_dir = new QPushButton(QStringLiteral("..."), this);
    btn_dir->setFixedWidth(32);
    connect(btn_dir, &QPushButton::clicked, this, [this] {
        QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("选择一个目录"),
                                                           edt_dir->text());
        if (!folder.isEmpty()) edt_dir->setText(folder);
    });
    auto* dirRow = new QHBoxLayout;
    dirRow->addWidget(new QLabel(QStringLiteral("1、默认目录："), this));
    dirRow->addWidget(edt_dir, 1);
    dirRow->addWidget(btn_dir);

    edt_cnt = new QSpinBox(this);
    edt_cnt->setObjectName(QStringLiteral("UpDown1"));
    edt_cnt->setRange(kMinRecentCount, kMaxRecentCount);
    auto* countRow = new QHBoxLayout;
    countRow->addWidget(new QLabel(QStringLiteral("2、记住最后"), this));
    countRow->addWidget(edt_cnt);
    countRow->addWidget(new QLabel(QStringLiteral("次打开的项目"), this));
    countRow->addStretch(1);

    chk_auto = new QCheckBox(QStringLiteral("3、自动打开上次项目"), this);
    chkExpert = new QCheckBox(QStringLiteral("4、使用向导"), this);
    chkExpert->setObjectName(QStringLiteral("chkExpert"));
    chkExpert->setEnabled(false);
    chkExpert->setToolTip(QStringLiteral("此选项目前没有作用"));
    chk_humanSize = new QCheckBox(QStringLiteral("5、大小以 KiB、MiB、GiB 显示"), this);
    chk_humanSize->setObjectName(QStringLiteral("chk_humanSize"));
    chk_humanSize->setToolTip(
        QStringLiteral("结果列表中“大小”列的显示方式；准确的字节数在提示中，"
                       "复制和导出总是字节数"));

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(dirRow);
    layout->addLayout(countRow);
    layout->addWidget(chk_auto);
    layout->addWidget(chkExpert);
    layout->addWidget(chk_humanSize);
    layout->addWidget(buttons);
    resize(420, 230);
}

void TFrmSetting::Load(const TSettings& s) {
    edt_dir->setText(QString::fromStdString(s.defaultDir));
    edt_cnt->setValue(s.recentCount);
    chk_auto->setChecked(s.autoLast);
    chkExpert->setChecked(s.useExpert);
    chk_humanSize->setChecked(s.humanSizes);
}

TSettings TFrmSetting::Values() const {
    TSettings s;
    s.defaultDir = edt_dir->text().toStdString();
    s.recentCount = edt_cnt->value();
    s.autoLast = chk_auto->isChecked();
    s.useExpert = chkExpert->isChecked();
    s.humanSizes = chk_humanSize->isChecked();
    return s;
}

bool TFrmSetting::Edit(QWidget* parent, TSettings& settings) {
    TFrmSetting dialog(parent);
    dialog.Load(settings);
    if (dialog.exec() != QDialog::Accepted) return false;
    settings = dialog.Values();
    return true;
}

}  // namespace corvane
