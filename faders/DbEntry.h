#pragma once

// A gain typed in decibels: which fader position it stands for. The fader moves in steps of
// 0.1 dB from Off (-100 dB) to +24 dB, so a typed value goes to the nearest step.

#include <QLocale>
#include <QString>
#include <QtGlobal>
#include <optional>

namespace DbEntry {

// The gain value (24..1264) of a typed text: a number of dB with an optional sign ("+", "-"
// or the locale's signs) and decimals (the locale's decimal separator or a full stop), or
// "off" in any letter case; surrounding blanks and a trailing "db" in any case are allowed.
// The value goes to the nearest step of the fader, a tie to the quieter one, and a value
// beyond the scale to its nearest end (below -100 dB: Off). Nothing for anything else:
// empty text, a lone sign or separator, group separators, exponents, words.
std::optional<qint16> GainOfText(const QString &text, const QLocale &locale);

// The same rounding for a number of dB (as assistive technology sets a slider's value);
// nothing for NaN and infinities.
std::optional<qint16> GainOfDb(double db);

} // namespace DbEntry
