#pragma once

// The one fader scale: positions, gain values, dB texts and captions.

#include "protocol/GainText.h"

#include <QString>
#include <QtGlobal>

namespace GainScale {

inline constexpr int kTopPosition = -1264;  // +24.0 dB
inline constexpr int kBottomPosition = -24; // Off
inline constexpr int kZeroDbPosition = -1024;
inline constexpr qint16 kZeroDbGain = GainText::kZeroDbGain;
inline constexpr qint16 kOffGain = -kBottomPosition; // the bottom of the fader
inline constexpr qint16 kTopGain = -kTopPosition;    // +24 dB

// Gain value of a slider position: its magnitude.
qint16 GainOfPosition(int position);

// "Gain (" + dB text + ")".
QString GainCaption(qint16 gain);

// "Ch. " + (0-based channel + 1).
QString ChanCaption(qint16 channel);

// The slider position that shows gain: -gain, or the nearest end of the fader for a gain the
// fader cannot show (0 for a channel never reported, up to 16383 in a report).
int PositionOfGain(qint16 gain);

} // namespace GainScale
