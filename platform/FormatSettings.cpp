#include "platform/FormatSettings.h"

#include <clocale>
#include <cstring>

namespace corvane {

namespace {

FormatSettings FromLocale() {
    FormatSettings fs;
    // The program never calls setlocale(LC_ALL, ""), so ask for the user's
    // numeric conventions explicitly and restore the "C" locale afterwards:
    // the rest of the program relies on "C" for its own parsing.
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = old ? old : "C";
    if (std::setlocale(LC_NUMERIC, "")) {
        const lconv* lc = std::localeconv();
        if (lc && lc->decimal_point && std::strlen(lc->decimal_point) == 1)
            fs.decimalSeparator = lc->decimal_point[0];
        if (lc && lc->thousands_sep && std::strlen(lc->thousands_sep) == 1)
            fs.thousandSeparator = lc->thousands_sep[0];
        if (fs.thousandSeparator == fs.decimalSeparator)
            fs.thousandSeparator = fs.decimalSeparator == ',' ? '.' : ',';
    }
    std::setlocale(LC_NUMERIC, saved.c_str());
    return fs;
}

FormatSettings& Slot() {
    static FormatSettings current = FromLocale();
    return current;
}

}  // namespace

const FormatSettings& FormatSettings::Current() { return Slot(); }

void FormatSettings::SetCurrent(const FormatSettings& settings) {
    Slot() = settings;
}

}  // namespace corvane
