#include "surfaces/Pickup.h"

#include <cmath>

namespace Midi {

namespace {

// Fractions come from integer positions divided by their travel: a hair of slack keeps a
// distance of exactly 3/128 inside the threshold.
constexpr double kSlack = 1e-9;

} // namespace

bool Pickup::offer(double panel, double value, qint64 now) {
    const std::optional<double> previous = previous_;
    previous_ = value;
    bool pass = mode_ != FaderMode::Pickup || engaged_;
    if (!pass && value <= 0.0 && panel > 0.0)
        return false;
    if (!pass)
        pass = std::abs(value - panel) <= kThreshold + kSlack ||
               (previous && (*previous - panel) * (value - panel) <= 0.0);
    if (pass) {
        engaged_ = true;
        lastAccepted_ = now;
    }
    return pass;
}

void Pickup::panelMoved(qint64 now) {
    if (engaged_ && lastAccepted_ && now - *lastAccepted_ < kHandMs)
        return;
    engaged_ = false;
}

void Pickup::rearm() {
    engaged_ = false;
}

void Pickup::forgetSurface() {
    engaged_ = false;
    previous_.reset();
    lastAccepted_.reset();
}

} // namespace Midi
