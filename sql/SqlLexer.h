// SqlLexer: the tokens of a SQL statement.
//
// The statement parser (sqlScan_Base) reads a statement as a sequence of
// tokens, each carrying where it stands, so that the grammar never looks at
// characters and every message can point at the byte it is about. This
// unit cuts the text into those tokens, one at a time as the parser asks:
//   names        letters, digits, "_", "$" and every byte from 0x80 on (a
//                UTF-8 name is a name), not starting with a digit; keywords
//                are names too, the parser tells them apart;
//   "quoted"     a double-quoted name ("" inside is one quote);
//   'text'       a text literal ('' inside is one quote);
//   numbers      42, 2.5, .5, 1e-5, and size literals 10K 10M 2G 1T (also
//                KB MB GB TB, any letter case), powers of 1024, which are
//                integers;
//   dates        2024-01-31 written without blanks: a date literal, as
//                statements of this system have always meant it;
//   :name        a parameter reference;
//   operators    = == != <> < <= > >= + - * / % || ( ) [ ] , . ; and a
//                lone "!" (which the parser refuses by name).
// Blanks, "-- ..." to the end of the line and "/* ... */" separate tokens
// anywhere. A fault (a quote or comment left open, a byte that starts no
// token) is a token of kind Bad carrying its message, so the parser reports
// it where it stands and stops.
//
// FROM items may name a table without quotes ("from t", "from /tmp",
// "from FileSystem.t"): ReadTableWord reads such a word raw, up to the next
// blank, comma, bracket, ";" or comment.
//
// The lexer holds a view of the text; the text must outlive it. It never
// allocates more than the token it returns.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Variant.h"

namespace corvane {

enum class TSqlTok : uint8_t {
    End,         // no more tokens
    Name,        // text: as written
    QuotedName,  // text: without the quotes, "" read as "
    String,      // text: without the quotes, '' read as '
    Number,      // value: an integer or a real
    Date,        // value: a date-time
    Param,       // text: the name after ":"
    Op,          // text: the operator
    Bad          // text: the message
};

struct TSqlToken {
    TSqlTok kind = TSqlTok::End;
    int pos = 0;  // 1-based byte offset of the first byte in the statement
    int len = 0;  // bytes, as written
    std::string text;
    Variant value;

    int End() const { return pos + len; }  // offset just after the token
    // An operator token with exactly this text.
    bool Is(std::string_view op) const { return kind == TSqlTok::Op && text == op; }
    // A name token that is this keyword (lower case), any letter case.
    bool IsWord(std::string_view lowerWord) const;
};

class TSqlLexer {
  public:
    explicit TSqlLexer(std::string_view text) : text_(text) {}

    // The next token; End (repeatedly) at the end of the text.
    TSqlToken Next();
    // A word of a FROM item read raw from offset pos (1-based) on: the bytes
    // up to the next blank, ",", "(", ")", ";" or comment start. The lexer
    // goes on after it. Empty when none.
    std::string ReadTableWord(int pos);
    // Goes back to offset pos (1-based), so that Next reads from there.
    void Seek(int pos) { at_ = pos > 0 ? static_cast<size_t>(pos - 1) : 0; }

  private:
    // Skips blanks and comments; false (with the message) for a comment left open.
    bool SkipBlanks(std::string& message);
    TSqlToken Make(TSqlTok kind, size_t start, size_t end);
    TSqlToken ReadQuoted(size_t start, char quote);
    TSqlToken ReadNumber(size_t start);

    std::string_view text_;
    size_t at_ = 0;  // 0-based
};

// Line and column (both 1-based, columns counted in bytes) of a 1-based
// statement offset; offsets past the end count as the end.
void LineColumnOf(std::string_view text, int pos, int& line, int& column);

}  // namespace corvane
