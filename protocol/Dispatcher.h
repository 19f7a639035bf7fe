#pragma once

// Cuts messages off the front of sBuffer and hands them to their decoders.

#include "protocol/ProtocolHost.h"
#include "protocol/ReceiveBuffer.h"
#include "protocol/SwitcherTables.h"

namespace TCPComm {

// One step over the front of sBuffer: drops a junk byte, answers or drops a one-byte system
// message, or cuts one framed message and decodes it. Never waits: an incomplete message at
// the front stays where it is. True when the step removed anything.
bool ProcessCommand(ReceiveBuffer &sBuffer, SwitcherTables &tables, ProtocolHost &host);

// The tmrDecode tick: runs dispatcher steps for a short time budget. True while the timer
// should keep ticking: bytes remain that the next tick can work on. False once the buffer is
// empty or an incomplete message waits at its front (new bytes restart the timer).
bool DecodeTick(ReceiveBuffer &sBuffer, SwitcherTables &tables, ProtocolHost &host);

} // namespace TCPComm
