// U_cellText: how a result value looks in the list, and the plain text
// that copying keeps.
//
// The list is for reading: integers and doubles in the interface locale's
// digit grouping (right-aligned by the model), the size column optionally
// in KiB/MiB/GiB with the exact byte count in the tooltip, date-times
// always in full ("2024-03-05 14:07:09", also at midnight), booleans as
// 是/否. What leaves the program keeps the raw values: RawText is the
// Variant's own text form (True/False, digits without grouping), the same
// text corvane-cli prints, so a copied size is a number a spreadsheet
// reads and a pasted date parses again.
//
// This unit only turns values into texts; which column is the size column
// and how the texts reach a view is U_resultModel's business.
#pragma once

#include <QLocale>
#include <QString>
#include <cstdint>

#include "platform/Variant.h"

namespace corvane {

struct TDisplayOptions {
    QLocale locale;           // digit grouping and decimal point of the list
    bool humanSizes = false;  // the size column in KiB, MiB, GiB, ...
};

// The locale the list uses: the system's, unless that is the plain C/POSIX
// locale (which groups no digits), then the interface language's.
QLocale DisplayLocale();

// The text a value shows in the list; sizeColumn marks the "size" column.
QString DisplayText(const Variant& value, bool sizeColumn, const TDisplayOptions& options);
// The text copy keeps (the Variant's own conversion).
QString RawText(const Variant& value);
// Numbers are right-aligned.
bool IsNumber(const Variant& value);
// A byte count as "512 B", "1.5 KiB", "3.2 GiB" (one decimal from KiB on).
QString HumanSize(int64_t bytes, const QLocale& locale);
// A date-time as "yyyy-MM-dd hh:mm:ss".
QString FullDateTime(double dateTime);

}  // namespace corvane
