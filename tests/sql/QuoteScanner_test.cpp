// The quote and bracket scanner: what each byte is, the depth after it, and
// the first blank at the top level.
#include "sql/QuoteScanner.h"

#include <gtest/gtest.h>

#include <string>

namespace corvane {
namespace {

// Each byte as a letter (Q quoted, O open, C close, P plain) and the depth
// after it as a digit ('-' for below zero).
struct Walk {
    std::string kinds;
    std::string depths;
    bool inQuote = false;
};

Walk Scan(std::string_view text, bool square) {
    Walk w;
    TQuoteScanner scan(square);
    for (char c : text) {
        switch (scan.Step(c)) {
            case TQuoteScanner::TByte::Quoted:
                w.kinds += 'Q';
                break;
            case TQuoteScanner::TByte::Open:
                w.kinds += 'O';
                break;
            case TQuoteScanner::TByte::Close:
                w.kinds += 'C';
                break;
            case TQuoteScanner::TByte::Plain:
                w.kinds += 'P';
                break;
        }
        w.depths += scan.Depth() < 0 ? '-' : static_cast<char>('0' + scan.Depth());
    }
    w.inQuote = scan.InQuote();
    return w;
}

TEST(TQuoteScanner, ClassifiesEveryByte) {
    struct Case {
        const char* name;
        const char* text;
        bool square;
        const char* kinds;
        const char* depths;
        bool inQuote;
    } cases[] = {
        {"brackets", "a(b)c", false, "POPCP", "01100", false},
        {"bracket inside quotes", "'x(y'(z)", false, "QQQQQOPC", "00000110", false},
        {"apostrophe inside double quotes", "\"it's\"x", false, "QQQQQQP", "0000000", false},
        {"unclosed quote runs to the end", "'abc", false, "QQQQ", "0000", true},
        {"stray closer goes below zero", ")x(", false, "CPO", "--0", false},
        {"square brackets not counted", "[a]", false, "PPP", "000", false},
        {"square brackets counted", "[a](b)", true, "OPCOPC", "110110", false},
        {"nested", "((a))", false, "OOPCC", "12210", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Walk w = Scan(c.text, c.square);
        EXPECT_EQ(w.kinds, c.kinds);
        EXPECT_EQ(w.depths, c.depths);
        EXPECT_EQ(w.inQuote, c.inQuote);
    }
}

TEST(TQuoteScanner, StartsAtAKnownDepth) {
    // Matching the bracket that opens before the text: the first closer at
    // depth 0 again.
    TQuoteScanner scan(false, 1);
    const std::string text = "a, (b), ')' ) c";
    size_t match = std::string::npos;
    for (size_t i = 0; i < text.size() && match == std::string::npos; ++i)
        if (scan.Step(text[i]) == TQuoteScanner::TByte::Close && scan.Depth() == 0) match = i;
    EXPECT_EQ(match, 12u);
}

TEST(FindBlankOutside, FirstTopLevelBlank) {
    struct Case {
        const char* text;
        size_t blank;
    } cases[] = {
        {"size desc", 4},
        {"f(a b) x", 6},
        {"'a b' c", 5},
        {"\"a\tb\"\tc", 5},
        {"abc", std::string::npos},
        {"", std::string::npos},
        {") x", std::string::npos},  // after a stray closer nothing is top level
        {"a\nb", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FindBlankOutside(c.text), c.blank) << c.text;
}

}  // namespace
}  // namespace corvane
