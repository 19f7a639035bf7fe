#pragma once

// Cuts messages off the front of sBuffer and hands them to their decoders.

namespace TCPComm {

// One step over the front of sBuffer: drops a byte, answers or drops a one-byte system
// message, or cuts one framed message and decodes it. Never waits.
void ProcessCommand();

// The tmrDecode tick: stops the timer when there is nothing (more) to do, otherwise runs
// dispatcher steps for a short time budget.
void DecodeTick();

} // namespace TCPComm
