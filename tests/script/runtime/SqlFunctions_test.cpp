// The SQL function table: every family as rows of call and result, the rows
// that must give null (with the reason pinned) first; the date modifiers,
// strftime's letters, local time and UTC, and the bound on texts.
#include "script/runtime/SqlFunctions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <set>

#include "platform/Text.h"
#include "script/runtime/CodeMng.h"
#include "support/ScopedTimeZone.h"

namespace corvane {
namespace {

TDateTime Dt(int y, int m, int d, int h = 0, int n = 0, int s = 0, int ms = 0) {
    TDateTime date = 0, time = 0;
    EXPECT_TRUE(TryEncodeDate(y, m, d, date));
    EXPECT_TRUE(TryEncodeTime(h, n, s, ms, time));
    return date < 0 ? date - time : date + time;
}

Variant DateValue(int y, int m, int d, int h = 0, int n = 0, int s = 0, int ms = 0) {
    return Variant::FromDate(Dt(y, m, d, h, n, s, ms));
}

const Variant kNull = Variant::Null();
constexpr int64_t kMin64 = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax64 = std::numeric_limits<int64_t>::max();

// A value with its kind, as the rows write results: null, int 3, real 2.5,
// 'text', true, date 2024-01-31 12:00:00.250 (the time left out at
// midnight, the milliseconds when there are some).
std::string Show(const Variant& v) {
    char buf[64];
    switch (v.type()) {
        case VarType::Empty:
            return "empty";
        case VarType::Null:
            return "null";
        case VarType::Integer:
            return "int " + std::to_string(v.RawInteger());
        case VarType::Double:
            std::snprintf(buf, sizeof buf, "real %.15g", v.RawDouble());
            return buf;
        case VarType::Boolean:
            return v.RawBoolean() ? "true" : "false";
        case VarType::String:
            return "'" + v.RawString() + "'";
        case VarType::Date: {
            int y, m, d, h, n, s, z;
            DecodeDateTime(v.RawDouble(), y, m, d, h, n, s, z);
            int len = std::snprintf(buf, sizeof buf, "date %04d-%02d-%02d", y, m, d);
            if (h || n || s || z) len += std::snprintf(buf + len, 16, " %02d:%02d:%02d", h, n, s);
            if (z) std::snprintf(buf + len, 8, ".%03d", z);
            return buf;
        }
    }
    return "?";
}

// One call and what it must give: the result as Show writes it and the
// reason noted ("" for none).
struct Row {
    const char* name;
    std::vector<Variant> args;
    const char* result;
    const char* fault = "";
};

class SqlFunctionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = FormatSettings::Current();
        FormatSettings::SetCurrent(FormatSettings{});
        ctx_.now = Dt(2024, 5, 15, 13, 45, 30, 250);  // a Wednesday
        ctx_.faults = &faults_;
    }
    void TearDown() override { FormatSettings::SetCurrent(saved_); }

    // Calls as a statement does: the compiler has checked the number of
    // arguments, and a strict function is not called for a null one.
    Variant Call(const char* name, const std::vector<Variant>& args) {
        faults_.Clear();
        Variant out;
        const TSqlFunction* f = FindSqlFunction(name);
        EXPECT_NE(f, nullptr) << name;
        if (!f) return out;
        const int argc = static_cast<int>(args.size());
        EXPECT_GE(argc, f->minArgs) << name;
        if (f->maxArgs >= 0) {
            EXPECT_LE(argc, f->maxArgs) << name;
        }
        if (f->strict)
            for (const Variant& a : args)
                if (SqlIsNull(a)) return Variant::Null();
        f->impl(args.data(), argc, out, ctx_);
        return out;
    }

    void Check(const std::vector<Row>& rows) {
        for (const Row& row : rows) {
            std::string call = std::string(row.name) + "(";
            for (size_t i = 0; i < row.args.size(); ++i) {
                const std::string arg = Show(row.args[i]);
                call += (i ? ", " : "") + arg.substr(0, 60);
            }
            call += ")";
            EXPECT_EQ(Show(Call(row.name, row.args)), row.result) << call;
            EXPECT_EQ(faults_.RowReason(), row.fault) << call;
            EXPECT_EQ(faults_.RowFaulted(), *row.fault != 0) << call;
        }
    }

    FormatSettings saved_;
    TSqlFaults faults_;
    TSqlContext ctx_;
};

TEST_F(SqlFunctionsTest, TableNamesEveryFunctionOnceWithItsSynopsisAndExample) {
    std::set<std::string_view> seen;
    for (const TSqlFunction& f : SqlFunctionTable()) {
        EXPECT_TRUE(seen.insert(f.name).second) << f.name;
        EXPECT_EQ(LowerCaseAscii(f.name), f.name);
        EXPECT_EQ(FindSqlFunction(f.name), &f);
        EXPECT_NE(f.impl, nullptr) << f.name;
        EXPECT_TRUE(f.maxArgs == -1 || f.maxArgs >= f.minArgs) << f.name;
        EXPECT_TRUE(f.synopsis.starts_with(std::string(f.name) + "(")) << f.synopsis;
        EXPECT_NE(f.example.find(std::string(f.name) + "("), std::string_view::npos) << f.example;
    }
    EXPECT_EQ(FindSqlFunction("LOWER"), nullptr);  // callers look up the lower-case name
    EXPECT_EQ(FindSqlFunction("count"), nullptr);  // aggregates belong to grouping
    EXPECT_EQ(FindSqlFunction(""), nullptr);
}

TEST_F(SqlFunctionsTest, Text) {
    Check({
        {"substr", {"abc", "x"}, "null", "substr的参数“x”不是数字"},
        {"substring", {"abc", 1, "two"}, "null", "substring的参数“two”不是数字"},
        {"substr",
         {"abc", "一二三四五六七八九十一二三四五六七八九十"},
         "null",
         "substr的参数“一二三四五六七八九十一二三…”不是数字"},
        {"lower", {kNull}, "null"},
        {"substr", {"abc", kNull}, "null"},
        {"replace", {"abc", kNull, "x"}, "null"},
        {"trim", {"x", kNull}, "null"},
        {"instr", {kNull, "a"}, "null"},

        {"lower", {"ReadMe.TXT"}, "'readme.txt'"},
        {"lower", {"ÄBC"}, "'Äbc'"},  // ASCII letters only; UTF-8 passes as bytes
        {"upper", {"straße"}, "'STRAßE'"},
        {"lower", {12}, "'12'"},
        {"length", {"report.txt"}, "int 10"},
        {"length", {"日本"}, "int 6"},
        {"length", {12.5}, "int 4"},
        {"length", {-7}, "int 2"},
        {"length", {""}, "int 0"},

        {"replace", {"a-b-c", "-", "_"}, "'a_b_c'"},
        {"replace", {"abc", "", "x"}, "'abc'"},
        {"replace", {"aaa", "aa", "b"}, "'ba'"},
        {"replace", {"abc", "b", ""}, "'ac'"},
        {"replace", {1231, 1, 9}, "'9239'"},

        {"trim", {" \t x y \r\n"}, "'x y'"},
        {"ltrim", {"  x  "}, "'x  '"},
        {"rtrim", {"  x  "}, "'  x'"},
        {"trim", {"xxhixx", "x"}, "'hi'"},
        {"trim", {"abcba", "ab"}, "'c'"},
        {"trim", {"abc", ""}, "'abc'"},
        {"ltrim", {"007", "0"}, "'7'"},
        {"rtrim", {"1.500", "0"}, "'1.5'"},
        {"trim", {"aaa", "a"}, "''"},

        {"instr", {"report.txt", "."}, "int 7"},
        {"instr", {"abc", "z"}, "int 0"},
        {"instr", {"abc", ""}, "int 1"},
        {"instr", {"日本語", "語"}, "int 7"},
        {"instr", {12345, 34}, "int 3"},

        {"concat", {"a", kNull, 1}, "'a1'"},
        {"concat", {kNull, Variant()}, "''"},
        {"concat", {"x", 2.5}, "'x2.5'"},
    });
}

// SQLite's substr rules, on bytes.
TEST_F(SqlFunctionsTest, SubstrCountsAsSqlite) {
    Check({
        {"substr", {"abcdef", 2}, "'bcdef'"},
        {"substr", {"abcdef", 2, 3}, "'bcd'"},
        {"substring", {"abcdef", 2, 3}, "'bcd'"},
        {"substr", {"abcdef", 0}, "'abcdef'"},
        {"substr", {"abcdef", 0, 2}, "'a'"},  // start 0 is the place before the first byte
        {"substr", {"abcdef", 0, -1}, "''"},
        {"substr", {"abcdef", -2}, "'ef'"},
        {"substr", {"abcdef", -2, 1}, "'e'"},
        {"substr", {"abcdef", -10, 6}, "'ab'"},  // the bytes before the start count
        {"substr", {"abcdef", -10}, "'abcdef'"},
        {"substr", {"abcdef", 3, -2}, "'ab'"},  // negative n: the bytes before start
        {"substr", {"abcdef", 2, -5}, "'a'"},
        {"substr", {"abcdef", -1, -2}, "'de'"},
        {"substr", {"abcdef", 7}, "''"},
        {"substr", {"abcdef", 3, 0}, "''"},
        {"substr", {"abcdef", "2"}, "'bcdef'"},
        {"substr", {"abcdef", 3.5}, "'def'"},  // positions round as SqlToInteger rounds
        {"substr", {12345, 2, 3}, "'234'"},
        {"substr", {"日本語", 4, 3}, "'本'"},
        {"substr", {"日本語", 2, 2}, "'\x97\xa5'"},  // bytes, even mid-character
        {"substr", {"abcdef", kMax64, kMax64}, "''"},
        {"substr", {"abcdef", kMin64, kMin64}, "''"},
        {"substr", {"abcdef", kMin64, kMax64}, "'abcde'"},
        {"substr", {"abcdef", 2, 1e30}, "'bcdef'"},  // beyond 64 bits: the end of the range
        {"substr", {"abcdef", kMax64, kMin64}, "'abcdef'"},
    });
}

TEST_F(SqlFunctionsTest, Numbers) {
    Check({
        {"abs", {"x"}, "null", "abs的参数“x”不是数字"},
        {"abs", {kMin64}, "null", "abs的结果超出整数范围"},
        {"round", {"2.5x"}, "null", "round的参数“2.5x”不是数字"},
        {"round", {2.5, "x"}, "null", "round的参数“x”不是数字"},
        {"round", {1e20}, "null", "round的结果超出整数范围"},
        {"floor", {1e19}, "null", "floor的结果超出整数范围"},
        {"ceil", {-1e19}, "null", "ceil的结果超出整数范围"},
        {"sign", {"abc"}, "null", "sign的参数“abc”不是数字"},
        {"abs", {kNull}, "null"},
        {"round", {2.5, kNull}, "null"},

        {"abs", {-7}, "int 7"},
        {"abs", {kMax64}, "int 9223372036854775807"},
        {"abs", {-2.5}, "real 2.5"},
        {"abs", {"-3"}, "int 3"},
        {"abs", {"-3.5"}, "real 3.5"},
        {"abs", {true}, "int 1"},

        {"round", {2.5}, "int 3"},  // half away from zero
        {"round", {-2.5}, "int -3"},
        {"round", {0.5}, "int 1"},
        {"round", {2.4999}, "int 2"},
        {"round", {-0.4}, "int 0"},
        {"round", {7}, "int 7"},
        {"round", {"3.7"}, "int 4"},
        {"round", {1e17}, "int 100000000000000000"},
        {"round", {2.675, 2}, "real 2.68"},  // as the number reads, not as it is stored
        {"round", {-1.005, 2}, "real -1.01"},
        {"round", {1234.5678, 2}, "real 1234.57"},
        {"round", {123.456, 0}, "real 123"},
        {"round", {1234.5, -2}, "real 1235"},  // a negative count as 0, as in SQLite
        {"round", {5, 2}, "real 5"},
        {"round", {0.0001, 2}, "real 0"},
        {"round", {-0.0001, 2}, "real 0"},
        {"round", {2.5, 40}, "real 2.5"},
        {"round", {0.1, kMax64}, "real 0.1"},

        {"floor", {-2.5}, "int -3"},
        {"floor", {2.5}, "int 2"},
        {"floor", {7}, "int 7"},
        {"ceil", {2.1}, "int 3"},
        {"ceil", {-2.1}, "int -2"},
        {"ceiling", {2.0}, "int 2"},
        {"ceil", {"1.5"}, "int 2"},
        {"ceiling", {kMin64}, "int -9223372036854775808"},

        {"sign", {-4.2}, "int -1"},
        {"sign", {0}, "int 0"},
        {"sign", {0.0}, "int 0"},
        {"sign", {3}, "int 1"},
        {"sign", {kMin64}, "int -1"},
    });
}

TEST_F(SqlFunctionsTest, NullHandling) {
    Check({
        {"coalesce", {kNull, kNull, "x"}, "'x'"},
        {"coalesce", {kNull, 0, 1}, "int 0"},
        {"coalesce", {kNull, kNull}, "null"},
        {"coalesce", {Variant(), 5}, "int 5"},  // empty is null too
        {"coalesce", {"", "x"}, "''"},          // the empty text is not
        {"coalesce", {kNull, DateValue(2024, 1, 31)}, "date 2024-01-31"},
        {"ifnull", {kNull, 0}, "int 0"},
        {"ifnull", {3, 0}, "int 3"},
        {"ifnull", {kNull, kNull}, "null"},

        {"nullif", {2, 2.0}, "null"},  // numbers by value
        {"nullif", {2, 3}, "int 2"},
        {"nullif", {2.5, 2}, "real 2.5"},
        {"nullif", {"a", "a"}, "null"},
        {"nullif", {"a", "A"}, "'a'"},  // texts by bytes
        {"nullif", {"a", "a "}, "'a'"},
        {"nullif", {kNull, 1}, "null"},
        {"nullif", {1, kNull}, "int 1"},
        {"nullif", {1, "1"}, "null"},     // a number literal converts
        {"nullif", {1, "one"}, "int 1"},  // "=" would be null: not equal
        {"nullif", {true, 1}, "null"},
        {"nullif", {false, "false"}, "null"},
        {"nullif", {DateValue(2024, 1, 31), "2024-01-31"}, "null"},
        {"nullif", {DateValue(2024, 1, 31), "2024-02-01"}, "date 2024-01-31"},
        {"nullif", {int64_t{9007199254740993}, 9007199254740992.0}, "int 9007199254740993"},
        {"nullif", {0, ""}, "int 0"},
    });
}

TEST_F(SqlFunctionsTest, Dates) {
    Check({
        {"date", {"not a date"}, "null", "date的参数“not a date”不是日期"},
        {"date", {true}, "null", "date的参数“True”不是日期"},
        {"year", {"x"}, "null", "year的参数“x”不是日期"},
        {"date", {1e9}, "null", "date的结果不在1年至9999年之间"},
        {"datetime",
         {"2024-01-31", "+1 fortnight"},
         "null",
         "datetime不认识日期修饰符“+1 fortnight”"},
        {"date", {"9999-12-31", "+1 day"}, "null", "date的结果不在1年至9999年之间"},
        {"date", {kNull}, "null"},
        {"date", {"2024-01-31", kNull}, "null"},

        {"now", {}, "date 2024-05-15 13:45:30.250"},
        {"date", {}, "date 2024-05-15"},
        {"date", {"now"}, "date 2024-05-15"},
        {"datetime", {}, "date 2024-05-15 13:45:30.250"},
        {"datetime", {"NOW", "start of day"}, "date 2024-05-15"},
        {"time", {}, "'13:45:30'"},
        {"date", {"2024-01-31 12:34:56"}, "date 2024-01-31"},
        {"date", {DateValue(2024, 1, 31, 12)}, "date 2024-01-31"},
        {"date", {45322}, "date 2024-01-31"},  // a number is a day count
        {"date", {-1.25}, "date 1899-12-29"},  // before 1899-12-30 the time still counts forward
        {"datetime", {-1.25, "+1 day"}, "date 1899-12-30 06:00:00"},
        {"datetime", {0.25, "-1 day"}, "date 1899-12-29 06:00:00"},
        {"datetime",
         {"0001-01-01 00:00:00.001", "-1 second", "+1 second"},
         "null",
         "datetime的结果不在1年至9999年之间"},
        {"time", {"2024-01-31 08:05:09"}, "'08:05:09'"},
        {"time", {"2024-01-31 23:59:59.999", "+1 second"}, "'00:00:00'"},
        {"datetime", {"2024-01-31 23:30", "+1 hour"}, "date 2024-02-01 00:30:00"},
        {"datetime", {"2024-01-31 08:05:09.750"}, "date 2024-01-31 08:05:09.750"},
        {"year", {"2024-01-31 08:05:09.750"}, "int 2024"},
        {"month", {"2024-01-31 08:05:09.750"}, "int 1"},
        {"day", {"2024-01-31 08:05:09.750"}, "int 31"},
        {"hour", {"2024-01-31 08:05:09.750"}, "int 8"},
        {"minute", {"2024-01-31 08:05:09.750"}, "int 5"},
        {"second", {"2024-01-31 08:05:09.750"}, "int 9"},
        {"year", {DateValue(1, 1, 1)}, "int 1"},
        {"julianday", {"2000-01-01 12:00"}, "real 2451545"},
        {"julianday", {"1899-12-30"}, "real 2415018.5"},
        {"julianday", {"2000-01-01 12:00", "+1 day"}, "real 2451546"},
    });
}

// SQLite's modifiers, through datetime: units, month ends as SQLite runs
// them on, start of, weekday; then the ones it does not know.
TEST_F(SqlFunctionsTest, Modifiers) {
    Check({
        {"datetime", {"2024-01-31", "+1 month"}, "date 2024-03-02"},  // February 31
        {"datetime", {"2023-01-31", "+1 month"}, "date 2023-03-03"},
        {"datetime", {"2024-03-31", "-1 month"}, "date 2024-03-02"},
        {"datetime", {"2024-02-29", "+1 year"}, "date 2025-03-01"},
        {"datetime", {"2024-02-29", "-4 years"}, "date 2020-02-29"},
        {"datetime", {"2024-01-15", "+13 months"}, "date 2025-02-15"},
        {"datetime", {"2024-01-15", "-13 months"}, "date 2022-12-15"},
        {"datetime", {"2024-01-15", "-12 months"}, "date 2023-01-15"},
        {"datetime", {"2024-01-15", "+1.5 months"}, "date 2024-03-01"},  // + 15 days
        {"datetime", {"2024-01-15 10:20", "+2 months"}, "date 2024-03-15 10:20:00"},
        {"datetime", {"2024-01-01", "+0.5 days"}, "date 2024-01-01 12:00:00"},
        {"datetime", {"2024-01-01", "-1.5 hours"}, "date 2023-12-31 22:30:00"},
        {"datetime", {"2024-01-01", "+90 minutes"}, "date 2024-01-01 01:30:00"},
        {"datetime", {"2024-01-01", "+1 second"}, "date 2024-01-01 00:00:01"},
        {"datetime", {"2024-01-01", "+0.25 seconds"}, "date 2024-01-01 00:00:00.250"},
        {"datetime", {"2024-01-01", "1 day"}, "date 2024-01-02"},
        {"datetime", {"2024-01-01", " +1 DAY "}, "date 2024-01-02"},
        {"datetime", {"2024-01-01", "+1e1 days"}, "date 2024-01-11"},
        {"datetime", {"2024-05-15 13:45:30", "start of day"}, "date 2024-05-15"},
        {"datetime", {"2024-05-15 13:45:30", "start of month"}, "date 2024-05-01"},
        {"datetime", {"2024-05-15 13:45:30", "start of year"}, "date 2024-01-01"},
        {"datetime", {"2024-05-15 13:45", "weekday 0"}, "date 2024-05-19 13:45:00"},
        {"datetime", {"2024-05-15 13:45", "weekday 3"}, "date 2024-05-15 13:45:00"},
        {"datetime", {"2024-05-15 13:45", "weekday 2"}, "date 2024-05-21 13:45:00"},
        {"datetime", {"2024-05-15", "weekday 6.0"}, "date 2024-05-18"},
        {"datetime", {"1899-12-20", "weekday 0"}, "date 1899-12-24"},
        {"date", {"2024-02-10", "start of month", "+1 month", "-1 day"}, "date 2024-02-29"},

        {"datetime", {"2024-01-01", "weekday 7"}, "null", "datetime不认识日期修饰符“weekday 7”"},
        {"datetime",
         {"2024-01-01", "weekday 1.5"},
         "null",
         "datetime不认识日期修饰符“weekday 1.5”"},
        {"datetime",
         {"2024-01-01", "start of week"},
         "null",
         "datetime不认识日期修饰符“start of week”"},
        {"datetime", {"2024-01-01", "1day"}, "null", "datetime不认识日期修饰符“1day”"},
        {"datetime", {"2024-01-01", "+ 1 day"}, "null", "datetime不认识日期修饰符“+ 1 day”"},
        {"datetime", {"2024-01-01", ""}, "null", "datetime不认识日期修饰符“”"},
        {"date", {"2024-01-01", 5}, "null", "date不认识日期修饰符“5”"},
        {"datetime", {"9999-12-15", "+1 month"}, "null", "datetime的结果不在1年至9999年之间"},
        {"datetime", {"0001-01-31", "-1 month"}, "null", "datetime的结果不在1年至9999年之间"},
        {"datetime", {"2024-01-01", "+8000 years"}, "null", "datetime的结果不在1年至9999年之间"},
        {"datetime", {"2024-01-01", "+1e300 months"}, "null", "datetime的结果不在1年至9999年之间"},
        {"datetime", {"2024-01-01", "-1e999 days"}, "null", "datetime的结果不在1年至9999年之间"},
        {"datetime", {"9999-12-31", "weekday 0"}, "null", "datetime的结果不在1年至9999年之间"},
    });
}

TEST_F(SqlFunctionsTest, ApplyDateModifierWorksOnTheValue) {
    TDateTime dt = Dt(2024, 1, 31, 6);
    ASSERT_TRUE(ApplyDateModifier("+1 month", ctx_, dt));
    EXPECT_EQ(Show(Variant::FromDate(dt)), "date 2024-03-02 06:00:00");
    dt = Dt(1899, 12, 29, 6);
    ASSERT_TRUE(ApplyDateModifier("+12 hours", ctx_, dt));
    EXPECT_EQ(Show(Variant::FromDate(dt)), "date 1899-12-29 18:00:00");
    EXPECT_FALSE(ApplyDateModifier("+1 fortnight", ctx_, dt));
    dt = Dt(9999, 12, 31);
    EXPECT_FALSE(ApplyDateModifier("+1 day", ctx_, dt));
    EXPECT_FALSE(faults_.RowFaulted());  // the caller notes the reason
}

TEST_F(SqlFunctionsTest, Strftime) {
    const char* x = "2024-03-05 08:07:06.045";  // a Tuesday, day 65
    Check({
        {"strftime", {"%Q", x}, "null", "strftime不认识格式符“%Q”"},
        {"strftime", {"100%", x}, "null", "strftime不认识格式符“%”"},
        {"strftime", {"%é", x}, "null", "strftime不认识格式符“%é”"},
        {"strftime", {"%Y", "bad"}, "null", "strftime的参数“bad”不是日期"},
        {"strftime", {"%Y", x, "+1 eon"}, "null", "strftime不认识日期修饰符“+1 eon”"},
        {"strftime", {"%Y", kNull}, "null"},
        {"strftime", {kNull, x}, "null"},

        {"strftime", {"%Y-%m-%d %H:%M:%S", x}, "'2024-03-05 08:07:06'"},
        {"strftime", {"%e|%f|%j|%w|%u|%W|%U", x}, "' 5|06.045|065|2|2|10|09'"},
        {"strftime", {"%F %T|%R", x}, "'2024-03-05 08:07:06|08:07'"},
        {"strftime", {"%I %l %k %p %P", x}, "'08  8  8 AM am'"},
        {"strftime", {"%I %l %k %p", "2024-03-05 00:30"}, "'12 12  0 AM'"},
        {"strftime", {"%I %l %k %p", "2024-03-05 12:30"}, "'12 12 12 PM'"},
        {"strftime", {"%I %l %k %P", "2024-03-05 23:30"}, "'11 11 23 pm'"},
        {"strftime", {"%V %G %g", x}, "'10 2024 24'"},
        {"strftime", {"%V %G %g", "2021-01-01"}, "'53 2020 20'"},  // ISO weeks by Thursday
        {"strftime", {"%V %G %W %U", "2024-12-30"}, "'01 2025 53 52'"},
        {"strftime", {"%W %U %w %u", "2024-01-01"}, "'01 00 1 1'"},
        {"strftime", {"%w %u %j", "2024-12-29"}, "'0 7 364'"},
        {"strftime", {"%J", "2000-01-01 12:00"}, "'2451545'"},
        {"strftime", {"%J", "2024-03-05 06:00"}, "'2460374.75'"},
        {"strftime", {"%Y%%", x}, "'2024%'"},
        {"strftime", {"年%Y", x}, "'年2024'"},
        {"strftime", {"", x}, "''"},
        {"strftime", {"%Y", "0001-01-01"}, "'0001'"},
        {"strftime", {"%Y-%m-%d", "2024-01-31", "+1 month"}, "'2024-03-02'"},
        {"strftime", {"%Y %H:%M"}, "'2024 13:45'"},  // no x: now
    });
}

// 'utc' and 'localtime', the Unix time of a local value and a wall time
// shown twice, in a zone given as a POSIX rule (no zone files needed):
// Central European time, summer time from the last Sunday of March 02:00
// to the last Sunday of October 03:00.
TEST_F(SqlFunctionsTest, LocalTimeAndUtc) {
    testing::ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    Variant first = DateValue(2024, 10, 27, 2, 30), second;
    second.SetDate(first.RawDouble(), true);  // the second 02:30 of that night
    Check({
        {"datetime", {"2024-01-15 12:00", "utc"}, "date 2024-01-15 11:00:00"},
        {"datetime", {"2024-07-15 12:00", "utc"}, "date 2024-07-15 10:00:00"},
        {"datetime", {"2024-01-15 12:00", "localtime"}, "date 2024-01-15 13:00:00"},
        {"datetime", {"2024-07-15 12:00:00.500", "localtime"}, "date 2024-07-15 14:00:00.500"},
        {"datetime", {"2024-07-15 12:00", "utc", "localtime"}, "date 2024-07-15 12:00:00"},
        {"datetime", {"2024-03-31 01:30", "+1 hour", "utc"}, "date 2024-03-31 01:30:00"},
        {"unixepoch", {"1970-01-01 01:00"}, "int 0"},
        {"unixepoch", {"1970-01-01", "localtime"}, "int 0"},
        {"unixepoch", {"2024-01-01 00:00:00.999"}, "int 1704063600"},
        {"unixepoch", {}, "int 1715773530"},
        {"unixepoch", {first}, "int 1729989000"},
        {"unixepoch", {second}, "int 1729992600"},
        {"strftime", {"%s", "2024-01-01"}, "'1704063600'"},
        {"strftime", {"%s", "1969-12-31 23:59:59.500"}, "'-3601'"},
        {"datetime", {second}, "date 2024-10-27 02:30:00"},
    });
    Variant kept = Call("datetime", {second});
    EXPECT_TRUE(kept.RepeatedLater());  // datetime(x) is x, with which 02:30 it was
    EXPECT_FALSE(Call("datetime", {second, "+0 days"}).RepeatedLater());
}

TEST_F(SqlFunctionsTest, TextsStayWithinTheBound) {
    // kMaxTextLength bytes, made once and moved: the texts are large.
    std::vector<Variant> args(1);
    args[0].SetString(std::string(kMaxTextLength, 'a'));
    EXPECT_EQ(Call("concat", args).RawString().size(), kMaxTextLength);
    EXPECT_EQ(Show(Call("length", args)), "int " + std::to_string(kMaxTextLength));
    args.push_back("x");  // one byte more
    EXPECT_EQ(Show(Call("concat", args)), "null");
    EXPECT_EQ(faults_.RowReason(), "concat的结果太长");

    std::string text(kMaxTextLength - 1, 'a');
    text[0] = 'b';
    args.clear();
    args.emplace_back(std::move(text));
    args.emplace_back("b");
    args.emplace_back("bb");  // to the bound exactly
    EXPECT_EQ(Call("replace", args).RawString().size(), kMaxTextLength);
    EXPECT_FALSE(faults_.RowFaulted());
    args[2] = "bbb";
    EXPECT_EQ(Show(Call("replace", args)), "null");
    EXPECT_EQ(faults_.RowReason(), "replace的结果太长");
}

// Only the first reason of a row is kept; every faulted row is still
// marked.
TEST_F(SqlFunctionsTest, LaterFaultsMarkTheRowAndKeepTheFirstReason) {
    TSqlFaults faults;
    ctx_.faults = &faults;
    const TSqlFunction* abs = FindSqlFunction("abs");
    const TSqlFunction* date = FindSqlFunction("date");
    Variant out, text("x"), bad("bad");
    abs->impl(&text, 1, out, ctx_);
    EXPECT_TRUE(out.IsNull());
    date->impl(&bad, 1, out, ctx_);
    EXPECT_TRUE(out.IsNull());
    EXPECT_EQ(faults.RowReason(), "abs的参数“x”不是数字");
    faults.BeginRow();
    EXPECT_FALSE(faults.RowFaulted());
    date->impl(&bad, 1, out, ctx_);
    EXPECT_TRUE(faults.RowFaulted());
    ctx_.faults = nullptr;  // reasons dropped
    date->impl(&bad, 1, out, ctx_);
    EXPECT_TRUE(out.IsNull());
}

}  // namespace
}  // namespace corvane
