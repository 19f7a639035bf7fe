#include "surfaces/OscServer.h"

#include <QNetworkProxy>
#include <QUdpSocket>
#include <QVariant>

namespace Osc {
namespace {

QString SenderText(const QHostAddress &address, quint16 port) {
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? u'[' + address.toString() + u']'
                             : address.toString();
    return host + u':' + QString::number(port);
}

} // namespace

OscServer::OscServer(QObject *parent) : QObject(parent) {
    // Children as well as members, so that a window or a test can see which timers run.
    m_nextSlice.setParent(this);
    m_nextSlice.setObjectName(QStringLiteral("nextSlice"));
    m_feedbackDue.setParent(this);
    m_feedbackDue.setObjectName(QStringLiteral("feedbackDue"));
    m_clock.start();
    m_nextSlice.setSingleShot(true);
    m_nextSlice.setInterval(0);
    connect(&m_nextSlice, &QTimer::timeout, this, &OscServer::readSlice);
    m_feedbackDue.setSingleShot(true);
    m_feedbackDue.setTimerType(Qt::PreciseTimer);
    connect(&m_feedbackDue, &QTimer::timeout, this, &OscServer::sendDue);
    // One byte more than a packet may have, so that a longer datagram shows as one.
    m_buffer.resize(kMaxPacketBytes + 1);
}

OscServer::~OscServer() = default;

QString OscServer::start(const QHostAddress &address, quint16 port, const AllowList &allowed) {
    stop();
    auto *socket = new QUdpSocket(this);
    // A listener needs no proxy: without this, binding asks the system's proxy settings
    // (libproxy, on a thread of its own) first, which costs start-up time and a thread.
    socket->setProxy(QNetworkProxy::NoProxy);
    // No address sharing: a port another program holds is an error, not a port to share.
    if (!socket->bind(address, port, QAbstractSocket::DontShareAddress)) {
        const QString error = tr("Cannot listen for OSC on %1: %2")
                                  .arg(SenderText(address, port), socket->errorString());
        delete socket;
        return error;
    }
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption,
                            QVariant(kReceiveBufferBytes));
    m_socket = socket;
    m_allowed = allowed;
    m_limit.clear();
    connect(socket, &QUdpSocket::readyRead, this, &OscServer::readSlice);
    m_statusChanged = true;
    readSlice(); // anything that came between bind and connect
    return {};
}

void OscServer::stop() {
    m_nextSlice.stop();
    m_feedbackDue.stop();
    m_subscribers.unsubscribeAll();
    if (m_socket) {
        QUdpSocket *socket = m_socket;
        m_socket = nullptr;
        socket->disconnect(this);
        socket->close();
        // Later: stop() may be called from a slot of commandReceived, with a slice in progress.
        socket->deleteLater();
        emit statusChanged();
    }
}

bool OscServer::isListening() const {
    return m_socket != nullptr;
}

quint16 OscServer::port() const {
    return m_socket ? m_socket->localPort() : 0;
}

std::vector<Subscriber> OscServer::subscribers() const {
    return m_subscribers.live(now());
}

void OscServer::readSlice() {
    m_nextSlice.stop();
    QElapsedTimer slice;
    slice.start();
    for (int count = 0; m_socket && m_socket->hasPendingDatagrams(); ++count) {
        if (count >= kSliceDatagrams || slice.elapsed() >= kSliceMs) {
            m_nextSlice.start();
            break;
        }
        takeDatagram();
    }
    if (m_statusChanged) {
        m_statusChanged = false;
        emit statusChanged();
    }
}

void OscServer::takeDatagram() {
    QHostAddress sender;
    quint16 port = 0;
    const qint64 size =
        m_socket->readDatagram(m_buffer.data(), qint64(m_buffer.size()), &sender, &port);
    if (size < 0)
        return; // nothing after all (an error the next read will meet again, if any)
    sender = Unmapped(sender);
    if (!m_allowed.allows(sender)) {
        drop(DropReason::NotAllowed, sender, port);
        return;
    }
    if (!m_limit.admit(sender, now())) {
        // The cheap path for a flood: a count, nothing else.
        ++m_drops[std::size_t(DropReason::RateLimited)];
        m_statusChanged = true;
        return;
    }
    // A datagram larger than the buffer arrives cut to its size.
    if (std::size_t(size) > kMaxPacketBytes) {
        drop(DropReason::Oversized, sender, port);
        return;
    }
    const Parsed parsed = ParseOscPacket(m_buffer.data(), std::size_t(size));
    for (const Drop &d : parsed.drops)
        drop(d.reason, sender, port, d.address);
    for (const Command &command : parsed.commands) {
        handle(command, sender, port);
        if (!m_socket)
            return; // stopped by a receiver
    }
}

void OscServer::handle(const Command &command, const QHostAddress &sender, quint16 port) {
    ++m_commands;
    m_lastArrival = SenderText(sender, port) + QStringLiteral(": ") + CommandText(command);
    m_statusChanged = true;
    if (const auto *subscribe = std::get_if<Subscribe>(&command)) {
        if (!m_subscribers.subscribe(sender, subscribe->replyPort.value_or(port), now()))
            drop(DropReason::SubscribersFull, sender, port);
        sendDue();
        return;
    }
    emit commandReceived(command, sender, port);
}

void OscServer::drop(DropReason reason, const QHostAddress &sender, quint16 port,
                     const QByteArray &oscAddress) {
    ++m_drops[std::size_t(reason)];
    m_lastArrival = SenderText(sender, port) + QStringLiteral(": dropped, ") +
                    DropReasonText(reason) +
                    (oscAddress.isEmpty() ? QString() : u' ' + QString::fromLatin1(oscAddress));
    m_statusChanged = true;
}

void OscServer::publishGain(int fader, qint16 gain) {
    publish(GainAddress(fader), GainMessage(fader, gain));
}

void OscServer::publishCaption(int fader, const QString &caption) {
    publish(CaptionAddress(fader), CaptionMessage(fader, caption));
}

void OscServer::publishLink(LinkWord link) {
    publish(LinkAddress(), LinkMessage(link));
}

void OscServer::publish(const QByteArray &oscAddress, const QByteArray &datagram) {
    // Remembered even while not listening: a surface that subscribes later gets it.
    m_subscribers.publish(oscAddress, datagram, now());
    if (m_socket)
        sendDue();
}

void OscServer::sendDue() {
    if (!m_socket)
        return;
    const qint64 t = now();
    for (const Outgoing &out : m_subscribers.take(t))
        m_socket->writeDatagram(out.datagram, out.address, out.port);
    if (const auto due = m_subscribers.nextDue(t))
        m_feedbackDue.start(int(std::max<qint64>(0, *due - t)));
    else
        m_feedbackDue.stop();
}

} // namespace Osc

// The meta-object code here rather than in the library's one moc unit, which also holds the MIDI
// ports': a panel that uses only OSC then links (and loads) no MIDI library.
#include "moc_OscServer.cpp"
