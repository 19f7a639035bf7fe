#pragma once

// How the links move received bytes into the receive buffer without letting a switcher that
// sends faster than the panel decodes grow memory without limit.
//
// Each link device keeps at most kDeviceReadBufferBytes of its own, and the links take bytes
// from their device only while sBuffer holds less than kMaxBufferedBytes. Bytes beyond that
// stay with the operating system, whose flow control (the TCP window, the tty buffer) then
// slows the sender down; the link looks again after kReadRetryDelay, once the decode timer
// has drained some of the buffer. Nothing is dropped on the way: every byte the peer sent
// reaches sBuffer, in order.

#include "protocol/ReceiveBuffer.h"
#include "protocol/WireFormat.h"

#include <QtGlobal>
#include <chrono>

class QIODevice;

namespace LinkInput {

// Upper bound of sBuffer as filled by the links. The largest meaningful message (a crosspoint
// map of every output, about 1 MiB) fits several times over, and the bound lies above the
// point where the dispatcher starts discarding a message whose EOM never came, so the
// dispatcher always makes progress on a full buffer.
inline constexpr qsizetype kMaxBufferedBytes = 4 * 1024 * 1024;
static_assert(kMaxBufferedBytes > WireFormat::kMaxPendingBytes,
              "a full buffer must be one the dispatcher can drain");

// What each link device may hold before the operating system has to keep the rest.
inline constexpr qint64 kDeviceReadBufferBytes = 64 * 1024;

// When bytes stay waiting in a device because sBuffer is full, the link looks again this
// much later (no new bytes arrive to announce themselves while the device buffer is full).
inline constexpr std::chrono::milliseconds kReadRetryDelay{2};

// Moves the bytes waiting in the device to the end of buffer, as far as kMaxBufferedBytes
// allows; close to the bound, only once a whole device buffer (or all that waits) fits.
// Returns the number of bytes moved.
qint64 TakeIntoBuffer(QIODevice &device, ReceiveBuffer &buffer);

} // namespace LinkInput
