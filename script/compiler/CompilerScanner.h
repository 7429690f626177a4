// CompilerScanner: the script compiler's scanner.
//
// Turns source text into what the parser reads. BuildLineList strips the
// comments ("//" to the end of the line, "{" ... "}" across lines; quoted
// texts are left alone), trims the lines and drops the empty ones, keeping
// each line's number for diagnostics. A TScanner then walks one such list
// of lines at a time (first the whole source, later each function body on
// its own) and hands out characters, words, operators and constant values,
// stepping over blanks and line ends.
//
// Words are lower-cased, except quoted literals, which keep their letter
// case and their quotes. A word ends at a delimiter of the language or at
// "..", but the sign of a number's exponent belongs to the number ("1e-5"
// is one word). The parser peeks by reading and going back (PeekChar,
// PeekWord, Pos), and guards each of its loops with Stuck, which tells
// whether a pass consumed anything: no input can make it loop forever.
//
// What it deliberately does not do: decide what a word means (the parser
// in u_compile, CompilerStatements and CompilerExpressions, with the
// recognisers of qv_consts); record diagnostics (running out of text is
// reported through the callback the scanner was made with, and the parser
// records the message); emit code (CodeEmitter).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "script/common/base_inf.h"
#include "script/common/qv_consts.h"

namespace corvane {

// Splits a text into lines at LF (a CR before it is dropped).
std::vector<std::string> SplitSourceText(std::string_view text);

// The lines of a source without comments, trimmed, empty ones left out,
// each with its number (from 1). A comment or quoted text may run over
// several lines.
Tcodetxt BuildLineList(const std::vector<std::string>& lines);

// What a literal text of type `type` (LiteralType) holds when it is a
// number: a value the run time reads (Ok, also for any text that is no
// number), a well-formed number beyond a 64-bit integer or a double
// (OutOfRange), or a text that only starts like a number (Malformed).
enum class NumberCheck { Ok, OutOfRange, Malformed };
NumberCheck CheckNumber(std::string_view text, int type);

// Where the scanner stands: a line of the list and a column in it (from 1).
struct TScanPos {
    int lineIndex = -1;
    int col = -1;
};

class TScanner {
  public:
    // What NextChar and PeekChar return when the lines are used up.
    static constexpr char kEndOfText = '\0';

    // ranOut is called when NextWord finds no further line to read.
    explicit TScanner(std::function<void()> ranOut) : ranOut_(std::move(ranOut)) {}

    // The lines to read next; the position is before the first of them.
    void SetLines(Tcodetxt lines);
    const Tcodetxt& Lines() const { return lines_; }

    TScanPos Pos() const { return pos_; }
    // Whether the position is still `before`: the pass consumed nothing.
    bool Stuck(const TScanPos& before) const;
    // The number of the current line; -1 before the first line.
    int LineNo() const;
    // The number of the line the next character is on: a message about a
    // word that was only peeked belongs to the word's line, not to the end
    // of the line before.
    int WordLine();

    // Moves to the start of the next line; false (and no move) at the last.
    bool AdvanceLine();
    // The next character that is no blank, from this or a later line,
    // consumed; kEndOfText when there is none.
    char NextChar();
    char PeekChar();
    // The character at the position itself, blanks not skipped; kEndOfText
    // past the end of the line.
    char CharAtCursor() const;

    // word -> quoted-literal | characters up to a delimiter or ".."
    // A quoted literal runs to the same quote character (or the end of the
    // line) and keeps its quotes and letter case; any other word is
    // lower-cased and trimmed. Empty when the next character is a
    // delimiter (nothing is consumed then) or when the lines are used up
    // (the ranOut callback has been called).
    std::string NextWord();
    std::string PeekWord();
    // The value of a constant: a quoted text starting right at the position
    // (as written), else NextWord.
    std::string ReadConstValue();
    // An operator: the longest run of "*+-/<=>" that is one (a "+" or "-"
    // after the first character ends the run, so "<-1" reads "<"), else the
    // next two, three or four characters (letters lower-cased, blanks
    // between them skipped) that name one. okNone, with the position
    // unchanged, when none does.
    TOperatorKind ReadOperator();

    // Recovery after a body without "begin": moves to the next line that
    // starts a function or procedure or is "end." and reports true; when
    // there is none, moves to the last line and reports false.
    bool SkipToNextBody();
    // Recovery after a faulty statement: skips to the ";" or the blank
    // before "end" that ends it, passing over quoted texts and nested
    // begin/end, case/end and repeat/until. False when the lines ran out.
    bool SkipStatement();
    // The text as written from `from` to the end of the current line, the
    // lines joined with CR LF (the text of a tag).
    std::string TextFrom(const TScanPos& from) const;

  private:
    // The current line in lower case.
    const std::string& CurLine() const;

    Tcodetxt lines_;
    std::vector<std::string> lower_;  // lines_ in lower case
    TScanPos pos_;
    std::function<void()> ranOut_;
};

}  // namespace corvane
