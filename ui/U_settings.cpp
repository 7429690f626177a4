// U_settings: see U_settings.h.
#include "ui/U_settings.h"

#include <algorithm>

#include "evaluation/U_memBudget.h"
#include "platform/Memory.h"

namespace corvane {

namespace {

constexpr const char* kSetting = "setting";
constexpr const char* kRecent = "recent";
constexpr const char* kColumns = "columns";
constexpr const char* kWindow = "window";
constexpr int kMaxColumnWidth = 5000;

int Clamp(long long n) {
    return static_cast<int>(std::clamp<long long>(n, kMinRecentCount, kMaxRecentCount));
}

std::string WithSlash(std::string dir) {
    if (!dir.empty() && dir.back() != '/') dir += '/';
    return dir;
}

}  // namespace

TConfigLocation ChooseConfigLocation(const std::string& programDir, bool programDirWritable,
                                     const std::string& userConfigDir, const std::string& homeDir) {
    if (programDirWritable) return {WithSlash(programDir) + "config.ini", WithSlash(programDir)};
    return {WithSlash(userConfigDir) + "config.ini", WithSlash(homeDir)};
}

TConfig::TConfig(const std::string& iniPath, const std::string& fallbackDir) : ini_(iniPath) {
    settings_.defaultDir = ini_.ReadString(kSetting, "defaultDir", "");
    settings_.recentCount = Clamp(ini_.ReadInteger(kSetting, "recentCount", 3));
    settings_.autoLast = ini_.ReadBool(kSetting, "autoLast", true);
    settings_.useExpert = ini_.ReadBool(kSetting, "useExpert", true);
    settings_.humanSizes = ini_.ReadBool(kSetting, "humanSize", false);
    // A hand-edited list may hold gaps and repeats: neither is an entry.
    for (int i = 1; i <= kMaxRecentCount; ++i) {
        std::string file = ini_.ReadString(kRecent, "file" + std::to_string(i), "");
        if (file.empty() || std::find(recent_.begin(), recent_.end(), file) != recent_.end())
            continue;
        if (static_cast<int>(recent_.size()) < settings_.recentCount) recent_.push_back(file);
    }
    if (settings_.defaultDir.empty()) settings_.defaultDir = fallbackDir;
    if (!ParseByteSize(ini_.ReadString(kSetting, "memoryLimit", ""), memoryLimit_))
        memoryLimit_ = DefaultMemoryLimit();
    const long long threads = ini_.ReadInteger(kSetting, "listingThreads", 0);
    listingThreads_ = threads < 1 ? 0 : static_cast<int>(std::min<long long>(threads, 64));
}

void TConfig::ApplySettings(const TSettings& settings) {
    settings_ = settings;
    settings_.recentCount = Clamp(settings.recentCount);
    ini_.WriteString(kSetting, "defaultDir", settings_.defaultDir);
    ini_.WriteInteger(kSetting, "recentCount", settings_.recentCount);
    ini_.WriteBool(kSetting, "autoLast", settings_.autoLast);
    ini_.WriteBool(kSetting, "useExpert", settings_.useExpert);
    ini_.WriteBool(kSetting, "humanSize", settings_.humanSizes);
    if (static_cast<int>(recent_.size()) > settings_.recentCount)
        recent_.resize(static_cast<size_t>(settings_.recentCount));
    WriteRecentKeys();
}

bool TConfig::PushRecent(const std::string& file) {
    // A name with a line break cannot be an INI value: it is not kept.
    if (file.empty() || file.find_first_of("\r\n") != std::string::npos) return false;
    if (!recent_.empty() && recent_[0] == file) return false;
    std::erase(recent_, file);
    recent_.insert(recent_.begin(), file);
    if (static_cast<int>(recent_.size()) > settings_.recentCount)
        recent_.resize(static_cast<size_t>(settings_.recentCount));
    WriteRecentKeys();
    return true;
}

bool TConfig::RemoveRecent(const std::string& file) {
    if (std::erase(recent_, file) == 0) return false;
    WriteRecentKeys();
    return true;
}

int TConfig::ColumnWidth(const std::string& column) const {
    if (column.empty()) return 0;
    const long long width = ini_.ReadInteger(kColumns, column, 0);
    return width > 0 && width <= kMaxColumnWidth ? static_cast<int>(width) : 0;
}

void TConfig::SetColumnWidth(const std::string& column, int width) {
    if (column.empty()) return;
    if (width <= 0)
        ini_.DeleteKey(kColumns, column);
    else
        ini_.WriteInteger(kColumns, column, std::min(width, kMaxColumnWidth));
}

std::string TConfig::WindowValue(const std::string& key) const {
    return ini_.ReadString(kWindow, key, "");
}

void TConfig::SetWindowValue(const std::string& key, const std::string& value) {
    ini_.WriteString(kWindow, key, value);
}

void TConfig::WriteRecentKeys() {
    for (int i = 1; i <= kMaxRecentCount; ++i)
        ini_.DeleteKey(kRecent, "file" + std::to_string(i));
    for (size_t i = 0; i < recent_.size(); ++i)
        ini_.WriteString(kRecent, "file" + std::to_string(i + 1), recent_[i]);
    ini_.Flush();
}

}  // namespace corvane
