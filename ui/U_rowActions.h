// U_rowActions: what the result list's context menu does with a row.
//
// Open hands the file to the desktop's default handler, "open containing
// folder" hands it the directory, locate asks the file manager to show the
// file, and delete moves the selected files to the desktop trash after one
// confirmation ("移到回收站"). A file that is gone since the query ran, and
// a handler that cannot be started, are reported in an error box. Delete never removes anything
// permanently, reports every file that did not go, and tells the caller which rows to drop from the
// list: exactly those whose files went.
//
// The logic only sees directory and file-name texts and the two service
// interfaces of U_services; the main window reads the rows from the result
// model and removes the rows this returns.
#pragma once

#include <string>
#include <vector>

#include "ui/U_services.h"

namespace corvane {

// One selected row as the actions see it.
struct TRowFile {
    int row = -1;
    std::string directory;
    std::string fileName;
};

// The directory and the file name joined with "/" unless the directory
// already ends in one; empty when either part is empty.
std::string JoinFullName(const std::string& directory, const std::string& fileName);

class TRowActions {
  public:
    TRowActions(IShellService& shell, IUserPrompt& prompt) : shell_(shell), prompt_(prompt) {}

    void Open(const TRowFile& file);
    void OpenFolder(const TRowFile& file);
    void Locate(const TRowFile& file);
    // Returns the rows whose files went to the trash.
    std::vector<int> Delete(const std::vector<TRowFile>& selected);

    // The confirmation text for one file, or for count files.
    static std::string ConfirmText(const std::string& fullName);
    static std::string ConfirmText(int count);

  private:
    // Whether path (a file, folder or link) is there; reports it when not.
    bool Exists(const std::string& path);

    IShellService& shell_;
    IUserPrompt& prompt_;
};

}  // namespace corvane
