// The shared value type: its conversions are what every comparison, every
// result cell and every script variable relies on.
#include "platform/Variant.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/DateTime.h"
#include "support/Expect.h"

namespace corvane {
namespace {

TEST(Variant, DoubleToIntegerRoundsTiesToEven) {
    struct Case {
        double in;
        int64_t out;
    } cases[] = {
        {2.5, 2},
        {3.5, 4},
        {-2.5, -2},
        {-3.5, -4},
        {2.4999, 2},
        {-0.5, 0},
        {1e15, 1000000000000000},
    };
    for (auto c : cases)
        EXPECT_EQ(Variant(c.in).AsInteger(), c.out) << c.in;
}

TEST(Variant, IntegerIs64BitsWide) {
    Variant big(int64_t{5368709120});
    EXPECT_EQ(big.AsInteger(), 5368709120);
    EXPECT_EQ(big.AsString(), "5368709120");
    EXPECT_EQ(Variant("9223372036854775807").AsInteger(), INT64_MAX);
    EXPECT_EQ(Variant("-9223372036854775808").AsInteger(), INT64_MIN);
    EXPECT_THROW(Variant("9223372036854775808").AsInteger(), VariantError);
    EXPECT_THROW(Variant(9.3e18).AsInteger(), VariantError);
    EXPECT_THROW(Variant(std::nan("")).AsInteger(), VariantError);
}

TEST(Variant, TextToNumber) {
    EXPECT_EQ(Variant(" 42 ").AsInteger(), 42);
    EXPECT_EQ(Variant("$FF").AsInteger(), 255);
    EXPECT_EQ(Variant("2.5").AsInteger(), 2);
    EXPECT_DOUBLE_EQ(Variant("1.5e3").AsDouble(), 1500);
    EXPECT_DOUBLE_EQ(Variant("-.5").AsDouble(), -0.5);
    for (const char* bad : {"", "abc", "1.2.3", "inf", "nan", "1e", "12abc", "0x"}) {
        EXPECT_THROW(Variant(bad).AsDouble(), VariantError) << bad;
        double d;
        EXPECT_FALSE(Variant(bad).TryAsDouble(d)) << bad;
    }
    // A double beyond the range is no number; a value too small for a
    // double reads as 0.
    for (const char* tooLarge :
         {"1e400", "-1e400", "0.001e312", "1234567890e300", "1e99999999999"}) {
        double d = 0;
        EXPECT_FALSE(TryParseDouble(tooLarge, '.', d)) << tooLarge;
    }
    for (const char* tiny : {"1e-400", "-1e-400", "12345e-330", "0.00001e-320"}) {
        double d = 1;
        EXPECT_TRUE(TryParseDouble(tiny, '.', d)) << tiny;
        EXPECT_EQ(d, 0) << tiny;
    }
    EXPECT_THROW_WITH_MESSAGE(Variant("abc").AsInteger(), VariantError,
                              "Could not convert variant of type (String) into type (Integer)");
}

TEST(Variant, NumberToTextGeneralFormat15Digits) {
    struct Case {
        double in;
        const char* out;
    } cases[] = {
        {0, "0"},
        {1.5, "1.5"},
        {-2, "-2"},
        {0.1 + 0.2, "0.3"},
        {1.0 / 3, "0.333333333333333"},
        {1e15, "1E15"},
        {123456789012345.0, "123456789012345"},
        {1e-5, "1E-5"},
        {0.0001, "0.0001"},
        {1.5e-7, "1.5E-7"},
        {-1.25e20, "-1.25E20"},
    };
    for (auto c : cases)
        EXPECT_EQ(Variant(c.in).AsString(), c.out) << c.in;
}

TEST(Variant, BooleanConversions) {
    EXPECT_EQ(Variant(true).AsString(), "True");
    EXPECT_EQ(Variant(false).AsString(), "False");
    EXPECT_TRUE(Variant(int64_t{-3}).AsBoolean());
    EXPECT_FALSE(Variant(0.0).AsBoolean());
    EXPECT_TRUE(Variant("TRUE").AsBoolean());
    EXPECT_FALSE(Variant("0").AsBoolean());
    EXPECT_EQ(Variant(true).AsInteger(), 1);
    EXPECT_THROW(Variant("yes").AsBoolean(), VariantError);
}

TEST(Variant, EmptyAndNull) {
    Variant e;
    EXPECT_EQ(e.AsInteger(), 0);
    EXPECT_EQ(e.AsString(), "");
    EXPECT_FALSE(e.AsBoolean());
    Variant n = Variant::Null();
    EXPECT_EQ(n.AsString(), "");
    EXPECT_THROW(n.AsInteger(), VariantError);
    EXPECT_THROW(n.AsDouble(), VariantError);
}

TEST(Variant, DateTimeText) {
    double d;
    ASSERT_TRUE(TryEncodeDate(2024, 2, 29, d));
    EXPECT_EQ(Variant::FromDate(d).AsString(), "2024-02-29");
    EXPECT_EQ(Variant::FromDate(d + 0.75).AsString(), "2024-02-29 18:00:00");
    EXPECT_DOUBLE_EQ(Variant("2024-02-29 18:00").AsDate(), d + 0.75);
    EXPECT_DOUBLE_EQ(Variant("2024/02/29").AsDate(), d);
    EXPECT_DOUBLE_EQ(Variant("12:00").AsDate(), 0.5);
    EXPECT_THROW(Variant("2024-02-30").AsDate(), VariantError);
}

TEST(Variant, SettersReuseTextStorage) {
    Variant v;
    v.SetString(std::string(100, 'x'));
    const char* data = v.RawString().data();
    v.SetInteger(5);
    v.SetString("short text that is longer than sso");
    EXPECT_EQ(v.RawString().data(), data);
    Variant other("abc");
    v.Assign(other);
    EXPECT_EQ(v.RawString().data(), data);
    EXPECT_TRUE(v.SameAs(other));
}

TEST(DateTime, CalendarRoundTrip) {
    struct Case {
        int y, m, d;
        double serial;
    } cases[] = {
        {1899, 12, 30, 0},    {1900, 1, 1, 2},    {1970, 1, 1, 25569},
        {2000, 2, 29, 36585}, {1, 1, 1, -693593}, {9999, 12, 31, 2958465},
    };
    for (auto c : cases) {
        double dt;
        ASSERT_TRUE(TryEncodeDate(c.y, c.m, c.d, dt));
        EXPECT_EQ(dt, c.serial);
        int y, m, d;
        DecodeDate(dt, y, m, d);
        EXPECT_EQ(y * 10000 + m * 100 + d, c.y * 10000 + c.m * 100 + c.d);
    }
    double dt;
    EXPECT_FALSE(TryEncodeDate(2023, 2, 29, dt));
    EXPECT_FALSE(TryEncodeDate(0, 1, 1, dt));
    EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, dt));
    EXPECT_EQ(DayOfWeek(0), 7);  // a Saturday
}

TEST(DateTime, NegativeValuesCountTimeForward) {
    int y, m, d, h, n, s, ms;
    DecodeDate(-1.25, y, m, d);
    DecodeTime(-1.25, h, n, s, ms);
    EXPECT_EQ(y * 10000 + m * 100 + d, 18991229);
    EXPECT_EQ(h, 6);
}

TEST(DateTime, ParsesTexts) {
    const FormatSettings& fs = FormatSettings::Current();
    double v;
    struct Case {
        const char* text;
        bool ok;
        double value;
    } cases[] = {
        {"12", true, 0.5},
        {"6:30", true, 6.5 / 24},
        {"6:30 PM", true, 18.5 / 24},
        {"23:59:59", true, 86399.0 / 86400},
        {"24:00", false, 0},
        {"1970-01-01", true, 25569},
        {" 1970-01-01T12:00 ", true, 25569.5},
        {"70000", false, 0},
        {"", false, 0},
        {"1970-1-1", true, 25569},
        {"1970-01-01 x", false, 0},
        {"a:b", false, 0},
    };
    for (auto c : cases) {
        EXPECT_EQ(TryParseDateTime(c.text, fs, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_DOUBLE_EQ(v, c.value) << c.text;
        }
    }
}

// The bit that tells the two passes through a repeated local hour apart
// travels with copies of the value and goes with a new value.
TEST(Variant, RepeatedLaterTravelsWithTheDateTime) {
    Variant later;
    later.SetDate(45592.1, true);
    EXPECT_TRUE(later.RepeatedLater());
    Variant copy = later;
    EXPECT_TRUE(copy.RepeatedLater());
    Variant assigned("text");
    assigned.Assign(later);
    EXPECT_TRUE(assigned.RepeatedLater());
    EXPECT_TRUE(assigned.SameAs(Variant::FromDate(45592.1)));  // the value is the same
    assigned.SetDate(45592.1);
    EXPECT_FALSE(assigned.RepeatedLater());
    copy.SetDouble(45592.1);
    EXPECT_FALSE(copy.RepeatedLater());  // only a date-time has it
    EXPECT_FALSE(Variant::FromDate(45592.1).RepeatedLater());
}

}  // namespace
}  // namespace corvane
