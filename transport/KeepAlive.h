#pragma once

// Dead-link detection without a byte of protocol: TCP keep-alive with short timings on the
// connected socket, and a bound on how long sent data may go unacknowledged, so that a pulled
// cable or a switcher that lost power is noticed within about ten seconds even while the
// panel itself is silent or has a command in flight. The switcher sees no extra messages.

#include <chrono>

class QAbstractSocket;

namespace KeepAlive {

inline constexpr std::chrono::seconds kIdle{5};     // quiet time before the first probe
inline constexpr std::chrono::seconds kInterval{1}; // between unanswered probes
inline constexpr int kProbes = 5;                   // unanswered probes that end the link
// Unacknowledged sent data ends the link after this long (where the platform offers it).
inline constexpr std::chrono::milliseconds kUserTimeout{10000};

// Turns keep-alive on for a connected socket, with the short timings where the platform lets
// us set them (Linux, macOS, Windows); elsewhere with the system's own timings. False when the
// socket has no descriptor or a timing could not be set.
bool Enable(QAbstractSocket &socket);

} // namespace KeepAlive
