// u_functions_consts: quote-aware text scanning.
//
// The SQL parser, the engine's operand code and the script compiler all
// look for words in texts that may hold quoted literals. These stateless
// helpers find keywords and names without being fooled by the same letters
// inside quotes: a single or double quote opens a section that the next
// occurrence of the same character closes, with no escapes. Positions are
// 1-based byte positions; 0 means "not found". Word boundaries are the
// separator set below.
//
// They know nothing of SQL or of the script grammar; the parsers decide what
// a token means.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// Tab, LF, CR, blank, and " & ' ( ) * + , - / : ; < = > [ ] ^
bool IsSeparator(char c);
// Tab, LF, CR and blank.
bool IsBlankChar(char c);

// The quoted literal starting at pos, both quotes included; empty when the
// character there is no quote. An unclosed literal runs to the end of the
// text and is framed by two quotes.
std::string ReadQuoted(std::string_view text, int pos);
// Whether text[start..end] stands alone between separators (or the text's
// ends).
bool IsWholeWord(std::string_view text, int start, int end);
// The first position at or beyond pos, in the step's direction (+1 or -1),
// that holds no blank; the last character is never stepped over.
int SkipBlanks(std::string_view text, int pos, int step);
// The next token at or after pos: a quoted literal as written, or a run up
// to the first separator or "..", trimmed and lower-cased. tokenPos receives
// where it starts (0 when there is none).
std::string ReadToken(std::string_view text, int pos, int& tokenPos);
// Position of the first occurrence of what outside quoted sections, or 0.
int PosOutsideQuotes(std::string_view what, std::string_view text, int start = 1);
// Position of the first occurrence of name outside quotes and at bracket
// depth 0, or 0. Exact comparison; no word-boundary test.
int FindNameOutside(std::string_view name, std::string_view text, int start = 1);
// Whether pos lies inside a closed quoted section (quotes included).
bool IsInQuotes(std::string_view text, int pos);

}  // namespace corvane
