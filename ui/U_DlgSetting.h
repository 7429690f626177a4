// U_DlgSetting: the settings dialog ("设置"): default directory, how many
// recent projects to remember (1..6), whether to reopen the last project,
// the wizard flag (kept, but shown disabled: it has no function) and
// whether the size column shows KiB/MiB/GiB. It only shows and returns a
// TSettings; storing them is TConfig's (U_settings).
#pragma once

#include <QDialog>

#include "ui/U_settings.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace corvane {

class TFrmSetting : public QDialog {
    Q_OBJECT
  public:
    explicit TFrmSetting(QWidget* parent = nullptr);

    void Load(const TSettings& settings);
    TSettings Values() const;

    static bool Edit(QWidget* parent, TSettings& settings);

  private:
    QLineEdit* edt_dir;
    QPushButton* btn_dir;
    QSpinBox* edt_cnt;  // the count box with its up-down control
    QCheckBox* chk_auto;
    QCheckBox* chkExpert;
    QCheckBox* chk_humanSize;
};

}  // namespace corvane
