#pragma once

#include "protocol/ProtocolHost.h"
#include "protocol/SwitcherTables.h"

#include <QByteArray>

namespace TCPComm {

// Decodes one complete gain report (E3 through EOM) into the gain tables, the crosspoint
// gains, the history and the message counters, then tells the host that gains were reported.
// A bad message ends the decode silently; what was applied before the fault stays applied.
void ReceiveGain(QByteArray message, SwitcherTables &tables, ProtocolHost &host);

} // namespace TCPComm
