// U_dirText: where the desktop program gets the table text from.
//
// The table text (directory, filter, options) and its record TFileDirOption
// belong to the file-system source; the desktop program only formats records
// into SQL text and project files and parses them back. This header is the
// one place the front end includes for that, so the tree, the project files
// and the script generator all use the same functions as the engine.
#pragma once

#if __has_include("filesource/U_CorvaneAdptr.h")
#include "filesource/U_CorvaneAdptr.h"
#else
// Local stand-in until the file-system source is on main: the same record
// and the same two functions, with the same rules.
#include <cstdint>
#include <string>

namespace corvane {

struct TFileDirOption {
    uint32_t attrMask = 58;
    bool subDirs = false;
    std::string path;
    std::string nameMask;

    bool operator==(const TFileDirOption&) const = default;
};

bool ParseDirOption(const std::string& text, TFileDirOption& option);
std::string FormatDirOption(const TFileDirOption& option);

}  // namespace corvane
#define CORVANE_DIRTEXT_STANDIN 1
#endif
