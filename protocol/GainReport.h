#pragma once

#include <QByteArray>

namespace TCPComm {

// Decodes one complete gain report (E3 through EOM) into the gain tables, the crosspoint
// gains, the history and the message counters, then refreshes the faders. A bad message ends
// the decode silently; what was applied before the fault stays applied.
void ReceiveGain(QByteArray message);

} // namespace TCPComm
