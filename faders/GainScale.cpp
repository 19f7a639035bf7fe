#include "faders/GainScale.h"

#include "protocol/GainText.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace GainScale {

qint16 GainOfPosition(int position) {
    // Positions on the fader are -1264..-24; anything wider is clamped to what 16 bits hold.
    const long long magnitude = std::llabs(static_cast<long long>(position));
    return static_cast<qint16>(std::min<long long>(magnitude, std::numeric_limits<qint16>::max()));
}

QString GainCaption(qint16 gain) {
    return QStringLiteral("Gain (") + GainText::DbText(gain) + QLatin1Char(')');
}

QString ChanCaption(qint16 channel) {
    return QStringLiteral("Ch. ") + QString::number(static_cast<int>(channel) + 1);
}

int PositionOfGain(qint16 gain) {
    return std::clamp(-static_cast<int>(gain), kTopPosition, kBottomPosition);
}

} // namespace GainScale
