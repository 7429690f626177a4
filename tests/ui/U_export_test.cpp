// Export of the result list: the bytes are those of the core's writers
// (the same as corvane-cli's for the same rows), the rows are the shown
// ones in the shown order with raw values, read back from the file as CSV
// and JSON; progress can stop it without leaving a file, and a failed or
// cancelled export leaves an existing file untouched.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>
#include <sstream>

#include "ui/U_export.h"
#include "ui/U_resultModel.h"

using namespace corvane;

namespace {

const std::vector<std::string> kFields = {"path", "filename", "size", "isdir", "lastwritetime"};
const std::vector<std::string> kTypes = {"string", "string", "integer", "boolean", "datetime"};

// Three rows with what CSV and JSON must take care of: a comma, a quote, a
// line break, Chinese text, a large number, a boolean and a date-time.
std::vector<std::vector<Variant>> Rows() {
    return {
        {Variant("/data"), Variant("a,b.txt"), Variant(int64_t(2500)), Variant(false),
         Variant::FromDate(45000.5)},
        {Variant("/data"), Variant("说\"明\".txt"), Variant(int64_t(1234567890123)), Variant(false),
         Variant::FromDate(45001.25)},
        {Variant("/data/子目录"), Variant("two\nlines"), Variant(int64_t(0)), Variant(true),
         Variant::FromDate(45002.0)},
    };
}

TQueryResult ModelResult() {
    TQueryResult r;
    r.fieldNames = kFields;
    r.fieldTypes = kTypes;
    for (auto& row : Rows())
        r.rows.Append(row);
    return r;
}

// The same rows as the engine's result dataset, in the given order.
void FillDataset(TSimpleDataset& ds, const std::vector<int>& order) {
    for (size_t i = 0; i < kFields.size(); ++i)
        ds.AddFieldDef(kFields[i], kTypes[i]);
    const auto rows = Rows();
    for (int r : order) {
        const int at = ds.AppendRow();
        for (size_t c = 0; c < kFields.size(); ++c)
            ds.RowAt(at)[c] = rows[static_cast<size_t>(r)][c];
    }
}

struct TStringSink : ITextSink {
    std::string text;
    void Write(std::string_view bytes) override { text.append(bytes); }
};

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

// RFC 4180 back into records of fields.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> records(1);
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            records.back().push_back(field);
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            records.back().push_back(field);
            field.clear();
            records.emplace_back();
            ++i;
        } else {
            field += c;
        }
    }
    if (records.back().empty() && field.empty()) records.pop_back();
    return records;
}

}  // namespace

class ExportTest : public QObject {
    Q_OBJECT
    TColumnMaps columns;

  private slots:
    void theBytesAreTheCoreWritersBytes_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<QList<int>>("order");
        QTest::newRow("csv, all rows") << int(TResultFormat::rfCsv) << QList<int>{0, 1, 2};
        QTest::newRow("json, all rows") << int(TResultFormat::rfJson) << QList<int>{0, 1, 2};
        QTest::newRow("csv, shown order") << int(TResultFormat::rfCsv) << QList<int>{2, 0};
        QTest::newRow("json, shown order") << int(TResultFormat::rfJson) << QList<int>{2, 0};
        QTest::newRow("csv, nothing shown") << int(TResultFormat::rfCsv) << QList<int>{};
        QTest::newRow("json, nothing shown") << int(TResultFormat::rfJson) << QList<int>{};
    }

    void theBytesAreTheCoreWritersBytes() {
        QFETCH(int, format);
        QFETCH(QList<int>, order);
        const std::vector<int> rows(order.begin(), order.end());
        const auto f = static_cast<TResultFormat>(format);
        TResultModel model({}, {});
        model.SetResult(ModelResult(), columns);
        TStringSink exported;
        QVERIFY(WriteRows(model, rows, f, exported));

        TSimpleDataset ds;
        FillDataset(ds, rows);
        std::ostringstream direct;
        WriteResult(ds, f, direct);
        QCOMPARE(exported.text, direct.str());
    }

    void aCsvFileReadsBackAsTheRawValues() {
        QTemporaryDir dir;
        TResultModel model({}, {});
        model.SetResult(ModelResult(), columns);
        model.SetDisplayOptions({model.DisplayOptions().locale, true});  // KiB in the list
        const QString path = dir.filePath("结果.csv");
        QCOMPARE(ExportToFile(path.toStdString(), model, {1, 2}, TResultFormat::rfCsv),
                 TExportOutcome::eoWritten);
        const auto records = ParseCsv(ReadFile(path).toStdString());
        QCOMPARE(records.size(), size_t(3));
        QCOMPARE(records[0], kFields);
        QCOMPARE(records[1], (std::vector<std::string>{"/data", "说\"明\".txt", "1234567890123",
                                                       "False", "2023-03-16 06:00:00"}));
        QCOMPARE(records[2], (std::vector<std::string>{"/data/子目录", "two\nlines", "0", "True",
                                                       "2023-03-17 00:00:00"}));
        // No temporary file is left beside it.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"结果.csv"});
    }

    void aJsonFileReadsBackAsTheRawValues() {
        QTemporaryDir dir;
        TResultModel model({}, {});
        model.SetResult(ModelResult(), columns);
        const QString path = dir.filePath("out.json");
        QCOMPARE(ExportToFile(path.toStdString(), model, {0, 2}, TResultFormat::rfJson),
                 TExportOutcome::eoWritten);
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(ReadFile(path), &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        const QJsonArray rows = doc.array();
        QCOMPARE(rows.size(), 2);
        const QJsonObject first = rows[0].toObject();
        QCOMPARE(first.keys().size(), 5);
        QCOMPARE(first["filename"].toString(), QStringLiteral("a,b.txt"));
        QCOMPARE(first["size"].toInteger(), 2500);
        QCOMPARE(first["isdir"].toBool(true), false);
        QVERIFY(first["lastwritetime"].toString().startsWith("2023-03-15T12:00:00"));
        const QJsonObject second = rows[1].toObject();
        QCOMPARE(second["path"].toString(), QStringLiteral("/data/子目录"));
        QCOMPARE(second["filename"].toString(), QStringLiteral("two\nlines"));
        QCOMPARE(second["isdir"].toBool(false), true);
    }

    void progressCanStopAndNothingIsLeft() {
        QTemporaryDir dir;
        TQueryResult r;
        r.fieldNames = {"size"};
        r.fieldTypes = {"integer"};
        const size_t count = 3 * kExportProgressStep + 10;
        std::vector<int> order;
        for (size_t i = 0; i < count; ++i) {
            r.rows.Append(TSimpleRow(1, Variant(int64_t(i))));
            order.push_back(static_cast<int>(i));
        }
        TResultModel model({}, {});
        model.SetResult(std::move(r), columns);

        // Let through to the end: called per step and once at the end.
        const QString whole = dir.filePath("whole.csv");
        std::vector<size_t> seen;
        auto record = [&seen, count](size_t done, size_t total) {
            if (total != count) return false;
            seen.push_back(done);
            return true;
        };
        QCOMPARE(ExportToFile(whole.toStdString(), model, order, TResultFormat::rfCsv, record),
                 TExportOutcome::eoWritten);
        QCOMPARE(seen, (std::vector<size_t>{0, kExportProgressStep, 2 * kExportProgressStep,
                                            3 * kExportProgressStep, count}));
        QCOMPARE(ReadFile(whole).count("\r\n"), qsizetype(count + 1));

        // Stopped half-way: the existing file keeps its bytes, no other
        // file appears.
        QFile old(dir.filePath("old.json"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("keep");
        old.close();
        auto stop = [](size_t done, size_t) { return done < kExportProgressStep; };
        QCOMPARE(
            ExportToFile(old.fileName().toStdString(), model, order, TResultFormat::rfJson, stop),
            TExportOutcome::eoCancelled);
        QCOMPARE(ReadFile(old.fileName()), QByteArray("keep"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), (QStringList{"old.json", "whole.csv"}));
    }

    void aFileThatCannotBeWrittenRaises() {
        QTemporaryDir dir;
        TResultModel model({}, {});
        model.SetResult(ModelResult(), columns);
        const std::string missing = dir.filePath("no/such/folder/x.csv").toStdString();
        QVERIFY_THROWS_EXCEPTION(TOutputError,
                                 ExportToFile(missing, model, {0}, TResultFormat::rfCsv));
        QVERIFY(!QFile::exists(QString::fromStdString(missing)));
    }
};

QTEST_MAIN(ExportTest)
#include "U_export_test.moc"
