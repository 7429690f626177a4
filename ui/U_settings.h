// U_settings: the settings record, the recent-project list and config.ini.
//
// TConfig owns the INI file and what is kept in it: the settings of
// section "setting" (and the memory limit of a query, a key only read),
// the recent-project list of section "recent" (file1 ... fileK, most
// recent first, at most N entries, no empty entries and no file twice),
// the column widths the user has set (section "columns", one key per
// column name) and the window's geometry, splitter positions and last page
// (section "window"). It performs the key writes of the settings dialog
// and of a change of the recent list at once; widths and window state are
// kept in memory until Flush (the window calls it when it closes).
//
// Where config.ini lives: in the program's directory when that can be
// written (a portable build), else in the user's configuration directory
// (~/.config/Corvane/config.ini, or under $XDG_CONFIG_HOME).
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
    std::string defaultDir;   // start directory of the open and save dialogs
    int recentCount = 3;      // entries of the recent list, 1..6
    bool autoLast = true;     // open the most recent project at start-up
    bool useExpert = true;    // stored and shown (disabled); no other effect
    bool humanSizes = false;  // the size column in KiB, MiB, GiB instead of bytes
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
// directory of the program (~/.config/Corvane) and homeDir the user's home
// directory.
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
    // Threads a recursive listing reads with, from the key "listingThreads"
    // of section "setting": 1 lists on the query's own thread, more read
    // sub-directories ahead (the rows and their order stay the same).
    // Absent, not a number or below 1: 0, the number of cores; above 64:
    // 64. Only read, like the memory limit.
    int ListingThreads() const { return listingThreads_; }
    const std::vector<std::string>& Recent() const { return recent_; }
    const std::string& IniPath() const { return ini_.Path(); }

    // Takes new settings and stores them: the four "setting" keys, the
    // recent list padded with empty entries to the new count, the keys
    // file1..file6 deleted and file1..fileN written. Throws on a write error.
    void ApplySettings(const TSettings& settings);

    // Puts file at the head of the recent list (taking it out further
    // down); true when the list changed (the keys are then rewritten). An
    // empty name and a name with a line break are not kept.
    bool PushRecent(const std::string& file);
    // Takes file out of the recent list; true when it was there.
    bool RemoveRecent(const std::string& file);

    // The width the user gave a column (0: none) and remembering one
    // (width 0 forgets it). Kept in memory until Flush.
    int ColumnWidth(const std::string& column) const;
    void SetColumnWidth(const std::string& column, int width);
    // Values of section "window" (geometry, splitters, page), in memory
    // until Flush.
    std::string WindowValue(const std::string& key) const;
    void SetWindowValue(const std::string& key, const std::string& value);
    // Writes what is kept in memory; throws on a write error.
    void Flush() { ini_.Flush(); }

  private:
    void WriteRecentKeys();

    TIniFile ini_;
    TSettings settings_;
    std::vector<std::string> recent_;
    int64_t memoryLimit_ = 0;
    int listingThreads_ = 0;
};

}  // namespace corvane
