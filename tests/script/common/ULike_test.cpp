// LIKE matching: the classic cases, the decisions for patterns the classic
// rules leave open, agreement with a plain recursive matcher, and patterns
// that would make a backtracking matcher run for ever.
#include "script/common/ULike.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace corvane {
namespace {

struct Case {
    const char* text;
    const char* pattern;
    bool match;
};

void Check(const Case* cases, size_t n) {
    for (size_t i = 0; i < n; ++i)
        EXPECT_EQ(LikeMatch(cases[i].text, cases[i].pattern), cases[i].match)
            << "'" << cases[i].text << "' LIKE '" << cases[i].pattern << "'";
}

TEST(LikeMatch, ClassicCases) {
    const Case cases[] = {
        {"abc", "a%", true},
        {"ab", "a_", true},
        {"a", "a_", false},
        {"a", "a_%", false},
        {"aXb", "a[XY]b", true},
        {"a-b", "a[X-Z]b", true},  // "-" is a member, not a range
        {"aYb", "a[X-Z]b", false},
        {"ab", "ab[^x]", false},
        {"abc", "ab[^x]", true},
        {"abx", "ab[^x]", false},
        {"aaaxb", "%aa_b", true},  // the matching "aa" overlaps an earlier one
        {"", "%", false},          // the empty text matches no non-empty pattern
        {"", "", true},
        {"[a]", "[a]", true},  // equal strings
        {"a", "[a]", true},
        {"ABC", "abc", false},
        {"ABC", "a%", false},
        {"ab", "a[]b", true},  // the empty set disappears
        {"abc", "", false},
        {"abc", "%", true},
        {"abc", "%%", true},
        {"abc", "___", true},
        {"abc", "__", false},
        {"abc", "_%_", true},
        {"ab", "_%__", false},
        {"abc", "%c", true},
        {"abc", "%b", false},
        {"abc", "a%c", true},
        {"ac", "a%c", true},
        {"abcbc", "a%bc", true},
        {"a%c", "a[%]c", true},
        {"abc", "a[%]c", false},
        {"a_c", "a[_]c", true},
        {"a^c", "a[^^]c", false},
        {"a^c", "a[x^]c", true},
        {"a[c", "a[[]c", true},
        {"a]c", "a]c", true},  // "]" outside a set is itself
        {"ab", "%[ab]", true},
        {"xyzb", "%[ab]", true},
        {"xyzc", "%[ab]", false},
        {"xa", "_[ab]", true},
        {"xya", "_[ab]", false},
        {"aab", "%a[^a]", true},
        {"aaa", "%a[^a]", false},
        {"中文", "______", true},  // "_" is one byte of UTF-8
        {"中文", "__", false},
        {"中文.txt", "%.txt", true},
    };
    Check(cases, std::size(cases));
}

TEST(LikeMatch, DecisionsForOpenCases) {
    const Case cases[] = {
        // An unclosed "[" is the character itself; the rest keeps its
        // wildcards.
        {"[draft] notes", "[draft%", true},
        {"draft", "[draft%", false},
        {"a[b", "a[b", true},
        {"a[bc", "a[b_", true},
        {"x[", "%[", true},
        {"x", "%[", false},
        {"a[^b", "a[^%", true},
        {"a[x]b", "a[x]b[", false},
        {"ax]b[", "a[x]]b[", true},
        // Only empty sets: the pattern describes the empty text, so it
        // matches nothing but its own text.
        {"x", "[]", false},
        {"[]", "[]", true},
        {"", "[]", false},
        {"x", "[][^]", false},
        {"a", "[^]a[]", true},
        // Empty sets between wildcards vanish.
        {"abc", "%[]%", true},
        {"abc", "_[]_[]_", true},
    };
    Check(cases, std::size(cases));
}

TEST(LikeMatch, PatternsOfManyNodes) {
    std::string text, pattern;
    for (int i = 0; i < 200; ++i) {
        text += "ab";
        pattern += "a_";
    }
    EXPECT_TRUE(LikeMatch(text, pattern));
    EXPECT_FALSE(LikeMatch(text + "x", pattern));
    std::string sets;
    for (int i = 0; i < 100; ++i)
        sets += "%[ab]";
    EXPECT_TRUE(LikeMatch(std::string(100, 'a'), sets));
    EXPECT_FALSE(LikeMatch(std::string(99, 'a'), sets));
}

TEST(LikeMatch, HostilePatternsStayPolynomial) {
    // A backtracking matcher tries every placement of the seven "a" nodes:
    // about n^7 steps here. Carrying the reachable positions instead makes
    // this nodes x n.
    const std::string text(20000, 'a');
    EXPECT_FALSE(LikeMatch(text, "%a%a%a%a%a%a%a%b"));
    EXPECT_TRUE(LikeMatch(text, "%a%a%a%a%a%a%a%a"));
    EXPECT_FALSE(LikeMatch(text, "%a_%a_%a_%a_%a_%a_%[b]%"));
    std::string many;
    for (int i = 0; i < 300; ++i)
        many += "%a";
    EXPECT_FALSE(LikeMatch(text, many + "%b"));
    EXPECT_TRUE(LikeMatch(text, many + "%"));
}

// The rules written as plain recursion, to compare against on small cases.
bool Reference(const std::string& t, size_t ti, const std::string& p, size_t pi) {
    if (pi == p.size()) return ti == t.size();
    char c = p[pi];
    if (c == '%') {
        for (size_t k = ti; k <= t.size(); ++k)
            if (Reference(t, k, p, pi + 1)) return true;
        return false;
    }
    if (c == '_') return ti < t.size() && Reference(t, ti + 1, p, pi + 1);
    if (c == '[') {
        size_t first = pi + 1;
        bool negated = first < p.size() && p[first] == '^';
        if (negated) ++first;
        size_t close = p.find(']', first);
        if (close != std::string::npos) {
            std::string members = p.substr(first, close - first);
            if (members.empty()) return Reference(t, ti, p, close + 1);  // vanishes
            return ti < t.size() && (members.find(t[ti]) != std::string::npos) != negated &&
                   Reference(t, ti + 1, p, close + 1);
        }
    }
    return ti < t.size() && t[ti] == c && Reference(t, ti + 1, p, pi + 1);
}

bool ReferenceLike(const std::string& t, const std::string& p) {
    if (t == p) return true;
    if (t.empty() || p.empty()) return false;
    return Reference(t, 0, p, 0);
}

TEST(LikeMatch, AgreesWithPlainRecursionOnRandomCases) {
    std::mt19937 rng(2024);
    const char patternBytes[] = "ab%_[]^";
    const char textBytes[] = "ab[]^%_";
    for (int i = 0; i < 30000; ++i) {
        std::string p, t;
        for (size_t n = rng() % 9; n > 0; --n)
            p += patternBytes[rng() % 7];
        for (size_t n = rng() % 8; n > 0; --n)
            t += textBytes[rng() % (rng() % 3 ? 2 : 7)];
        ASSERT_EQ(LikeMatch(t, p), ReferenceLike(t, p)) << "'" << t << "' LIKE '" << p << "'";
    }
}

}  // namespace
}  // namespace corvane
