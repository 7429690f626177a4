// U_projectCtl: the project commands of the main window.
//
// New, Open, opening a recent project, Save, Save As, closing, the settings
// command, adding, editing and deleting directory tables, and the start-up
// reopening of the last project: the steps, the questions and the state
// (current file name, modified flag) live here. The controller reaches the
// window through IProjectView (the SQL text, the title, the recent menu) and
// the directory tree model, and the user and the desktop through the
// interfaces of U_services, so every command runs in tests without widgets.
//
// Sounder than the plain commands: New, Open, a recent project and closing
// the window all ask "当前文件已经修改，是否保存" when the project is
// modified (and stop when saving does not succeed); a project file that
// cannot be read leaves the current project untouched, and one whose table
// text does not parse opens with its other tables and a message naming the
// one left out; a recent project that no longer exists is dropped from the
// list after telling so. The title is "Corvane" for a new project and
// "Corvane -- name.cvq (folder)" for a saved one, with "*" after the name
// while there are unsaved changes. Reading and writing the file itself is
// U_projectFile's.
#pragma once

#include <QModelIndex>
#include <string>
#include <vector>

#include "ui/U_dirTree.h"
#include "ui/U_services.h"
#include "ui/U_settings.h"

namespace corvane {

class IProjectView {
  public:
    virtual ~IProjectView() = default;
    virtual std::string SqlText() const = 0;
    virtual void SetSqlText(const std::string& text) = 0;
    virtual void SetTitle(const std::string& title) = 0;
    // The recent list changed: rebuild the recent submenu from it.
    virtual void RecentChanged(const std::vector<std::string>& files) = 0;
    // The settings dialog ended with OK (how the list shows sizes may have
    // changed).
    virtual void SettingsChanged(const TSettings& /*settings*/) {}
};

class TProjectController {
  public:
    TProjectController(TDirTreeModel& tree, IProjectView& view, TConfig& config, IDialogs& dialogs,
                       IUserPrompt& prompt, IShellService& shell);

    const std::string& FileName() const { return fileName_; }
    bool Modified() const { return modified_; }
    // Where relative table paths of the project lead: the directory of its
    // file, or the default directory while the project has none.
    std::string BaseDirectory() const;
    // Every change of the editor text.
    void SqlChanged() { SetModified(true); }
    // The window title for the current file and modified flag.
    std::string Title() const;

    void NewProject();
    void OpenProject();
    // Opens a file of the recent list or named on the command line; a
    // missing one is told and dropped from the list, or (not on the list)
    // reported as an error.
    void OpenRecent(const std::string& file);
    // Save and Save As; false when nothing was written because the user
    // cancelled or writing failed (then the project stays modified).
    bool Save();
    bool SaveAs();
    // May the window close? Asks about unsaved changes.
    bool QueryClose() { return AskToSave(); }
    void EditSettings();
    void AddTable();
    void EditTable(const QModelIndex& index);
    void DeleteTable(const QModelIndex& index);
    // Reopens the most recent project when the settings say so.
    void StartUp();

    static constexpr const char* kModifiedQuestion = "当前文件已经修改，是否保存";

  private:
    // The unsaved-changes question; false when the command must stop.
    bool AskToSave();
    void SetModified(bool modified);
    void UpdateTitle();
    void Clear();
    // Reads the file and, only when that works, replaces the project.
    bool Load(const std::string& file);
    void PushRecent(const std::string& file);

    TDirTreeModel& tree_;
    IProjectView& view_;
    TConfig& config_;
    IDialogs& dialogs_;
    IUserPrompt& prompt_;
    IShellService& shell_;
    std::string fileName_;
    bool modified_ = false;
};

}  // namespace corvane
