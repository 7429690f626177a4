// U_settings: see U_settings.h.
#include "ui/U_settings.h"

#include <algorithm>

#include "engine/U_memBudget.h"
#include "platform/Memory.h"

namespace corvane {

namespace {

constexpr const char* kSetting = "setting";
constexpr const char* kRecent = "recent";

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
    for (int i = 1; i <= settings_.recentCount; ++i)
        recent_.push_back(ini_.ReadString(kRecent, "file" + std::to_string(i), ""));
    if (settings_.defaultDir.empty()) settings_.defaultDir = fallbackDir;
    if (!ParseByteSize(ini_.ReadString(kSetting, "memoryLimit", ""), memoryLimit_))
        memoryLimit_ = DefaultMemoryLimit();
}

void TConfig::ApplySettings(const TSettings& settings) {
    settings_ = settings;
    settings_.recentCount = Clamp(settings.recentCount);
    ini_.WriteString(kSetting, "defaultDir", settings_.defaultDir);
    ini_.WriteInteger(kSetting, "recentCount", settings_.recentCount);
    ini_.WriteBool(kSetting, "autoLast", settings_.autoLast);
    ini_.WriteBool(kSetting, "useExpert", settings_.useExpert);
    // A smaller count keeps the list as it is until the next push rewrites
    // it; the keys are written for the first N entries only.
    while (static_cast<int>(recent_.size()) < settings_.recentCount)
        recent_.emplace_back();
    WriteRecentKeys();
}

bool TConfig::PushRecent(const std::string& file) {
    if (!recent_.empty() && recent_[0] == file) return false;
    const size_t n = static_cast<size_t>(settings_.recentCount);
    recent_.insert(recent_.begin(), file);
    recent_.resize(n);
    WriteRecentKeys();
    return true;
}

void TConfig::WriteRecentKeys() {
    for (int i = 1; i <= kMaxRecentCount; ++i)
        ini_.DeleteKey(kRecent, "file" + std::to_string(i));
    for (int i = 0; i < settings_.recentCount && i < static_cast<int>(recent_.size()); ++i)
        ini_.WriteString(kRecent, "file" + std::to_string(i + 1), recent_[static_cast<size_t>(i)]);
    ini_.Flush();
}

}  // namespace corvane
