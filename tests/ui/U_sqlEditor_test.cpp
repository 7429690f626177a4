// The SQL editor: the statement to run (the selection or everything),
// generated text going in as one undoable step, and error marks.
#include <Qsci/qscilexersql.h>

#include <QtTest>

#include "ui/U_sqlEditor.h"

using namespace corvane;

class SqlEditorTest : public QObject {
    Q_OBJECT

  private slots:
    void theStatementIsTheSelectionWhenThereIsOne() {
        TSqlEditor editor;
        editor.SetText("select 1\nselect 文件 from t");
        int start = -1;
        QCOMPARE(editor.Statement(start), std::string("select 1\nselect 文件 from t"));
        QCOMPARE(start, 0);
        editor.setSelection(1, 0, 1, 9);  // "select 文件" (index in characters)
        QCOMPARE(editor.Statement(start), std::string("select 文件"));
        QCOMPARE(start, 9);
    }

    void generatedTextIsOneUndoableStep_data() {
        QTest::addColumn<bool>("replace");
        QTest::addColumn<QString>("after");
        QTest::newRow("at the cursor") << false << "select a.x, b.y from t";
        QTest::newRow("in place of everything") << true << "a.x, b.y";
    }

    void generatedTextIsOneUndoableStep() {
        QFETCH(bool, replace);
        QFETCH(QString, after);
        TSqlEditor editor;
        editor.SetText("select  from t");
        QVERIFY(!editor.isUndoAvailable());  // a loaded text starts fresh
        editor.setCursorPosition(0, 7);
        if (replace)
            editor.ReplaceAllUndoable("a.x, b.y");
        else
            editor.InsertUndoable("a.x, b.y");
        QCOMPARE(QString::fromStdString(editor.Text()), after);
        editor.undo();
        QCOMPARE(editor.Text(), std::string("select  from t"));
        editor.redo();
        QCOMPARE(QString::fromStdString(editor.Text()), after);
    }

    void errorMarksCoverTheWordAndTheLine() {
        TSqlEditor editor;
        editor.SetText("select x\nfrom tablex t\nwhere t.lastwritetme > 1");
        const int at = 14;  // "tablex"
        editor.MarkError(at);
        QCOMPARE(editor.MarkedLines(), std::vector<int>{1});
        for (int pos = at; pos < at + 6; ++pos)
            QVERIFY(editor.IsMarked(pos));
        QVERIFY(!editor.IsMarked(at + 6));
        QVERIFY(!editor.IsMarked(at - 1));
        // A qualified name is marked whole; an operator is one character.
        const int name = static_cast<int>(editor.Text().find("t.last"));
        editor.MarkError(name);
        QVERIFY(editor.IsMarked(name + 13));  // the final "e"
        QVERIFY(!editor.IsMarked(name + 14));
        editor.MarkError(name + 15);  // ">"
        QVERIFY(editor.IsMarked(name + 15));
        QVERIFY(!editor.IsMarked(name + 16));
        QCOMPARE(editor.MarkedLines(), (std::vector<int>{1, 2}));
        // At the end of the text the last character is marked; out of range
        // is clamped, never a crash.
        editor.MarkError(static_cast<int>(editor.Text().size()));
        editor.MarkError(100000);
        editor.MarkError(-5);
        QVERIFY(editor.IsMarked(0));
        editor.ClearErrorMarks();
        QVERIFY(editor.MarkedLines().empty());
        QVERIFY(!editor.IsMarked(at));
        TSqlEditor empty;
        empty.MarkError(0);
        QVERIFY(empty.MarkedLines().empty());
    }

    // The dialect's words and every built-in's name are highlighted, the
    // functions appended last (regular expressions) and the aggregates too.
    void dialectWordsAndFunctionsAreHighlighted_data() {
        QTest::addColumn<QString>("word");
        QTest::addColumn<int>("style");
        QTest::newRow("limit") << "limit" << int(QsciLexerSQL::Keyword);
        QTest::newRow("regexp") << "regexp '" << int(QsciLexerSQL::Keyword);
        QTest::newRow("group") << "group" << int(QsciLexerSQL::Keyword);
        QTest::newRow("sum") << "sum(" << int(QsciLexerSQL::KeywordSet5);
        QTest::newRow("copy") << "copy(" << int(QsciLexerSQL::KeywordSet5);
        QTest::newRow("regexp_like") << "regexp_like(" << int(QsciLexerSQL::KeywordSet5);
        QTest::newRow("regexp_replace") << "regexp_replace(" << int(QsciLexerSQL::KeywordSet5);
        QTest::newRow("sha256") << "sha256(" << int(QsciLexerSQL::KeywordSet5);
        QTest::newRow("contains_regexp") << "contains_regexp(" << int(QsciLexerSQL::KeywordSet5);
        QTest::newRow("a column") << "filename," << int(QsciLexerSQL::Identifier);
    }
    void dialectWordsAndFunctionsAreHighlighted() {
        QFETCH(QString, word);
        QFETCH(int, style);
        TSqlEditor editor;
        const std::string text =
            "select sum(size), copy(filename,1,2), regexp_like(path,'x'), "
            "regexp_replace(path,'a','b'), sha256(path,filename), "
            "contains_regexp(path,filename,'x') from t where filename regexp 'a' "
            "group by path limit 5";
        editor.SetText(text);
        editor.SendScintilla(QsciScintilla::SCI_COLOURISE, 0UL, static_cast<long>(-1));
        const size_t at = text.find(word.toStdString());
        QVERIFY(at != std::string::npos);
        QCOMPARE(int(editor.SendScintilla(QsciScintilla::SCI_GETSTYLEAT,
                                          static_cast<unsigned long>(at))),
                 style);
    }

    void goingToAPosition() {
        TSqlEditor editor;
        editor.SetText("abc\ndef");
        editor.GoToByte(5);
        QCOMPARE(editor.CursorByte(), 5);
        editor.GoToByte(99);
        QCOMPARE(editor.CursorByte(), 7);
    }
};

QTEST_MAIN(SqlEditorTest)
#include "U_sqlEditor_test.moc"
