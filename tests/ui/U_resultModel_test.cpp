// The result list's model: captions, widths, icons, the context-menu rule,
// row texts and full names, sorting and removing rows.
#include <QAbstractItemModelTester>
#include <QtTest>

#include "ui/U_resultModel.h"

using namespace corvane;

namespace {

TQueryResult Result(std::vector<std::string> fields, std::vector<std::vector<Variant>> rows) {
    TQueryResult r;
    r.fieldNames = std::move(fields);
    for (auto& row : rows)
        r.rows.push_back(std::make_unique<TSimpleRow>(std::move(row)));
    return r;
}

}  // namespace

class ResultModelTest : public QObject {
    Q_OBJECT
    TColumnMaps columns;

  private slots:
    void captionsAndWidthsComeFromTheMaps_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("width");
        QTest::newRow("qualified") << "a.path" << QStringLiteral("目录") << 160;
        QTest::newRow("any letter case") << "Path" << QStringLiteral("目录") << 160;
        QTest::newRow("camel case in the map")
            << "b.lastwritetime" << QStringLiteral("最后写入时间") << 80;
        QTest::newRow("only the first dot counts") << "a.b.size"
                                                   << "b.size" << 50;
        QTest::newRow("computed item") << "compt_3"
                                       << "compt_3" << 50;
        QTest::newRow("short name") << "shortname" << QStringLiteral("短名称") << 60;
    }

    void captionsAndWidthsComeFromTheMaps() {
        QFETCH(QString, field);
        QFETCH(QString, caption);
        QFETCH(int, width);
        TResultModel model({}, {});
        model.SetResult(Result({field.toStdString()}, {}), columns);
        QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), caption);
        QCOMPARE(model.ColumnWidth(0), width);
    }

    void rowActionsNeedFilenameAndPath_data() {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<bool>("actions");
        QTest::newRow("both") << QStringList{"a.path", "a.filename"} << true;
        QTest::newRow("any case") << QStringList{"FILENAME", "Path", "size"} << true;
        QTest::newRow("no path") << QStringList{"filename", "size"} << false;
        QTest::newRow("no filename") << QStringList{"path"} << false;
        QTest::newRow("nothing") << QStringList{} << false;
    }

    void rowActionsNeedFilenameAndPath() {
        QFETCH(QStringList, fields);
        QFETCH(bool, actions);
        std::vector<std::string> names;
        for (const QString& f : fields)
            names.push_back(f.toStdString());
        TResultModel model({}, {});
        model.SetResult(Result(names, {}), columns);
        QCOMPARE(model.HasRowActions(), actions);
        QCOMPARE(model.CountText(), std::string("个数：0"));
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.columnCount(), static_cast<int>(names.size()));
    }

    void cellsAreTextsOfTheValues() {
        TResultModel model({}, {});
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.SetResult(
            Result({"a.filename", "size", "isdir", "x"},
                   {{Variant("r.txt"), Variant(int64_t(5000000000)), Variant(false), Variant()},
                    {Variant("sub"), Variant(int64_t(0)), Variant(true), Variant(1.5)}}),
            columns);
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("r.txt"));
        QCOMPARE(model.data(model.index(0, 1)).toString(), QStringLiteral("5000000000"));
        QCOMPARE(model.data(model.index(0, 2)).toString(), QStringLiteral("False"));
        QCOMPARE(model.data(model.index(0, 3)).toString(), QString());
        QCOMPARE(model.data(model.index(1, 3)).toString(), QStringLiteral("1.5"));
        QCOMPARE(model.CountText(), std::string("个数：2"));
    }

    void iconsFollowIsdirOrTheDirectoryBit_data() {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<int>("fileIcon");  // icon of a file row
        QTest::addColumn<int>("dirIcon");   // icon of a directory row
        QTest::newRow("isdir decides") << QStringList{"filename", "isdir", "attri"} << 1 << 0;
        QTest::newRow("attri's directory bit") << QStringList{"filename", "attri"} << 1 << 0;
        QTest::newRow("neither: no icon") << QStringList{"filename", "size"} << -1 << -1;
    }

    void iconsFollowIsdirOrTheDirectoryBit() {
        QFETCH(QStringList, fields);
        QFETCH(int, fileIcon);
        QFETCH(int, dirIcon);
        std::vector<std::string> names;
        std::vector<Variant> file, folder;
        for (const QString& f : fields) {
            names.push_back(f.toStdString());
            if (f == "isdir") {
                file.emplace_back(false);
                folder.emplace_back(true);
            } else if (f == "attri") {
                // The attribute word disagrees with isdir where both exist:
                // isdir wins.
                file.emplace_back(fields.contains("isdir") ? int64_t(16) : int64_t(32));
                folder.emplace_back(fields.contains("isdir") ? int64_t(32) : int64_t(16));
            } else {
                file.emplace_back("f");
                folder.emplace_back("d");
            }
        }
        TResultModel model(QIcon{}, QIcon{});
        model.SetResult(Result(names, {file, folder}), columns);
        QCOMPARE(model.IconIndex(0), fileIcon);
        QCOMPARE(model.IconIndex(1), dirIcon);
    }

    void fullNameJoinsWithOneSlash_data() {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("full");
        QTest::newRow("no slash") << "/data"
                                  << "a.txt"
                                  << "/data/a.txt";
        QTest::newRow("slash") << "/data/"
                               << "a.txt"
                               << "/data/a.txt";
        QTest::newRow("empty directory") << ""
                                         << "a.txt"
                                         << "";
        QTest::newRow("empty file") << "/data"
                                    << ""
                                    << "";
    }

    void fullNameJoinsWithOneSlash() {
        QFETCH(QString, dir);
        QFETCH(QString, file);
        QFETCH(QString, full);
        TResultModel model({}, {});
        model.SetResult(Result({"filename", "a.Path"},
                               {{Variant(file.toStdString()), Variant(dir.toStdString())}}),
                        columns);
        QCOMPARE(QString::fromStdString(model.FullName(0)), full);
    }

    void theFirstColumnCaptionedDirectoryCounts() {
        // Two tables: the actions read a's columns.
        TResultModel model({}, {});
        model.SetResult(Result({"a.path", "a.filename", "b.path", "b.filename"},
                               {{Variant("/x"), Variant("1"), Variant("/y"), Variant("2")}}),
                        columns);
        QCOMPARE(model.FullName(0), std::string("/x/1"));
    }

    void removingRowsKeepsTheOthersInOrder() {
        TResultModel model({}, {});
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        std::vector<std::vector<Variant>> rows;
        for (int i = 0; i < 8; ++i)
            rows.push_back({Variant(int64_t(i))});
        model.SetResult(Result({"n"}, rows), columns);
        model.RemoveRowsAt({6, 1, 2, 2, 7, 42});
        QStringList left;
        for (int r = 0; r < model.rowCount(); ++r)
            left << model.data(model.index(r, 0)).toString();
        QCOMPARE(left, (QStringList{"0", "3", "4", "5"}));
        QCOMPARE(model.CountText(), std::string("个数：4"));
    }

    void sortingComparesValuesNotTexts() {
        TResultModel model({}, {});
        model.SetResult(Result({"size", "filename"}, {{Variant(int64_t(10)), Variant("b")},
                                                      {Variant(int64_t(9)), Variant("a")},
                                                      {Variant(int64_t(100)), Variant("C")},
                                                      {Variant(), Variant("")}}),
                        columns);
        TResultSortProxy proxy;
        proxy.setSourceModel(&model);
        QAbstractItemModelTester tester(&proxy,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        proxy.sort(0, Qt::AscendingOrder);
        QStringList order;
        for (int r = 0; r < proxy.rowCount(); ++r)
            order << proxy.index(r, 0).data().toString();
        QCOMPARE(order, (QStringList{"", "9", "10", "100"}));
        proxy.sort(1, Qt::DescendingOrder);
        order.clear();
        for (int r = 0; r < proxy.rowCount(); ++r)
            order << proxy.index(r, 1).data().toString();
        QCOMPARE(order, (QStringList{"b", "a", "C", ""}));
        proxy.sort(-1);
        QCOMPARE(proxy.index(0, 0).data().toString(), QStringLiteral("10"));
    }

    void takingAResultEmptiesTheDataset() {
        TSimpleDataset ds;
        ds.AddFieldDef("a.path", "string");
        ds.AddFieldDef("size", "integer");
        for (int i = 0; i < 3; ++i) {
            int r = ds.AppendRow();
            ds.RowAt(r)[0].SetString("/p");
            ds.RowAt(r)[1].SetInteger(i);
        }
        TQueryResult result = TakeResult(ds);
        QCOMPARE(result.fieldNames, (std::vector<std::string>{"a.path", "size"}));
        QCOMPARE(result.rows.size(), size_t(3));
        QCOMPARE((*result.rows[2])[1].RawInteger(), int64_t(2));
        QCOMPARE(ds.GetRecordCount(), 0);
    }
};

QTEST_MAIN(ResultModelTest)
#include "U_resultModel_test.moc"
