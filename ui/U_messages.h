// U_messages: the message box under the editor (mm_msg) and what its lines
// point at.
//
// After a check or a run the box shows "OK" or the statement's errors, one
// message per entry, and after a run the notices the run produced (a table
// directory that is missing, sub-directories that could not be read) as
// lines starting with "提示：". An error whose position the parser knows
// starts with "第L行第C列：" (line and column in the editor, counted in
// characters, both from 1) and remembers the byte offset in the editor
// text, so the editor can mark the place and a double-click on the message
// moves the cursor there. The statement may be only the selected part of
// the editor text: positions are then counted from the selection's start.
//
// TMessageLog holds the entries and answers which entry a line of the box
// belongs to; TMessagePane is the read-only box that shows the log and
// reports double-clicks. The editor marks are U_sqlEditor's.
#pragma once

#include <QPlainTextEdit>
#include <string>
#include <vector>

#include "ui/U_queryRunner.h"

namespace corvane {

class TMessageLog {
  public:
    struct TEntry {
        std::string text;    // as shown (with its line/column prefix)
        int editorPos = -1;  // 0-based byte offset in the editor text; -1 = none
        int line = 0;        // 1-based editor line of editorPos (0 = none)
        int column = 0;      // 1-based editor column in characters (0 = none)
    };

    // The statement errors of a check or a run. editorText is the whole
    // editor text; the statement started at byte statementStart of it.
    void SetErrors(const std::vector<TStatementError>& errors, const std::string& editorText,
                   int statementStart);
    // "OK" followed by the notices of a run (none after a check).
    void SetOk(const std::vector<std::string>& notices = {});

    const std::vector<TEntry>& Entries() const { return entries_; }
    // The text of the box: the entries one after another, line by line.
    std::string Text() const;
    // The entry a 0-based line of Text() belongs to, or -1.
    int EntryAtLine(int line) const;
    // The first entry with an editor position, or -1.
    int FirstPositioned() const;

  private:
    std::vector<TEntry> entries_;
};

// The 1-based line and character column of a byte offset in UTF-8 text.
void LineAndColumn(const std::string& text, int byteOffset, int& line, int& column);

class TMessagePane : public QPlainTextEdit {
    Q_OBJECT
  public:
    explicit TMessagePane(QWidget* parent = nullptr);

    void Show(const TMessageLog& log);
    const TMessageLog& Log() const { return log_; }
    // As a double-click on the given 0-based line would.
    void ActivateLine(int line);

  signals:
    // A message with a position was double-clicked.
    void PositionActivated(int editorPos);

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    TMessageLog log_;
};

}  // namespace corvane
