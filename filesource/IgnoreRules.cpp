#include "filesource/IgnoreRules.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace corvane {

// ---------------------------------------------------------------------------
// Matching

namespace {

// What matching the rest of a pattern found. Besides yes and no, a star
// learns that trying it further is useless: kAbortAll when the text ran
// out before the rest matched (no earlier star can do better by taking
// more), kAbortToDoubleStar when the rest would have had to cross a "/"
// (only an earlier "**" can). This keeps a pattern of many stars from
// trying every way of splitting the text.
enum class Wild { kMatch, kNoMatch, kAbortAll, kAbortToDoubleStar };

bool InClass(std::string_view cls, unsigned char c) {
    if (c >= 128) return false;
    if (cls == "alnum") return std::isalnum(c);
    if (cls == "alpha") return std::isalpha(c);
    if (cls == "blank") return c == ' ' || c == '\t';
    if (cls == "cntrl") return std::iscntrl(c);
    if (cls == "digit") return std::isdigit(c);
    if (cls == "graph") return std::isgraph(c);
    if (cls == "lower") return std::islower(c);
    if (cls == "print") return std::isprint(c);
    if (cls == "punct") return std::ispunct(c);
    if (cls == "space") return std::isspace(c);
    if (cls == "upper") return std::isupper(c);
    if (cls == "xdigit") return std::isxdigit(c);
    return false;
}

bool KnownClass(std::string_view cls) {
    for (const char* k : {"alnum", "alpha", "blank", "cntrl", "digit", "graph", "lower", "print",
                          "punct", "space", "upper", "xdigit"})
        if (cls == k) return true;
    return false;
}

// Matches the set that starts after "[" at p against c; p is left after
// the closing "]". kAbortAll for a set that does not end.
Wild MatchSet(std::string_view pat, size_t& p, unsigned char c, bool pathname) {
    bool negated = false;
    if (p < pat.size() && (pat[p] == '!' || pat[p] == '^')) {
        negated = true;
        ++p;
    }
    bool matched = false;
    int previous = -1;  // the last single character, for a range
    bool first = true;
    for (;;) {
        if (p >= pat.size()) return Wild::kAbortAll;
        unsigned char pc = static_cast<unsigned char>(pat[p]);
        if (pc == ']' && !first) {
            ++p;
            break;
        }
        first = false;
        if (pc == '\\') {
            if (++p >= pat.size()) return Wild::kAbortAll;
            pc = static_cast<unsigned char>(pat[p]);
            if (pc == c) matched = true;
            previous = pc;
        } else if (pc == '-' && previous >= 0 && p + 1 < pat.size() && pat[p + 1] != ']') {
            ++p;
            unsigned char hi = static_cast<unsigned char>(pat[p]);
            if (hi == '\\') {
                if (++p >= pat.size()) return Wild::kAbortAll;
                hi = static_cast<unsigned char>(pat[p]);
            }
            if (c >= previous && c <= hi) matched = true;
            previous = -1;
        } else if (pc == '[' && p + 1 < pat.size() && pat[p + 1] == ':') {
            const size_t close = pat.find(":]", p + 2);
            if (close == std::string_view::npos) {
                // No class after all: a plain "[".
                if (pc == c) matched = true;
                previous = pc;
            } else {
                const std::string_view cls = pat.substr(p + 2, close - p - 2);
                if (!KnownClass(cls)) return Wild::kAbortAll;  // a malformed pattern
                if (InClass(cls, c)) matched = true;
                p = close + 1;  // at the "]" of ":]"
                previous = -1;
            }
        } else {
            if (pc == c) matched = true;
            previous = pc;
        }
        ++p;
    }
    if (matched == negated || (pathname && c == '/')) return Wild::kNoMatch;
    return Wild::kMatch;
}

Wild Match(std::string_view pat, size_t p, std::string_view text, size_t t, bool pathname) {
    for (; p < pat.size(); ++p) {
        const char pc = pat[p];
        if (t >= text.size() && pc != '*') return Wild::kAbortAll;
        switch (pc) {
            case '\\':
                // An escaped character matches itself; a "\" at the end
                // matches nothing.
                if (++p >= pat.size() || text[t] != pat[p]) return Wild::kNoMatch;
                ++t;
                break;
            case '?':
                if (pathname && text[t] == '/') return Wild::kNoMatch;
                ++t;
                break;
            case '[': {
                ++p;
                const Wild w = MatchSet(pat, p, static_cast<unsigned char>(text[t]), pathname);
                if (w != Wild::kMatch) return w;
                --p;  // the loop steps past the "]"
                ++t;
                break;
            }
            case '*': {
                bool crossesSlash = !pathname;
                const size_t firstStar = p;
                if (p + 1 < pat.size() && pat[p + 1] == '*') {
                    while (p + 1 < pat.size() && pat[p + 1] == '*')
                        ++p;
                    const size_t next = p + 1;
                    const bool startsComponent = firstStar == 0 || pat[firstStar - 1] == '/';
                    const bool endsComponent =
                        next == pat.size() || pat[next] == '/' ||
                        (pat[next] == '\\' && next + 1 < pat.size() && pat[next + 1] == '/');
                    if (startsComponent && endsComponent) {
                        // "**/": also no directory at all.
                        if (next < pat.size() && pat[next] == '/' &&
                            Match(pat, next + 1, text, t, pathname) == Wild::kMatch)
                            return Wild::kMatch;
                        crossesSlash = true;
                    } else {
                        crossesSlash = !pathname;
                    }
                }
                ++p;  // the rest of the pattern
                if (p == pat.size()) {
                    if (!crossesSlash && text.find('/', t) != std::string_view::npos)
                        return Wild::kAbortToDoubleStar;
                    return Wild::kMatch;
                }
                for (; t < text.size(); ++t) {
                    // A literal next in the pattern: only where the text has it.
                    const char np = pat[p];
                    if (np != '*' && np != '?' && np != '[' && np != '\\' && text[t] != np) {
                        if (!crossesSlash && text[t] == '/') return Wild::kAbortToDoubleStar;
                        continue;
                    }
                    const Wild w = Match(pat, p, text, t, pathname);
                    if (w != Wild::kNoMatch) {
                        if (!crossesSlash || w != Wild::kAbortToDoubleStar) return w;
                    } else if (!crossesSlash && text[t] == '/') {
                        return Wild::kAbortToDoubleStar;
                    }
                }
                return Wild::kAbortAll;
            }
            default:
                if (text[t] != pc) return Wild::kNoMatch;
                ++t;
                break;
        }
    }
    return t == text.size() ? Wild::kMatch : Wild::kNoMatch;
}

bool HasWildcard(std::string_view s) {
    return s.find_first_of("*?[\\") != std::string_view::npos;
}

// The path below base ("" the origin); relPath lies below it.
std::string_view Below(std::string_view relPath, const std::string& base) {
    if (base.empty()) return relPath;
    return relPath.size() > base.size() ? relPath.substr(base.size() + 1) : std::string_view();
}

}  // namespace

bool IgnoreWildMatch(std::string_view pattern, std::string_view text, bool pathname) {
    return Match(pattern, 0, text, 0, pathname) == Wild::kMatch;
}

// ---------------------------------------------------------------------------
// Pattern lists

void TIgnoreList::AddLine(std::string_view line, bool fileSyntax) {
    if (fileSyntax) {
        if (line.empty() || line.front() == '#') return;
        // Trailing blanks go unless escaped.
        size_t keep = line.size();
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\\') {
                ++i;
                keep = i + 1 > line.size() ? line.size() : i + 1;
            } else if (line[i] != ' ') {
                keep = i + 1;
            }
        }
        line = line.substr(0, std::min(keep, line.size()));
    }
    Pattern p;
    if (fileSyntax && !line.empty() && line.front() == '!') {
        p.negated = true;
        line.remove_prefix(1);
    }
    if (!line.empty() && line.back() == '/') {
        p.dirOnly = true;
        line.remove_suffix(1);
    }
    if (line.empty()) return;
    p.anyDepth = line.find('/') == std::string_view::npos;
    if (!p.anyDepth && line.front() == '/') line.remove_prefix(1);
    if (line.empty()) return;
    p.text.assign(line);
    if (p.anyDepth && !HasWildcard(line))
        p.kind = Pattern::kLiteral;
    else if (p.anyDepth && line.front() == '*' && !HasWildcard(line.substr(1)))
        p.kind = Pattern::kSuffix;
    else
        p.kind = Pattern::kGlob;
    patterns_.push_back(std::move(p));
}

void TIgnoreList::AddText(std::string_view text) {
    // A byte order mark before the first line is no part of it.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        AddLine(line, true);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
}

TIgnoreList::Verdict TIgnoreList::Match(std::string_view relPath, std::string_view name,
                                        bool isDir) const {
    for (size_t i = patterns_.size(); i-- > 0;) {
        const Pattern& p = patterns_[i];
        if (p.dirOnly && !isDir) continue;
        bool hit = false;
        if (!p.anyDepth) {
            hit = IgnoreWildMatch(p.text, relPath, true);
        } else {
            switch (p.kind) {
                case Pattern::kLiteral:
                    hit = name == p.text;
                    break;
                case Pattern::kSuffix:
                    hit = name.size() >= p.text.size() - 1 &&
                          name.substr(name.size() - (p.text.size() - 1)) ==
                              std::string_view(p.text).substr(1);
                    break;
                case Pattern::kGlob:
                    hit = IgnoreWildMatch(p.text, name, false);
                    break;
            }
        }
        if (hit) return p.negated ? kIncluded : kIgnored;
    }
    return kNone;
}

bool IgnoredByLevels(const TIgnoreLevel* level, std::string_view relPath, std::string_view name,
                     bool isDir) {
    for (const TIgnoreLevel* l = level; l; l = l->parent.get()) {
        if (l->dotIgnore.Empty()) continue;
        const TIgnoreList::Verdict v = l->dotIgnore.Match(Below(relPath, l->base), name, isDir);
        if (v != TIgnoreList::kNone) return v == TIgnoreList::kIgnored;
    }
    const TIgnoreLevel* repo = level ? level->repo : nullptr;
    if (!repo) return false;  // git's files count inside a repository only
    for (const TIgnoreLevel* l = level; l; l = l->parent.get()) {
        if (!l->gitIgnore.Empty()) {
            const TIgnoreList::Verdict v = l->gitIgnore.Match(Below(relPath, l->base), name, isDir);
            if (v != TIgnoreList::kNone) return v == TIgnoreList::kIgnored;
        }
        if (l == repo) break;
    }
    const std::string_view inRepo = Below(relPath, repo->base);
    for (const auto& list : {repo->repoExclude, repo->globalExclude}) {
        if (!list) continue;
        const TIgnoreList::Verdict v = list->Match(inRepo, name, isDir);
        if (v != TIgnoreList::kNone) return v == TIgnoreList::kIgnored;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Loading

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// The value of core.excludesFile in a git configuration text (the last one
// wins, as later settings override earlier ones); found tells whether
// there was one.
void ExcludesFileSetting(std::string_view text, std::string& value, bool& found) {
    bool inCore = false;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = TrimView(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        if (line.front() == '[') {
            const size_t close = line.find(']');
            std::string_view head = line.substr(
                1, close == std::string_view::npos ? std::string_view::npos : close - 1);
            head = TrimView(head);
            inCore = SameTextAscii(head, "core");
            // A key may follow the header on the same line.
            line = close == std::string_view::npos ? std::string_view()
                                                   : TrimView(line.substr(close + 1));
            if (line.empty()) continue;
        }
        if (!inCore) continue;
        size_t keyEnd = 0;
        while (keyEnd < line.size() && line[keyEnd] != '=' && line[keyEnd] != ' ' &&
               line[keyEnd] != '\t')
            ++keyEnd;
        if (!SameTextAscii(line.substr(0, keyEnd), "excludesfile")) continue;
        std::string_view rest = TrimView(line.substr(keyEnd));
        if (rest.empty() || rest.front() != '=') continue;
        rest = TrimView(rest.substr(1));
        std::string v;
        bool quoted = false;
        for (size_t i = 0; i < rest.size(); ++i) {
            const char c = rest[i];
            if (c == '"') {
                quoted = !quoted;
            } else if (c == '\\' && i + 1 < rest.size()) {
                const char n = rest[++i];
                v += n == 'n' ? '\n' : n == 't' ? '\t' : n;
            } else if (!quoted && (c == '#' || c == ';')) {
                break;
            } else {
                v += c;
            }
        }
        value = Trim(v);
        found = true;
    }
}

std::string ExpandHome(const std::string& path) {
    if (path == "~" || path.rfind("~/", 0) == 0) {
        std::string home = HomeDirectory();
        if (!home.empty()) return home + path.substr(1);
    }
    return path;
}

// The excludes file for a repository whose configuration text is repoConfig.
std::string ExcludesFileFor(std::string_view repoConfig) {
    std::string value;
    bool found = false;
    std::string text;
    const std::string noSystem = LowerCaseAscii(Env("GIT_CONFIG_NOSYSTEM"));
    if (noSystem.empty() || noSystem == "0" || noSystem == "false" || noSystem == "no") {
        std::string system = Env("GIT_CONFIG_SYSTEM");
        if (ReadSmallFile(system.empty() ? "/etc/gitconfig" : system, kMaxIgnoreFileBytes, text))
            ExcludesFileSetting(text, value, found);
    }
    const std::string home = HomeDirectory();
    const std::string xdg = Env("XDG_CONFIG_HOME");
    const std::string configDir = !xdg.empty() ? xdg : home.empty() ? "" : home + "/.config";
    std::vector<std::string> globals;
    if (std::getenv("GIT_CONFIG_GLOBAL")) {
        globals.push_back(Env("GIT_CONFIG_GLOBAL"));
    } else {
        if (!configDir.empty()) globals.push_back(configDir + "/git/config");
        if (!home.empty()) globals.push_back(home + "/.gitconfig");
    }
    for (const std::string& g : globals)
        if (!g.empty() && ReadSmallFile(g, kMaxIgnoreFileBytes, text))
            ExcludesFileSetting(text, value, found);
    ExcludesFileSetting(repoConfig, value, found);
    if (found) return value.empty() ? std::string() : ExpandHome(value);
    return configDir.empty() ? std::string() : configDir + "/git/ignore";
}

// The git directory of a repository root whose ".git" is a file: the path
// it names ("gitdir: ..."), relative to the root when not absolute.
std::string GitDirFromFile(int rootFd) {
    std::string text;
    if (!ReadSmallFileAt(rootFd, ".git", 65536, text)) return {};
    std::string_view v = TrimView(text);
    if (v.substr(0, 7) != "gitdir:") return {};
    return std::string(TrimView(v.substr(7)));
}

// Reads name relative to dirFd (absolute names as they are) into list.
bool ReadListAt(int dirFd, const std::string& name, TIgnoreList& list) {
    std::string text;
    if (name.empty() || !ReadSmallFileAt(dirFd, name.c_str(), kMaxIgnoreFileBytes, text))
        return false;
    list.AddText(text);
    return true;
}

std::string Join(const std::string& dir, const std::string& name) {
    if (name.empty() || name.front() == '/' || dir.empty()) return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

}  // namespace

std::shared_ptr<TIgnoreLevel> TIgnoreLoader::ReadLevel(int dirFd, const std::string&) const {
    auto level = std::make_shared<TIgnoreLevel>();
    ReadListAt(dirFd, ".ignore", level->dotIgnore);
    ReadListAt(dirFd, ".gitignore", level->gitIgnore);
    EntryStat st;
    if (StatEntry(dirFd, ".git", st) && (S_ISDIR(st.mode) || S_ISREG(st.mode))) {
        level->repoRoot = true;
        // The git directory, and the common one a linked work tree shares.
        std::string gitDir = S_ISDIR(st.mode) ? ".git" : GitDirFromFile(dirFd);
        std::string commonDir = gitDir;
        std::string common;
        if (!gitDir.empty() &&
            ReadSmallFileAt(dirFd, (gitDir + "/commondir").c_str(), 65536, common)) {
            const std::string c(TrimView(common));
            if (!c.empty()) commonDir = Join(gitDir, c);
        }
        if (!commonDir.empty()) {
            auto exclude = std::make_shared<TIgnoreList>();
            if (ReadListAt(dirFd, commonDir + "/info/exclude", *exclude) && !exclude->Empty())
                level->repoExclude = std::move(exclude);
        }
        std::string config;
        if (!commonDir.empty())
            ReadSmallFileAt(dirFd, (commonDir + "/config").c_str(), kMaxIgnoreFileBytes, config);
        const std::string excludesFile = ExcludesFileFor(config);
        auto global = std::make_shared<TIgnoreList>();
        if (ReadListAt(dirFd, excludesFile, *global) && !global->Empty())
            level->globalExclude = std::move(global);
    }
    if (level->dotIgnore.Empty() && level->gitIgnore.Empty() && !level->repoRoot) return nullptr;
    return level;
}

std::shared_ptr<const TIgnoreLevel> TIgnoreLoader::ForDirectory(
    int dirFd, const std::string& relDir, std::shared_ptr<const TIgnoreLevel> parent) const {
    std::shared_ptr<TIgnoreLevel> level = ReadLevel(dirFd, relDir);
    if (!level) return parent;
    level->base = relDir;
    level->repo = level->repoRoot ? level.get() : parent ? parent->repo : nullptr;
    level->parent = std::move(parent);
    return level;
}

void TIgnoreLoader::Start(int tableDirFd) {
    tablePrefix_.clear();
    top_.reset();
    const std::string real = DescriptorPath(tableDirFd);
    if (real.empty() || real == "/") return;
    // The repository the table's directory lies in: the nearest directory
    // above it that holds ".git".
    std::string root;
    for (std::string dir = real;;) {
        const size_t slash = dir.rfind('/');
        dir.resize(slash == 0 ? 1 : slash);
        FileHandle fd = OpenDirectoryPath(dir);
        EntryStat st;
        if (fd.Valid() && StatEntry(fd.Get(), ".git", st) &&
            (S_ISDIR(st.mode) || S_ISREG(st.mode))) {
            root = dir;
            break;
        }
        if (dir == "/") return;  // in no repository: nothing above counts
    }
    tablePrefix_ = real.substr(root == "/" ? 1 : root.size() + 1);
    // The levels of the repository's root and of each directory down to
    // the table's parent.
    std::shared_ptr<const TIgnoreLevel> level;
    std::string dir = root;
    std::string rel;
    for (size_t pos = 0;;) {
        FileHandle fd = OpenDirectoryPath(dir);
        if (fd.Valid()) level = ForDirectory(fd.Get(), rel, level);
        const size_t slash = tablePrefix_.find('/', pos);
        if (slash == std::string::npos) break;
        const std::string name = tablePrefix_.substr(pos, slash - pos);
        if (dir.back() != '/') dir += '/';
        dir += name;
        rel = tablePrefix_.substr(0, slash);
        pos = slash + 1;
    }
    top_ = std::move(level);
}

}  // namespace corvane
