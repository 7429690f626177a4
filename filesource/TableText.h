// TableText: the table text of a directory table, read and written.
//
// A FROM table of the file source is named by a table text: a directory, an
// optional wildcard filter and options ('/home/me/docs/*.log /s/ar'; the
// grammar is at ParseDirOption, the whole story in U_CorvaneAdptr). This
// unit turns such a text into a TFileDirOption record and back, and
// resolves the directory it names ("~", relative paths). It lists nothing:
// the walker (U_CorvaneAdptr) loads what a parsed record describes; the
// desktop program's directory dialog and project files use this unit to
// read and write the texts.
//
// Besides the attribute letters the options hold the listing controls:
// depth limits, staying on one file system, excludes, ignore files and
// following links. They are named options, whole words matched before
// the attribute rule, and may stand together ("/s/ar") or apart with
// blanks ("/s /maxdepth:2 /exclude:**/node_modules"). What a token that is
// neither means is kept as before (the attribute rule), but the parser
// names it, so the table can warn about a typo instead of listing the
// whole tree in silence.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"

namespace corvane {

constexpr uint32_t kDefaultAttrMask = faHidden | faVolumeId | faDirectory | faArchive;  // 58

// The parsed table text.
struct TFileDirOption {
    TFileDirOption() = default;
    // The described four fields; the listing controls at their defaults.
    TFileDirOption(uint32_t mask, bool sub, std::string dir, std::string filter)
        : attrMask(mask), subDirs(sub), path(std::move(dir)), nameMask(std::move(filter)) {}

    uint32_t attrMask = kDefaultAttrMask;  // an entry may carry only these attribute bits
    bool subDirs = false;                  // also list sub-directories, recursively
    std::string path;                      // directory as written (with or without a final "/")
    std::string nameMask;                  // wildcard filter; empty means every name
    // Entries of the table's directory have depth 1, theirs 2 and so on.
    // A maximum implies recursion (see Recursive); 0 lists nothing.
    std::optional<uint32_t> maxDepth;   // "maxdepth:N": list entries of depth <= N
    uint32_t minDepth = 0;              // "mindepth:N": list entries of depth >= N
    bool oneFileSystem = false;         // "xdev": enter no directory of another mount
    bool gitIgnore = false;             // "gitignore": honour the ignore files
    bool followLinks = false;           // "follow": enter links to directories
    bool archives = false;              // "archive": reserved; listed as without it
    std::vector<std::string> excludes;  // "exclude:PATTERN", in the order written

    // Whether the listing goes below the table's directory: "s", a maximum
    // depth, or a minimum beyond 1 (which lists nothing otherwise).
    bool Recursive() const { return subDirs || maxDepth.has_value() || minDepth > 1; }

    bool operator==(const TFileDirOption&) const = default;
};

// An option token the parser could not take as written: one that is
// neither a named option nor of the attribute form (one character, an
// optional "-", one of a d h r s; applied by the attribute rule all the
// same), or a named option whose value is missing or not a number
// (ignored).
struct TDirOptionIssue {
    enum Kind { Unknown, BadValue };
    Kind kind = Unknown;
    std::string token;  // as written (letter case kept)
    bool operator==(const TDirOptionIssue&) const = default;
};

// Parses a table text. False (and option untouched) when the text is too
// short (fewer than 2 bytes); every other text parses. Whether a dotted
// last component without wildcards is a directory or a filter depends on
// the disk: it is looked up as ResolveTablePath(location, baseDir) (and
// without blanks at its end). `path` keeps the text as written ("~/x",
// "./x"); only loading resolves it.
// The tokens it could not take as written are added to issues when given.
bool ParseDirOption(std::string_view tableText, TFileDirOption& option,
                    std::string_view baseDir = {}, std::vector<TDirOptionIssue>* issues = nullptr);
// The table text for an option record, in double quotes. It parses back to
// the same record, whatever is on disk, when the path and filter contain no
// blank followed by "/"; the filter is empty (a directory whose last
// component would read as a filter gets the marker "/."; one that also ends
// in a blank cannot, and means the directory only while it exists) or the
// path is empty or ends with "/" and the filter holds "*" or "?"; and the
// mask includes the archive and volume bits (as every parsed mask without
// "none" or "a-a" does; the directory dialog's masks lack them and gain
// them). A filter with "." but no wildcard parses back the same as long as
// no directory of that name appears meanwhile. An exclude pattern that is
// empty or holds a blank cannot be written (its value would end there) and
// is left out; IsWritableExclude tells which ones can.
std::string FormatDirOption(const TFileDirOption& option);

// Whether FormatDirOption can write pattern as an exclude option.
bool IsWritableExclude(std::string_view pattern);

// The directory a table path names: a leading "~" or "~/" becomes the
// user's home directory (HOME, else the password database; left as it is
// when neither knows one); a relative path is joined to baseDir when that
// is not empty ("." is baseDir itself, a leading "./" is dropped), and
// stays relative, for the current directory, otherwise.
std::string ResolveTablePath(std::string_view path, std::string_view baseDir = {});

// The text without one pair of enclosing equal quotes (" or '), as the
// parser reads it.
std::string_view UnquotedTableText(std::string_view text);

}  // namespace corvane
