#include "transport/LinkInput.h"

#include <QIODevice>
#include <algorithm>

namespace LinkInput {

qint64 TakeIntoBuffer(QIODevice &device, ReceiveBuffer &buffer) {
    qint64 taken = 0;
    for (;;) {
        const qint64 room = kMaxBufferedBytes - buffer.size();
        const qint64 waiting = device.bytesAvailable();
        // Near the bound, wait until a whole device buffer fits rather than take a few bytes
        // at a time: each small read would only let the device fetch a few more.
        if (waiting <= 0 || room < std::min(waiting, kDeviceReadBufferBytes))
            break;
        const QByteArray chunk = device.read(std::min(room, waiting));
        if (chunk.isEmpty())
            break;
        buffer.append(chunk);
        taken += chunk.size();
    }
    return taken;
}

} // namespace LinkInput
