// The message box's log: error positions as editor lines and columns (also
// inside a selection and after multi-byte characters), notices after "OK",
// and which message a line of the box belongs to.
#include <QtTest>

#include "ui/U_messages.h"

using namespace corvane;

class MessagesTest : public QObject {
    Q_OBJECT

  private slots:
    void positionsBecomeLinesAndColumns_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("start");     // where the statement starts
        QTest::addColumn<int>("position");  // 1-based in the statement, 0 = unknown
        QTest::addColumn<int>("editorPos");
        QTest::addColumn<QString>("shown");
        QTest::newRow("first character") << "select x" << 0 << 1 << 0 << "第1行第1列：错";
        QTest::newRow("second line") << "select\nfrom y" << 0 << 13 << 12 << "第2行第6列：错";
        QTest::newRow("after Chinese characters count characters")
            << "select 文件名 x" << 0 << 18 << 17 << "第1行第12列：错";
        QTest::newRow("inside a selection") << "a\nb\nselect z" << 4 << 8 << 11 << "第3行第8列：错";
        QTest::newRow("past the end stays at the end") << "abc" << 0 << 99 << 3 << "第1行第4列：错";
        QTest::newRow("unknown position: no prefix") << "abc" << 0 << 0 << -1 << "错";
    }

    void positionsBecomeLinesAndColumns() {
        QFETCH(QString, text);
        QFETCH(int, start);
        QFETCH(int, position);
        QFETCH(int, editorPos);
        QFETCH(QString, shown);
        TMessageLog log;
        log.SetErrors({{"错", position}}, text.toStdString(), start);
        QCOMPARE(log.Entries().size(), size_t(1));
        QCOMPARE(log.Entries()[0].editorPos, editorPos);
        QCOMPARE(QString::fromStdString(log.Text()), shown);
    }

    void everyLineBelongsToItsMessage() {
        TMessageLog log;
        const std::string text = "select x from y";
        log.SetErrors({{"first", 0}, {"two\r\nlines", 8}, {"last\r\n", 15}}, text, 0);
        QCOMPARE(log.Text(), std::string("first\n第1行第8列：two\nlines\n第1行第15列：last"));
        const int entries[] = {0, 1, 1, 2, -1};
        for (int line = 0; line < 5; ++line)
            QCOMPARE(log.EntryAtLine(line), entries[line]);
        QCOMPARE(log.FirstPositioned(), 1);
    }

    void okAndTheNoticesOfARun() {
        TMessageLog log;
        log.SetOk({"目录不存在：/x", "无法读取子目录：/y/z"});
        QCOMPARE(log.Text(), std::string("OK\n提示：目录不存在：/x\n提示：无法读取子目录：/y/z"));
        QCOMPARE(log.FirstPositioned(), -1);
        log.SetOk();
        QCOMPARE(log.Text(), std::string("OK"));
    }

    void doubleClickingAPositionedMessageReportsIt() {
        TMessagePane pane;
        TMessageLog log;
        log.SetErrors({{"a", 0}, {"b", 3}}, "xyzw", 0);
        pane.Show(log);
        QCOMPARE(pane.toPlainText(), QStringLiteral("a\n第1行第3列：b"));
        QVERIFY(pane.isReadOnly());
        QSignalSpy activated(&pane, &TMessagePane::PositionActivated);
        pane.ActivateLine(0);  // no position: nothing
        pane.ActivateLine(1);
        QCOMPARE(activated.size(), 1);
        QCOMPARE(activated[0][0].toInt(), 2);
    }
};

QTEST_MAIN(MessagesTest)
#include "U_messages_test.moc"
