// U_sqlEditor: the SQL editor (mm_sql): QScintilla with the SQL lexer
// (keywords, the dialect's own words and the names of the built-in and
// aggregate functions in blue), a line-number margin, UTF-8 text, and drops
// from the directory tree.
//
// Positions here are byte offsets into the UTF-8 text, which is what the
// editor stores and what the parser reports: a statement error is marked
// by a red squiggle over the name at its position (a qualified name
// whole) and a marker in the margin beside its line, until the next check or run. The
// statement to run is the selected text when there is a selection (with
// the byte offset where it starts), else the whole text. Text generated
// from the tree goes in as one undoable step (Ctrl+Z takes it out again),
// at the cursor or in place of everything. The context menu is the
// editor's own, in the interface language.
//
// Only drags that come from the tree are accepted; while one moves over the
// editor, the editor takes the focus and its caret follows the pointer; on
// drop the node's text is put on the clipboard and pasted at the caret (the
// clipboard keeps it). The text itself comes from the tree model
// (U_dirTree).
#pragma once

#include <Qsci/qsciscintilla.h>

#include <string>
#include <vector>

namespace corvane {

class TSqlEditor : public QsciScintilla {
    Q_OBJECT
  public:
    explicit TSqlEditor(QWidget* parent = nullptr);

    std::string Text() const { return text().toStdString(); }
    // Replaces the text (not undoable: a loaded project starts fresh).
    void SetText(const std::string& text) { setText(QString::fromStdString(text)); }

    // The selected text when there is a selection, else the whole text;
    // start is the statement's byte offset in the text.
    std::string Statement(int& start) const;
    // Inserts text at the cursor (in place of a selection), or replaces
    // the whole text, as one step of the undo history.
    void InsertUndoable(const std::string& text);
    void ReplaceAllUndoable(const std::string& text);

    // Marks a statement error at a byte offset; ClearErrorMarks removes
    // every mark.
    void MarkError(int bytePos);
    void ClearErrorMarks();
    // Lines (0-based) that carry an error marker, and whether the error
    // indicator covers a byte offset (for tests).
    std::vector<int> MarkedLines() const;
    bool IsMarked(int bytePos) const;
    // Puts the cursor at a byte offset, scrolls it into view and takes the
    // focus.
    void GoToByte(int bytePos);
    int CursorByte() const;

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void mm_SQLDragOver(const QPoint& pos);
    void mm_SQLDragDrop(const QString& text);
};

}  // namespace corvane
