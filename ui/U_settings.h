// U_settings: the settings record, the recent-project list and config.ini.
//
// TConfig owns the INI file and the things kept in it: the four settings
// of section "setting" (and the memory limit of a query, a key only read)
// and the recent-project list of section "recent"
// (file1 ... fileN, most recent first, exactly N entries, empty ones
// included). It performs the key writes of the settings dialog and of a
// push onto the recent list, and decides where config.ini lives: in the
// program's directory when that can be written (a portable build), else in
// the user's configuration directory.
//
// The dialogs that edit the settings are in U_DlgSetting; the menu that
// mirrors the recent list is built by the main window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ui/U_iniFile.h"

namespace corvane {

struct TSettings {
    std::string defaultDir;  // start directory of the open and save dialogs
    int recentCount = 3;     // entries of the recent list, 1..6
    bool autoLast = true;    // open the most recent project at start-up
    bool useExpert = true;   // stored and shown; no other effect
};

constexpr int kMinRecentCount = 1;
constexpr int kMaxRecentCount = 6;

// Where config.ini lives and which directory replaces an empty default
// directory.
struct TConfigLocation {
    std::string iniPath;
    std::string fallbackDir;
};
// programDir ends in "/"; userConfigDir is the per-user configuration
// directory of the program and homeDir the user's home directory.
TConfigLocation ChooseConfigLocation(const std::string& programDir, bool programDirWritable,
                                     const std::string& userConfigDir, const std::string& homeDir);

class TConfig {
  public:
    // Reads the settings and the recent list (start-up). An empty default
    // directory becomes fallbackDir; a recent count outside 1..6 is clamped.
    TConfig(const std::string& iniPath, const std::string& fallbackDir);

    const TSettings& Settings() const { return settings_; }
    // What one query may hold in memory, from the key "memoryLimit" of
    // section "setting" (a size such as "512M" or "2G"; "0" removes the
    // bound). Absent or not a size: the engine's default. Only read: the
    // settings dialog does not show it.
    int64_t MemoryLimit() const { return memoryLimit_; }
    const std::vector<std::string>& Recent() const { return recent_; }
    const std::string& IniPath() const { return ini_.Path(); }

    // Takes new settings and stores them: the four "setting" keys, the
    // recent list padded with empty entries to the new count, the keys
    // file1..file6 deleted and file1..fileN written. Throws on a write error.
    void ApplySettings(const TSettings& settings);

    // Puts file at the head of the recent list unless it is already there;
    // true when the list changed (the keys are then rewritten).
    bool PushRecent(const std::string& file);

  private:
    void WriteRecentKeys();

    TIniFile ini_;
    TSettings settings_;
    std::vector<std::string> recent_;
    int64_t memoryLimit_ = 0;
};

}  // namespace corvane
