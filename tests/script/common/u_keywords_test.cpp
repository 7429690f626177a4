// Reserved words: exactly the 51 words of the table, found by halving in
// any letter case; the look-alikes that scripts use as names stay free.
#include "script/common/u_keywords.h"

#include <gtest/gtest.h>

#include <string>

namespace corvane {
namespace {

TEST(Keywords, TableIsSortedByByteValue) {
    for (int i = 1; i < Tkeylist::count; ++i)
        EXPECT_LT(kKeywords.words[i - 1], kKeywords.words[i]) << i;
}

TEST(Keywords, EveryWordIsFoundInAnyCase) {
    for (std::string_view w : kKeywords.words) {
        EXPECT_TRUE(IsKeyword(w)) << w;
        std::string upper(w);
        for (char& c : upper)
            c = static_cast<char>(c - 'a' + 'A');
        EXPECT_TRUE(IsKeyword(upper)) << upper;
    }
}

TEST(Keywords, NonReservedWords) {
    // Neighbours of every table word in sort order, and the words the
    // language leaves free on purpose.
    const char* free[] = {"",         "a",      "boolean", "word",        "byte", "date", "xor",
                          "iff",      "result", "true",    "false",       "ands", "zzz",  "withx",
                          "an",       "begins", "en",      "integers",    "wit",  "aaa",  "bealoo",
                          "intege r", "end.",   "{",       "\xe4\xb8\xad"};
    for (const char* w : free)
        EXPECT_FALSE(IsKeyword(w)) << w;
    EXPECT_TRUE(IsKeyword("BeaLoon"));
}

}  // namespace
}  // namespace corvane
