#pragma once

// The switcher protocol's fixed bytes and limits, named once for every sender and decoder.

#include <QtGlobal>
#include <chrono>

namespace WireFormat {

// Byte classes: bit 7 set starts a message, bit 7 clear carries 7 bits of data.
inline constexpr quint8 kStatusBit = 0x80;
inline constexpr quint8 kDataMask = 0x7F;
inline constexpr int kBitsPerGroup = 7;
inline constexpr quint8 kEom = 0xFF;

// Status bytes.
inline constexpr quint8 kGreeting = 0x81;
inline constexpr quint8 kGainReport = 0xE3; // also the panel's set-gain command
inline constexpr quint8 kSystemF1 = 0xF1;   // one byte, dropped
inline constexpr quint8 kInfoRequest = 0xF2;
inline constexpr quint8 kSystemF3 = 0xF3; // one byte, dropped
inline constexpr quint8 kPong = 0xF4;     // our one-byte answer to kPing; dropped on receipt
inline constexpr quint8 kPing = 0xF5;
inline constexpr quint8 kCrosspointMap = 0xF6;

// A framed message is status byte, data, checksum and EOM: the two trailing bytes are not
// part of the checksummed body.
inline constexpr int kTrailerBytes = 2;

// Greeting from the switcher (81 64 [x] cs FF) and the panel's fixed reply. The reply's
// second byte has bit 7 set where a data byte would stand; it is sent exactly so.
inline constexpr quint8 kGreetingMagic = 100;
inline constexpr int kGreetingShortLength = 4;
inline constexpr int kGreetingLongLength = 5;
inline constexpr char kGreetingReply[] = {'\x81', '\x96', '\x16', '\xFF'};
// The switcher needs time to settle after the reply before it takes the request.
inline constexpr std::chrono::milliseconds kGreetingHold{100};

// Information request: F2, six 7-bit groups of the selector, four zero bytes, checksum, EOM.
inline constexpr qint32 kInfoSelector = 0x8080;
inline constexpr int kInfoSelectorGroups = 6;
inline constexpr int kInfoPaddingBytes = 4;

// Gain report (and set-gain command) header: E3 x kind N(2) first-channel(2).
inline constexpr int kGainKindPos = 3;
inline constexpr int kGainCountPos = 4;
inline constexpr int kGainFirstPos = 6;
inline constexpr int kGainEntriesPos = 8;
inline constexpr int kGainFixedLength = 9; // header, checksum and EOM around the entries
inline constexpr int kChannelEntryBytes = 2;
inline constexpr int kCrosspointEntryBytes = 4;
inline constexpr quint8 kKindInputSecond = 0;
inline constexpr quint8 kKindInput = 1;
inline constexpr quint8 kKindOutputSecond = 2;
inline constexpr quint8 kKindOutput = 3;
inline constexpr quint8 kKindCrosspoint = 10;
// Source channels in crosspoint gain entries are clamped to this.
inline constexpr qint16 kMaxReportedSource = 2024;

// Crosspoint map: F6 x N(2) first-output(2), then N blocks of n(2) info(1) n*(source, gain).
inline constexpr int kMapCountPos = 3;
inline constexpr int kMapFirstPos = 5;
inline constexpr int kMapBlocksPos = 7;
inline constexpr int kMapFixedLength = 8;
inline constexpr int kMapBlockHeaderBytes = 3;
inline constexpr int kMapEntryBytes = 4;
inline constexpr int kMapMaxEntries = 255; // the entry count is stored in a byte

// Receive side. A status byte whose EOM has not arrived while sBuffer already holds more
// than this is taken for junk and dropped. The longest meaningful message, a crosspoint map
// of all 1025 outputs with 255 sources each, is about 1 MiB; twice that leaves room for a
// complete map queued behind a partly received one, and keeps a switcher that never sends
// an EOM from growing the buffer without limit.
inline constexpr qsizetype kMaxPendingBytes = 2 * 1024 * 1024;

// How long one tmrDecode tick may keep running dispatcher steps: well under the 1 ms tick,
// so that user input and repaints keep being served while a backlog drains.
inline constexpr std::chrono::microseconds kDecodeTickBudget{500};

} // namespace WireFormat
