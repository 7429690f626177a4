// U_messages: see U_messages.h.
#include "ui/U_messages.h"

#include <QMouseEvent>
#include <QTextBlock>
#include <algorithm>

namespace corvane {

namespace {

// Lines of a message without their line ends ("a\r\nb" is "a", "b").
std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (true) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    while (lines.size() > 1 && lines.back().empty())
        lines.pop_back();
    return lines;
}

int LineCount(const std::string& text) {
    return static_cast<int>(LinesOf(text).size());
}

}  // namespace

void LineAndColumn(const std::string& text, int byteOffset, int& line, int& column) {
    const size_t end = std::min(text.size(), static_cast<size_t>(std::max(0, byteOffset)));
    line = 1;
    column = 1;
    for (size_t i = 0; i < end; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            ++line;
            column = 1;
        } else if ((c & 0xC0) != 0x80) {
            ++column;  // a character starts here (UTF-8 continuation bytes do not count)
        }
    }
}

void TMessageLog::SetErrors(const std::vector<TStatementError>& errors,
                            const std::string& editorText, int statementStart) {
    entries_.clear();
    for (const TStatementError& error : errors) {
        TEntry entry;
        entry.text = error.message;
        if (error.position > 0) {
            const long long pos = static_cast<long long>(statementStart) + error.position - 1;
            entry.editorPos = static_cast<int>(
                std::clamp<long long>(pos, 0, static_cast<long long>(editorText.size())));
            LineAndColumn(editorText, entry.editorPos, entry.line, entry.column);
            entry.text = "第" + std::to_string(entry.line) + "行第" + std::to_string(entry.column) +
                         "列：" + error.message;
        }
        entries_.push_back(std::move(entry));
    }
}

void TMessageLog::SetOk(const std::vector<std::string>& notices) {
    entries_.clear();
    entries_.push_back(TEntry{"OK"});
    for (const std::string& notice : notices)
        entries_.push_back(TEntry{"提示：" + notice});
}

std::string TMessageLog::Text() const {
    std::string text;
    bool first = true;
    for (const TEntry& entry : entries_) {
        for (const std::string& line : LinesOf(entry.text)) {
            if (!first) text += '\n';
            first = false;
            text += line;
        }
    }
    return text;
}

int TMessageLog::EntryAtLine(int line) const {
    if (line < 0) return -1;
    int first = 0;
    for (size_t i = 0; i < entries_.size(); ++i) {
        const int count = LineCount(entries_[i].text);
        if (line < first + count) return static_cast<int>(i);
        first += count;
    }
    return -1;
}

int TMessageLog::FirstPositioned() const {
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].editorPos >= 0) return static_cast<int>(i);
    return -1;
}

TMessagePane::TMessagePane(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
}

void TMessagePane::Show(const TMessageLog& log) {
    log_ = log;
    setPlainText(QString::fromStdString(log_.Text()));
}

void TMessagePane::ActivateLine(int line) {
    const int entry = log_.EntryAtLine(line);
    if (entry < 0) return;
    const int pos = log_.Entries()[static_cast<size_t>(entry)].editorPos;
    if (pos >= 0) emit PositionActivated(pos);
}

void TMessagePane::mouseDoubleClickEvent(QMouseEvent* event) {
    QPlainTextEdit::mouseDoubleClickEvent(event);
    ActivateLine(cursorForPosition(event->position().toPoint()).blockNumber());
}

}  // namespace corvane
