#include "protocol/GainText.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

namespace GainText {

namespace {

// The threshold below which a gain reads "Off", rounded to single precision like the value
// it is compared with, so that g = 25 (-99.9 dB) still shows a number.
constexpr float kOffBelowDb = static_cast<float>(-99.9);
constexpr int kSignificantDigits = 7;

// d printed with at most seven significant digits, fixed notation, no trailing zeros and no
// trailing separator, with the user's decimal separator and no group separators.
QString numberText(float d) {
    if (d == 0.0f)
        return QStringLiteral("0");
    const double value = d;
    const int intDigits = static_cast<int>(std::floor(std::log10(std::fabs(value)))) + 1;
    const int decimals = std::max(0, kSignificantDigits - intDigits);
    // Formatted in the C locale first so that no group separators creep in; only the decimal
    // separator is the user's.
    QString text = QString::number(value, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    if (text == QLatin1String("-0"))
        return QStringLiteral("0");
    return text.replace(QLatin1Char('.'), QLocale().decimalPoint());
}

} // namespace

QString DbText(qint16 gain) {
    const float d = static_cast<float>((static_cast<int>(gain) - kZeroDbGain) / kUnitsPerDb);
    if (d < kOffBelowDb)
        return QStringLiteral("Off");
    const QString number = numberText(d);
    if (d > 0.0f)
        return QLatin1Char('+') + number + QStringLiteral("db");
    return number + QStringLiteral("db");
}

} // namespace GainText
