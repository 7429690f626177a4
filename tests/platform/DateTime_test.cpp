// Date-time values: local time from file time stamps, directly and through
// the per-day offset cache (the same bits in every zone, across daylight
// saving transitions, leap seconds and centuries), decoding, and the date
// text of the regional settings.
#include "platform/DateTime.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "support/ScopedTimeZone.h"

namespace corvane {
namespace {

using testing::ScopedTimeZone;
using testing::ZoneFileExists;

TDateTime Local(int y, int mo, int d, int h, int mi, int s) {
    TDateTime date = 0, time = 0;
    EXPECT_TRUE(TryEncodeDate(y, mo, d, date));
    EXPECT_TRUE(TryEncodeTime(h, mi, s, 0, time));
    return date < 0 ? date - time : date + time;
}

// Compares the cache with the direct conversion for every stamp given;
// reports the first difference only.
void ExpectSameAsDirect(LocalTimeCache& cache, const std::vector<int64_t>& stamps,
                        const std::string& zone) {
    for (int64_t t : stamps) {
        const TDateTime direct = DateTimeFromUnixLocal(t);
        bool later = false;
        const TDateTime cached = cache.FromUnix(t, later);
        if (direct != cached || later != IsRepeatedLater(t)) {
            ADD_FAILURE() << zone << ": stamp " << t << " direct " << direct << " cached " << cached
                          << " repeated later " << later;
            return;
        }
    }
}

// Every second within three hours of each transition, and every 59 seconds
// within two days of it (whole days on both sides, mixed and uniform).
std::vector<int64_t> AroundTransitions(const std::vector<int64_t>& transitions) {
    std::vector<int64_t> stamps;
    for (int64_t tr : transitions) {
        for (int64_t t = tr - 3 * 3600; t <= tr + 3 * 3600; ++t)
            stamps.push_back(t);
        for (int64_t t = tr - 2 * 86400; t <= tr + 2 * 86400; t += 59)
            stamps.push_back(t);
    }
    return stamps;
}

// A spread of stamps from year 1 to 9999 in a fixed pseudo-random order,
// so that cache slots are reused by other days.
std::vector<int64_t> Spread() {
    std::vector<int64_t> stamps = {0,
                                   -1,
                                   86399,
                                   -2209161600,  // 1899-12-30 00:00 UTC: date-time 0
                                   -2209161601,
                                   -2209075201,
                                   -62135596800,  // 0001-01-01
                                   253402300799,  // 9999-12-31 23:59:59
                                   int64_t{1} << 52,
                                   -(int64_t{1} << 52)};
    uint64_t x = 88172645463325252ull;
    for (int i = 0; i < 40000; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        const int64_t span = i % 4 == 0 ? 253402300799 + 62135596800 : 7000000000;
        const int64_t base = i % 4 == 0 ? -62135596800 : -3000000000;
        stamps.push_back(base + static_cast<int64_t>(x % static_cast<uint64_t>(span)));
    }
    return stamps;
}

TEST(LocalTimeCache, KnownValuesAcrossDaylightSavingTransitions) {
    ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");  // as Europe/Berlin, without tzdata
    struct Case {
        int64_t stamp;
        TDateTime local;
    } cases[] = {
        {1616893199, Local(2021, 3, 28, 1, 59, 59)},   // last second of winter time
        {1616893200, Local(2021, 3, 28, 3, 0, 0)},     // 02:00 does not exist
        {1635641999, Local(2021, 10, 31, 2, 59, 59)},  // the first 02:59:59, summer time
        {1635642000, Local(2021, 10, 31, 2, 0, 0)},    // 02:00 again, winter time
        {1635645599, Local(2021, 10, 31, 2, 59, 59)},  // the second 02:59:59
        {0, Local(1970, 1, 1, 1, 0, 0)},
    };
    LocalTimeCache cache;
    for (const Case& c : cases) {
        EXPECT_EQ(DateTimeFromUnixLocal(c.stamp), c.local) << c.stamp;
        EXPECT_EQ(cache.FromUnix(c.stamp), c.local) << c.stamp;
    }
}

TEST(LocalTimeCache, SameBitsAsTheDirectConversionInEveryKindOfZone) {
    struct Zone {
        const char* tz;
        std::vector<int64_t> transitions;  // UTC stamps of some of its transitions
        bool needsFile;
    } zones[] = {
        {"UTC0", {}, false},
        {"CET-1CEST,M3.5.0,M10.5.0/3", {1616893200, 1635642000}, false},
        {"AEST-10AEDT,M10.1.0,M4.1.0/3", {1617465600, 1633190400}, false},          // southern
        {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", {1617460200, 1633188600}, false},  // half hour
        {"<-0330>3:30", {}, false},
        {"Europe/Berlin", {1616893200, 1635642000, -1693706400, 228877200}, true},
        {"America/St_Johns", {1615699800, 1636259400}, true},
        {"Australia/Lord_Howe", {1617460200, 1633188600}, true},
        {"Africa/Freetown", {-957308400, -956964000}, true},  // transitions four days apart
        // Leap seconds: stamps count them here, so the day of one is mixed.
        {"right/Europe/Berlin", {1483228826, 1435708825, 78796800}, true},
    };
    const std::vector<int64_t> spread = Spread();
    for (const Zone& z : zones) {
        if (z.needsFile && !ZoneFileExists(z.tz)) continue;  // tzdata not installed
        ScopedTimeZone zone(z.tz);
        LocalTimeCache cache;
        ExpectSameAsDirect(cache, AroundTransitions(z.transitions), z.tz);
        ExpectSameAsDirect(cache, spread, z.tz);
    }
}

// The hour a clock is set back shows twice; IsRepeatedLater tells the two
// passes apart, and UtcOffsetOfLocal gives each its own offset.
TEST(LocalTimeCache, RepeatedHourIsToldApartAndMapsBackToItsOffset) {
    ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");  // as Europe/Berlin, without tzdata
    struct Case {
        int64_t stamp;
        TDateTime local;
        bool later;
        int32_t offset;
    } cases[] = {
        {1635638399, Local(2021, 10, 31, 1, 59, 59), false, 7200},
        {1635638400, Local(2021, 10, 31, 2, 0, 0), false, 7200},  // first 02:00, summer time
        {1635641999, Local(2021, 10, 31, 2, 59, 59), false, 7200},
        {1635642000, Local(2021, 10, 31, 2, 0, 0), true, 3600},  // 02:00 again, winter time
        {1635645599, Local(2021, 10, 31, 2, 59, 59), true, 3600},
        {1635645600, Local(2021, 10, 31, 3, 0, 0), false, 3600},
        {1635728400, Local(2021, 11, 1, 2, 0, 0), false, 3600},  // a day later: once only
        {1616893199, Local(2021, 3, 28, 1, 59, 59), false, 3600},
        {1616893200, Local(2021, 3, 28, 3, 0, 0), false, 7200},
    };
    LocalTimeCache cache;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stamp);
        bool later = !c.later;
        EXPECT_EQ(cache.FromUnix(c.stamp, later), c.local);
        EXPECT_EQ(later, c.later);
        EXPECT_EQ(IsRepeatedLater(c.stamp), c.later);
        int32_t offset = 0;
        ASSERT_TRUE(UtcOffsetOfLocal(c.local, c.later, offset));
        EXPECT_EQ(offset, c.offset);
    }
    // A wall time the clock skipped (02:30 on the day summer time starts)
    // gets the offset before the change; the bit changes nothing there.
    for (bool later : {false, true}) {
        int32_t offset = 0;
        ASSERT_TRUE(UtcOffsetOfLocal(Local(2021, 3, 28, 2, 30, 0), later, offset));
        EXPECT_EQ(offset, 3600);
    }
}

// Every stamp near a transition, turned into local time with its bit, maps
// back to itself through UtcOffsetOfLocal (and its cache), in every kind of
// zone.
TEST(LocalTimeCache, LocalTimeWithItsBitMapsBackToTheSameInstant) {
    struct Zone {
        const char* tz;
        std::vector<int64_t> transitions;
        bool needsFile;
    } zones[] = {
        {"UTC0", {0}, false},
        {"CET-1CEST,M3.5.0,M10.5.0/3", {1616893200, 1635642000}, false},
        {"AEST-10AEDT,M10.1.0,M4.1.0/3", {1617465600, 1633190400}, false},
        {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", {1617460200, 1633188600}, false},
        {"Europe/Berlin", {1616893200, 1635642000, 228877200}, true},
        {"America/St_Johns", {1615699800, 1636259400}, true},
        {"Australia/Lord_Howe", {1617460200, 1633188600}, true},
    };
    for (const Zone& z : zones) {
        if (z.needsFile && !ZoneFileExists(z.tz)) continue;
        ScopedTimeZone zone(z.tz);
        LocalTimeCache cache;
        UtcOffsetCache offsets;
        for (int64_t t : AroundTransitions(z.transitions)) {
            bool later = false;
            const TDateTime local = cache.FromUnix(t, later);
            int32_t offset = 0, cached = 0;
            const int64_t wall = std::llround((local - kUnixEpochDate) * 86400.0);
            if (!UtcOffsetOfLocal(local, later, offset) || wall - offset != t ||
                !offsets.OffsetOf(local, later, cached) || cached != offset) {
                ADD_FAILURE() << z.tz << ": stamp " << t << " local " << wall << " later " << later
                              << " offset " << offset << " cached " << cached;
                break;
            }
        }
    }
}

TEST(LocalTimeCache, LeapSecondReadsAsTheNextMidnight) {
    if (!ZoneFileExists("right/UTC")) GTEST_SKIP() << "no leap-second zones installed";
    ScopedTimeZone zone("right/UTC");
    // 2016-12-31 23:59:60 UTC, counted with the 26 leap seconds before it.
    const int64_t leap = 1483228800 + 26;
    LocalTimeCache cache;
    EXPECT_EQ(cache.FromUnix(leap - 1), Local(2016, 12, 31, 23, 59, 59));
    EXPECT_EQ(cache.FromUnix(leap), Local(2017, 1, 1, 0, 0, 0));
    EXPECT_EQ(cache.FromUnix(leap + 1), Local(2017, 1, 1, 0, 0, 0));
    EXPECT_EQ(cache.FromUnix(leap + 2), Local(2017, 1, 1, 0, 0, 1));
}

TEST(DecodeDateTime, AgreesWithDecodeDateAndDecodeTime) {
    const TDateTime values[] = {
        0,     1.5,    -1.25,        45000.999999999,  -0.5,    2958465.9999, -693594.0,      3e6,
        1e300, -1e300, 36525.000001, 45123.5000000058, 25569.0, -693593.0,    44000.041666667};
    for (TDateTime v : values) {
        int y, mo, d, h, mi, s, ms;
        DecodeDateTime(v, y, mo, d, h, mi, s, ms);
        int y2, mo2, d2, h2, mi2, s2, ms2;
        DecodeDate(v, y2, mo2, d2);
        DecodeTime(v, h2, mi2, s2, ms2);
        EXPECT_EQ(std::vector<int>({y, mo, d, h, mi, s, ms}),
                  std::vector<int>({y2, mo2, d2, h2, mi2, s2, ms2}))
            << v;
    }
}

TEST(AppendDateTimeText, DefaultFormatAndItsGeneralForm) {
    const FormatSettings fs;  // yyyy-mm-dd, hh:nn:ss
    struct Case {
        TDateTime value;
        const char* text;
    } cases[] = {
        {Local(2024, 3, 5, 6, 7, 8), "2024-03-05 06:07:08"},
        {Local(2024, 3, 5, 0, 0, 0), "2024-03-05"},  // midnight: the date alone
        {Local(1, 1, 1, 23, 59, 59), "0001-01-01 23:59:59"},
        {Local(9999, 12, 31, 12, 0, 0), "9999-12-31 12:00:00"},
        {Local(1899, 12, 29, 6, 0, 0), "1899-12-29 06:00:00"},  // negative value
        {0.5 / 86400.0 / 1000.0, "1899-12-30"},                 // rounds to midnight
    };
    for (const Case& c : cases)
        EXPECT_EQ(DateTimeToText(c.value, fs), c.text);

    // Other settings take the general path; the default path must read the
    // same as the general one would.
    FormatSettings other;
    other.shortDateFormat = "dd/mm/yy";
    other.dateSeparator = '.';
    other.longTimeFormat = "h:nn:ss";
    other.timeSeparator = '.';
    EXPECT_EQ(DateTimeToText(Local(2024, 3, 5, 6, 7, 8), other), "05.03.24 6.07.08");
    FormatSettings dots = fs;
    dots.timeSeparator = '.';
    EXPECT_EQ(DateTimeToText(Local(2024, 3, 5, 6, 7, 8), dots), "2024-03-05 06.07.08");
    for (int i = -800000; i < 3000000; i += 977) {
        const TDateTime v = i + (i % 86400) / 86400.0;
        std::string general;
        AppendSimplePattern(general, fs.shortDateFormat, v, fs);
        if (TimeToText(v, fs) != "00:00:00") {
            general += ' ';
            AppendSimplePattern(general, fs.longTimeFormat, v, fs);
        }
        ASSERT_EQ(DateTimeToText(v, fs), general) << v;
    }
}

}  // namespace
}  // namespace corvane
