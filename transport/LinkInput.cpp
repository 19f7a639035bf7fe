#include "transport/LinkInput.h"

#include "app/Variables.h"

#include <QAbstractSocket>
#include <QIODevice>
#include <QSerialPort>
#include <QTimer>
#include <algorithm>

namespace LinkInput {

qint64 TakeIntoBuffer(QIODevice &device) {
    qint64 taken = 0;
    for (;;) {
        const qint64 room = kMaxBufferedBytes - Variables::sBuffer.size();
        const qint64 waiting = device.bytesAvailable();
        // Near the bound, wait until a whole device buffer fits rather than take a few bytes
        // at a time: each small read would only let the device fetch a few more.
        if (waiting <= 0 || room < std::min(waiting, kDeviceReadBufferBytes))
            break;
        const QByteArray chunk = device.read(std::min(room, waiting));
        if (chunk.isEmpty())
            break;
        Variables::sBuffer.append(chunk);
        taken += chunk.size();
    }
    return taken;
}

namespace {

QTimer *MakeRetryTimer(QObject *device) {
    auto *retry = new QTimer(device);
    retry->setObjectName(QStringLiteral("readRetry"));
    retry->setSingleShot(true);
    retry->setInterval(kReadRetryDelay);
    return retry;
}

} // namespace

QTimer *PrepareDevice(QAbstractSocket &socket) {
    socket.setReadBufferSize(kDeviceReadBufferBytes);
    return MakeRetryTimer(&socket);
}

QTimer *PrepareDevice(QSerialPort &port) {
    port.setReadBufferSize(kDeviceReadBufferBytes);
    return MakeRetryTimer(&port);
}

} // namespace LinkInput
