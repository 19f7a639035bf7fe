#include "transport/LinkInput.h"

#include "app/Variables.h"

#include <QIODevice>
#include <algorithm>

namespace LinkInput {

qint64 TakeIntoBuffer(QIODevice &device) {
    qint64 taken = 0;
    for (;;) {
        const qint64 room = kMaxBufferedBytes - Variables::sBuffer.size();
        const qint64 waiting = device.bytesAvailable();
        if (room <= 0 || waiting <= 0)
            break;
        const QByteArray chunk = device.read(std::min(room, waiting));
        if (chunk.isEmpty())
            break;
        Variables::sBuffer.append(chunk);
        taken += chunk.size();
    }
    return taken;
}

} // namespace LinkInput
