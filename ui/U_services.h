// U_services: the window's ways out to the user and to the desktop, as
// small interfaces.
//
// The command logic (U_projectCtl, U_rowActions) asks questions, shows
// messages, picks files and folders and talks to the desktop only through
// these, so tests can answer for the user and stand in for the file manager
// and the trash. The real implementations are in U_desktop: message boxes,
// file dialogs, the desktop's default handler, the file manager over D-Bus
// and the desktop trash.
#pragma once

#include <string>
#include <vector>

#include "output/ResultWriter.h"
#include "ui/U_dirText.h"
#include "ui/U_settings.h"

namespace corvane {

enum class TAnswer { Yes, No, Cancel };

class IUserPrompt {
  public:
    virtual ~IUserPrompt() = default;
    // A question with Yes/No buttons, or Yes/No/Cancel when withCancel.
    virtual TAnswer Ask(const std::string& title, const std::string& text, bool withCancel) = 0;
    // A question whose answers are the given button texts; the index of
    // the chosen one, or -1 when the user closes the box (Esc).
    virtual int Choose(const std::string& title, const std::string& text,
                       const std::vector<std::string>& buttons) = 0;
    // A notice ("目录不存在").
    virtual void Inform(const std::string& text) = 0;
    // An error that reached the user (a file that cannot be read or written).
    virtual void Error(const std::string& text) = 0;
};

class IDialogs {
  public:
    virtual ~IDialogs() = default;
    // Each returns false when the user cancels.
    virtual bool OpenProject(const std::string& startDir, std::string& file) = 0;
    virtual bool SaveProject(const std::string& startDir, std::string& file) = 0;
    // The file to export the result to; format comes in as the one to
    // offer first and goes out as the one the user chose.
    virtual bool SaveExport(const std::string& startDir, TResultFormat& format,
                            std::string& file) = 0;
    virtual bool PickFolder(const std::string& title, const std::string& startDir,
                            std::string& folder) = 0;
    // The directory dialog on a copy of a table's record.
    virtual bool EditDirOption(TFileDirOption& option) = 0;
    // The settings dialog on a copy of the settings.
    virtual bool EditSettings(TSettings& settings) = 0;
};

class IShellService {
  public:
    virtual ~IShellService() = default;
    // Opens a file or folder with the desktop's default handler.
    virtual bool OpenPath(const std::string& path) = 0;
    // Shows the file manager with the item selected (or at least its
    // folder).
    virtual bool ShowItem(const std::string& fullName) = 0;
    // Moves a file or directory to the desktop trash; false with a reason
    // when it did not go. Never deletes anything permanently.
    virtual bool MoveToTrash(const std::string& path, std::string& error) = 0;
    // Whether a directory exists.
    virtual bool DirectoryExists(const std::string& path) = 0;
};

}  // namespace corvane
