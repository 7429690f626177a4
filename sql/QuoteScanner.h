// QuoteScanner: the one walk over statement text that knows where quoted
// sections and brackets are.
//
// A quoted section runs from a ' or a " to the next equal character; there
// is no escape, and an unclosed section runs to the end of the text.
// Brackets count only outside quoted sections. Round brackets always count,
// square ones only when asked (an IN list may be written "[...]"). A stray
// closing bracket takes the depth below zero; callers that look for the top
// level test for depth 0 exactly, so text after it is not top level.
//
// The scanner holds no text: the caller feeds the bytes in order, one Step
// each, and reads what the byte was. Callers keep their own indexing
// (0-based or 1-based) and may start anywhere at a known depth. Every place
// of the SQL side that needs to know "inside quotes?" or "at which bracket
// depth?" asks this class; it knows nothing else of SQL and depends on
// nothing, so any layer may use it.
#pragma once

#include <cstdint>
#include <string_view>

namespace corvane {

class TQuoteScanner {
  public:
    // What a byte was.
    enum class TByte : uint8_t {
        Quoted,  // a quote mark, or a byte inside a quoted section
        Open,    // an opening bracket outside quotes (depth now one more)
        Close,   // a closing bracket outside quotes (depth now one less)
        Plain    // any other byte outside quotes
    };

    explicit TQuoteScanner(bool squareBrackets = false, int depth = 0)
        : square_(squareBrackets), depth_(depth) {}

    TByte Step(char c) {
        if (quote_) {
            if (c == quote_) quote_ = 0;
            return TByte::Quoted;
        }
        if (c == '\'' || c == '"') {
            quote_ = c;
            return TByte::Quoted;
        }
        if (c == '(' || (square_ && c == '[')) {
            ++depth_;
            return TByte::Open;
        }
        if (c == ')' || (square_ && c == ']')) {
            --depth_;
            return TByte::Close;
        }
        return TByte::Plain;
    }
    // The bracket depth after the last byte stepped over.
    int Depth() const { return depth_; }
    // Whether the last byte left a quoted section open.
    bool InQuote() const { return quote_ != 0; }

  private:
    bool square_;
    int depth_;
    char quote_ = 0;
};

// The blanks that separate words of a statement (as the script language's
// scanner has them).
inline bool IsStatementBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The 0-based index of the first blank at bracket depth 0 outside quotes
// (round brackets); npos when there is none. This is where an item's text
// ends and its alias or direction begins.
inline size_t FindBlankOutside(std::string_view text) {
    TQuoteScanner scan;
    for (size_t i = 0; i < text.size(); ++i)
        if (scan.Step(text[i]) == TQuoteScanner::TByte::Plain && scan.Depth() == 0 &&
            IsStatementBlank(text[i]))
            return i;
    return std::string_view::npos;
}

}  // namespace corvane
