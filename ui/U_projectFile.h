// U_projectFile: reading and writing project files (".cvq").
//
// A project is the list of directory tables (alias and table text) and the
// SQL text. On disk it is a small XML document without white space between
// elements: corvane > dirlist > dir (attribute alias, CDATA table text) and
// corvane > sql (CDATA statement text). Line breaks inside it are CR LF and
// the file ends with CR LF.
//
// Encoding: a project whose every character exists in GBK is written in GBK
// bytes under the declaration encoding="GB2312" (what older files carry);
// any other project is the same text declared and written as UTF-8. Reading
// honours the declared encoding (GB2312, GBK and GB18030 are decoded as GBK
// or GB18030 through iconv; UTF-8 and no declaration as UTF-8).
//
// Two things the plain format cannot hold are mended on writing: a "]]>"
// inside the SQL text or a table text is split over two CDATA sections, and
// the alias attribute is escaped, so every project reads back as it was
// saved. Saving writes a temporary file in the same folder and renames it
// over the old one.
//
// This unit knows nothing of the tree or the editor; U_projectCtl moves the
// data between them and these functions.
#pragma once

#include <string>
#include <vector>

#include "ui/U_dirText.h"

namespace corvane {

struct TProjectDir {
    std::string alias;
    TFileDirOption option;
};

// A "dir" element whose table text does not parse (read, not written).
struct TSkippedDir {
    std::string alias;
    std::string tableText;
};

struct TProjectData {
    std::vector<TProjectDir> dirs;
    std::string sql;                   // line breaks as "\n"
    std::vector<TSkippedDir> skipped;  // left out on reading; the rest loads
};

// The bytes of a project file.
std::string FormatProject(const TProjectData& project);
// Reads the bytes of a project file. On failure returns false with a
// message fit for the user and leaves project untouched. A table text that
// does not parse is no failure: that table goes to project.skipped and the
// others load.
bool ParseProject(const std::string& bytes, TProjectData& project, std::string& error);

// Whole-file forms. SaveProjectFile never leaves a half-written file.
bool LoadProjectFile(const std::string& path, TProjectData& project, std::string& error);
bool SaveProjectFile(const std::string& path, const TProjectData& project, std::string& error);

// Converts between UTF-8 and another encoding through iconv; false when a
// character cannot be converted or the encoding is unknown.
bool ConvertEncoding(const std::string& from, const std::string& to, const std::string& input,
                     std::string& output);

}  // namespace corvane
