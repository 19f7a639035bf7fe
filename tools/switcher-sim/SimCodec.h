#pragma once

// Switcher-side encoder and decoder of every message on the link, from either direction.
// A decoded message is a plain record; encode() turns the same record back into bytes.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

namespace SimCodec {

// One source feeding an output, with its gain (crosspoint maps and kind-10 messages).
struct Crosspoint {
    int source = 0; // 0-based input
    int gain = 0;
    bool operator==(const Crosspoint &) const = default;
};

// One output's block of a crosspoint map.
struct MapBlock {
    quint8 info = 0; // carried along, not interpreted by anyone
    QList<Crosspoint> sources;
    bool operator==(const MapBlock &) const = default;
};

struct Message {
    enum class Type {
        Invalid,       // framing, checksum or layout wrong: see error
        Greeting,      // 81 64 [extra] cs FF
        GreetingReply, // 81 96 16 FF
        InfoRequest,   // F2, selector
        Gain,          // E3: set-gain command or gain report
        CrosspointMap, // F6
        Ping,          // F5
        PingAnswer,    // F4
        OtherOneByte,  // F1, F3
        Unknown,       // any other framed status byte
    };
    Type type = Type::Invalid;
    quint8 status = 0;
    quint8 spare = 0;       // the unexamined second byte of E3 / F6 messages
    int greetingExtra = -1; // the 5-byte greeting's third byte, -1 for the short form
    qint64 selector = 0;    // InfoRequest
    int kind = 0;           // Gain
    int first = 0;          // Gain: first channel (the output for kind 10); map: first output
    QList<int> values;      // Gain, kinds other than 10: channel first + k
    QList<Crosspoint> crosspoints; // Gain, kind 10 (gain first on the wire, then source)
    QList<MapBlock> blocks;        // CrosspointMap: output first + j
    QString error;                 // Invalid: why
};

// Every field must lie in 0..16383 (counts, channels, gains); encode asserts it.
QByteArray encode(const Message &m);

// Whole message as the framer cut it, status byte through EOM (or one byte).
Message decode(const QByteArray &bytes);

// Builders for the messages the switcher sends.
Message greeting();
Message ping();
Message gainReport(int kind, int first, const QList<int> &values);
Message crosspointReport(int output, const QList<Crosspoint> &entries);
Message crosspointMap(int firstOutput, const QList<MapBlock> &blocks);
// The panel's side, for tests and for checking the decoder against the panel's bytes.
Message infoRequest(qint64 selector);
Message setGain(int kind, int first, const QList<int> &values);
Message setCrosspointGain(int output, const QList<Crosspoint> &entries);

} // namespace SimCodec
