#pragma once

// The gain report (E3): decoding it to a value, storing that value in the tables, and the two
// together as the receive path runs them.

#include "protocol/DecodedMessage.h"
#include "protocol/ProtocolHost.h"
#include "protocol/StoredGains.h"
#include "protocol/SwitcherTables.h"

#include <QByteArray>
#include <QList>

namespace TCPComm {

// Reads a complete gain report (or set-gain command, which has the same layout). Pure.
Decoded::GainReport DecodeGainReport(const QByteArray &message);

// What storing a report did.
struct GainsApplied {
    StoredGains stored;    // the entries the tables took
    QList<int> counted;    // counters counted up, in order
    bool complete = false; // every entry was stored: the report is done and the faders may follow
};

// Stores a decoded report: kind 10 entries go to the history as read (even those of a refused
// report); the storable entries go to the gain tables or, for kind 10, to the crosspoint gains
// of the outputs' maps, counting the watched crosspoints. Stops at an entry whose map claims
// more sources than it has slots for.
GainsApplied ApplyGainReport(const Decoded::GainReport &report, SwitcherTables &tables);

// Decodes one complete gain report into the tables, the crosspoint gains, the history and the
// message counters, then tells the host what was stored. A bad message ends the decode
// silently; what was applied before the fault stays applied.
void ReceiveGain(QByteArray message, SwitcherTables &tables, ProtocolHost &host);

} // namespace TCPComm
