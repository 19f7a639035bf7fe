#include "transport/TcpLink.h"

#include "app/Variables.h"
#include "protocol/Dispatcher.h"
#include "protocol/Failure.h"
#include "protocol/Seams.h"
#include "transport/LinkInput.h"

#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QScopedValueRollback>
#include <QStringList>
#include <QTcpSocket>
#include <QTimer>
#include <optional>

namespace TCPComm {

namespace {

struct Link {
    QPointer<QTcpSocket> socket;
    QPointer<QTimer> readRetry; // single-shot, owned by the socket
    QList<QMetaObject::Connection> connections;
    bool closingOurselves = false; // our own close must not count as the switcher's
    bool peerClosed = false;       // closed by the switcher; close once everything is read
    qint64 bytesReceived = 0;
};

Link &link() {
    static Link instance;
    return instance;
}

constexpr int kIPv4Parts = 4;
constexpr int kMaxPartDigits = 3;
constexpr int kMaxPartValue = 255;

// Only the dotted form a.b.c.d with decimal parts 0..255 is an address here: no host names,
// no shortened or hexadecimal forms, no blanks; leading zeros read as decimal.
std::optional<QHostAddress> ParseDottedIPv4(const QString &text) {
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != kIPv4Parts)
        return std::nullopt;
    quint32 address = 0;
    for (const QString &part : parts) {
        if (part.isEmpty() || part.size() > kMaxPartDigits)
            return std::nullopt;
        for (const QChar c : part)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return std::nullopt;
        const int value = part.toInt();
        if (value > kMaxPartValue)
            return std::nullopt;
        address = (address << 8) | static_cast<quint32>(value);
    }
    return QHostAddress(address);
}

void SetCaption(const QString &caption) {
    if (seams().setConnectCaption)
        seams().setConnectCaption(caption);
}

// Ends the connection or attempt, if any. close() lets bytes already handed to the socket
// go out first; abort() drops them and frees the socket at once for a new attempt. Closing
// a socket that is not connected does nothing.
void EndConnection(bool abort) {
    Link &l = link();
    if (l.readRetry)
        l.readRetry->stop();
    l.peerClosed = false;
    if (!l.socket)
        return;
    const QScopedValueRollback guard(l.closingOurselves, true);
    if (abort)
        l.socket->abort();
    else
        l.socket->close();
}

// The send hook: the whole message goes to the socket and on to the operating system
// before this returns, so that it is on the wire without waiting for the event loop.
void WriteToSwitcher(const QByteArray &message) {
    QTcpSocket *socket = link().socket;
    if (!socket || socket->state() != QAbstractSocket::ConnectedState) {
        NoteFailure(kErrSend);
        return;
    }
    if (socket->bytesToWrite() + message.size() > kMaxQueuedSendBytes) {
        NoteFailure(kErrSend);
        return;
    }
    if (socket->write(message) != message.size()) {
        NoteFailure(kErrSend);
        return;
    }
    socket->flush();
}

// A message that an earlier connection broke off can never be completed, since a new
// connection is a new byte stream. Left in place it would swallow the first message of the
// new connection, the cut running on to that message's EOM. So everything behind the last
// EOM goes (one-byte messages there included: their answers belonged to the old
// connection); complete messages ahead of it are still decoded.
void DropUnfinishedTail() {
    ReceiveBuffer &buffer = Variables::sBuffer;
    if (buffer.isEmpty())
        return;
    const QByteArray held = buffer.bytes();
    const qsizetype keep = held.lastIndexOf(ReceiveBuffer::kEom) + 1;
    if (keep == held.size())
        return;
    buffer.clear();
    buffer.append(held.left(keep));
}

void OnSocketError(QAbstractSocket::SocketError error) {
    Link &l = link();
    if (l.closingOurselves || error == QAbstractSocket::RemoteHostClosedError)
        return; // a close, handled as the closed event
    NoteFailure(l.socket && l.socket->state() == QAbstractSocket::ConnectedState ? kErrLink
                                                                                 : kErrConnect);
}

} // namespace

void AttachSocket(QTcpSocket *socket) {
    Link &l = link();
    for (const auto &connection : std::as_const(l.connections))
        QObject::disconnect(connection);
    l.connections.clear();
    delete l.readRetry; // null when it went with its socket
    l.socket = socket;
    l.peerClosed = false;
    l.closingOurselves = false;
    l.bytesReceived = 0;
    if (!socket) {
        seams().send = nullptr;
        return;
    }

    QTimer *retry = LinkInput::PrepareDevice(*socket);
    l.readRetry = retry;

    l.connections = {
        QObject::connect(socket, &QTcpSocket::connected, socket, &scktServer_Connect),
        QObject::connect(socket, &QTcpSocket::readyRead, socket, &scktServer_Read),
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &scktServer_Close),
        QObject::connect(socket, &QTcpSocket::errorOccurred, socket, &OnSocketError),
        QObject::connect(retry, &QTimer::timeout, socket, &scktServer_Read),
    };
    seams().send = &WriteToSwitcher;
}

void ConnectSwitcher() {
    Link &l = link();
    if (!l.socket)
        return;
    // An earlier connection or attempt would make the socket refuse a new one.
    EndConnection(true);

    const std::optional<QHostAddress> host = ParseDottedIPv4(Variables::sIPAddress);
    if (!host) {
        NoteFailure(kErrConnect);
        return;
    }
    if (Variables::lIPPort < kMinPort || Variables::lIPPort > kMaxPort) {
        EndConnection(false);
        NoteFailure(kErrConnect);
        if (seams().reportConnectFailure)
            seams().reportConnectFailure();
        return;
    }
    l.bytesReceived = 0;
    // The outcome arrives as an event: connected, or an error that leaves the link closed.
    l.socket->connectToHost(*host, static_cast<quint16>(Variables::lIPPort));
}

void DisconnectSwitcher() {
    EndConnection(false);
    Variables::bConnected = false;
    SetCaption(kCaptionConnect);
}

qint64 BytesReceived() {
    return link().bytesReceived;
}

void scktServer_Connect() {
    Link &l = link();
    if (l.socket) // small messages such as fader moves must not wait to be coalesced
        l.socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    DropUnfinishedTail();
    SetCaption(kCaptionDisconnect);
    Variables::bConnected = true;
}

void scktServer_Read() {
    Link &l = link();
    QTcpSocket *socket = l.socket;
    if (!socket || !socket->isOpen())
        return;
    const qint64 taken = LinkInput::TakeIntoBuffer(*socket);
    l.bytesReceived += taken;

    // A batch gets its one dispatcher step. A retry that found sBuffer still full brought no
    // batch and takes no step of its own: the decode timer is draining, and an extra step
    // here could run a second greeting's 100 ms hold before the timers get their turn.
    if (taken > 0)
        ProcessCommand();
    if (!Variables::sBuffer.isEmpty() && seams().startDecodeTimer)
        seams().startDecodeTimer();

    // The dispatcher step may have closed the socket (a send that failed); look again.
    if (!l.socket || !l.socket->isOpen())
        return;
    if (l.socket->bytesAvailable() > 0) {
        // sBuffer is full: the rest waits in the socket (and behind it in the peer's TCP
        // window) until the decode timer has made room.
        if (l.readRetry)
            l.readRetry->start();
        return;
    }
    if (l.peerClosed)
        EndConnection(false);
}

void scktServer_Close() {
    Link &l = link();
    if (l.closingOurselves || !l.socket || !l.socket->isOpen())
        return;
    // The switcher has gone, but what it sent before may still wait in the socket: read it
    // first and close afterwards. bConnected and the caption stay until the user disconnects.
    // Queued, so that the socket has finished its own bookkeeping of the close first.
    l.peerClosed = true;
    QMetaObject::invokeMethod(l.socket, &scktServer_Read, Qt::QueuedConnection);
}

} // namespace TCPComm
