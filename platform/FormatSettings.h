// FormatSettings: the regional settings every text conversion uses.
//
// Numbers, dates and times are turned into text and read back from text in
// many places (the Variant conversions, the script built-ins, the result
// list). They all take their separators, formats and names from one
// FormatSettings object, so that the program shows the same value the same
// way everywhere. The process-wide instance is read once from the C locale
// (only the decimal separator is taken from LC_NUMERIC); dates are always
// written year first, which sorts and reads the same in every country.
//
// This unit only holds the settings. Formatting and parsing live with the
// values: DateTime for date-times, Variant for numbers.
#pragma once

#include <array>
#include <string>

namespace corvane {

struct FormatSettings {
    char decimalSeparator = '.';
    char thousandSeparator = ',';
    char dateSeparator = '-';
    char timeSeparator = ':';
    std::string shortDateFormat = "yyyy-mm-dd";
    std::string longDateFormat = "dddd, mmmm d, yyyy";
    std::string shortTimeFormat = "hh:nn";
    std::string longTimeFormat = "hh:nn:ss";
    std::string timeAMString = "AM";
    std::string timePMString = "PM";
    std::string currencyString = "$";
    int currencyFormat = 0;     // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
    int negCurrFormat = 1;      // 1 "-$1" (the only form written by default)
    int currencyDecimals = 2;
    std::array<std::string, 12> shortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::array<std::string, 12> longMonthNames{"January", "February", "March",     "April",
                                               "May",     "June",     "July",      "August",
                                               "September", "October", "November", "December"};
    // Day names are indexed from Sunday (0) to Saturday (6).
    std::array<std::string, 7> shortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    std::array<std::string, 7> longDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};

    // The process-wide settings, read from the locale on first use.
    static const FormatSettings& Current();
    // Replaces the process-wide settings (tests, hosts with their own choice).
    // Not thread-safe: call it before any worker thread runs.
    static void SetCurrent(const FormatSettings& settings);
};

}  // namespace corvane
