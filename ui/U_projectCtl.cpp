// U_projectCtl: see U_projectCtl.h.
#include "ui/U_projectCtl.h"

#include <QFileInfo>
#include <algorithm>
#include <exception>

#include "ui/U_projectFile.h"

namespace corvane {

TProjectController::TProjectController(TDirTreeModel& tree, IProjectView& view, TConfig& config,
                                       IDialogs& dialogs, IUserPrompt& prompt, IShellService& shell)
    : tree_(tree),
      view_(view),
      config_(config),
      dialogs_(dialogs),
      prompt_(prompt),
      shell_(shell) {}

std::string TProjectController::BaseDirectory() const {
    if (fileName_.empty()) return config_.Settings().defaultDir;
    return QFileInfo(QString::fromStdString(fileName_)).absolutePath().toStdString();
}

std::string TProjectController::Title() const {
    if (fileName_.empty()) return modified_ ? "Corvane -- 未命名*" : "Corvane";
    const QFileInfo file(QString::fromStdString(fileName_));
    return "Corvane -- " + file.fileName().toStdString() + (modified_ ? "*" : "") + " (" +
           file.absolutePath().toStdString() + ")";
}

void TProjectController::SetModified(bool modified) {
    if (modified == modified_) return;
    modified_ = modified;
    UpdateTitle();
}

void TProjectController::UpdateTitle() {
    view_.SetTitle(Title());
}

bool TProjectController::AskToSave() {
    if (!modified_) return true;
    switch (prompt_.Ask("Corvane", kModifiedQuestion, true)) {
        case TAnswer::Cancel:
            return false;
        case TAnswer::No:
            return true;
        case TAnswer::Yes:
            return Save();
    }
    return false;
}

void TProjectController::Clear() {
    fileName_.clear();
    tree_.ClearTables();
    view_.SetSqlText("");
    modified_ = false;
}

void TProjectController::NewProject() {
    if (!AskToSave()) return;
    Clear();
    UpdateTitle();
}

bool TProjectController::Load(const std::string& file) {
    TProjectData project;
    std::string error;
    if (!LoadProjectFile(file, project, error)) {
        prompt_.Error(error);
        return false;
    }
    Clear();
    fileName_ = file;
    view_.SetSqlText(project.sql);
    for (const TProjectDir& dir : project.dirs)
        tree_.AddTable(dir.option, dir.alias);
    modified_ = false;
    UpdateTitle();
    PushRecent(file);
    if (!project.skipped.empty()) {
        std::string names;
        for (const TSkippedDir& dir : project.skipped)
            names += "\n" + (dir.alias.empty() ? std::string() : dir.alias + "：") + dir.tableText;
        prompt_.Inform("项目中以下目录连接无法识别，已略过（保存项目时不再保留）：" + names);
    }
    return true;
}

void TProjectController::OpenProject() {
    if (!AskToSave()) return;
    std::string file;
    if (!dialogs_.OpenProject(config_.Settings().defaultDir, file)) return;
    Load(file);
}

void TProjectController::OpenRecent(const std::string& file) {
    if (file.empty() || file == fileName_) return;
    if (!QFileInfo::exists(QString::fromStdString(file))) {
        // A name from the recent list is dropped after telling; one that
        // is not there (given on the command line) is only an error.
        const std::vector<std::string>& recent = config_.Recent();
        if (std::find(recent.begin(), recent.end(), file) == recent.end()) {
            prompt_.Error("找不到项目文件：" + file);
            return;
        }
        prompt_.Inform("找不到项目文件：" + file + "\n已从最近打开的列表中去掉。");
        try {
            if (config_.RemoveRecent(file)) view_.RecentChanged(config_.Recent());
        } catch (const std::exception& e) {
            view_.RecentChanged(config_.Recent());
            prompt_.Error(e.what());
        }
        return;
    }
    if (!AskToSave()) return;
    Load(file);
}

bool TProjectController::Save() {
    if (!modified_) return true;
    if (fileName_.empty()) return SaveAs();
    TProjectData project;
    project.sql = view_.SqlText();
    for (const TTreeTable& table : tree_.Tables())
        project.dirs.push_back({table.alias, table.option});
    std::string error;
    if (!SaveProjectFile(fileName_, project, error)) {
        prompt_.Error(error);
        return false;
    }
    SetModified(false);
    PushRecent(fileName_);
    return true;
}

bool TProjectController::SaveAs() {
    std::string file;
    if (!dialogs_.SaveProject(config_.Settings().defaultDir, file)) return false;
    if (file.find('.') == std::string::npos) file += ".cvq";
    fileName_ = file;
    modified_ = true;
    const bool saved = Save();
    UpdateTitle();
    return saved;
}

void TProjectController::PushRecent(const std::string& file) {
    try {
        if (config_.PushRecent(file)) view_.RecentChanged(config_.Recent());
    } catch (const std::exception& e) {
        view_.RecentChanged(config_.Recent());
        prompt_.Error(e.what());
    }
}

void TProjectController::EditSettings() {
    TSettings settings = config_.Settings();
    if (!dialogs_.EditSettings(settings)) return;
    try {
        config_.ApplySettings(settings);
    } catch (const std::exception& e) {
        prompt_.Error(e.what());
    }
    view_.RecentChanged(config_.Recent());
    view_.SettingsChanged(config_.Settings());
}

void TProjectController::AddTable() {
    TFileDirOption option;
    option.attrMask = 63;
    option.nameMask = "*";
    option.subDirs = false;
    std::string folder;
    if (!dialogs_.PickFolder("选择一个目录", config_.Settings().defaultDir, folder)) return;
    if (!shell_.DirectoryExists(folder)) {
        prompt_.Inform("目录不存在");
        return;
    }
    option.path = folder;
    tree_.AddTable(option);
    SetModified(true);
}

void TProjectController::EditTable(const QModelIndex& index) {
    if (tree_.KindOf(index) != TDirTreeModel::nkTable) return;
    const int row = index.row();
    TFileDirOption option = tree_.Table(row).option;
    if (dialogs_.EditDirOption(option)) {
        // "~/src" or a path relative to the project is fine as typed.
        if (shell_.DirectoryExists(ResolveTablePath(option.path, BaseDirectory())))
            tree_.SetOption(row, option);
        else
            prompt_.Inform("目录不存在");
    }
    SetModified(true);
}

void TProjectController::DeleteTable(const QModelIndex& index) {
    if (tree_.KindOf(index) != TDirTreeModel::nkTable) return;
    if (prompt_.Ask("删除一个目录连接", "要删除吗？", false) != TAnswer::Yes) return;
    tree_.RemoveTable(index.row());
    SetModified(true);
}

void TProjectController::StartUp() {
    view_.RecentChanged(config_.Recent());
    if (!config_.Settings().autoLast || config_.Recent().empty() || config_.Recent()[0].empty())
        return;
    OpenRecent(config_.Recent()[0]);
}

}  // namespace corvane
