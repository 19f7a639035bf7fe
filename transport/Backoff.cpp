#include "transport/Backoff.h"

#include <algorithm>
#include <cmath>

namespace Backoff {

std::chrono::milliseconds RetryDelay(int retry, double spread) {
    // Past a few doublings the longest delay is reached; the shift stays small.
    const int doublings = std::clamp(retry, 0, 8);
    const auto base = std::min(kFirstRetry * (1 << doublings), kLongestRetry);
    const double factor = 1.0 + kJitter * std::clamp(spread, -1.0, 1.0);
    return std::chrono::milliseconds(std::llround(double(base.count()) * factor));
}

} // namespace Backoff
