// U_sqlEditor: see U_sqlEditor.h.
#include "ui/U_sqlEditor.h"

#include <Qsci/qscilexersql.h>

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QFontDatabase>
#include <QMimeData>

#include "ui/U_dirTree.h"

namespace corvane {

namespace {

bool FromTree(const QMimeData* mime) {
    return mime && mime->hasFormat(QString::fromLatin1(TDirTreeModel::kDragMimeType));
}

}  // namespace

TSqlEditor::TSqlEditor(QWidget* parent) : QsciScintilla(parent) {
    setUtf8(true);
    setEolMode(QsciScintilla::EolUnix);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    auto* lexer = new QsciLexerSQL(this);  // owned by the editor
    lexer->setDefaultFont(font);
    for (int style = 0; style <= QsciLexerSQL::QuotedOperator; ++style)
        lexer->setFont(font, style);
    lexer->setColor(Qt::blue, QsciLexerSQL::Keyword);
    lexer->setColor(Qt::blue, QsciLexerSQL::KeywordSet5);
    setLexer(lexer);
    setMarginType(0, QsciScintilla::NumberMargin);
    setMarginLineNumbers(0, true);
    setMarginWidth(0, QStringLiteral("00000"));
    setAcceptDrops(true);
}

void TSqlEditor::dragEnterEvent(QDragEnterEvent* event) {
    if (!FromTree(event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    mm_SQLDragOver(event->position().toPoint());
}

void TSqlEditor::dragMoveEvent(QDragMoveEvent* event) {
    if (!FromTree(event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    mm_SQLDragOver(event->position().toPoint());
}

void TSqlEditor::dragLeaveEvent(QDragLeaveEvent* event) {
    event->accept();
}

void TSqlEditor::dropEvent(QDropEvent* event) {
    if (!FromTree(event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    mm_SQLDragOver(event->position().toPoint());
    mm_SQLDragDrop(QString::fromUtf8(
        event->mimeData()->data(QString::fromLatin1(TDirTreeModel::kDragMimeType))));
}

void TSqlEditor::mm_SQLDragOver(const QPoint& pos) {
    setFocus();
    // The nearest character position to the pointer, inside the text.
    const long position = SendScintilla(SCI_POSITIONFROMPOINT, static_cast<unsigned long>(pos.x()),
                                        static_cast<long>(pos.y()));
    SendScintilla(SCI_GOTOPOS, static_cast<unsigned long>(position));
}

void TSqlEditor::mm_SQLDragDrop(const QString& text) {
    QApplication::clipboard()->setText(text);
    paste();
    setFocus();
}

}  // namespace corvane
