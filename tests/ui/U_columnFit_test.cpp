// Column widths after a run: the rows measured, widths from the header and
// the widest shown cell, the minimum and the maximum.
#include <QStandardItemModel>
#include <QtTest>

#include "ui/U_columnFit.h"

using namespace corvane;

class ColumnFitTest : public QObject {
    Q_OBJECT

  private slots:
    void theSampleCoversTheWholeResult_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("sample");
        QTest::addColumn<QList<int>>("measured");
        QTest::newRow("empty") << 0 << 4 << QList<int>{};
        QTest::newRow("fewer rows than the sample") << 3 << 4 << QList<int>{0, 1, 2};
        QTest::newRow("first half in order, the rest spread")
            << 100 << 4 << QList<int>{0, 1, 2, 51};
        QTest::newRow("spread reaches the end")
            << 1000 << 10 << QList<int>{0, 1, 2, 3, 4, 5, 204, 403, 602, 801};
    }

    void theSampleCoversTheWholeResult() {
        QFETCH(int, rows);
        QFETCH(int, sample);
        QFETCH(QList<int>, measured);
        const std::vector<int> got = SampleRows(rows, sample);
        QCOMPARE(QList<int>(got.begin(), got.end()), measured);
    }

    void widthsFollowTheWidestTextWithinBounds() {
        QStandardItemModel model(0, 4);
        model.setHorizontalHeaderLabels({"目录", "大小", "x", "a-rather-long-caption-text"});
        const QString longPath = QString(300, QLatin1Char('p'));
        model.appendRow({new QStandardItem("/short"), new QStandardItem("1"),
                         new QStandardItem(longPath), new QStandardItem("")});
        model.appendRow({new QStandardItem("/a/somewhat/longer/path"), new QStandardItem("22"),
                         new QStandardItem("q"), new QStandardItem("")});
        const QFont font;
        const QFontMetrics fm(font);
        TColumnFitRules rules;
        const std::vector<int> widths = FitColumnWidths(model, fm, fm, rules);
        QCOMPARE(widths.size(), size_t(4));
        // The widest cell plus the cell margins and the first column's icon.
        QCOMPARE(widths[0], std::max(fm.horizontalAdvance("/a/somewhat/longer/path") +
                                         rules.cellPadding + rules.iconWidth,
                                     fm.horizontalAdvance("目录") + rules.headerPadding));
        // A narrow column is as wide as its caption needs, at least the minimum.
        QCOMPARE(widths[1],
                 std::max(rules.minWidth, fm.horizontalAdvance("大小") + rules.headerPadding));
        // A very long text is cut at the maximum (the view elides it).
        QCOMPARE(widths[2], rules.maxWidth);
        // The caption counts when the cells are empty.
        QCOMPARE(widths[3],
                 std::min(rules.maxWidth, fm.horizontalAdvance("a-rather-long-caption-text") +
                                              rules.headerPadding));
    }

    void onlySampledRowsAreMeasured() {
        QStandardItemModel model(0, 1);
        for (int r = 0; r < 10; ++r)
            model.appendRow(new QStandardItem(r == 6 ? QString(80, 'w') : QStringLiteral("a")));
        const QFontMetrics fm{QFont()};
        TColumnFitRules rules;
        rules.sampleRows = 4;  // rows 0, 1, 2, 6
        QVERIFY(FitColumnWidths(model, fm, fm, rules)[0] > 200);
        rules.sampleRows = 2;  // rows 0, 1
        QCOMPARE(FitColumnWidths(model, fm, fm, rules)[0], rules.minWidth);
    }
};

QTEST_MAIN(ColumnFitTest)
#include "U_columnFit_test.moc"
