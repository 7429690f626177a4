// U_desktop: the real implementations of the service interfaces of
// U_services, for a Linux desktop.
//
//   TMessagePrompt  questions and messages as message boxes over a window.
//   TFormDialogs    the open/save file dialogs, the folder picker, and the
//                   directory and settings dialogs.
//   TDesktopShell   opening through the desktop's default handler
//                   (xdg-open behind QDesktopServices), showing a file in
//                   the file manager over D-Bus
//                   (org.freedesktop.FileManager1.ShowItems, falling back to
//                   opening the containing folder), and the desktop trash.
//
// Moving to the trash works around a fault of Qt 6.4: when the user's data
// directory (~/.local/share or XDG_DATA_HOME) does not exist, QFile reports
// success but has moved the file into a "files/" folder under the current
// directory. The data directory is created first, and a relative reported
// location counts as a failure (the file is moved back).
#pragma once

#include <QString>
#include <functional>

#include "ui/U_services.h"

class QWidget;

namespace corvane {

class TMessagePrompt : public IUserPrompt {
  public:
    explicit TMessagePrompt(QWidget* parent) : parent_(parent) {}
    TAnswer Ask(const std::string& title, const std::string& text, bool withCancel) override;
    int Choose(const std::string& title, const std::string& text,
               const std::vector<std::string>& buttons) override;
    void Inform(const std::string& text) override;
    void Error(const std::string& text) override;

  private:
    QWidget* parent_;
};

class TFormDialogs : public IDialogs {
  public:
    // help opens the manual (the directory dialog's "&Help" button).
    explicit TFormDialogs(QWidget* parent, std::function<void()> help = {})
        : parent_(parent), help_(std::move(help)) {}
    bool OpenProject(const std::string& startDir, std::string& file) override;
    bool SaveProject(const std::string& startDir, std::string& file) override;
    bool SaveExport(const std::string& startDir, TResultFormat& format, std::string& file) override;
    bool PickFolder(const std::string& title, const std::string& startDir,
                    std::string& folder) override;
    bool EditDirOption(TFileDirOption& option) override;
    bool EditSettings(TSettings& settings) override;

  private:
    QWidget* parent_;
    std::function<void()> help_;
};

class TDesktopShell : public IShellService {
  public:
    bool OpenPath(const std::string& path) override;
    bool ShowItem(const std::string& fullName) override;
    bool MoveToTrash(const std::string& path, std::string& error) override;
    bool DirectoryExists(const std::string& path) override;
};

// The project file filter of the open and save dialogs.
inline const QString kProjectFilter = QStringLiteral("Corvane(*.cvq)");

}  // namespace corvane
