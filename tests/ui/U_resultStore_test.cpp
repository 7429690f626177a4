// The result list's compact row store: values read back as appended, and
// its radix sort against the list's comparison (CompareValues, a missing
// value first, a stable sort from the current order, as a sort proxy does)
// on a table of mixed rows, click after click; then the model's header
// sort keeping the selection on its rows.
#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <QtTest>
#include <algorithm>
#include <cstdint>
#include <limits>
#include <numeric>

#include "ui/U_resultModel.h"
#include "ui/U_resultStore.h"

using namespace corvane;

namespace {

Variant Date(double d, bool later = false) {
    Variant v;
    v.SetDate(d, later);
    return v;
}

// The order the list had before it kept a store: a stable sort of the
// current order by CompareValues, a missing value before every other.
void ReferenceSort(const std::vector<TSimpleRow>& rows, std::vector<uint32_t>& order, size_t column,
                   bool descending) {
    auto less = [&](uint32_t a, uint32_t b) {
        const bool hasA = column < rows[a].size(), hasB = column < rows[b].size();
        if (!hasA || !hasB) return !hasA && hasB;
        return CompareValues(rows[a][column], rows[b][column]) < 0;
    };
    if (descending)
        std::stable_sort(order.begin(), order.end(),
                         [&](uint32_t a, uint32_t b) { return less(b, a); });
    else
        std::stable_sort(order.begin(), order.end(), less);
}

// A deterministic table of mixed rows: every column draws from its pool,
// some rows stop early (their last columns are missing).
std::vector<TSimpleRow> MixedRows(size_t count) {
    const int64_t big = std::numeric_limits<int64_t>::max();
    const std::vector<std::vector<Variant>> pools = {
        // Every kind in one column (integers small enough to be exact as
        // doubles, as they are beside doubles in the comparison).
        {Variant(), Variant::Null(), Variant(int64_t(3)), Variant(int64_t(-2)), Variant(2.5),
         Variant(-0.0), Variant(int64_t(0)), Variant(true), Variant(false), Date(45000.5),
         Date(1.0, true), Variant("b"), Variant(""), Variant("a"), Variant("ab"), Variant("a\xff"),
         Variant("\xc3\xa9"), Variant("B"), Variant(-1e300)},
        // Integers only: compared exactly, also at the ends of the range.
        {Variant(big), Variant(big - 1), Variant(-big - 1), Variant(int64_t(1) << 53),
         Variant((int64_t(1) << 53) + 1), Variant(int64_t(-1)), Variant(int64_t(0)), Variant()},
        // Texts sharing long beginnings, and ones that end inside the
        // first eight bytes.
        {Variant("/home/user/dir1"), Variant("/home/user/dir10"), Variant("/home/user/dir1/x"),
         Variant("/home/user/dir"), Variant("/home"), Variant("/home\x01"), Variant("/home/"),
         Variant(std::string("/ho\0me", 6)), Variant("/ho"), Variant::Null()},
        // Dates and booleans (number-like, compared as numbers).
        {Date(45000.25), Date(45000.25, true), Date(44999.0), Variant(true), Variant(false),
         Variant(0.5), Variant()},
        // Integers within 2^32 of each other (sorted by narrower keys).
        {Variant(int64_t(0)), Variant(int64_t(1)), Variant(int64_t(2)), Variant(int64_t(1000)),
         Variant(int64_t(4000000000)), Variant(), Variant::Null()},
    };
    std::vector<TSimpleRow> rows;
    uint64_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return seed >> 33;
    };
    for (size_t i = 0; i < count; ++i) {
        TSimpleRow row;
        const size_t width = next() % 8 == 0 ? next() % pools.size() : pools.size();
        for (size_t c = 0; c < width; ++c)
            row.push_back(pools[c][next() % pools[c].size()]);
        rows.push_back(row);
    }
    return rows;
}

QStringList Texts(const TResultModel& model, int column) {
    QStringList texts;
    for (int r = 0; r < model.rowCount(); ++r)
        texts << QString::fromStdString(model.CellText(r, column));
    return texts;
}

}  // namespace

class ResultStoreTest : public QObject {
    Q_OBJECT

  private slots:
    void valuesReadBackAsAppended() {
        const std::vector<TSimpleRow> rows = MixedRows(300);
        TResultStore store;
        for (const TSimpleRow& row : rows)
            store.Append(row);
        store.Finish();
        QCOMPARE(store.size(), rows.size());
        for (size_t r = 0; r < rows.size(); ++r)
            for (size_t c = 0; c < store.ColumnCount(); ++c) {
                Variant v;
                VarType kind;
                const bool has = store.Get(r, c, v);
                QCOMPARE(has, c < rows[r].size());
                QCOMPARE(store.Kind(r, c, kind), has);
                if (!has) continue;
                QVERIFY2(v.SameAs(rows[r][c]),
                         qPrintable(QString("row %1 column %2").arg(r).arg(c)));
                QCOMPARE(kind, rows[r][c].type());
                QCOMPARE(v.RepeatedLater(), rows[r][c].RepeatedLater());
                if (kind == VarType::String)
                    QCOMPARE(std::string(store.Text(r, c)), rows[r][c].RawString());
            }
    }

    void aMovedFromStoreStartsAfresh() {
        TResultStore first;
        first.Append({Variant("/data"), Variant(int64_t(1))});
        TResultStore second = std::move(first);
        first.Append({Variant("/other")});
        QCOMPARE(first.size(), size_t(1));
        QCOMPARE(first.ColumnCount(), size_t(1));
        QCOMPARE(std::string(second.Text(0, 0)), std::string("/data"));
        QCOMPARE(std::string(first.Text(0, 0)), std::string("/other"));
        second = std::move(first);
        QCOMPARE(std::string(second.Text(0, 0)), std::string("/other"));
        QVERIFY(first.empty());
    }

    void sortsLikeTheComparisonClickAfterClick_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("finished");  // ranked up front, or at the first sort
        QTest::newRow("few rows") << 40 << true;
        QTest::newRow("mixed table") << 3000 << true;
        QTest::newRow("ranked when sorting") << 3000 << false;
    }

    void sortsLikeTheComparisonClickAfterClick() {
        QFETCH(int, rows);
        QFETCH(bool, finished);
        const std::vector<TSimpleRow> table = MixedRows(static_cast<size_t>(rows));
        TResultStore store;
        for (const TSimpleRow& row : table)
            store.Append(row);
        if (finished) store.Finish();
        std::vector<uint32_t> order(table.size()), expected(table.size());
        std::iota(order.begin(), order.end(), 0u);
        std::iota(expected.begin(), expected.end(), 0u);
        // Each click starts from the order of the one before (a column
        // beyond every row leaves it as it is).
        const std::vector<std::pair<size_t, bool>> clicks = {
            {0, false}, {2, true},  {1, false}, {3, true}, {0, true},  {3, false},
            {4, false}, {2, false}, {1, true},  {4, true}, {7, false}, {0, false}};
        for (auto [column, descending] : clicks) {
            store.SortRows(order, column, descending);
            ReferenceSort(table, expected, column, descending);
            QVERIFY2(order == expected,
                     qPrintable(QString("column %1 %2")
                                    .arg(column)
                                    .arg(descending ? "descending" : "ascending")));
        }
    }

    void equalTextsRankAlikeWhereInterningStopped() {
        // Mostly distinct names make a column stop sharing its texts; the
        // repeats after that are separate copies that must still sort as
        // equals (keeping their order).
        std::vector<TSimpleRow> table;
        for (int i = 0; i < 50000; ++i)
            table.push_back({Variant("name" + std::to_string(i % 30000)), Variant(int64_t(i))});
        TResultStore store;
        for (const TSimpleRow& row : table)
            store.Append(row);
        store.Finish();
        for (bool descending : {false, true}) {
            std::vector<uint32_t> order(table.size()), expected(table.size());
            std::iota(order.begin(), order.end(), 0u);
            std::iota(expected.begin(), expected.end(), 0u);
            store.SortRows(order, 0, descending);
            ReferenceSort(table, expected, 0, descending);
            QVERIFY(order == expected);
        }
    }

    void aHeaderClickKeepsTheSelectedRowsSelected() {
        TQueryResult result;
        result.fieldNames = {"filename", "size"};
        for (int i = 0; i < 6; ++i)
            result.rows.Append({Variant("f" + std::to_string(i)), Variant(int64_t(10 - i))});
        TResultModel model({}, {});
        model.SetResult(std::move(result), TColumnMaps{});
        TResultSortProxy proxy;
        proxy.setSourceModel(&model);
        QAbstractItemModelTester tester(&proxy,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QItemSelectionModel selection(&proxy);
        selection.select(proxy.index(1, 0),
                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
        selection.setCurrentIndex(proxy.index(4, 0), QItemSelectionModel::NoUpdate);
        proxy.sort(1, Qt::AscendingOrder);
        QCOMPARE(Texts(model, 0), (QStringList{"f5", "f4", "f3", "f2", "f1", "f0"}));
        const QModelIndexList selected = selection.selectedRows();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(model.FileName(proxy.mapToSource(selected.front()).row()), std::string("f1"));
        QCOMPARE(model.FileName(proxy.mapToSource(selection.currentIndex()).row()),
                 std::string("f4"));
        // Row actions and removal read the shown order.
        model.RemoveRowsAt({0});
        QCOMPARE(Texts(model, 0), (QStringList{"f4", "f3", "f2", "f1", "f0"}));
        proxy.sort(-1);
        QCOMPARE(Texts(model, 0), (QStringList{"f0", "f1", "f2", "f3", "f4"}));
        proxy.sort(-1, Qt::DescendingOrder);
        QCOMPARE(Texts(model, 0), (QStringList{"f4", "f3", "f2", "f1", "f0"}));
        // Under a filter the sort still orders the shown rows.
        proxy.SetFilterText(QStringLiteral("F1"));
        proxy.sort(0, Qt::AscendingOrder);
        QCOMPARE(proxy.rowCount(), 1);
        QCOMPARE(proxy.index(0, 0).data().toString(), QStringLiteral("f1"));
        proxy.SetFilterText(QString());
        QCOMPARE(Texts(model, 0), (QStringList{"f0", "f1", "f2", "f3", "f4"}));
    }
};

QTEST_MAIN(ResultStoreTest)
#include "U_resultStore_test.moc"
