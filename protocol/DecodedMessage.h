#pragma once

// What a message from the switcher says, as plain values: the decoders turn a cut message into
// one of these, or into a refusal that names the rule the message broke and how far reading got
// before it. Nothing here touches the tables; storing a decoded message is a separate step
// (ApplyGainReport, ApplyCrosspointMap), so that the traffic log can read the same verdict the
// tables get without any of its effects.

#include "protocol/SwitcherTables.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>
#include <optional>

namespace Decoded {

// Why a message was refused. The order is the order in which the decoders check.
enum class Rule {
    NoEom,             // the bytes do not end in the EOM (only ever from a partial message)
    BadChecksum,       // the checksum byte does not match the body (also: too short to hold one)
    UnreadableHeader,  // a count or first channel cannot be read as a 16-bit field
    NoEntries,         // a count of 0
    ChannelsPastRange, // first channel + count runs past 32767
    TooManySources,    // a map block lists more than 255 sources
    UnreadableEntry,   // an entry cannot be read as 16-bit fields
    SlotsFull,         // a map block's 65th entry names a source in range: no slot is left
    WrongLength,       // the message is not as long as its counts say
    BeyondTables,      // a channel or output past the tables (1025 and up, or negative)
    GreetingLength,    // a greeting of other than 4 or 5 bytes
    GreetingMagic,     // a greeting whose second byte is not the greeting's
};

struct Refusal {
    Rule rule = Rule::BadChecksum;
    qsizetype length = 0; // the message's length in bytes
    qint64 expected = -1; // WrongLength: the length its counts call for; -1 when not known
    int at = -1;          // the entry, block or 0-based channel the rule concerns
    int count = 0;        // TooManySources: the count given
    quint8 found = 0;     // BadChecksum and GreetingMagic: the byte found
    quint8 wanted = 0;    // and the byte expected
};

// A gain report (E3), or the panel's own set-gain command, which has the same layout.
struct GainReport {
    quint8 kind = 0;
    qint16 first = 0; // the first channel, or for kind 10 the output (0-based)
    // Every entry read, in order, up to the first fault. Kind 10 entries are (output, source);
    // others carry their channel. bKind, iValue, iChannel and iSource as in the history.
    QList<GainEntry> entries;
    // How many of the entries the tables take: all of them for an accepted report, those before
    // the first channel past the tables for a report refused for BeyondTables, otherwise none.
    qsizetype storable = 0;
    std::optional<Refusal> refusal;

    bool accepted() const { return !refusal; }
};

// One output's block of a crosspoint map.
struct MapSource {
    int slot = 0;      // the entry's place in its block, which is its slot in the table
    qint16 source = 0; // 0-based source
    qint16 gain = 0;
};
struct MapBlock {
    int count = 0;            // the sources the block gives, 0..255
    quint8 info = 0;          // the block's uninterpreted byte
    QList<MapSource> sources; // those in range (0..1023); not read for outputs from 1024 up
};

// A crosspoint map (F6): blocks for outputs first, first + 1, ...
struct CrosspointMapReport {
    qint16 first = 0;
    int outputs = 0;        // the count of blocks the header gives
    QList<MapBlock> blocks; // those read, in order
    // How many blocks the tables take: all for an accepted map, those before the first output
    // past the tables for a map refused for BeyondTables, otherwise none.
    qsizetype storable = 0;
    std::optional<Refusal> refusal;

    bool accepted() const { return !refusal; }
};

// A greeting (81 64 [x] cs FF).
struct Greeting {
    std::optional<Refusal> refusal;

    bool accepted() const { return !refusal; }
};

} // namespace Decoded

namespace Decoded {

// The checks every framed message passes first: it ends in the EOM, and its checksum byte
// matches its body (a message too short to hold one fails). Empty when both hold.
std::optional<Refusal> CheckFraming(const QByteArray &message);

} // namespace Decoded
