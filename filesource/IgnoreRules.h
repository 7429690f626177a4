// IgnoreRules: which entries a listing leaves out for its excludes and
// ignore files.
//
// Two table-text options leave entries out by pattern. "exclude:PATTERN"
// takes one pattern in the ignore-file syntax below (without "!" and
// comments), relative to the table's directory: a pattern without "/"
// (such as "node_modules" or "*.o") matches an entry's name at any depth,
// one with "/" ("**/node_modules", "src/gen", "/build") the entry's path
// below the table's directory, and a final "/" matches directories only.
// "gitignore" honours the ignore files as git does, with git's matching
// rules:
//   - a line is a pattern; blank lines and lines starting with "#" are
//     none; trailing blanks are dropped unless escaped with "\"; "\"
//     escapes any character ("\#", "\!");
//   - "!" negates: a later matching negated pattern re-includes what an
//     earlier one left out (the last matching pattern decides); nothing
//     below a left-out directory comes back, because it is never entered;
//   - a final "/" matches directories only; a pattern with a "/" at its
//     start or in its middle is anchored (matched against the path below
//     the ignore file's directory), one without matches a name at any
//     depth below it;
//   - "*" matches within one component, "?" one character but "/", "[...]"
//     a set (ranges, "!" or "^" negates, [:alpha:] and the other classes);
//     "**/" at the start, "/**" at the end and "/**/" in the middle match
//     any number of components; other "**" are "*".
// Where the patterns come from, strongest first: ".ignore" files (in every
// directory from the table's directory down, and in those above it up to
// the root of the git repository it lies in), then ".gitignore" files
// (deeper ones first), then the repository's info/exclude, then the user's
// excludes file (core.excludesFile in the system, global or repository git
// configuration; by default $XDG_CONFIG_HOME/git/ignore or
// ~/.config/git/ignore). As in git, ".gitignore", info/exclude and the
// excludes file count only inside a git repository (a directory holding
// ".git", a directory or a file naming the git directory); a repository
// nested in the tree starts its own. The table's own directory is always
// listed, even when a pattern above it would leave it out.
//
// Ignore files are untrusted input: each is read only when it is a regular
// file (never through a link), at most kMaxIgnoreFileBytes of it, and a
// match costs at most a polynomial in the pattern and path lengths (a
// pattern of many stars cannot make it exponential).
//
// What it does not do: walk directories or decide anything else about an
// entry (the walker, U_CorvaneAdptr, asks here once per entry, and never
// opens a directory left out). Reading files goes through platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// Bytes of one ignore file that are read; the rest is ignored.
inline constexpr size_t kMaxIgnoreFileBytes = size_t{4} << 20;

// Whether text matches pattern with the wildcards above. pathname: "*",
// "?" and sets do not match "/" and "**" is special as described (for
// anchored patterns); without it "/" is an ordinary character.
bool IgnoreWildMatch(std::string_view pattern, std::string_view text, bool pathname);

// The patterns of one source, in their order.
class TIgnoreList {
  public:
    enum Verdict { kNone, kIgnored, kIncluded };

    // One line of an ignore file; fileSyntax false: an exclude option
    // (no comments, no negation).
    void AddLine(std::string_view line, bool fileSyntax = true);
    // Every line of an ignore file's text.
    void AddText(std::string_view text);
    bool Empty() const { return patterns_.empty(); }

    // The verdict of the last pattern that matches the entry: relPath is
    // its path below the list's directory, name its last component.
    Verdict Match(std::string_view relPath, std::string_view name, bool isDir) const;

  private:
    struct Pattern {
        std::string text;  // without "!", a leading "/" and a final "/"
        bool negated = false;
        bool dirOnly = false;
        bool anyDepth = false;  // no "/": matched against the name
        enum Kind : uint8_t { kLiteral, kSuffix, kGlob } kind = kGlob;
    };
    std::vector<Pattern> patterns_;
};

// The ignore files of one directory and of those above it: a chain of
// levels from a directory up to the walk's origin, each only for a
// directory that has rules. Immutable once made, shared by the frames
// and reader threads of a walk.
struct TIgnoreLevel {
    std::shared_ptr<const TIgnoreLevel> parent;
    std::string base;  // the directory, as a path below the origin ("" the origin)
    TIgnoreList dotIgnore;
    TIgnoreList gitIgnore;
    // Set for a repository's root: its info/exclude and the excludes
    // file, relative to it; gitignore levels count up to here.
    bool repoRoot = false;
    std::shared_ptr<const TIgnoreList> repoExclude;
    std::shared_ptr<const TIgnoreList> globalExclude;
    const TIgnoreLevel* repo = nullptr;  // the nearest repository root at or above
};

// Whether the entry relPath (below the origin; name its last component)
// is left out by the ignore files of the chain that ends at level.
bool IgnoredByLevels(const TIgnoreLevel* level, std::string_view relPath, std::string_view name,
                     bool isDir);

// Makes the levels for one walk: what lies above the table's directory
// and what each directory adds.
class TIgnoreLoader {
  public:
    // tableDirFd: the table's directory, open; its real path is looked up
    // to find the repository it lies in. After this, Origin() is the
    // directory paths are taken relative to, TablePrefix() the table's
    // directory below it ("" when the same), and Top() the levels above it.
    void Start(int tableDirFd);
    const std::string& TablePrefix() const { return tablePrefix_; }
    std::shared_ptr<const TIgnoreLevel> Top() const { return top_; }

    // The level of an open directory (relDir its path below the origin)
    // under parent: parent itself when the directory adds nothing.
    // Thread-safe.
    std::shared_ptr<const TIgnoreLevel> ForDirectory(
        int dirFd, const std::string& relDir, std::shared_ptr<const TIgnoreLevel> parent) const;

  private:
    // A level made from the files of one directory, or null.
    std::shared_ptr<TIgnoreLevel> ReadLevel(int dirFd, const std::string& dirPathForGit) const;
    std::string tablePrefix_;
    std::shared_ptr<const TIgnoreLevel> top_;
};

}  // namespace corvane
