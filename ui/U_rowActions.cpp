// U_rowActions: see U_rowActions.h.
#include "ui/U_rowActions.h"

#include <sys/stat.h>

#include <map>

namespace corvane {

std::string JoinFullName(const std::string& directory, const std::string& fileName) {
    if (directory.empty() || fileName.empty()) return {};
    return directory.back() == '/' ? directory + fileName : directory + "/" + fileName;
}

std::string TRowActions::ConfirmText(const std::string& fullName) {
    return "确定要把\"" + fullName + "\"移到回收站吗?";
}

std::string TRowActions::ConfirmText(int count) {
    return "确定要把选中的" + std::to_string(count) + "个文件移到回收站吗?";
}

bool TRowActions::Exists(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) return true;
    prompt_.Error("找不到文件：" + path);
    return false;
}

void TRowActions::Open(const TRowFile& file) {
    std::string full = JoinFullName(file.directory, file.fileName);
    if (full.empty() || !Exists(full)) return;
    if (!shell_.OpenPath(full)) prompt_.Error("无法打开：" + full);
}

void TRowActions::OpenFolder(const TRowFile& file) {
    if (JoinFullName(file.directory, file.fileName).empty() || !Exists(file.directory)) return;
    if (!shell_.OpenPath(file.directory)) prompt_.Error("无法打开目录：" + file.directory);
}

void TRowActions::Locate(const TRowFile& file) {
    std::string full = JoinFullName(file.directory, file.fileName);
    if (full.empty() || !Exists(full)) return;
    if (!shell_.ShowItem(full)) prompt_.Error("无法在文件管理器中显示：" + full);
}

std::vector<int> TRowActions::Delete(const std::vector<TRowFile>& selected) {
    // One entry per distinct file; a file listed twice (a join) is trashed
    // once and all its rows go.
    std::map<std::string, std::vector<int>> files;
    std::vector<std::string> order;
    for (const TRowFile& file : selected) {
        std::string full = JoinFullName(file.directory, file.fileName);
        if (full.empty()) continue;
        auto [it, added] = files.try_emplace(full);
        if (added) order.push_back(full);
        it->second.push_back(file.row);
    }
    if (order.empty()) return {};
    const std::string text = order.size() == 1 ? ConfirmText(order.front())
                                               : ConfirmText(static_cast<int>(order.size()));
    if (prompt_.Ask("Corvane", text, false) != TAnswer::Yes) return {};

    std::vector<int> gone;
    std::string failures;
    for (const std::string& full : order) {
        std::string error;
        if (shell_.MoveToTrash(full, error)) {
            const auto& rows = files[full];
            gone.insert(gone.end(), rows.begin(), rows.end());
        } else {
            failures += "\n" + full + "：" + error;
        }
    }
    if (!failures.empty()) prompt_.Error("以下文件未能移到回收站：" + failures);
    return gone;
}

}  // namespace corvane
