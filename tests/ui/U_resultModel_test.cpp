// The result list's model: captions (with their table in joins), width
// keys, icons, the context-menu rule, shown texts against raw values, copy
// texts, full names, sorting, filtering and removing rows.
#include <QAbstractItemModelTester>
#include <QtTest>

#include "ui/U_resultModel.h"

using namespace corvane;

namespace {

TQueryResult Result(std::vector<std::string> fields, std::vector<std::vector<Variant>> rows) {
    TQueryResult r;
    r.fieldNames = std::move(fields);
    for (auto& row : rows)
        r.rows.Append(row);
    return r;
}

}  // namespace

class ResultModelTest : public QObject {
    Q_OBJECT
    TColumnMaps columns;

  private slots:
    void captionsAndWidthKeysComeFromTheNames_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("key");
        QTest::newRow("qualified") << "a.path" << QStringLiteral("目录") << "path";
        QTest::newRow("any letter case") << "Path" << QStringLiteral("目录") << "path";
        QTest::newRow("camel case in the map")
            << "b.lastwritetime" << QStringLiteral("最后写入时间") << "lastwritetime";
        QTest::newRow("only the first dot counts") << "a.b.size"
                                                   << "b.size"
                                                   << "b.size";
        QTest::newRow("computed item: no remembered width") << "compt_3"
                                                            << "compt_3"
                                                            << "";
        QTest::newRow("an output name") << "kb"
                                        << "kb"
                                        << "kb";
        QTest::newRow("a name an INI key cannot hold") << "x=y"
                                                       << "x=y"
                                                       << "";
        QTest::newRow("short name") << "shortname" << QStringLiteral("短名称") << "shortname";
    }

    void captionsAndWidthKeysComeFromTheNames() {
        QFETCH(QString, field);
        QFETCH(QString, caption);
        QFETCH(QString, key);
        TResultModel model({}, {});
        model.SetResult(Result({field.toStdString()}, {}), columns);
        QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), caption);
        QCOMPARE(QString::fromStdString(model.WidthKey(0)), key);
    }

    void joinsKeepTheTableInTheCaption_data() {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QStringList>("captions");
        QTest::newRow("two tables") << QStringList{"a.filename", "b.size", "a.path"}
                                    << QStringList{"a.文件名", "b.大小", "a.目录"};
        QTest::newRow("one table")
            << QStringList{"a.filename", "a.size"} << QStringList{"文件名", "大小"};
        QTest::newRow("tables and a computed item")
            << QStringList{"a.filename", "B.filename", "compt_1"}
            << QStringList{"a.文件名", "B.文件名", "compt_1"};
    }

    void joinsKeepTheTableInTheCaption() {
        QFETCH(QStringList, fields);
        QFETCH(QStringList, captions);
        std::vector<std::string> names;
        std::vector<Variant> row;
        for (const QString& f : fields) {
            names.push_back(f.toStdString());
            row.emplace_back(f.endsWith("path") ? "/d" : "n");
        }
        TResultModel model({}, {});
        model.SetResult(Result(names, {row}), columns);
        QStringList got;
        for (int c = 0; c < model.columnCount(); ++c)
            got << model.headerData(c, Qt::Horizontal).toString();
        QCOMPARE(got, captions);
        // The row actions still find the first table's columns.
        if (fields.contains("a.path")) QCOMPARE(model.FullName(0), std::string("/d/n"));
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

    void cellsShowReadableTextsOverRawValues() {
        TResultModel model({}, {});
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.SetDisplayOptions({QLocale(QLocale::Chinese, QLocale::China), false});
        model.SetResult(
            Result({"a.filename", "size", "isdir", "x"},
                   {{Variant("r.txt"), Variant(int64_t(5000000000)), Variant(false), Variant()},
                    {Variant("sub"), Variant(int64_t(0)), Variant(true), Variant(1234.5)}}),
            columns);
        QCOMPARE(model.rowCount(), 2);
        auto cell = [&](int r, int c, int role) { return model.data(model.index(r, c), role); };
        const int raw = TResultModel::RawTextRole;
        QCOMPARE(cell(0, 0, Qt::DisplayRole).toString(), QStringLiteral("r.txt"));
        QCOMPARE(cell(0, 1, Qt::DisplayRole).toString(), QStringLiteral("5,000,000,000"));
        QCOMPARE(cell(0, 1, raw).toString(), QStringLiteral("5000000000"));
        QCOMPARE(cell(0, 2, Qt::DisplayRole).toString(), QStringLiteral("否"));
        QCOMPARE(cell(0, 2, raw).toString(), QStringLiteral("False"));
        QCOMPARE(cell(0, 3, Qt::DisplayRole).toString(), QString());
        QCOMPARE(cell(1, 3, Qt::DisplayRole).toString(), QStringLiteral("1,234.5"));
        QCOMPARE(cell(1, 3, raw).toString(), QStringLiteral("1234.5"));
        // Numbers to the right, texts and booleans to the left.
        QCOMPARE(cell(0, 1, Qt::TextAlignmentRole).value<Qt::Alignment>(),
                 Qt::AlignRight | Qt::AlignVCenter);
        QVERIFY(!cell(0, 0, Qt::TextAlignmentRole).isValid());
        QVERIFY(!cell(0, 2, Qt::TextAlignmentRole).isValid());
        QCOMPARE(model.CountText(), std::string("个数：2"));
        QCOMPARE(model.CellText(0, 1), std::string("5000000000"));

        // Readable sizes: the size column only, the bytes in the tooltip,
        // and the raw value unchanged.
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.SetDisplayOptions({QLocale(QLocale::Chinese, QLocale::China), true});
        QCOMPARE(changed.size(), 1);
        QCOMPARE(cell(0, 1, Qt::DisplayRole).toString(), QStringLiteral("4.7 GiB"));
        QCOMPARE(cell(0, 1, Qt::ToolTipRole).toString(), QStringLiteral("5,000,000,000 字节"));
        QCOMPARE(cell(0, 1, raw).toString(), QStringLiteral("5000000000"));
        QCOMPARE(cell(1, 3, Qt::DisplayRole).toString(), QStringLiteral("1,234.5"));
        QCOMPARE(model.CopyText({0}), std::string("a.filename\tsize\tisdir\tx\n"
                                                  "r.txt\t5000000000\tFalse\t\n"));
    }

    void copyTextIsTabSeparatedWithAHeader_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("line");
        QTest::newRow("plain") << "a b.txt"
                               << "/d\ta b.txt\n";
        QTest::newRow("a tab is quoted") << "a\tb"
                                         << "/d\t\"a\tb\"\n";
        QTest::newRow("a line break is quoted") << "a\nb"
                                                << "/d\t\"a\nb\"\n";
        QTest::newRow("quotes are doubled") << "say \"hi\""
                                            << "/d\t\"say \"\"hi\"\"\"\n";
        QTest::newRow("a comma needs nothing") << "a,b"
                                               << "/d\ta,b\n";
    }

    void copyTextIsTabSeparatedWithAHeader() {
        QFETCH(QString, name);
        QFETCH(QString, line);
        TResultModel model({}, {});
        model.SetResult(
            Result({"a.path", "a.filename"}, {{Variant("/skip"), Variant("x")},
                                              {Variant("/d"), Variant(name.toStdString())}}),
            columns);
        QCOMPARE(QString::fromStdString(model.CopyText({1})), "a.path\ta.filename\n" + line);
    }

    void copiedPathsFollowTheGivenOrder() {
        TResultModel model({}, {});
        model.SetResult(Result({"filename", "path"}, {{Variant("a"), Variant("/x/")},
                                                      {Variant("b"), Variant("/y")},
                                                      {Variant(""), Variant("/z")}}),
                        columns);
        QCOMPARE(model.CopyFullNames({1, 0, 2, 7}), std::string("/y/b\n/x/a\n"));
        QCOMPARE(model.CopyText({}), std::string("filename\tpath\n"));
    }

    void theFilterNarrowsRowsByAnyColumn_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("nothing: every row")
            << "" << QStringList{"Report.PDF", "notes.txt", "图片.png", "sub"};
        QTest::newRow("ASCII letters in either case") << "report" << QStringList{"Report.PDF"};
        QTest::newRow("upper case typed") << "TXT" << QStringList{"notes.txt"};
        QTest::newRow("Chinese text") << "图片" << QStringList{"图片.png"};
        QTest::newRow("another column (the path)") << "/home" << QStringList{"notes.txt"};
        QTest::newRow("the raw number") << "1234567" << QStringList{"Report.PDF"};
        QTest::newRow("the shown number") << "1,234,567" << QStringList{"Report.PDF"};
        QTest::newRow("a shown boolean") << "是" << QStringList{"sub"};
        QTest::newRow("blanks around are ignored") << "  sub " << QStringList{"sub"};
        QTest::newRow("no match") << "zzz" << QStringList{};
    }

    void theFilterNarrowsRowsByAnyColumn() {
        QFETCH(QString, filter);
        QFETCH(QStringList, names);
        TResultModel model({}, {});
        model.SetDisplayOptions({QLocale(QLocale::Chinese, QLocale::China), false});
        model.SetResult(
            Result(
                {"filename", "path", "size", "isdir"},
                {{Variant("Report.PDF"), Variant("/data"), Variant(int64_t(1234567)),
                  Variant(false)},
                 {Variant("notes.txt"), Variant("/home/u"), Variant(int64_t(12)), Variant(false)},
                 {Variant("图片.png"), Variant("/data"), Variant(int64_t(99)), Variant(false)},
                 {Variant("sub"), Variant("/data"), Variant(int64_t(0)), Variant(true)}}),
            columns);
        TResultSortProxy proxy;
        proxy.setSourceModel(&model);
        QAbstractItemModelTester tester(&proxy,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        proxy.SetFilterText(filter);
        QStringList shown;
        for (int r = 0; r < proxy.rowCount(); ++r)
            shown << proxy.index(r, 0).data().toString();
        QCOMPARE(shown, names);
        // Rows removed under a filter stay removed when it is cleared.
        model.RemoveRowsAt({0});
        proxy.SetFilterText(QString());
        QCOMPARE(proxy.rowCount(), 3);
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
        QCOMPARE(result.fieldTypes, (std::vector<std::string>{"string", "integer"}));
        QCOMPARE(result.rows.size(), size_t(3));
        QCOMPARE(result.rows.Row(2)[1].RawInteger(), int64_t(2));
        QCOMPARE(ds.GetRecordCount(), 0);
    }
};

QTEST_MAIN(ResultModelTest)
#include "U_resultModel_test.moc"
