// Expect: small checks that several test files share.
//
// EXPECT_THROW_WITH_MESSAGE(statement, type, message) is EXPECT_THROW that
// also holds the exception's text to the fixed message: a fault must not
// only be raised, it must say the right thing. ErrorOf runs a callable and
// gives the text of the exception of the given type it raised, or
// "(no error)", for tables of cases that compare texts. SplitLines cuts a
// text at every line feed (a text without one is one line, an empty text
// one empty line).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#define EXPECT_THROW_WITH_MESSAGE(statement, exception_type, message) \
    EXPECT_THROW(                                                     \
        {                                                             \
            try {                                                     \
                statement;                                            \
            } catch (const exception_type& thrown_) {                 \
                EXPECT_STREQ(thrown_.what(), message);                \
                throw;                                                \
            }                                                         \
        },                                                            \
        exception_type)

namespace corvane::testing {

template <typename Exception, typename F>
std::string ErrorOf(F f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.what();
    }
    return "(no error)";
}

inline std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        out.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

}  // namespace corvane::testing
