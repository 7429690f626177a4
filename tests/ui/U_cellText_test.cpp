// How values look in the result list against the raw texts that copy and
// export keep: grouped digits, readable sizes, full date-times, 是/否.
#include <QtTest>

#include "platform/DateTime.h"
#include "ui/U_cellText.h"

using namespace corvane;

Q_DECLARE_METATYPE(corvane::Variant)

namespace {

Variant Date(int y, int mo, int d, int h, int mi, int s) {
    TDateTime date = 0, time = 0;
    TryEncodeDate(y, mo, d, date);
    TryEncodeTime(h, mi, s, 0, time);
    Variant v;
    v.SetDate(date + time);
    return v;
}

}  // namespace

class CellTextTest : public QObject {
    Q_OBJECT

  private slots:
    void shownAndRawTexts_data() {
        QTest::addColumn<Variant>("value");
        QTest::addColumn<bool>("sizeColumn");
        QTest::addColumn<bool>("human");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("raw");
        QTest::addColumn<bool>("number");
        const Variant big(int64_t(2500000000));
        QTest::newRow("integer, grouped") << big << false << false << "2,500,000,000"
                                          << "2500000000" << true;
        QTest::newRow("size in bytes") << big << true << false << "2,500,000,000"
                                       << "2500000000" << true;
        QTest::newRow("size, readable") << big << true << true << "2.3 GiB"
                                        << "2500000000" << true;
        QTest::newRow("readable only in the size column") << big << false << true << "2,500,000,000"
                                                          << "2500000000" << true;
        QTest::newRow("small size stays bytes") << Variant(int64_t(512)) << true << true << "512 B"
                                                << "512" << true;
        QTest::newRow("negative") << Variant(int64_t(-1234)) << false << false << "-1,234"
                                  << "-1234" << true;
        QTest::newRow("double") << Variant(1234567.25) << false << false << "1,234,567.25"
                                << "1234567.25" << true;
        QTest::newRow("date-time in full")
            << Date(2026, 12, 31, 23, 5, 9) << false << false << "2026-12-31 23:05:09"
            << "2026-12-31 23:05:09" << false;
        QTest::newRow("midnight keeps its time")
            << Date(2024, 3, 5, 0, 0, 0) << false << false << "2024-03-05 00:00:00"
            << "2024-03-05" << false;
        QTest::newRow("true") << Variant(true) << false << false << "是"
                              << "True" << false;
        QTest::newRow("false") << Variant(false) << false << false << "否"
                               << "False" << false;
        QTest::newRow("text as it is") << Variant("a,b 文件") << false << false << "a,b 文件"
                                       << "a,b 文件" << false;
        QTest::newRow("text in the size column") << Variant("12345") << true << true << "12345"
                                                 << "12345" << false;
        QTest::newRow("empty") << Variant() << false << false << ""
                               << "" << false;
    }

    void shownAndRawTexts() {
        QFETCH(Variant, value);
        QFETCH(bool, sizeColumn);
        QFETCH(bool, human);
        QFETCH(QString, shown);
        QFETCH(QString, raw);
        QFETCH(bool, number);
        const TDisplayOptions options{QLocale(QLocale::Chinese, QLocale::China), human};
        QCOMPARE(DisplayText(value, sizeColumn, options), shown);
        QCOMPARE(RawText(value), raw);
        QCOMPARE(IsNumber(value), number);
    }

    void humanSizesStepThroughTheUnits_data() {
        QTest::addColumn<qlonglong>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("1023 bytes") << 1023LL << "1,023 B";
        QTest::newRow("one KiB") << 1024LL << "1.0 KiB";
        QTest::newRow("one and a half KiB") << 1536LL << "1.5 KiB";
        QTest::newRow("rounds up into the next unit") << 1048575LL << "1.0 MiB";
        QTest::newRow("MiB") << 5LL * 1048576 + 104858 << "5.1 MiB";
        QTest::newRow("largest integer") << std::numeric_limits<qlonglong>::max() << "8.0 EiB";
        QTest::newRow("German decimal comma") << 1536LL << "1,5 KiB";
    }

    void humanSizesStepThroughTheUnits() {
        QFETCH(qlonglong, bytes);
        QFETCH(QString, text);
        const QLocale locale = QString(QTest::currentDataTag()).startsWith("German")
                                   ? QLocale(QLocale::German, QLocale::Germany)
                                   : QLocale(QLocale::Chinese, QLocale::China);
        QCOMPARE(HumanSize(bytes, locale), text);
    }

    void theListLocaleGroupsDigits() {
        QVERIFY(!DisplayLocale().groupSeparator().isEmpty());
        QVERIFY(DisplayLocale().language() != QLocale::C);
    }
};

QTEST_MAIN(CellTextTest)
#include "U_cellText_test.moc"
