// URegexp: regular expressions for the SQL relation "regexp" and the
// script built-ins regexp_like, regexp_substr and regexp_replace.
//
// Patterns are RE2's syntax, over UTF-8 text; a text that is no UTF-8 (a
// file name in a legacy encoding) is matched byte by byte instead, with the
// same pattern read as Latin-1 (its literal bytes still match, "." is one
// byte), so that such a name is not silently missed. RE2 matches in time linear in
// the text whatever the pattern (no backtracking), so a hostile pattern
// such as "(a*)*b" cannot hang a query; a pattern whose compiled form would
// be too large is refused when it is compiled. A refused pattern is never
// run: Compile returns null with RE2's own explanation, which the SQL side
// turns into a statement error and the built-ins into a run-time error.
//
// A compiled pattern is immutable and may be shared (a WHERE relation and
// its copies in the where object share one). The SQL side compiles a
// constant pattern once per statement; CachedRegexp serves callers that
// meet their pattern only while running (a built-in called per row, a
// pattern read from a column), so that a pattern is compiled once per
// thread however often it is used. This unit knows nothing of SQL or of
// the script language; RE2 stays behind it.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace re2 {
class RE2;
}

namespace corvane {

class TRegexp {
  public:
    ~TRegexp();
    TRegexp(const TRegexp&) = delete;
    TRegexp& operator=(const TRegexp&) = delete;

    // The compiled pattern, or null with RE2's explanation in error.
    static std::shared_ptr<const TRegexp> Compile(std::string_view pattern, std::string& error);

    const std::string& Pattern() const { return pattern_; }
    // Whether the pattern matches somewhere in text ("^" and "$" anchor).
    bool Search(std::string_view text) const;
    // The first (leftmost) match in text; false, out empty, when none.
    bool FirstMatch(std::string_view text, std::string& out) const;
    // text with every match replaced by rewrite, in which \0 is the match
    // and \1..\9 its groups (\\ a backslash). False, with RE2's
    // explanation in error, when rewrite names a group the pattern lacks
    // or holds a backslash that is none of these.
    bool ReplaceAll(std::string_view text, std::string_view rewrite, std::string& out,
                    std::string& error) const;

  private:
    TRegexp();
    // The compiled form for text: the UTF-8 one, or for a text that is no
    // UTF-8 the byte-wise one (compiled when first needed).
    const re2::RE2& For(std::string_view text) const;

    std::string pattern_;
    std::unique_ptr<re2::RE2> re_;
    mutable std::once_flag bytesOnce_;
    mutable std::unique_ptr<re2::RE2> bytes_;
};

// Compile through a small per-thread cache of the patterns used last.
std::shared_ptr<const TRegexp> CachedRegexp(std::string_view pattern, std::string& error);

}  // namespace corvane
