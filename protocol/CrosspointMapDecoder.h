#pragma once

#include "protocol/ProtocolHost.h"
#include "protocol/SwitcherTables.h"

#include <QByteArray>

namespace TCPComm {

// Decodes one complete crosspoint map (F6 through EOM), replaces the udtXpt records of the
// outputs it names and tells the host which outputs those were. A bad message changes nothing,
// except that the store stops at the first output beyond the table.
void ProcessCrosspointMap(QByteArray message, SwitcherTables &tables, ProtocolHost &host);

} // namespace TCPComm
