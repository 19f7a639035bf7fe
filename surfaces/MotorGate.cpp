#include "surfaces/MotorGate.h"

namespace Midi {

void MotorGate::noteInput(qint64 now) {
    lastInput_ = now;
    // Wherever the hand left the control, it need not be where the panel is: send the panel's
    // position once the hand is off, even if it was sent before.
    sent_.reset();
}

std::optional<int> MotorGate::due(qint64 now) {
    if (!pending() || touched_ || (lastInput_ && now - *lastInput_ < kHandMs))
        return std::nullopt;
    sent_ = latest_;
    return latest_;
}

std::optional<qint64> MotorGate::nextCheck() const {
    if (!pending() || touched_ || !lastInput_)
        return std::nullopt;
    return *lastInput_ + kHandMs;
}

} // namespace Midi
