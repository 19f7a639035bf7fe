#pragma once

// When the next attempt to reach the switcher is due after a lost link or a failed attempt:
// soon at first, then less and less often, with a little jitter so that the panels of a
// studio do not all knock at once when their switcher comes back.

#include <chrono>

namespace Backoff {

inline constexpr std::chrono::milliseconds kFirstRetry{500};
inline constexpr std::chrono::milliseconds kLongestRetry{5000};
// The delay varies by up to this fraction either way.
inline constexpr double kJitter = 0.1;

// Delay before retry number `retry` (0 for the first since the link was last up or the user
// last asked to connect): 0.5 s, doubling up to 5 s. spread, from -1 to 1, picks the jitter.
std::chrono::milliseconds RetryDelay(int retry, double spread);

} // namespace Backoff
