#pragma once

// The switcher side's own view of the wire: byte classes, 14-bit fields, the checksum and
// the framing. Kept apart from the panel's helpers on purpose, so that a mistake on one
// side shows up as a disagreement with the other instead of cancelling out.

#include <QByteArray>
#include <QtGlobal>

namespace SimWire {

inline constexpr quint8 kStatusBit = 0x80;
inline constexpr quint8 kDataMask = 0x7F;
inline constexpr quint8 kEom = 0xFF;

inline constexpr quint8 kGreeting = 0x81;
inline constexpr quint8 kGain = 0xE3; // gain report and set-gain command share the layout
inline constexpr quint8 kSysF1 = 0xF1;
inline constexpr quint8 kInfoRequest = 0xF2;
inline constexpr quint8 kSysF3 = 0xF3;
inline constexpr quint8 kPingAnswer = 0xF4;
inline constexpr quint8 kPing = 0xF5;
inline constexpr quint8 kCrosspointMap = 0xF6;

// Greeting: 81 64 [extra] checksum FF. The panel's reply is the fixed 81 96 16 FF, whose
// second byte breaks the byte classes.
inline constexpr quint8 kGreetingMagic = 100;
inline constexpr quint8 kGreetingReplyByte = 0x96;

// Gain message kinds.
inline constexpr int kKindInputSecond = 0;
inline constexpr int kKindInput = 1;
inline constexpr int kKindOutputSecond = 2;
inline constexpr int kKindOutput = 3;
inline constexpr int kKindCrosspoint = 10;

// What the second byte of each message carries. The panel sends 02 in its commands; the
// switcher sends 00 in reports and maps.
inline constexpr quint8 kCommandSpare = 0x02;
inline constexpr quint8 kReportSpare = 0x00;

// Gain scale: 1024 is 0 dB, one unit is 0.1 dB, 24 and below is Off, 1264 is +24 dB.
inline constexpr int kGainZeroDb = 1024;
inline constexpr int kGainOff = 24;
inline constexpr int kGainMax = 1264;

inline constexpr int kMax14 = 16383;
// Information request: 13 bytes, six 7-bit selector groups then four zero bytes.
inline constexpr int kInfoRequestLength = 13;
inline constexpr int kInfoSelectorGroups = 6;

constexpr bool isStatus(quint8 b) {
    return (b & kStatusBit) != 0;
}
constexpr bool isOneByteMessage(quint8 b) {
    return b == kSysF1 || b == kSysF3 || b == kPingAnswer || b == kPing;
}

// Sum of every byte after the first, modulo 128.
quint8 checksum(const QByteArray &statusAndData);

// Two data bytes, low 7 bits first. value must lie in 0..16383.
void append14(QByteArray &data, int value);

// hi * 128 + lo for two data bytes (each below 0x80).
constexpr int join14(quint8 lo, quint8 hi) {
    return (hi & kDataMask) * 128 + (lo & kDataMask);
}

// status + data + checksum + EOM.
QByteArray frame(quint8 status, const QByteArray &data);

// "E3 02 01 ..." for the trace and test messages.
QString hex(const QByteArray &bytes);

} // namespace SimWire
