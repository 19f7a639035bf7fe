#pragma once

// Says what stands at the front of the receive buffer, without changing it: the one place
// that knows where a message ends. The dispatcher and the serial port's quick pass both cut
// by it; they differ only in which status bytes count as messages of one byte.

#include "protocol/ReceiveBuffer.h"

#include <QtGlobal>

namespace FrameCutter {

enum class Kind {
    Empty,      // nothing there
    Junk,       // a data byte, which never starts a message
    OneByte,    // a system message of one byte
    Message,    // a status byte through the first EOM in the buffer
    Incomplete, // a status byte whose EOM has not arrived yet
};

struct Front {
    Kind kind = Kind::Empty;
    quint8 status = 0;    // the first byte (for Junk, the data byte)
    qsizetype length = 0; // bytes the front occupies: 1 for Junk and OneByte, the message's
                          // length for Message, 0 otherwise
};

enum class Rules {
    Dispatcher, // F1, F3, F4 and F5 stand alone
    SerialPass, // only F4 and F5 stand alone; F1 and F3 wait for an EOM like any message
};

// The front of buffer under the given rules. A lone EOM (FF) is a complete message of one
// byte. The cut ends at the first EOM even when that joins two messages whose first lost its
// EOM: the decoders reject such a join by checksum or length.
Front LookAtFront(const ReceiveBuffer &buffer, Rules rules = Rules::Dispatcher);

} // namespace FrameCutter
