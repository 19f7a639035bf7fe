#pragma once

// The crosspoint map (F6): decoding it to a value, storing that value in the tables, and the
// two together as the receive path runs them.

#include "protocol/DecodedMessage.h"
#include "protocol/ProtocolHost.h"
#include "protocol/SwitcherTables.h"

#include <QByteArray>

namespace TCPComm {

// Reads a complete crosspoint map block by block. Pure.
Decoded::CrosspointMapReport DecodeCrosspointMap(const QByteArray &message);

// Replaces the udtXpt records of the map's storable outputs. Entries of sources outside
// 0..1023 count in bCount but are not kept.
void ApplyCrosspointMap(const Decoded::CrosspointMapReport &map, SwitcherTables &tables);

// Decodes one complete crosspoint map, replaces the udtXpt records of the outputs it names and
// tells the host which outputs those were. A bad message changes nothing, except that the store
// stops at the first output beyond the table.
void ProcessCrosspointMap(QByteArray message, SwitcherTables &tables, ProtocolHost &host);

} // namespace TCPComm
