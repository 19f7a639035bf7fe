#pragma once

#include "protocol/ProtocolHost.h"
#include "protocol/ReceiveBuffer.h"
#include "protocol/SwitcherTables.h"

namespace TCPComm {

// The serial port's quick pass over sBuffer after each received batch: drops leading data
// bytes and stray one-byte messages, and decodes a complete gain report at the front at once.
// Everything else it leaves to the dispatcher, or strips down to its status byte. It sends
// nothing, not even the answer to a ping.
void DecodeMessage(ReceiveBuffer &sBuffer, SwitcherTables &tables, ProtocolHost &host);

} // namespace TCPComm
