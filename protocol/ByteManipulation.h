#pragma once

// The 7-bit helpers of the switcher protocol: byte classes, 14-bit fields, the checksum and
// the framing of outgoing messages.

#include "protocol/WireFormat.h"

#include <QByteArray>
#include <QtGlobal>
#include <optional>

namespace ByteManipulation {

// hi * 128 + lo, as the 16-bit signed number the protocol works in. Empty when the result
// does not fit (only possible when hi is 0x80 or more); decoders treat that as a bad message.
std::optional<qint16> Join7Bit(quint8 lo, quint8 hi);

// True for 0x80..0xFF: a byte that starts a message (0xFF, the EOM, included).
constexpr bool IsStatusByte(quint8 b) {
    return (b & WireFormat::kStatusBit) != 0;
}

// Sum of every byte after the first, kept to 7 bits (0..127). Pass the message without its
// checksum and EOM; a string of zero or one byte gives 0.
qint16 CalcChecksum(const QByteArray &s);

// True when a received framed message (status byte through EOM) carries the checksum of
// its body in its last-but-one byte. A message shorter than its two trailing bytes fails.
bool ChecksumMatches(const QByteArray &message);

// The 14-bit field at the 1-based position pos of a received message (low byte at pos, high
// byte at pos + 1). Empty when the message is too short or the value does not fit 16 bits.
std::optional<qint16> Read14(const QByteArray &message, qsizetype pos);

// Appends value as `groups` 7-bit data bytes, least significant first. Group g is value
// divided by 2^(7g), truncated toward zero, masked to 7 bits.
void Append7BitGroups(QByteArray &data, qint64 value, int groups);

// Appends a 14-bit number as two data bytes, low 7 bits first.
inline void Append14(QByteArray &data, int value) {
    Append7BitGroups(data, value, 2);
}

// A complete framed message: the status byte, the data bytes (each masked to 7 bits), their
// checksum and the EOM.
QByteArray BuildMessage(quint8 status, const QByteArray &data);

} // namespace ByteManipulation
