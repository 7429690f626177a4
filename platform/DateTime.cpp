#include "platform/DateTime.h"

#include <sys/time.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

namespace corvane {

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

// The smallest and largest day numbers of years 1..9999.
constexpr double kMinDate = -693593.0;  // 0001-01-01
constexpr double kMaxDate = 2958465.0;  // 9999-12-31

// Splits a date-time into its day number and the milliseconds of its time of
// day, rounding to the millisecond the way every decoder must agree on.
void Split(TDateTime dt, int64_t& days, int64_t& ms) {
    if (!std::isfinite(dt)) dt = 0;
    // Before 1899-12-30 the fraction still counts forward from midnight, so
    // the first day's values run from kMinDate down to almost kMinDate - 1.
    if (dt < kMinDate - 0.99999998) dt = kMinDate - 0.99999998;
    if (dt > kMaxDate + 0.99999998) dt = kMaxDate + 0.99999998;
    // Truncation and rounding by hand (the value is clamped, so the integer
    // conversions are exact): the same results as trunc and llround (half
    // away from zero) without two library calls per value.
    days = static_cast<int64_t>(dt);
    const double scaled = std::fabs(dt - static_cast<double>(days)) * kMsPerDay;
    ms = static_cast<int64_t>(scaled);
    if (scaled - static_cast<double>(ms) >= 0.5) ++ms;
    if (ms >= static_cast<int64_t>(kMsPerDay)) {
        ms -= static_cast<int64_t>(kMsPerDay);
        days += dt < 0 ? -1 : 1;
    }
}

void TimeFromMs(int64_t ms, int& hour, int& minute, int& second, int& msec) {
    msec = static_cast<int>(ms % 1000);
    int64_t secs = ms / 1000;
    second = static_cast<int>(secs % 60);
    minute = static_cast<int>(secs / 60 % 60);
    hour = static_cast<int>(secs / 3600);
}

// Floored division by a positive divisor.
int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

// The date-time of a local day (days since 1970-01-01) and a second of that
// day. Every local conversion ends here, so the cached and the direct one
// give the same bits.
TDateTime FromLocalDay(int64_t days, int64_t secondOfDay) {
    double date = static_cast<double>(days) + kUnixEpochDate;
    double tod = static_cast<double>(secondOfDay) / 86400.0;
    return date < 0 ? date - tod : date + tod;
}

// Local time of t as the C library computes it: the local day and the
// second of that day (86400 during a leap second).
bool LocalDayAndSecond(int64_t unixSeconds, int64_t& days, int64_t& secondOfDay) {
    time_t t = static_cast<time_t>(unixSeconds);
    struct tm tmv {};
    if (!localtime_r(&t, &tmv)) return false;
    days = DaysFromCivil(static_cast<int64_t>(tmv.tm_year) + 1900,
                         static_cast<unsigned>(tmv.tm_mon + 1), static_cast<unsigned>(tmv.tm_mday));
    secondOfDay = tmv.tm_hour * 3600 + tmv.tm_min * 60 + tmv.tm_sec;
    return true;
}

// Local seconds minus UTC seconds at t.
bool LocalOffset(int64_t unixSeconds, int64_t& offset) {
    int64_t days, second;
    if (!LocalDayAndSecond(unixSeconds, days, second)) return false;
    offset = days * 86400 + second - unixSeconds;
    return true;
}

// Time stamps the cache handles; the C library fails far beyond them anyway
// (its year is an int), and the day arithmetic stays far from overflow.
constexpr int64_t kCacheRange = int64_t{1} << 50;
constexpr int64_t kNoDay = INT64_MIN;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Reads 1..maxDigits decimal digits at pos.
bool ReadNumber(std::string_view s, size_t& pos, int maxDigits, int& value) {
    size_t start = pos;
    value = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9' &&
           pos - start < static_cast<size_t>(maxDigits)) {
        value = value * 10 + (s[pos] - '0');
        ++pos;
    }
    return pos > start && (pos >= s.size() || s[pos] < '0' || s[pos] > '9');
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

void AppendNumber(std::string& out, int value, int width) {
    if (value >= 0 && value < 100 && width <= 2) {
        // Months, days, hours, minutes, seconds: the common case.
        if (value >= 10 || width == 2) out.push_back(static_cast<char>('0' + value / 10));
        out.push_back(static_cast<char>('0' + value % 10));
        return;
    }
    char buf[16];
    int n = 0;
    unsigned v = value < 0 ? 0u : static_cast<unsigned>(value);
    do {
        buf[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v && n < 15);
    for (int i = n; i < width; ++i)
        out.push_back('0');
    while (n)
        out.push_back(buf[--n]);
}

}  // namespace

bool IsLeapYear(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month))
        return false;
    out = static_cast<double>(
              DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day))) +
          kUnixEpochDate;
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        msec < 0 || msec > 999)
        return false;
    out = ((hour * 3600.0 + minute * 60.0 + second) * 1000.0 + msec) / kMsPerDay;
    return true;
}

void DecodeDate(TDateTime dt, int& year, int& month, int& day) {
    int64_t days, ms;
    Split(dt, days, ms);
    CivilFromDays(days - static_cast<int64_t>(kUnixEpochDate), year, month, day);
}

void DecodeTime(TDateTime dt, int& hour, int& minute, int& second, int& msec) {
    int64_t days, ms;
    Split(dt, days, ms);
    TimeFromMs(ms, hour, minute, second, msec);
}

void DecodeDateTime(TDateTime dt, int& year, int& month, int& day, int& hour, int& minute,
                    int& second, int& msec) {
    int64_t days, ms;
    Split(dt, days, ms);
    CivilFromDays(days - static_cast<int64_t>(kUnixEpochDate), year, month, day);
    TimeFromMs(ms, hour, minute, second, msec);
}

int DayOfWeek(TDateTime dt) {
    int64_t days, ms;
    Split(dt, days, ms);
    // Day 0 (1899-12-30) was a Saturday.
    int64_t r = (days + 6) % 7;
    if (r < 0) r += 7;
    return static_cast<int>(r) + 1;
}

TDateTime DateTimeFromUnixLocal(int64_t unixSeconds) {
    int64_t days, second;
    if (!LocalDayAndSecond(unixSeconds, days, second))
        return kUnixEpochDate + static_cast<double>(unixSeconds) / 86400.0;
    return FromLocalDay(days, second);
}

bool IsRepeatedLater(int64_t unixSeconds) {
    if (unixSeconds <= -kCacheRange || unixSeconds >= kCacheRange) return false;
    // The clock was set back within the last day when the offset a day ago
    // was larger; the wall time then showed before at the instant where the
    // old offset gives it.
    int64_t now = 0, before = 0, there = 0;
    if (!LocalOffset(unixSeconds, now) || !LocalOffset(unixSeconds - 86400, before) ||
        before <= now)
        return false;
    return LocalOffset(unixSeconds - (before - now), there) && there == before;
}

namespace {

// Seconds of a local date-time counted like Unix seconds (its wall time read
// as if it were UTC); whole seconds.
int64_t LocalSeconds(TDateTime dt) {
    int64_t days, ms;
    Split(dt, days, ms);
    return (days - static_cast<int64_t>(kUnixEpochDate)) * 86400 + ms / 1000;
}

bool OffsetOfLocalSeconds(int64_t local, bool repeatedLater, int64_t& offset) {
    if (local <= -kCacheRange || local >= kCacheRange) return false;
    // The offsets a day before and a day after; each is right when the
    // instant it gives shows this wall time.
    int64_t before = 0, after = 0, at = 0;
    if (!LocalOffset(local - 86400, before) || !LocalOffset(local + 86400, after)) return false;
    const bool beforeFits = LocalOffset(local - before, at) && at == before;
    const bool afterFits = LocalOffset(local - after, at) && at == after;
    offset = before;  // also for a skipped wall time: neither fits
    if (beforeFits && afterFits)
        offset = repeatedLater ? std::min(before, after) : std::max(before, after);
    else if (afterFits)
        offset = after;
    return offset > INT32_MIN && offset < INT32_MAX;
}

}  // namespace

bool UtcOffsetOfLocal(TDateTime dt, bool repeatedLater, int32_t& offsetSeconds) {
    int64_t offset = 0;
    if (!OffsetOfLocalSeconds(LocalSeconds(dt), repeatedLater, offset)) return false;
    offsetSeconds = static_cast<int32_t>(offset);
    return true;
}

UtcOffsetCache::UtcOffsetCache() : slots_(new Slot[kSlots]) {
    for (size_t i = 0; i < kSlots; ++i)
        slots_[i] = Slot{kNoDay, 0, false};
}

bool UtcOffsetCache::OffsetOf(TDateTime dt, bool repeatedLater, int32_t& offsetSeconds) {
    const int64_t local = LocalSeconds(dt);
    if (local <= -kCacheRange || local >= kCacheRange)
        return UtcOffsetOfLocal(dt, repeatedLater, offsetSeconds);
    const int64_t day = FloorDiv(local, 86400);
    Slot& slot = slots_[static_cast<uint64_t>(day) & (kSlots - 1)];
    if (slot.day != day) {
        // One offset for the whole day when its first and its last second
        // each have exactly one, the same.
        int64_t a = 0, b = 0, c = 0, d = 0;
        const int64_t first = day * 86400, last = first + 86399;
        slot.day = day;
        slot.uniform = OffsetOfLocalSeconds(first, false, a) &&
                       OffsetOfLocalSeconds(first, true, b) &&
                       OffsetOfLocalSeconds(last, false, c) &&
                       OffsetOfLocalSeconds(last, true, d) && a == b && b == c && c == d;
        slot.offset = slot.uniform ? static_cast<int32_t>(a) : 0;
    }
    if (!slot.uniform) return UtcOffsetOfLocal(dt, repeatedLater, offsetSeconds);
    offsetSeconds = slot.offset;
    return true;
}

LocalTimeCache::LocalTimeCache() : slots_(new Slot[kSlots]) {
    for (size_t i = 0; i < kSlots; ++i)
        slots_[i] = Slot{kNoDay, 0, false};
}

TDateTime LocalTimeCache::FromUnix(int64_t unixSeconds, bool& repeatedLater) {
    repeatedLater = false;
    if (unixSeconds <= -kCacheRange || unixSeconds >= kCacheRange)
        return DateTimeFromUnixLocal(unixSeconds);
    const int64_t day = FloorDiv(unixSeconds, 86400);
    Slot& slot = slots_[static_cast<uint64_t>(day) & (kSlots - 1)];
    if (slot.day != day) {
        int64_t previous = 0, first = 0, last = 0;
        const bool known = LocalOffset(day * 86400 - 86400, previous) &&
                           LocalOffset(day * 86400, first) &&
                           LocalOffset(day * 86400 + 86399, last);
        slot.day = day;
        slot.uniform =
            known && previous == first && first == last && first > INT32_MIN && first < INT32_MAX;
        slot.offset = slot.uniform ? static_cast<int32_t>(first) : 0;
    }
    if (!slot.uniform) {
        repeatedLater = IsRepeatedLater(unixSeconds);
        return DateTimeFromUnixLocal(unixSeconds);
    }
    const int64_t local = unixSeconds + slot.offset;
    const int64_t localDay = FloorDiv(local, 86400);
    return FromLocalDay(localDay, local - localDay * 86400);
}

TDateTime Now() {
    struct timeval tv {};
    gettimeofday(&tv, nullptr);
    TDateTime dt = DateTimeFromUnixLocal(tv.tv_sec);
    return dt + static_cast<double>(tv.tv_usec / 1000) / kMsPerDay;
}

bool TryParseDate(std::string_view text, const FormatSettings& fs, TDateTime& out) {
    std::string_view s = Trim(text);
    size_t pos = 0;
    int y, m, d;
    if (!ReadNumber(s, pos, 4, y)) return false;
    if (pos >= s.size()) return false;
    char sep = s[pos];
    if (sep != '-' && sep != '/' && sep != fs.dateSeparator) return false;
    ++pos;
    if (!ReadNumber(s, pos, 2, m) || pos >= s.size() || s[pos] != sep) return false;
    ++pos;
    if (!ReadNumber(s, pos, 2, d) || pos != s.size()) return false;
    return TryEncodeDate(y, m, d, out);
}

bool TryParseTime(std::string_view text, const FormatSettings& fs, TDateTime& out) {
    std::string_view s = Trim(text);
    int pm = -1;  // -1 no marker, 0 AM, 1 PM
    for (int k = 0; k < 2 && pm < 0; ++k) {
        std::string_view marker =
            k == 0 ? std::string_view(fs.timeAMString) : std::string_view(fs.timePMString);
        if (!marker.empty() && s.size() > marker.size() &&
            EqualsIgnoreCase(s.substr(s.size() - marker.size()), marker)) {
            s = Trim(s.substr(0, s.size() - marker.size()));
            pm = k;
        }
    }
    size_t pos = 0;
    int h = 0, n = 0, sec = 0, ms = 0;
    if (!ReadNumber(s, pos, 2, h)) return false;
    auto isSep = [&](char c) { return c == ':' || c == fs.timeSeparator; };
    if (pos < s.size() && isSep(s[pos])) {
        ++pos;
        if (!ReadNumber(s, pos, 2, n)) return false;
        if (pos < s.size() && isSep(s[pos])) {
            ++pos;
            if (!ReadNumber(s, pos, 2, sec)) return false;
            if (pos < s.size() && (s[pos] == '.' || s[pos] == fs.decimalSeparator)) {
                ++pos;
                size_t start = pos;
                if (!ReadNumber(s, pos, 3, ms)) return false;
                for (size_t k = pos - start; k < 3; ++k)
                    ms *= 10;
            }
        }
    }
    if (pos != s.size()) return false;
    if (pm >= 0) {
        if (h < 1 || h > 12) return false;
        if (h == 12) h = 0;
        if (pm == 1) h += 12;
    }
    return TryEncodeTime(h, n, sec, ms, out);
}

bool TryParseDateTime(std::string_view text, const FormatSettings& fs, TDateTime& out) {
    std::string_view s = Trim(text);
    if (s.empty()) return false;
    // A date starts with up to four digits and a date separator.
    size_t split = s.find_first_of(" \tT");
    if (split == std::string_view::npos) {
        if (TryParseDate(s, fs, out)) return true;
        return TryParseTime(s, fs, out);
    }
    TDateTime date, time;
    if (!TryParseDate(s.substr(0, split), fs, date)) return TryParseTime(s, fs, out);
    if (!TryParseTime(s.substr(split + 1), fs, time)) return false;
    out = date < 0 ? date - time : date + time;
    return true;
}

namespace {

// Whether s is exactly the literal (a fixed-size compare the compiler
// inlines).
template <size_t N>
bool Is(const std::string& s, const char (&literal)[N]) {
    return s.size() == N - 1 && std::memcmp(s.data(), literal, N - 1) == 0;
}

// The calendar fields of one value, decoded once for a whole pattern.
struct Fields {
    int year, month, day, hour, minute, second, msec;
    explicit Fields(TDateTime dt) {
        DecodeDateTime(dt, year, month, day, hour, minute, second, msec);
    }
};

void AppendFieldsByPattern(std::string& out, std::string_view pattern, const Fields& f,
                           const FormatSettings& fs) {
    size_t i = 0;
    while (i < pattern.size()) {
        char c = pattern[i];
        char lc = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        size_t run = 1;
        while (i + run < pattern.size()) {
            char nc = pattern[i + run];
            if (nc >= 'A' && nc <= 'Z') nc = static_cast<char>(nc - 'A' + 'a');
            if (nc != lc) break;
            ++run;
        }
        switch (lc) {
            case 'y':
                if (run <= 2)
                    AppendNumber(out, f.year % 100, 2);
                else
                    AppendNumber(out, f.year, 4);
                break;
            case 'm':
                AppendNumber(out, f.month, run >= 2 ? 2 : 1);
                break;
            case 'd':
                AppendNumber(out, f.day, run >= 2 ? 2 : 1);
                break;
            case 'h':
                AppendNumber(out, f.hour, run >= 2 ? 2 : 1);
                break;
            case 'n':
                AppendNumber(out, f.minute, run >= 2 ? 2 : 1);
                break;
            case 's':
                AppendNumber(out, f.second, run >= 2 ? 2 : 1);
                break;
            case 'z':
                AppendNumber(out, f.msec, run >= 3 ? 3 : 1);
                break;
            case '/':
                out.append(run, fs.dateSeparator);
                break;
            case ':':
                out.append(run, fs.timeSeparator);
                break;
            default:
                out.append(pattern.substr(i, run));
                break;
        }
        i += run;
    }
}

}  // namespace

void AppendSimplePattern(std::string& out, std::string_view pattern, TDateTime dt,
                         const FormatSettings& fs) {
    AppendFieldsByPattern(out, pattern, Fields(dt), fs);
}

// Decodes once for both halves: listings write three of these per row, so
// the default formats are written without interpreting the patterns.
void AppendDateTimeText(std::string& out, TDateTime dt, const FormatSettings& fs) {
    const Fields f(dt);
    const bool withTime = f.hour != 0 || f.minute != 0 || f.second != 0;
    if (Is(fs.shortDateFormat, "yyyy-mm-dd") && (!withTime || Is(fs.longTimeFormat, "hh:nn:ss"))) {
        // Decoded years lie in 1..9999: always four digits.
        static constexpr char kPairs[] =
            "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
            "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
            "8081828384858687888990919293949596979899";
        const auto two = [](char* p, int v) {
            std::memcpy(p, kPairs + 2 * static_cast<unsigned>(v), 2);
        };
        char buf[19];
        two(buf, f.year / 100);
        two(buf + 2, f.year % 100);
        buf[4] = '-';
        two(buf + 5, f.month);
        buf[7] = '-';
        two(buf + 8, f.day);
        if (withTime) {
            buf[10] = ' ';
            two(buf + 11, f.hour);
            buf[13] = fs.timeSeparator;
            two(buf + 14, f.minute);
            buf[16] = fs.timeSeparator;
            two(buf + 17, f.second);
        }
        out.append(buf, withTime ? 19 : 10);
        return;
    }
    AppendFieldsByPattern(out, fs.shortDateFormat, f, fs);
    if (withTime) {
        out.push_back(' ');
        AppendFieldsByPattern(out, fs.longTimeFormat, f, fs);
    }
}

std::string DateTimeToText(TDateTime dt, const FormatSettings& fs) {
    std::string out;
    AppendDateTimeText(out, dt, fs);
    return out;
}

std::string DateToText(TDateTime dt, const FormatSettings& fs) {
    std::string out;
    AppendSimplePattern(out, fs.shortDateFormat, dt, fs);
    return out;
}

std::string TimeToText(TDateTime dt, const FormatSettings& fs) {
    std::string out;
    AppendSimplePattern(out, fs.longTimeFormat, dt, fs);
    return out;
}

}  // namespace corvane
