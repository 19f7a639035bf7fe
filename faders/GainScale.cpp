#include "faders/GainScale.h"

#include <cstdlib>

// Placeholder until the exact scale lands.
namespace GainScale {
qint16 GainOfPosition(int position) { return static_cast<qint16>(std::abs(position)); }
QString DbText(qint16 gain) {
    if (gain <= 24)
        return QStringLiteral("Off");
    return QString::number((gain - 1024) / 10.0) + QStringLiteral("db");
}
QString GainCaption(qint16 gain) { return QStringLiteral("Gain (") + DbText(gain) + ')'; }
QString ChanCaption(qint16 channel) { return QStringLiteral("Ch. ") + QString::number(channel + 1); }
} // namespace GainScale
