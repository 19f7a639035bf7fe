#include "protocol/Dispatcher.h"

// Placeholder until the dispatcher lands.
namespace TCPComm {
void ProcessCommand() {}
void DecodeTick() {}
} // namespace TCPComm
