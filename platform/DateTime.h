// DateTime: date-time values and their conversions.
//
// A date-time is a double counting days since 30 December 1899; its
// fraction is the time of day. Negative values lie before that day, and for
// them the fraction still counts forward from midnight (-1.25 is 29 December
// 1899, 06:00). Years run from 1 to 9999.
//
// This unit converts between that number and calendar fields, reads the
// clock and file time stamps (seconds since the Unix epoch) as local time,
// and reads and writes the date and time texts of the regional settings
// (FormatSettings). The full pattern language of the script built-in
// formatdatetime is implemented by the built-in library on top of the
// calendar functions here; this unit knows only the y, m, d, h, n, s and z
// pattern letters that the short and long formats use.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/FormatSettings.h"

namespace corvane {

using TDateTime = double;

constexpr double kMsPerDay = 86400000.0;
constexpr double kUnixEpochDate = 25569.0;  // 1970-01-01

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Calendar fields to a date-time; false for fields out of range.
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out);
// Date-time to calendar fields. Values outside years 1..9999 are clamped.
void DecodeDate(TDateTime dt, int& year, int& month, int& day);
void DecodeTime(TDateTime dt, int& hour, int& minute, int& second, int& msec);
// Both at once (one split of the value instead of two).
void DecodeDateTime(TDateTime dt, int& year, int& month, int& day, int& hour, int& minute,
                    int& second, int& msec);
// Day of the week, 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime dt);

// Seconds since the Unix epoch, taken as local time, in whole seconds.
TDateTime DateTimeFromUnixLocal(int64_t unixSeconds);

// Local time is ambiguous once a year: when the clock is set back, the wall
// times of the last hour before the change show again. The local value of
// such a time stamp does not say which of the two instants it was; this bit
// does (as the "fold" of other date libraries): true for the second one.
// False for every other stamp, and when the C library cannot tell.
bool IsRepeatedLater(int64_t unixSeconds);
// The UTC offset (local minus UTC, in seconds) of local time dt, for texts
// that carry it. A wall time shown twice has two: repeatedLater picks the
// second. A wall time that a clock set forward skips has none; it gets the
// offset in effect before the change (as if the clock had not been set
// forward yet). Whole seconds; false when the C library cannot tell. Like
// LocalTimeCache, this assumes no two changes of a zone's offset lie within
// a day of each other.
bool UtcOffsetOfLocal(TDateTime dt, bool repeatedLater, int32_t& offsetSeconds);

// UtcOffsetOfLocal for many values in a row, with the same results, as the
// JSON writer needs it for every date-time of a listing: a local day whose
// first and last second each have one offset, the same, takes it for all
// its values (by the same assumption as above, no change lies within it);
// other days are worked out value by value. One cache per writer; the same
// limits as LocalTimeCache (TZ, threads).
class UtcOffsetCache {
  public:
    UtcOffsetCache();
    bool OffsetOf(TDateTime dt, bool repeatedLater, int32_t& offsetSeconds);

  private:
    struct Slot {
        int64_t day;     // local day number; kNoDay when empty
        int32_t offset;  // for the whole day
        bool uniform;    // false: worked out value by value
    };
    static constexpr size_t kSlots = 1024;  // direct-mapped by day number
    std::unique_ptr<Slot[]> slots_;
};

// The current local date and time, with milliseconds.
TDateTime Now();

// DateTimeFromUnixLocal for many stamps in a row, with the same results.
//
// Local time is UTC plus an offset that changes only at the zone's
// transitions. The cache asks the C library for the offset at the first and
// the last second of a stamp's UTC day and at the first second of the day
// before and, when all three agree, uses it for every stamp of that day; a
// day where they disagree (a transition falls in it or in the day before,
// so a stamp may be the second pass through a repeated hour,
// IsRepeatedLater) is converted stamp by stamp. Skipping a day is safe only if no zone
// changes its offset and back again within one day: in the tz database the
// closest pair of transitions is about four days apart, and DST rules in a
// TZ variable that last under a day are not supported. Leap-second zones
// are covered: the offset seen through the calendar fields changes at the
// leap second, so that day is converted stamp by stamp.
//
// One cache per listing (or per thread): it does not notice a change of the
// TZ variable after it was filled, and it is not safe to share between
// threads.
class LocalTimeCache {
  public:
    LocalTimeCache();
    TDateTime FromUnix(int64_t unixSeconds) {
        bool later;
        return FromUnix(unixSeconds, later);
    }
    // With IsRepeatedLater of the stamp.
    TDateTime FromUnix(int64_t unixSeconds, bool& repeatedLater);

  private:
    struct Slot {
        int64_t day;     // UTC day number (seconds / 86400, floored); kNoDay when empty
        int32_t offset;  // local seconds minus UTC seconds, for the whole day
        bool uniform;    // false: a transition falls in this day
    };
    static constexpr size_t kSlots = 4096;  // direct-mapped by day number
    std::unique_ptr<Slot[]> slots_;
};

// Reads a date ("yyyy-mm-dd", "yyyy/mm/dd" or with the settings' date
// separator), a time of day ("h", "h:nn", "h:nn:ss", "h:nn:ss.zzz", each
// optionally followed by AM or PM), or a date followed by blanks or "T" and
// a time. Leading and trailing blanks are ignored. False when the text is
// none of these.
bool TryParseDateTime(std::string_view text, const FormatSettings& fs, TDateTime& out);
bool TryParseDate(std::string_view text, const FormatSettings& fs, TDateTime& out);
bool TryParseTime(std::string_view text, const FormatSettings& fs, TDateTime& out);

// The short date, then a blank and the long time unless the time of day is
// exactly midnight: how a date-time value reads as text.
void AppendDateTimeText(std::string& out, TDateTime dt, const FormatSettings& fs);
std::string DateTimeToText(TDateTime dt, const FormatSettings& fs);
std::string DateToText(TDateTime dt, const FormatSettings& fs);  // short date only
std::string TimeToText(TDateTime dt, const FormatSettings& fs);  // long time only
// Writes dt by a simple pattern (y, m, d, h, n, s, z runs; other characters
// are copied; "/" and ":" stand for the settings' separators).
void AppendSimplePattern(std::string& out, std::string_view pattern, TDateTime dt,
                         const FormatSettings& fs);

}  // namespace corvane
