// U_sqlEditor: the SQL editor (mm_sql): QScintilla with the SQL lexer
// (keywords in blue), a line-number margin, UTF-8 text, and drops from the
// directory tree.
//
// Only drags that come from the tree are accepted; while one moves over the
// editor, the editor takes the focus and its caret follows the pointer; on
// drop the node's text is put on the clipboard and pasted at the caret (the
// clipboard keeps it). The text itself comes from the tree model
// (U_dirTree).
#pragma once

#include <Qsci/qsciscintilla.h>

namespace corvane {

class TSqlEditor : public QsciScintilla {
    Q_OBJECT
  public:
    explicit TSqlEditor(QWidget* parent = nullptr);

    std::string Text() const { return text().toStdString(); }
    void SetText(const std::string& text) { setText(QString::fromStdString(text)); }

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void mm_SQLDragOver(const QPoint& pos);
    void mm_SQLDragDrop(const QString& text);
};

}  // namespace corvane
