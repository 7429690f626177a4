// U_dirText: the stand-in table-text functions, compiled only while the
// file-system source is not part of the build (see U_dirText.h).
#include "ui/U_dirText.h"

#ifdef CORVANE_DIRTEXT_STANDIN
#include "platform/Text.h"

namespace corvane {

// table-text = [quote] path-and-filter [ " /" options ] [quote]
bool ParseDirOption(const std::string& input, TFileDirOption& option) {
    if (input.size() < 2) return false;
    std::string text = input;
    if (text.front() == text.back() && (text.front() == '"' || text.front() == '\''))
        text = text.substr(1, text.size() - 2);
    std::string options;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == ' ' && text[i + 1] == '/') {
            options = text.substr(i + 1);
            text.resize(i);
            break;
        }
    }
    size_t slash = text.rfind('/');
    std::string last = slash == std::string::npos ? text : text.substr(slash + 1);
    if (last.find_first_of(".*?") != std::string::npos) {
        option.path = slash == std::string::npos ? std::string() : text.substr(0, slash + 1);
        option.nameMask = last;
    } else {
        option.path = text;
        option.nameMask.clear();
    }
    option.attrMask = 58;
    option.subDirs = false;
    options = LowerCaseAscii(options);
    size_t pos = 0;
    while (pos < options.size()) {
        size_t next = options.find('/', pos + 1);
        std::string token = Trim(options.substr(
            pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1));
        pos = next == std::string::npos ? options.size() : next;
        if (token.empty()) continue;
        if (token == "s") {
            option.subDirs = true;
            continue;
        }
        if (token == "all") {
            option.attrMask = 63;
            continue;
        }
        if (token == "none") {
            option.attrMask = 0;
            continue;
        }
        size_t k = 1;
        bool remove = false;
        if (k < token.size() && token[k] == '-') {
            remove = true;
            ++k;
        }
        uint32_t bit = 0;
        if (k < token.size()) {
            switch (token[k]) {
                case 'a':
                    bit = 32;
                    break;
                case 'd':
                    bit = 16;
                    break;
                case 'h':
                    bit = 2;
                    break;
                case 'r':
                    bit = 1;
                    break;
                case 's':
                    bit = 4;
                    break;
                default:
                    break;
            }
        }
        if (remove)
            option.attrMask &= ~bit;
        else
            option.attrMask |= bit;
    }
    return true;
}

std::string FormatDirOption(const TFileDirOption& option) {
    std::string text = option.path;
    if (text.empty() || text.back() != '/') text += '/';
    text += option.nameMask.empty() ? std::string("*") : option.nameMask;
    std::string options;
    if (option.subDirs) options += "/s";
    if ((option.attrMask & 63) == 63) {
        options += "/all";
    } else {
        if (option.attrMask & 1) options += "/ar";
        if (option.attrMask & 2) options += "/ah";
        if (option.attrMask & 16) options += "/ad";
        if (option.attrMask & 4) options += "/as";
    }
    if (!options.empty()) text += " " + options;
    return "\"" + text + "\"";
}

}  // namespace corvane
#endif
