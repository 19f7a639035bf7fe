#pragma once

// The protocol routines fail silently: they end at once, keep what they already did and tell
// no caller. Each hands its fixed reason text to the host (ProtocolHost::noteFailure), which
// keeps it as the link's last failure; it is never shown as an error message.

inline constexpr char kErrProcessCommand[] = "Error Processing Command";
inline constexpr char kErrReceiveGain[] = "Error Receiving Gain";
inline constexpr char kErrCrosspointMap[] = "Error Processing Crosspoint Map";
