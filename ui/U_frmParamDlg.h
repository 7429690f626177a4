// U_frmParamDlg: the parameter dialog ("参数设置") a script program shows
// when its main function has parameters and the host supplied none.
//
// A name/value grid with one row per parameter; OK takes the texts now in
// the value column, Cancel leaves the values as they were. An empty list
// needs no dialog and counts as OK. The texts and sizes are the runtime's
// (script/runtime/u_paramDlg), which reaches this form through its
// parameter hook (installed by U_hostHooks); the form itself works on plain
// name/value texts.
#pragma once

#include <QDialog>
#include <string>
#include <utility>
#include <vector>

class QTableWidget;
class QPushButton;

namespace corvane {

using TParamTexts = std::vector<std::pair<std::string, std::string>>;

class Tfrm_paramDlg : public QDialog {
    Q_OBJECT
  public:
    explicit Tfrm_paramDlg(QWidget* parent = nullptr);

    void Load(const TParamTexts& params);
    // The value text now in the row of the given name.
    std::string ValueOf(const std::string& name) const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QTableWidget* paramlist;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
};

// Shows the dialog modally; true and the values updated on OK.
bool ShowParamForm(TParamTexts& params, QWidget* parent = nullptr);

}  // namespace corvane
