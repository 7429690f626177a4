// The result writers: CSV and JSON values case by case, date-times in one
// CSV form and with their UTC offset in JSON (both passes through a
// repeated hour), whole datasets written to a stream, sinks that fail.
#include "output/ResultWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>

#include "platform/DateTime.h"
#include "support/ScopedTimeZone.h"

namespace corvane {
namespace {

using testing::ScopedTimeZone;
using testing::ZoneFileExists;

TDateTime Local(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    TDateTime date = 0, time = 0;
    EXPECT_TRUE(TryEncodeDate(y, mo, d, date));
    EXPECT_TRUE(TryEncodeTime(h, mi, s, ms, time));
    return date < 0 ? date - time : date + time;  // before 1899-12-30 the time counts forward
}

std::string Csv(const Variant& v) {
    std::string out;
    AppendCsvValue(out, v);
    return out;
}

std::string Json(const Variant& v) {
    std::string out;
    AppendJsonValue(out, v);
    return out;
}

TEST(ResultWriter, CsvValues) {
    ScopedTimeZone zone("UTC0");
    struct Case {
        Variant value;
        const char* csv;
    } cases[] = {
        {Variant("plain"), "plain"},
        {Variant("a,b"), "\"a,b\""},
        {Variant("say \"hi\""), "\"say \"\"hi\"\"\""},
        {Variant("two\r\nlines"), "\"two\r\nlines\""},
        {Variant("a long name without separators, until here"),
         "\"a long name without separators, until here\""},
        {Variant(int64_t{-42}), "-42"},
        {Variant(1.5), "1.5"},
        {Variant(true), "True"},
        {Variant(), ""},
        {Variant::Null(), ""},
        // Every date-time in one form: midnight too, milliseconds dropped.
        {Variant::FromDate(Local(2024, 3, 5, 0, 0, 0)), "2024-03-05 00:00:00"},
        {Variant::FromDate(Local(2024, 3, 5, 13, 14, 15)), "2024-03-05 13:14:15"},
        {Variant::FromDate(Local(2024, 3, 5, 13, 14, 15, 999)), "2024-03-05 13:14:15"},
        {Variant::FromDate(0), "1899-12-30 00:00:00"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Csv(c.value), c.csv) << c.value.AsString();
}

TEST(ResultWriter, JsonValues) {
    ScopedTimeZone zone("UTC0");
    struct Case {
        Variant value;
        const char* json;
    } cases[] = {
        {Variant(int64_t{9007199254740993}), "9007199254740993"},
        {Variant(0.1), "0.1"},
        {Variant(std::numeric_limits<double>::quiet_NaN()), "null"},
        {Variant(std::numeric_limits<double>::infinity()), "null"},
        {Variant(false), "false"},
        {Variant(), "null"},
        {Variant::Null(), "null"},
        {Variant("q\"\\\n\t\x01"), "\"q\\\"\\\\\\n\\t\\u0001\""},
        {Variant("\xe4\xb8\xad"), "\"\xe4\xb8\xad\""},  // UTF-8 stays
        {Variant("a\xff"
                 "b"),
         "\"a\\ufffdb\""},  // a stray byte does not
        {Variant::FromDate(Local(2024, 3, 5, 0, 0, 0)), "\"2024-03-05T00:00:00+00:00\""},
        {Variant::FromDate(Local(2024, 3, 5, 6, 7, 8, 9)), "\"2024-03-05T06:07:08.009+00:00\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Json(c.value), c.json) << c.value.AsString();
}

// The same local time, twice in the night the clock goes back: the value
// alone cannot tell the passes apart, its RepeatedLater bit can.
TEST(ResultWriter, JsonDateTimesCarryTheOffsetOfTheirPass) {
    ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");  // as Europe/Berlin, without tzdata
    const TDateTime twoFortyFive = Local(2024, 10, 27, 2, 45, 0);
    Variant first, second;
    first.SetDate(twoFortyFive, false);
    second.SetDate(twoFortyFive, true);
    EXPECT_EQ(Json(first), "\"2024-10-27T02:45:00+02:00\"");
    EXPECT_EQ(Json(second), "\"2024-10-27T02:45:00+01:00\"");
    // The table and CSV forms stay local time, the same for both.
    EXPECT_EQ(Csv(first), Csv(second));
    EXPECT_EQ(first.AsString(), second.AsString());
    struct Case {
        TDateTime local;
        const char* json;
    } cases[] = {
        {Local(2024, 7, 1, 12, 0, 0), "\"2024-07-01T12:00:00+02:00\""},
        {Local(2024, 12, 24, 18, 30, 0), "\"2024-12-24T18:30:00+01:00\""},
        {Local(2024, 3, 31, 2, 30, 0), "\"2024-03-31T02:30:00+01:00\""},  // skipped: as before it
    };
    for (const Case& c : cases)
        EXPECT_EQ(Json(Variant::FromDate(c.local)), c.json);
    {
        ScopedTimeZone west("<-0330>3:30");
        EXPECT_EQ(Json(Variant::FromDate(Local(2024, 1, 2, 3, 4, 5))),
                  "\"2024-01-02T03:04:05-03:30\"");
    }
    if (ZoneFileExists("Europe/Berlin")) {
        // Local mean time: an offset with seconds.
        ScopedTimeZone berlin("Europe/Berlin");
        EXPECT_EQ(Json(Variant::FromDate(Local(1880, 1, 1, 12, 0, 0))),
                  "\"1880-01-01T12:00:00+00:53:28\"");
    }
}

// A result dataset with one row of each kind and a date column.
class DatasetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        data_.AddFieldDef("name", "string");
        data_.AddFieldDef("size", "integer");
        data_.AddFieldDef("when", "date");
        AddRow(Variant("a,b"), Variant(int64_t{5}), Variant::FromDate(Local(2024, 3, 5, 0, 0, 0)));
        AddRow(Variant("c"), Variant(), Variant::FromDate(Local(2024, 3, 5, 6, 7, 8)));
    }
    void AddRow(Variant a, Variant b, Variant c) {
        TSimpleRow& row = data_.RowAt(data_.AppendRow());
        row[0] = std::move(a);
        row[1] = std::move(b);
        row[2] = std::move(c);
    }
    std::string Write(TResultFormat format) {
        std::ostringstream out;
        WriteResult(data_, format, out);
        return out.str();
    }

    ScopedTimeZone zone_{"UTC0"};
    TSimpleDataset data_;
};

TEST_F(DatasetTest, CsvOfADataset) {
    data_.SetRecNo(1);
    EXPECT_EQ(Write(TResultFormat::rfCsv),
              "name,size,when\r\n\"a,b\",5,2024-03-05 00:00:00\r\nc,,2024-03-05 06:07:08\r\n");
    EXPECT_EQ(data_.GetRecNo(), 1);  // back on its record
}

TEST_F(DatasetTest, JsonOfADataset) {
    EXPECT_EQ(Write(TResultFormat::rfJson),
              "[\n{\"name\":\"a,b\",\"size\":5,\"when\":\"2024-03-05T00:00:00+00:00\"},\n"
              "{\"name\":\"c\",\"size\":null,\"when\":\"2024-03-05T06:07:08+00:00\"}\n]\n");
}

// A row of one empty field is quoted, so that readers keep the row instead
// of skipping an empty line; a row of several empty fields needs no quotes.
TEST(ResultWriter, ACsvRowOfOneEmptyFieldIsQuoted) {
    TSimpleDataset one;
    one.AddFieldDef("ext", "string");
    for (const char* v : {"", "txt", ""})
        one.RowAt(one.AppendRow())[0] = Variant(v);
    std::ostringstream out;
    WriteResult(one, TResultFormat::rfCsv, out);
    EXPECT_EQ(out.str(), "ext\r\n\"\"\r\ntxt\r\n\"\"\r\n");
    TSimpleDataset two;
    two.AddFieldDef("a", "string");
    two.AddFieldDef("b", "string");
    TSimpleRow& row = two.RowAt(two.AppendRow());
    row[0] = Variant("");
    row[1] = Variant::Null();
    std::ostringstream out2;
    WriteResult(two, TResultFormat::rfCsv, out2);
    EXPECT_EQ(out2.str(), "a,b\r\n,\r\n");
}

TEST_F(DatasetTest, NoRows) {
    data_.ClearRows();
    EXPECT_EQ(Write(TResultFormat::rfCsv), "name,size,when\r\n");
    EXPECT_EQ(Write(TResultFormat::rfJson), "[]\n");
}

TEST_F(DatasetTest, AStreamThatFailsRaises) {
    std::ofstream full("/dev/full", std::ios::binary);
    if (!full) GTEST_SKIP() << "no /dev/full";
    EXPECT_THROW(WriteResult(data_, TResultFormat::rfCsv, full), TOutputError);
    std::ostringstream bad;
    bad.setstate(std::ios::badbit);
    EXPECT_THROW(WriteResult(data_, TResultFormat::rfJson, bad), TOutputError);
}

// Records what it is handed; raises on the call numbered failAt.
class RecordingSink : public ITextSink {
  public:
    void Write(std::string_view bytes) override {
        if (++calls == failAt) throw std::runtime_error("sink failed");
        pieces.push_back(bytes.size());
        text.append(bytes);
    }
    int calls = 0, failAt = 0;
    std::vector<size_t> pieces;
    std::string text;
};

TEST(ResultWriter, RowsReachTheSinkInLargePiecesAndAllOfThem) {
    RecordingSink sink;
    auto writer = MakeResultWriter(TResultFormat::rfCsv, sink);
    writer->Begin({{"n", "integer", 0}});
    std::string expected = "n\r\n";
    Variant v;
    const Variant* row[] = {&v};
    for (int i = 0; i < 100000; ++i) {
        v.SetInteger(i);
        writer->Row(row);
        expected += std::to_string(i) + "\r\n";
    }
    writer->Finish();
    EXPECT_EQ(sink.text, expected);
    ASSERT_GE(sink.pieces.size(), 2u);
    for (size_t i = 0; i + 1 < sink.pieces.size(); ++i)
        EXPECT_GE(sink.pieces[i], size_t{1} << 16);
}

TEST(ResultWriter, ASinkThatRaisesStopsTheWritingAndIsNotHandedTheBytesAgain) {
    RecordingSink sink;
    sink.failAt = 1;
    auto writer = MakeResultWriter(TResultFormat::rfJson, sink);
    writer->Begin({{"s", "string", 0}});
    Variant v(std::string(70000, 'x'));
    const Variant* row[] = {&v};
    EXPECT_THROW(writer->Row(row), std::runtime_error);
    writer->Finish();  // an interrupted run still closes the document
    EXPECT_EQ(sink.text, "\n]\n");
}

}  // namespace
}  // namespace corvane
