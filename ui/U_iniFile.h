// U_iniFile: a small INI file with the reading, writing and key deletion the
// settings need.
//
// The file is read once when the object is made; changes are kept in memory
// and written by Flush, which writes a temporary file next to the real one
// and renames it over it, so a crash never leaves half a settings file.
// Sections and keys are matched ignoring ASCII letter case; lines the object
// does not understand (comments, blank lines) are kept as they are. Values
// run to the end of their line, without quoting; a value holding a line
// break cannot be stored and is written empty instead.
//
// What the keys mean is the business of U_settings.
#pragma once

#include <string>
#include <vector>

namespace corvane {

class TIniFile {
  public:
    // Reads the file when it exists; a missing file is an empty one.
    explicit TIniFile(std::string path);

    const std::string& Path() const { return path_; }

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    // A missing key or a value that is not a whole number gives the default.
    long long ReadInteger(const std::string& section, const std::string& key,
                          long long defaultValue) const;
    // "1"/"0" (any number: not 0 is true) or "true"/"false".
    bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;
    bool KeyExists(const std::string& section, const std::string& key) const;

    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, long long value);
    // Written as 1 or 0.
    void WriteBool(const std::string& section, const std::string& key, bool value);
    void DeleteKey(const std::string& section, const std::string& key);

    // Writes pending changes; throws std::runtime_error naming the file when
    // it cannot be written.
    void Flush();
    bool Dirty() const { return dirty_; }

  private:
    struct Line {
        std::string text;  // the line as written (for comments and headers)
        std::string key;   // empty for non key lines
        std::string value;
    };
    struct Section {
        std::string name;
        std::vector<Line> lines;
    };

    const Line* Find(const std::string& section, const std::string& key) const;
    Section& SectionFor(const std::string& section);

    std::string path_;
    std::vector<Section> sections_;  // sections_[0] holds lines before any header
    bool dirty_ = false;
};

}  // namespace corvane
