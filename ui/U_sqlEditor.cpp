// U_sqlEditor: see U_sqlEditor.h.
#include "ui/U_sqlEditor.h"

#include <Qsci/qscicommand.h>
#include <Qsci/qscicommandset.h>
#include <Qsci/qscilexersql.h>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QFontDatabase>
#include <QMenu>
#include <QMimeData>
#include <algorithm>
#include <cctype>

#include "script/common/BuiltinHeads.h"
#include "ui/U_dirTree.h"

namespace corvane {

namespace {

// The error indicator (a container indicator of ours) and margin marker.
constexpr int kErrorIndicator = 8;
constexpr int kErrorMarker = 1;
constexpr int kMarkerMargin = 1;

bool FromTree(const QMimeData* mime) {
    return mime && mime->hasFormat(QString::fromLatin1(TDirTreeModel::kDragMimeType));
}

// The SQL lexer with this dialect's words: the clause and relation words
// it adds to SQL's own keywords, and, as the lexer's first user keyword set,
// the names of the script language's built-in functions (every head the
// table has, the regular expressions included) and of the aggregates.
// SQL*Plus's commands are no words of this dialect.
class TDialectLexer : public QsciLexerSQL {
  public:
    explicit TDialectLexer(QObject* parent) : QsciLexerSQL(parent) {
        keywords_ = QsciLexerSQL::keywords(1);
        keywords_ += " limit offset regexp";
        functions_ = "count sum min max avg";
        const std::shared_ptr<const TBuiltinHeads> builtins = TBuiltinHeads::Acquire();
        for (int n = 1; n < builtins->Count(); ++n)
            functions_ += " " + builtins->Head(n).Name;
    }
    const char* keywords(int set) const override {
        if (set == 1) return keywords_.c_str();
        // SQL*Plus commands mean nothing here, and some are built-ins'
        // names (copy).
        if (set == 4) return nullptr;
        if (set == 5) return functions_.c_str();
        return QsciLexerSQL::keywords(set);
    }

  private:
    std::string keywords_, functions_;
};

}  // namespace

TSqlEditor::TSqlEditor(QWidget* parent) : QsciScintilla(parent) {
    setUtf8(true);
    setEolMode(QsciScintilla::EolUnix);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    auto* lexer = new TDialectLexer(this);  // owned by the editor
    lexer->setDefaultFont(font);
    for (int style = 0; style <= QsciLexerSQL::QuotedOperator; ++style)
        lexer->setFont(font, style);
    lexer->setColor(Qt::blue, QsciLexerSQL::Keyword);
    lexer->setColor(Qt::blue, QsciLexerSQL::KeywordSet5);
    setLexer(lexer);
    setMarginType(0, QsciScintilla::NumberMargin);
    setMarginLineNumbers(0, true);
    setMarginWidth(0, QStringLiteral("00000"));
    setMarginType(kMarkerMargin, QsciScintilla::SymbolMargin);
    setMarginWidth(kMarkerMargin, 14);
    setMarginMarkerMask(kMarkerMargin, 1 << kErrorMarker);
    markerDefine(QsciScintilla::Circle, kErrorMarker);
    setMarkerBackgroundColor(QColor(0xd0, 0x20, 0x20), kErrorMarker);
    setMarkerForegroundColor(QColor(0x90, 0x00, 0x00), kErrorMarker);
    SendScintilla(SCI_INDICSETSTYLE, kErrorIndicator, INDIC_SQUIGGLE);
    SendScintilla(SCI_INDICSETFORE, kErrorIndicator, QColor(0xe0, 0x00, 0x00));
    // No horizontal scroll bar until a line needs one.
    SendScintilla(SCI_SETSCROLLWIDTH, 1UL);
    SendScintilla(SCI_SETSCROLLWIDTHTRACKING, 1UL);
    setAcceptDrops(true);
    // Esc belongs to the window (it cancels a running query); the editor
    // would take it for closing a call tip it never shows.
    if (QsciCommand* cancel = standardCommands()->boundTo(Qt::Key_Escape)) cancel->setKey(0);
}

std::string TSqlEditor::Statement(int& start) const {
    start = 0;
    if (!hasSelectedText()) return Text();
    const long from = SendScintilla(SCI_GETSELECTIONSTART);
    const long to = SendScintilla(SCI_GETSELECTIONEND);
    const std::string all = Text();
    if (from < 0 || to <= from || static_cast<size_t>(to) > all.size()) return all;
    start = static_cast<int>(from);
    return all.substr(static_cast<size_t>(from), static_cast<size_t>(to - from));
}

void TSqlEditor::InsertUndoable(const std::string& text) {
    beginUndoAction();
    replaceSelectedText(QString::fromStdString(text));
    endUndoAction();
}

void TSqlEditor::ReplaceAllUndoable(const std::string& text) {
    beginUndoAction();
    selectAll();
    replaceSelectedText(QString::fromStdString(text));
    endUndoAction();
}

void TSqlEditor::MarkError(int bytePos) {
    const long length = SendScintilla(SCI_GETLENGTH);
    if (length <= 0) return;
    long pos = std::clamp<long>(bytePos, 0, length);
    // A fault reported at the very end is shown on the last character.
    if (pos == length) pos = SendScintilla(SCI_POSITIONBEFORE, static_cast<unsigned long>(pos));
    // The whole name there, a qualified one ("a.lastwritetme") included;
    // at anything else one character.
    long end = pos;
    while (end < length) {
        const auto c = static_cast<unsigned char>(
            SendScintilla(SCI_GETCHARAT, static_cast<unsigned long>(end)));
        if (!(std::isalnum(c) || c == '_' || c == '.' || c >= 0x80)) break;
        ++end;
    }
    if (end <= pos) end = SendScintilla(SCI_POSITIONAFTER, static_cast<unsigned long>(pos));
    SendScintilla(SCI_SETINDICATORCURRENT, kErrorIndicator);
    SendScintilla(SCI_INDICATORFILLRANGE, static_cast<unsigned long>(pos), end - pos);
    const long line = SendScintilla(SCI_LINEFROMPOSITION, static_cast<unsigned long>(pos));
    markerAdd(static_cast<int>(line), kErrorMarker);
}

void TSqlEditor::ClearErrorMarks() {
    SendScintilla(SCI_SETINDICATORCURRENT, kErrorIndicator);
    SendScintilla(SCI_INDICATORCLEARRANGE, 0UL, SendScintilla(SCI_GETLENGTH));
    markerDeleteAll(kErrorMarker);
}

std::vector<int> TSqlEditor::MarkedLines() const {
    std::vector<int> lines;
    for (int line = markerFindNext(0, 1 << kErrorMarker); line >= 0;
         line = markerFindNext(line + 1, 1 << kErrorMarker))
        lines.push_back(line);
    return lines;
}

bool TSqlEditor::IsMarked(int bytePos) const {
    return SendScintilla(SCI_INDICATORVALUEAT, kErrorIndicator, static_cast<long>(bytePos)) != 0;
}

void TSqlEditor::GoToByte(int bytePos) {
    const long length = SendScintilla(SCI_GETLENGTH);
    SendScintilla(SCI_GOTOPOS, static_cast<unsigned long>(std::clamp<long>(bytePos, 0, length)));
    SendScintilla(SCI_SCROLLCARET);
    setFocus();
}

int TSqlEditor::CursorByte() const {
    return static_cast<int>(SendScintilla(SCI_GETCURRENTPOS));
}

void TSqlEditor::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    auto add = [&](const QString& text, bool enabled, auto slot) {
        QAction* action = menu.addAction(text, this, slot);
        action->setEnabled(enabled);
    };
    const bool editable = !isReadOnly();
    add(QStringLiteral("撤销"), editable && isUndoAvailable(), &QsciScintilla::undo);
    add(QStringLiteral("重做"), editable && isRedoAvailable(), &QsciScintilla::redo);
    menu.addSeparator();
    add(QStringLiteral("剪切"), editable && hasSelectedText(), &QsciScintilla::cut);
    add(QStringLiteral("复制"), hasSelectedText(), &QsciScintilla::copy);
    add(QStringLiteral("粘贴"), editable && SendScintilla(SCI_CANPASTE) != 0,
        &QsciScintilla::paste);
    add(QStringLiteral("删除"), editable && hasSelectedText(), &QsciScintilla::removeSelectedText);
    menu.addSeparator();
    add(QStringLiteral("全选"), length() > 0, [this] { selectAll(); });
    menu.exec(event->globalPos());
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
