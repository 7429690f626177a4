// Stand-ins shared by the desktop program's tests: a user who answers
// from a script, dialogs that return prepared values, a shell that records
// what it was asked and a trash that moves files into a folder of the test.
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <deque>
#include <string>
#include <vector>

#include "ui/U_services.h"

namespace corvane::test {

class FakePrompt : public IUserPrompt {
  public:
    std::deque<TAnswer> answers;  // next answers; Yes when empty
    std::deque<int> choices;      // next choices; the first button when empty
    std::vector<std::string> asked, informed, errors;

    TAnswer Ask(const std::string& title, const std::string& text, bool withCancel) override {
        asked.push_back(title + "|" + text + (withCancel ? "|YNC" : "|YN"));
        if (answers.empty()) return TAnswer::Yes;
        TAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    int Choose(const std::string& title, const std::string& text,
               const std::vector<std::string>& buttons) override {
        std::string line = title + "|" + text;
        for (const std::string& b : buttons)
            line += "|" + b;
        asked.push_back(line);
        if (choices.empty()) return 0;
        int c = choices.front();
        choices.pop_front();
        return c;
    }
    void Inform(const std::string& text) override { informed.push_back(text); }
    void Error(const std::string& text) override { errors.push_back(text); }
};

class FakeDialogs : public IDialogs {
  public:
    std::deque<std::string> openFiles, saveFiles, folders;  // empty = cancelled
    std::deque<std::string> exportFiles;                    // empty = cancelled
    std::deque<TResultFormat> exportFormats;                // the user's choice; kept when empty
    std::deque<TFileDirOption> dirOptions;                  // empty = cancelled
    std::deque<TSettings> settings;                         // empty = cancelled
    std::vector<std::string> calls;

    static bool Take(std::deque<std::string>& q, std::string& out) {
        if (q.empty()) return false;
        out = q.front();
        q.pop_front();
        return true;
    }
    bool OpenProject(const std::string& dir, std::string& file) override {
        calls.push_back("open:" + dir);
        return Take(openFiles, file);
    }
    bool SaveProject(const std::string& dir, std::string& file) override {
        calls.push_back("save:" + dir);
        return Take(saveFiles, file);
    }
    bool SaveExport(const std::string& dir, TResultFormat& format, std::string& file) override {
        calls.push_back("export:" + dir + (format == TResultFormat::rfJson ? ":json" : ":csv"));
        if (!exportFormats.empty()) {
            format = exportFormats.front();
            exportFormats.pop_front();
        }
        return Take(exportFiles, file);
    }
    bool PickFolder(const std::string& title, const std::string& dir,
                    std::string& folder) override {
        calls.push_back("folder:" + title + ":" + dir);
        return Take(folders, folder);
    }
    bool EditDirOption(TFileDirOption& option) override {
        calls.push_back("diroption:" + option.path);
        if (dirOptions.empty()) return false;
        option = dirOptions.front();
        dirOptions.pop_front();
        return true;
    }
    bool EditSettings(TSettings& s) override {
        calls.push_back("settings");
        if (settings.empty()) return false;
        s = settings.front();
        settings.pop_front();
        return true;
    }
};

// Records what it is asked; the trash is a folder of the test.
class FakeShell : public IShellService {
  public:
    explicit FakeShell(QString trashDir = {}) : trashDir_(std::move(trashDir)) {}
    std::vector<std::string> opened, shown, trashed;
    std::vector<std::string> refuse;  // files the trash refuses
    bool handlerMissing = false;      // opening and showing fail

    bool OpenPath(const std::string& path) override {
        opened.push_back(path);
        return !handlerMissing;
    }
    bool ShowItem(const std::string& fullName) override {
        shown.push_back(fullName);
        return !handlerMissing;
    }
    bool MoveToTrash(const std::string& path, std::string& error) override {
        for (const auto& r : refuse)
            if (r == path) {
                error = "拒绝";
                return false;
            }
        QFileInfo info(QString::fromStdString(path));
        if (!info.exists()) {
            error = "文件不存在";
            return false;
        }
        if (!QFile::rename(info.absoluteFilePath(), trashDir_ + "/" + info.fileName())) {
            error = "无法移动";
            return false;
        }
        trashed.push_back(path);
        return true;
    }
    bool DirectoryExists(const std::string& path) override {
        return !path.empty() && QFileInfo(QString::fromStdString(path)).isDir();
    }

  private:
    QString trashDir_;
};

inline std::string S(const QString& s) {
    return s.toStdString();
}

}  // namespace corvane::test
