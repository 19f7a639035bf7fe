#pragma once

// The protocol routines fail silently: they end at once, keep what they already did and
// tell no caller. Each keeps a fixed reason text, never shown to the user, so that a failure
// can still be told apart from a message that was simply ignored (tests read it).

#include <QString>

namespace TCPComm {

inline constexpr char kErrProcessCommand[] = "Error Processing Command";
inline constexpr char kErrReceiveGain[] = "Error Receiving Gain";
inline constexpr char kErrCrosspointMap[] = "Error Processing Crosspoint Map";

// The reason of the most recent silent failure, or an empty text when none happened since
// the last ClearLastFailure().
QString LastFailure();
void ClearLastFailure();
void NoteFailure(const char *reason);

} // namespace TCPComm
