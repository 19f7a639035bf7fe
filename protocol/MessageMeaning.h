#pragma once

// What a message of the switcher protocol means, in an engineer's words, for the traffic log
// and the trace. A message is read as the panel's decoders read it, without their effects, and
// the words say when they would reject it (bad checksum, wrong length). Channels and outputs
// count from 1, as the user counts them; gains read as the faders' captions do.
//
// Any bytes at all give a description: the link only ever hands over what its frame cutter
// cut, but nothing here relies on that.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace MessageMeaning {

enum class Direction {
    ToSwitcher,   // written by the panel
    FromSwitcher, // cut from the receive buffer
};

// At most this many bytes of a message are shown in hex; a crosspoint map of every output
// would otherwise make one line of megabytes.
inline constexpr qsizetype kHexBytesShown = 512;
// Values are listed one by one up to this many; beyond, only the channels are named.
inline constexpr int kValuesListed = 4;

// "set input 1 gain 1054 (+3db)", "gain report: inputs 1-2 gains 1024 (0db), 964 (-6db)",
// "greeting", "ping", "crosspoint map: outputs 1-16", "gain report, bad checksum 7E, expected
// 7D", and so on.
QString Describe(const QByteArray &message, Direction direction);

// A run of data bytes that started no message: "junk, 3 bytes", "junk, 1 byte".
QString DescribeJunk(qint64 count);

// The bytes in upper-case hex, one space between them: "E3 02 01". Of more than
// kHexBytesShown bytes (or when total says the bytes are only the first of more), the first
// are shown and then " ... (N bytes)".
QString Hex(const QByteArray &bytes, qint64 total = -1);

// A count with group separators, as the log's words use it: "12,345".
QString Count(qint64 n);

} // namespace MessageMeaning
