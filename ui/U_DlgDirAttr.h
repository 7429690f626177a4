// U_DlgDirAttr: the directory dialog ("目录"), which edits one directory
// table: its path, its filter, whether sub-directories are listed, which
// attributes are selected, and the listing controls (depth limits, one
// file system, excludes, ignore files, following links).
//
// The translation between the record and the check boxes is kept apart
// from the form (TDirDialogValues), so it is tested without showing
// anything: the mask 63 is "AnyFile" with all four attribute boxes checked;
// any other mask shows bits 1, 2, 4 and 16; on OK "AnyFile" gives 63 and
// otherwise the checked boxes add up. The exclude patterns are one line,
// separated by blanks (a pattern holds none: its value would end there in
// the table text). What the dialog does not show ("archive") is kept as
// it was.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "ui/U_dirText.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace corvane {

struct TDirDialogValues {
    std::string path;
    std::string filter;
    bool subDirs = false;
    bool anyFile = false;
    bool readOnly = false;
    bool hidden = false;
    bool system = false;
    bool directory = false;
    int maxDepth = -1;  // -1: no limit
    int minDepth = 0;   // 0: no limit
    bool oneFileSystem = false;
    bool gitIgnore = false;
    bool followLinks = false;
    std::string excludes;  // the patterns, separated by blanks
};

TDirDialogValues DirDialogValuesFrom(const TFileDirOption& option);
// Writes the values into option (attrMask, path, nameMask, subDirs and the
// listing controls; archives stays).
void ApplyDirDialogValues(const TDirDialogValues& values, TFileDirOption& option);

class TfrmDlgDirOption : public QDialog {
    Q_OBJECT
  public:
    explicit TfrmDlgDirOption(QWidget* parent = nullptr);

    void Load(const TDirDialogValues& values);
    TDirDialogValues Values() const;

    // The "&Help" button calls help (the manual); without one it is
    // disabled.
    void SetHelp(std::function<void()> help);

    // Runs the dialog on option; true (and option updated) on OK.
    static bool Edit(QWidget* parent, TFileDirOption& option, std::function<void()> help = {});

  private slots:
    void btn_brwsClick();

  private:
    QLineEdit* edt_path;
    QPushButton* btn_brws;
    QCheckBox* chk_readonly;
    QCheckBox* chk_hidden;
    QCheckBox* chk_dir;
    QCheckBox* chk_sys;
    QCheckBox* chk_anyFile;
    QCheckBox* chk_sub;
    QCheckBox* chk_filter;
    QLineEdit* edt_filter;
    QSpinBox* spn_maxDepth;
    QSpinBox* spn_minDepth;
    QCheckBox* chk_xdev;
    QCheckBox* chk_gitignore;
    QCheckBox* chk_follow;
    QLineEdit* edt_exclude;
    QPushButton* btn_help;
    std::function<void()> help_;
};

}  // namespace corvane
