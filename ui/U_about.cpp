// U_about: see U_about.h.
#include "ui/U_about.h"

#include <QDialogButtonBox>
#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("关于"));
    setObjectName(QStringLiteral("AboutBox"));
    auto* product = new QLabel(QStringLiteral("Corvane"), this);
    QFont big = product->font();
    big.setPointSize(big.pointSize() + 8);
    big.setBold(true);
    product->setFont(big);
    product->setAlignment(Qt::AlignCenter);
    auto* version = new QLabel(QStringLiteral("Beta1"), this);
    version->setAlignment(Qt::AlignCenter);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(product);
    layout->addWidget(version);
    layout->addWidget(buttons);
    setFixedSize(280, 160);
}

}  // namespace corvane
