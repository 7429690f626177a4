// U_about: the about box: the product name, "Beta1" and an OK button.
#pragma once

#include <QDialog>

namespace corvane {

class TAboutBox : public QDialog {
    Q_OBJECT
  public:
    explicit TAboutBox(QWidget* parent = nullptr);
};

}  // namespace corvane
