// U_frmParamDlg: see U_frmParamDlg.h.
#include "ui/U_frmParamDlg.h"

#include <QAbstractItemDelegate>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QTableWidget>

#include "script/runtime/u_paramDlg.h"

namespace corvane {

Tfrm_paramDlg::Tfrm_paramDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Tfrm_paramDlg"));
    setWindowTitle(QString::fromUtf8(kParamDlgCaption));
    setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kParamDlgClientWidth, kParamDlgClientHeight);

    paramlist = new QTableWidget(0, 2, this);
    paramlist->setObjectName(QStringLiteral("paramlist"));
    paramlist->setGeometry(0, 0, 363, 377);
    paramlist->setHorizontalHeaderLabels(
        QString::fromUtf8(kParamDlgColumnTitles).split(QLatin1Char(',')));
    paramlist->verticalHeader()->hide();
    paramlist->setColumnWidth(0, 109);
    paramlist->setColumnWidth(1, 248);
    paramlist->setEditTriggers(QAbstractItemView::AllEditTriggers);
    paramlist->installEventFilter(this);
    // Enter inside an open editor commits it and confirms the dialog too.
    connect(paramlist->itemDelegate(), &QAbstractItemDelegate::closeEditor, this,
            [this](QWidget*, QAbstractItemDelegate::EndEditHint hint) {
                if (hint == QAbstractItemDelegate::SubmitModelCache) accept();
            });

    BitBtn1 = new QPushButton(QString::fromUtf8(kParamDlgOk), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(85, 392, 75, 25);
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    BitBtn2 = new QPushButton(QString::fromUtf8(kParamDlgCancel), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setGeometry(205, 392, 75, 25);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

void Tfrm_paramDlg::Load(const TParamTexts& params) {
    paramlist->setRowCount(static_cast<int>(params.size()));
    for (size_t i = 0; i < params.size(); ++i) {
        auto* name = new QTableWidgetItem(QString::fromStdString(params[i].first));
        name->setFlags(Qt::ItemIsEnabled);  // the fixed name column
        paramlist->setItem(static_cast<int>(i), 0, name);
        paramlist->setItem(static_cast<int>(i), 1,
                           new QTableWidgetItem(QString::fromStdString(params[i].second)));
    }
    if (!params.empty()) paramlist->setCurrentCell(0, 1);
}

std::string Tfrm_paramDlg::ValueOf(const std::string& name) const {
    const QString wanted = QString::fromStdString(name);
    for (int row = 0; row < paramlist->rowCount(); ++row) {
        if (paramlist->item(row, 0) && paramlist->item(row, 0)->text() == wanted)
            return paramlist->item(row, 1) ? paramlist->item(row, 1)->text().toStdString()
                                           : std::string();
    }
    return {};
}

bool Tfrm_paramDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == paramlist && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            accept();  // Enter in the grid confirms the dialog
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool ShowParamForm(TParamTexts& params, QWidget* parent) {
    if (params.empty()) return true;
    Tfrm_paramDlg dialog(parent);
    dialog.Load(params);
    if (dialog.exec() != QDialog::Accepted) return false;
    for (auto& [name, value] : params)
        value = dialog.ValueOf(name);
    return true;
}

}  // namespace corvane
