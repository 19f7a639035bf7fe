#pragma once

namespace TCPComm {

// The serial port's quick pass over sBuffer after each received batch: drops leading data
// bytes and stray one-byte messages, and decodes a complete gain report at the front at once.
// Everything else it leaves to the dispatcher, or strips down to its status byte.
void DecodeMessage();

} // namespace TCPComm
