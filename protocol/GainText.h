#pragma once

// What a gain value reads as: the one rule for the faders' captions and for every other place
// that shows a gain in words. A gain value is a number in units of 0.1 dB, 1024 being 0 dB.

#include <QString>
#include <QtGlobal>

namespace GainText {

inline constexpr qint16 kZeroDbGain = 1024;
inline constexpr double kUnitsPerDb = 10.0;

// "+2.5db", "0db", "-10db", "Off" (24 and below), with the user's decimal separator.
QString DbText(qint16 gain);

} // namespace GainText
