// U_cellText: see U_cellText.h.
#include "ui/U_cellText.h"

#include <cmath>

#include "platform/DateTime.h"

namespace corvane {

QLocale DisplayLocale() {
    QLocale system;
    if (system.language() == QLocale::C) return QLocale(QLocale::Chinese, QLocale::China);
    return system;
}

bool IsNumber(const Variant& value) {
    return value.type() == VarType::Integer || value.type() == VarType::Double;
}

QString HumanSize(int64_t bytes, const QLocale& locale) {
    static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes > -1024 && bytes < 1024)
        return locale.toString(qlonglong(bytes)) + QStringLiteral(" B");
    double value = static_cast<double>(bytes);
    int unit = -1;
    // Rounded to one decimal the value must stay below 1024 in its unit
    // ("1024.0 KiB" is "1.0 MiB").
    while (std::fabs(value) >= 1023.95 && unit + 1 < static_cast<int>(std::size(kUnits))) {
        value /= 1024.0;
        ++unit;
    }
    return locale.toString(value, 'f', 1) + u' ' + QLatin1String(kUnits[unit]);
}

QString FullDateTime(double dateTime) {
    int y, mo, d, h, mi, s, ms;
    DecodeDateTime(dateTime, y, mo, d, h, mi, s, ms);
    return QStringLiteral("%1-%2-%3 %4:%5:%6")
        .arg(y, 4, 10, QLatin1Char('0'))
        .arg(mo, 2, 10, QLatin1Char('0'))
        .arg(d, 2, 10, QLatin1Char('0'))
        .arg(h, 2, 10, QLatin1Char('0'))
        .arg(mi, 2, 10, QLatin1Char('0'))
        .arg(s, 2, 10, QLatin1Char('0'));
}

QString RawText(const Variant& value) {
    std::string text;
    value.AppendString(text);
    return QString::fromStdString(text);
}

QString DisplayText(const Variant& value, bool sizeColumn, const TDisplayOptions& options) {
    switch (value.type()) {
        case VarType::Integer:
            if (sizeColumn && options.humanSizes)
                return HumanSize(value.RawInteger(), options.locale);
            return options.locale.toString(qlonglong(value.RawInteger()));
        case VarType::Double: {
            const double d = value.RawDouble();
            if (!std::isfinite(d)) return RawText(value);
            if (sizeColumn && options.humanSizes && std::fabs(d) < 9.2e18)
                return HumanSize(static_cast<int64_t>(std::llround(d)), options.locale);
            return options.locale.toString(d, 'g', 15);
        }
        case VarType::Date:
            return FullDateTime(value.RawDouble());
        case VarType::Boolean:
            return value.RawBoolean() ? QStringLiteral("是") : QStringLiteral("否");
        default:
            return RawText(value);
    }
}

}  // namespace corvane
