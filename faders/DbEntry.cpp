#include "faders/DbEntry.h"

#include "faders/GainScale.h"

#include <algorithm>
#include <cmath>

namespace DbEntry {

namespace {

constexpr qint64 kUnitsPerDb = 10;
// Far beyond either end of the scale: digits past this no longer change the result.
constexpr qint64 kSaturatedUnits = 100000;

const QChar kMinusSign(0x2212);

// Removes a leading sign from text; true for a minus.
bool takeSign(QString &text, const QLocale &locale) {
    const QString minus[] = {QStringLiteral("-"), QString(kMinusSign), locale.negativeSign()};
    const QString plus[] = {QStringLiteral("+"), locale.positiveSign()};
    for (const QString &sign : minus) {
        if (!sign.isEmpty() && text.startsWith(sign)) {
            text.remove(0, sign.size());
            return true;
        }
    }
    for (const QString &sign : plus) {
        if (!sign.isEmpty() && text.startsWith(sign)) {
            text.remove(0, sign.size());
            break;
        }
    }
    return false;
}

// Where the remaining digits put the value between two steps of 0.1 dB.
enum class Rest { Below, Half, Above };

Rest restOf(const QString &digits) {
    if (digits.isEmpty() || digits[0].digitValue() < 5)
        return Rest::Below;
    if (digits[0].digitValue() > 5)
        return Rest::Above;
    const bool more =
        std::any_of(digits.begin() + 1, digits.end(), [](QChar c) { return c.digitValue() != 0; });
    return more ? Rest::Above : Rest::Half;
}

} // namespace

std::optional<qint16> GainOfText(const QString &typed, const QLocale &locale) {
    QString text = typed.trimmed();
    if (text.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0)
        return GainScale::GainOfPosition(GainScale::kBottomPosition);
    if (text.endsWith(QLatin1String("db"), Qt::CaseInsensitive)) {
        text.chop(2);
        text = text.trimmed();
    }
    const bool negative = takeSign(text, locale);

    // Whole digits, then at most one separator and the decimals; exact decimal arithmetic, so
    // that a tie is a tie whatever binary floating point would make of it.
    const QString separator = locale.decimalPoint();
    qint64 units = 0; // whole dB and the first decimal, in 0.1 dB
    QString decimals;
    bool inDecimals = false;
    bool anyDigit = false;
    for (qsizetype k = 0; k < text.size(); ++k) {
        const QChar c = text[k];
        if (c.isDigit()) {
            anyDigit = true;
            if (inDecimals)
                decimals += c;
            else
                units = std::min(units * 10 + c.digitValue(), kSaturatedUnits);
            continue;
        }
        if (inDecimals)
            return std::nullopt;
        if (c == QLatin1Char('.')) {
            inDecimals = true;
        } else if (!separator.isEmpty() && text.mid(k).startsWith(separator)) {
            inDecimals = true;
            k += separator.size() - 1;
        } else {
            return std::nullopt;
        }
    }
    if (!anyDigit)
        return std::nullopt;

    units = units * kUnitsPerDb + (decimals.isEmpty() ? 0 : decimals[0].digitValue());
    // Away from zero is louder for a positive value and quieter for a negative one.
    const Rest rest = restOf(decimals.mid(1));
    if (rest == Rest::Above || (rest == Rest::Half && negative))
        ++units;
    const qint64 gain = GainScale::kZeroDbGain + (negative ? -units : units);
    return static_cast<qint16>(
        std::clamp<qint64>(gain, -GainScale::kBottomPosition, -GainScale::kTopPosition));
}

std::optional<qint16> GainOfDb(double db) {
    if (!std::isfinite(db))
        return std::nullopt;
    // Six decimals settle every tie a person could mean; the bound keeps the text short.
    constexpr double kFarBeyond = 1.0e6;
    const QString text = QString::number(std::clamp(db, -kFarBeyond, kFarBeyond), 'f', 6);
    return GainOfText(text, QLocale::c());
}

} // namespace DbEntry
