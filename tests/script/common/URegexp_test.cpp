// Regular expressions behind regexp and the regexp built-ins: what a
// compiled pattern answers, RE2's reasons for refusing one, and the cache
// that compiles a pattern once however often it is met.
#include "script/common/URegexp.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(TRegexp, SearchFirstMatchAndReplace) {
    std::string error, out;
    auto re = TRegexp::Compile("([0-9]+)\\.(jpe?g)$", error);
    ASSERT_TRUE(re) << error;
    EXPECT_EQ(re->Pattern(), "([0-9]+)\\.(jpe?g)$");
    EXPECT_TRUE(re->Search("IMG_0042.jpg"));
    EXPECT_FALSE(re->Search("IMG_0042.jpg.bak"));
    EXPECT_TRUE(re->FirstMatch("IMG_0042.jpeg", out));
    EXPECT_EQ(out, "0042.jpeg");
    EXPECT_FALSE(re->FirstMatch("none", out));
    EXPECT_EQ(out, "");
    ASSERT_TRUE(re->ReplaceAll("a1.jpg", "<\\2:\\1>", out, error)) << error;
    EXPECT_EQ(out, "a<jpg:1>");
    EXPECT_FALSE(re->ReplaceAll("a1.jpg", "\\3", out, error));
    EXPECT_NE(error, "");
    // UTF-8 text matches by characters; a text that is no UTF-8 (a name in
    // a legacy encoding) byte by byte, its literal bytes as written.
    auto dot = TRegexp::Compile("^a.b$", error);
    EXPECT_TRUE(dot->Search("a名b"));
    EXPECT_TRUE(
        dot->Search("a\xff"
                    "b"));
    EXPECT_FALSE(
        dot->Search("a\xff\xfe"
                    "b"));
    EXPECT_TRUE(TRegexp::Compile("\xc3\xa9", error)->Search("caf\xc3\xa9 \xff"));
    EXPECT_TRUE(TRegexp::Compile("^\\p{Han}", error)->Search("名"));
    ASSERT_TRUE(
        dot->ReplaceAll("a\xff"
                        "b",
                        "[\\0]", out, error))
        << error;
    EXPECT_EQ(out,
              "[a\xff"
              "b]");
}

TEST(TRegexp, RefusedPatternsCarryRe2sReason) {
    const std::pair<const char*, const char*> cases[] = {
        {"(", "missing ): ("},
        {"[z-a]", "invalid character class range: z-a"},
        {"x{2,1}", "invalid repetition size: {2,1}"},
        {"(\\pL{1000})", "pattern too large - compile failed"},
    };
    for (const auto& [pattern, reason] : cases) {
        std::string error;
        EXPECT_EQ(TRegexp::Compile(pattern, error), nullptr) << pattern;
        EXPECT_EQ(error, reason) << pattern;
    }
}

TEST(TRegexp, TheCacheCompilesAPatternOnce) {
    std::string error;
    auto first = CachedRegexp("^cache-a", error);
    ASSERT_TRUE(first);
    EXPECT_EQ(CachedRegexp("^cache-a", error), first);
    // A refused pattern is remembered with its reason.
    EXPECT_EQ(CachedRegexp("cache(", error), nullptr);
    EXPECT_EQ(error, "missing ): cache(");
    EXPECT_EQ(CachedRegexp("cache(", error), nullptr);
    EXPECT_EQ(error, "missing ): cache(");
    // Many other patterns push it out; it is compiled anew, alike.
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(CachedRegexp("other" + std::to_string(i), error));
    auto again = CachedRegexp("^cache-a", error);
    ASSERT_TRUE(again);
    EXPECT_NE(again, first);
    EXPECT_TRUE(again->Search("cache-abc"));
}

}  // namespace
}  // namespace corvane
