#include "filesource/TableText.h"

#include "platform/Text.h"

namespace corvane {

namespace {

// The text without one pair of enclosing equal quotes, as the parser reads
// it.
std::string_view Unquoted(std::string_view text) {
    if (text.size() >= 2 && text.front() == text.back() &&
        (text.front() == '"' || text.front() == '\''))
        return text.substr(1, text.size() - 2);
    return text;
}

std::string_view LastComponent(std::string_view path) {
    size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool IsDotDirectory(std::string_view component) {
    return component == "." || component == "..";
}

// True when the last component of path holds "*", "?" or "." and is not
// "." or "..": written last in a table text, it may read as a filter.
bool MayReadAsFilter(std::string_view path) {
    std::string_view last = LastComponent(path);
    return !IsDotDirectory(last) && last.find_first_of(".*?") != std::string_view::npos;
}

// Whether "/." written after path marks path as the directory (and is
// dropped by the parser): path would read as a filter, or path ends in
// such a marker itself (so "/data/v1.2/." survives as a path as well).
bool TakesDirectoryMarker(std::string_view path) {
    for (;;) {
        if (path.empty()) return false;
        if (MayReadAsFilter(path)) return true;
        if (path.size() < 2 || path.substr(path.size() - 2) != "/.") return false;
        path.remove_suffix(2);
    }
}

// Whether location names an existing directory, tried as written and, as
// loading does, without blanks at its end.
bool NamesDirectory(std::string_view location, std::string_view baseDir) {
    if (DirectoryExists(ResolveTablePath(location, baseDir))) return true;
    size_t end = location.find_last_not_of(' ');
    return end != std::string_view::npos && end + 1 < location.size() &&
           DirectoryExists(ResolveTablePath(location.substr(0, end + 1), baseDir));
}

}  // namespace

std::string_view UnquotedTableText(std::string_view text) {
    return Unquoted(text);
}

std::string ResolveTablePath(std::string_view path, std::string_view baseDir) {
    if (path == "~" || path.substr(0, 2) == "~/") {
        std::string home = HomeDirectory();
        if (!home.empty()) {
            std::string_view rest = path.substr(1);  // "" or "/..."
            if (!rest.empty() && home.back() == '/') rest.remove_prefix(1);
            home += rest;
            return home;
        }
    }
    if (baseDir.empty() || path.empty() || path.front() == '/') return std::string(path);
    std::string_view rest = path;
    while (rest.substr(0, 2) == "./") {
        rest.remove_prefix(2);
        while (!rest.empty() && rest.front() == '/')
            rest.remove_prefix(1);
    }
    std::string out(baseDir);
    if (rest.empty() || rest == ".") return out;
    if (out.back() != '/') out += '/';
    out += rest;
    return out;
}

// table-text = [quote] location [" /" options] [quote]   (one enclosing pair
//              of equal quotes, " or ', is removed)
// location   = directory "/." | [directory "/"] filter | directory
//              ("/." marks the directory when its last component would
//              otherwise read as a filter; the last component is a filter
//              when it holds "*" or "?", or holds "." and is neither "." nor
//              ".." nor an existing directory; the directory keeps its final
//              "/" then)
// options    = { blanks | "/" token }   (a token runs to the next "/" or
//              blank; a value after ":" runs to the next blank, and a "/"
//              in it is part of it; names are lower-cased, values kept)
// token      = named | attribute | ""
// named      = "s" | "all" | "none" | "xdev" | "gitignore" | "follow" |
//              "archive" | ("maxdepth" | "mindepth") ":" digits |
//              "exclude" ":" pattern
// attribute  = any-char ["-"] letter   (letter: a archive, d directory,
//              h hidden, r read-only, s system; "-" removes the bit, else it
//              is added)
// Any other token is read by the attribute rule all the same (its first
// character dropped, a "-" after it taken, the next character selecting a
// bit or none) and reported as Unknown: "/maxdept:2" adds the archive bit
// as it always did, but the caller learns of it. A named option with a
// bad value ("maxdepth:x", "exclude:") is ignored and reported as
// BadValue.
//
// The separator is the first blank that is followed by "/"; the blank
// belongs to it. Quotes inside the text are ordinary characters: Linux names
// hold apostrophes ("Bob's files"), and treating one as an opening quote
// would swallow the options after it.
namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// digits, saturated at UINT32_MAX; nothing for an empty text or any other
// character.
std::optional<uint32_t> ParseCount(std::string_view digits) {
    if (digits.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > UINT32_MAX) value = UINT32_MAX;
    }
    return static_cast<uint32_t>(value);
}

// The attribute rule on a lower-cased token; true when the token has the
// attribute form.
bool ApplyAttributeToken(std::string_view token, uint32_t& mask) {
    const bool form = (token.size() == 2 || (token.size() == 3 && token[1] == '-')) &&
                      std::string_view("adhrs").find(token.back()) != std::string_view::npos;
    token.remove_prefix(1);  // the "a" of "ar", whatever it is
    bool remove = !token.empty() && token.front() == '-';
    if (remove) token.remove_prefix(1);
    uint32_t bit = 0;
    if (!token.empty()) switch (token.front()) {
            case 'a':
                bit = faArchive;
                break;
            case 'd':
                bit = faDirectory;
                break;
            case 'h':
                bit = faHidden;
                break;
            case 'r':
                bit = faReadOnly;
                break;
            case 's':
                bit = faSysFile;
                break;
            default:
                break;
        }
    if (remove)
        mask &= ~bit;
    else
        mask |= bit;
    return form;
}

// Applies one token (name lower-cased; value as written, present when the
// token held ":").
void ApplyToken(std::string_view written, std::string_view name,
                std::optional<std::string_view> value, TFileDirOption& o,
                std::vector<TDirOptionIssue>* issues) {
    auto note = [&](TDirOptionIssue::Kind kind) {
        if (issues) issues->push_back({kind, std::string(written)});
    };
    if (!value) {
        if (name == "s")
            o.subDirs = true;
        else if (name == "all")
            o.attrMask = faAnyFile;
        else if (name == "none")
            o.attrMask = 0;
        else if (name == "xdev")
            o.oneFileSystem = true;
        else if (name == "gitignore")
            o.gitIgnore = true;
        else if (name == "follow")
            o.followLinks = true;
        else if (name == "archive")
            o.archives = true;
        else if (name == "maxdepth" || name == "mindepth" || name == "exclude")
            note(TDirOptionIssue::BadValue);  // the value is missing
        else if (!ApplyAttributeToken(name, o.attrMask))
            note(TDirOptionIssue::Unknown);
        return;
    }
    if (name == "maxdepth" || name == "mindepth") {
        std::optional<uint32_t> n = ParseCount(*value);
        if (!n)
            note(TDirOptionIssue::BadValue);
        else if (name == "maxdepth")
            o.maxDepth = n;
        else
            o.minDepth = *n;
    } else if (name == "exclude") {
        if (value->empty())
            note(TDirOptionIssue::BadValue);
        else
            o.excludes.emplace_back(*value);
    } else {
        // Not a name that takes a value: the attribute rule reads it whole.
        ApplyAttributeToken(LowerCaseAscii(written), o.attrMask);
        note(TDirOptionIssue::Unknown);
    }
}

}  // namespace

bool ParseDirOption(std::string_view text, TFileDirOption& option, std::string_view baseDir,
                    std::vector<TDirOptionIssue>* issues) {
    if (text.size() < 2) return false;
    text = Unquoted(text);

    std::string_view location = text;
    std::string_view options;
    size_t sep = text.find(" /");
    if (sep != std::string_view::npos) {
        location = text.substr(0, sep);
        options = text.substr(sep + 1);
    }

    TFileDirOption result;
    const std::string_view last = LastComponent(location);
    bool filter = false;
    if (location.size() > 2 && last == "." &&
        TakesDirectoryMarker(location.substr(0, location.size() - 2)))
        location.remove_suffix(2);  // "/data/v1.2/.": the directory v1.2
    else if (last.find_first_of("*?") != std::string_view::npos)
        filter = true;
    else if (!IsDotDirectory(last) && last.find('.') != std::string_view::npos)
        filter = !NamesDirectory(location, baseDir);  // "/etc/apt/sources.list.d"
    if (filter) {
        size_t cut = location.size() - last.size();
        result.path.assign(location.substr(0, cut));
        result.nameMask.assign(last);
    } else {
        result.path.assign(location);
    }

    size_t i = 0;
    while (i < options.size()) {
        if (options[i] == '/' || IsBlank(options[i])) {
            ++i;
            continue;
        }
        // A token: its name runs to "/", a blank or ":"; a value after ":"
        // runs to the next blank.
        const size_t start = i;
        while (i < options.size() && options[i] != '/' && options[i] != ':' && !IsBlank(options[i]))
            ++i;
        const std::string name = LowerCaseAscii(options.substr(start, i - start));
        std::optional<std::string_view> value;
        if (i < options.size() && options[i] == ':') {
            const size_t valueStart = ++i;
            while (i < options.size() && !IsBlank(options[i]))
                ++i;
            value = options.substr(valueStart, i - valueStart);
        }
        ApplyToken(options.substr(start, i - start), name, value, result, issues);
    }
    option = std::move(result);
    return true;
}

bool IsWritableExclude(std::string_view pattern) {
    if (pattern.empty()) return false;
    for (char c : pattern)
        if (IsBlank(c)) return false;
    return true;
}

// The text is the path, then "/" and the filter; without a filter the
// marker "/." is added only where the last component would otherwise read
// as a filter (or as the marker), so "/data" stays "/data" and
// "/data/v1.2" becomes "/data/v1.2/.": both parse back to the same path,
// whatever the disk holds (a path ending in a blank cannot take the marker).
// Options follow a blank: "/s", then "/all" for every bit, else "/ar",
// "/ah", "/ad", "/as" for the bits present and "/a-h", "/a-d" for hidden and
// directory when absent, since parsing starts from a mask that holds them.
// Archive and volume are never written. The listing controls follow, each
// after a blank (a value runs to the next blank): depth limits, "/xdev",
// the excludes in their order, "/gitignore", "/follow", "/archive".
std::string FormatDirOption(const TFileDirOption& option) {
    std::string text = "\"";
    text += option.path;
    if (!option.nameMask.empty()) {
        if (!option.path.empty() && option.path.back() != '/') text += '/';
        text += option.nameMask;
    } else if (TakesDirectoryMarker(option.path) && option.path.back() != ' ') {
        // After a blank the marker would start the options; such a path is
        // written as it is and means the directory while it exists.
        text += "/.";
    }
    std::string opts;
    if (option.subDirs) opts += "/s";
    uint32_t m = option.attrMask;
    if ((m & faAnyFile) == faAnyFile) {
        opts += "/all";
    } else {
        if (m & faReadOnly) opts += "/ar";
        if (m & faHidden) opts += "/ah";
        if (m & faDirectory) opts += "/ad";
        if (m & faSysFile) opts += "/as";
        if (!(m & faHidden)) opts += "/a-h";
        if (!(m & faDirectory)) opts += "/a-d";
    }
    if (option.maxDepth) opts += " /maxdepth:" + std::to_string(*option.maxDepth);
    if (option.minDepth > 0) opts += " /mindepth:" + std::to_string(option.minDepth);
    if (option.oneFileSystem) opts += " /xdev";
    for (const std::string& pattern : option.excludes)
        if (IsWritableExclude(pattern)) opts += " /exclude:" + pattern;
    if (option.gitIgnore) opts += " /gitignore";
    if (option.followLinks) opts += " /follow";
    if (option.archives) opts += " /archive";
    if (!opts.empty()) {
        if (opts.front() != ' ') text += ' ';
        text += opts;
    }
    text += '"';
    return text;
}

}  // namespace corvane
