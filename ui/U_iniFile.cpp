// U_iniFile: see U_iniFile.h.
#include "ui/U_iniFile.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/Text.h"
#include "platform/Variant.h"

namespace corvane {

namespace {

bool SameName(const std::string& a, const std::string& b) {
    return SameTextAscii(a, b);
}

}  // namespace

// ini-file = { line } ; line = "[" name "]" | key "=" value | other
TIniFile::TIniFile(std::string path) : path_(std::move(path)) {
    sections_.push_back(Section{});
    std::ifstream in(path_, std::ios::binary);
    if (!in) return;
    std::string raw;
    bool first = true;
    while (std::getline(in, raw)) {
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        if (first) {
            first = false;
            if (raw.rfind("\xEF\xBB\xBF", 0) == 0) raw.erase(0, 3);  // a UTF-8 byte-order mark
        }
        std::string trimmed = Trim(raw);
        if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
            sections_.push_back(Section{Trim(trimmed.substr(1, trimmed.size() - 2)), {}});
            continue;
        }
        Line line{raw, {}, {}};
        size_t eq = raw.find('=');
        if (!trimmed.empty() && trimmed[0] != ';' && trimmed[0] != '#' && eq != std::string::npos) {
            line.key = Trim(raw.substr(0, eq));
            line.value = raw.substr(eq + 1);
        }
        sections_.back().lines.push_back(std::move(line));
    }
}

const TIniFile::Line* TIniFile::Find(const std::string& section, const std::string& key) const {
    for (size_t s = 1; s < sections_.size(); ++s) {
        if (!SameName(sections_[s].name, section)) continue;
        for (const Line& line : sections_[s].lines)
            if (!line.key.empty() && SameName(line.key, key)) return &line;
    }
    return nullptr;
}

TIniFile::Section& TIniFile::SectionFor(const std::string& section) {
    for (size_t s = 1; s < sections_.size(); ++s)
        if (SameName(sections_[s].name, section)) return sections_[s];
    sections_.push_back(Section{section, {}});
    return sections_.back();
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
    const Line* line = Find(section, key);
    return line ? line->value : defaultValue;
}

long long TIniFile::ReadInteger(const std::string& section, const std::string& key,
                                long long defaultValue) const {
    const Line* line = Find(section, key);
    int64_t value = 0;
    if (!line || !TryParseInteger(line->value, value)) return defaultValue;
    return value;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key,
                        bool defaultValue) const {
    const Line* line = Find(section, key);
    if (!line) return defaultValue;
    int64_t value = 0;
    if (TryParseInteger(line->value, value)) return value != 0;
    std::string text = LowerCaseAscii(Trim(line->value));
    if (text == "true") return true;
    if (text == "false") return false;
    return defaultValue;
}

bool TIniFile::KeyExists(const std::string& section, const std::string& key) const {
    return Find(section, key) != nullptr;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
    std::string stored = value.find_first_of("\r\n") == std::string::npos ? value : std::string();
    Section& sec = SectionFor(section);
    for (Line& line : sec.lines) {
        if (!line.key.empty() && SameName(line.key, key)) {
            line.value = stored;
            line.text.clear();
            dirty_ = true;
            return;
        }
    }
    // New keys go after the last key of the section, before trailing blanks.
    size_t at = sec.lines.size();
    while (at > 0 && sec.lines[at - 1].key.empty() && Trim(sec.lines[at - 1].text).empty())
        --at;
    sec.lines.insert(sec.lines.begin() + static_cast<long>(at), Line{{}, key, stored});
    dirty_ = true;
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, long long value) {
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void TIniFile::DeleteKey(const std::string& section, const std::string& key) {
    for (size_t s = 1; s < sections_.size(); ++s) {
        if (!SameName(sections_[s].name, section)) continue;
        auto& lines = sections_[s].lines;
        for (size_t i = 0; i < lines.size();) {
            if (!lines[i].key.empty() && SameName(lines[i].key, key)) {
                lines.erase(lines.begin() + static_cast<long>(i));
                dirty_ = true;
            } else {
                ++i;
            }
        }
    }
}

void TIniFile::Flush() {
    if (!dirty_) return;
    std::ostringstream out;
    for (size_t s = 0; s < sections_.size(); ++s) {
        if (s > 0) out << '[' << sections_[s].name << "]\n";
        for (const Line& line : sections_[s].lines) {
            if (line.key.empty() || !line.text.empty())
                out << line.text << '\n';
            else
                out << line.key << '=' << line.value << '\n';
        }
    }
    std::string tmp = path_ + ".tmp";
    {
        std::ofstream file(tmp, std::ios::binary | std::ios::trunc);
        file << out.str();
        file.flush();
        if (!file) {
            std::remove(tmp.c_str());
            throw std::runtime_error("无法写入文件 " + path_);
        }
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path_, ec);
    if (ec) {
        std::remove(tmp.c_str());
        throw std::runtime_error("无法写入文件 " + path_);
    }
    dirty_ = false;
}

}  // namespace corvane
