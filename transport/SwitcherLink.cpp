#include "transport/SwitcherLink.h"

#include "protocol/Dispatcher.h"
#include "protocol/ReportedGain.h"
#include "protocol/SerialDecoder.h"
#include "transport/Backoff.h"
#include "transport/DottedAddress.h"
#include "transport/KeepAlive.h"
#include "transport/LinkInput.h"

#include <QMetaMethod>
#include <QScopedValueRollback>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTimer>

SwitcherLink::SwitcherLink(QObject *parent)
    : QObject(parent), scktServer(new QTcpSocket(this)), MSComm1(new QSerialPort(this)),
      tmrDecode(new QTimer(this)), m_socketReadRetry(new QTimer(this)),
      m_portReadRetry(new QTimer(this)), m_retry(new QTimer(this)),
      m_connectTimeout(new QTimer(this)), m_tables(std::make_unique<SwitcherTables>()),
      m_random(QRandomGenerator::securelySeeded()) {
    scktServer->setObjectName(QStringLiteral("scktServer"));
    scktServer->setReadBufferSize(LinkInput::kDeviceReadBufferBytes);
    connect(scktServer, &QTcpSocket::connected, this, &SwitcherLink::scktServer_Connect);
    connect(scktServer, &QTcpSocket::readyRead, this, &SwitcherLink::scktServer_Read);
    connect(scktServer, &QTcpSocket::disconnected, this, &SwitcherLink::scktServer_Close);
    connect(scktServer, &QTcpSocket::errorOccurred, this, &SwitcherLink::onSocketError);

    MSComm1->setObjectName(QStringLiteral("MSComm1"));
    MSComm1->setBaudRate(kSerialBaud);
    MSComm1->setReadBufferSize(LinkInput::kDeviceReadBufferBytes);
    connect(MSComm1, &QSerialPort::readyRead, this, &SwitcherLink::MSComm1_OnComm);
    connect(MSComm1, &QSerialPort::errorOccurred, this, &SwitcherLink::onPortError);

    // With sBuffer full the rest waits in the device until the decode timer has made room;
    // no new bytes arrive to announce it, so the link looks again by itself.
    for (QTimer *retry : {m_socketReadRetry, m_portReadRetry}) {
        retry->setSingleShot(true);
        retry->setInterval(LinkInput::kReadRetryDelay);
    }
    m_socketReadRetry->setObjectName(QStringLiteral("readRetry"));
    connect(m_socketReadRetry, &QTimer::timeout, this, &SwitcherLink::scktServer_Read);
    connect(m_portReadRetry, &QTimer::timeout, this, &SwitcherLink::MSComm1_OnComm);

    m_retry->setObjectName(QStringLiteral("reconnect"));
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &SwitcherLink::startAttempt);
    m_connectTimeout->setSingleShot(true);
    m_connectTimeout->setInterval(kConnectTimeoutMs);
    connect(m_connectTimeout, &QTimer::timeout, this, &SwitcherLink::attemptFailed);

    // Runs from the start: its first tick finds the buffer empty and stops it.
    tmrDecode->setObjectName(QStringLiteral("tmrDecode"));
    tmrDecode->setTimerType(Qt::PreciseTimer);
    tmrDecode->setInterval(1);
    connect(tmrDecode, &QTimer::timeout, this, &SwitcherLink::tmrDecode_Timer);
    tmrDecode->start();
}

SwitcherLink::~SwitcherLink() {
    // The socket's own teardown must not look like the switcher leaving.
    m_closingOurselves = true;
    scktServer->disconnect(this);
    MSComm1->disconnect(this);
}

void SwitcherLink::setTarget(const QString &sIPAddress, qint32 lIPPort) {
    m_address = sIPAddress;
    m_host = DottedAddress::Parse(sIPAddress);
    m_port = lIPPort;
}

// --- Connecting and disconnecting ---------------------------------------------------------

void SwitcherLink::ConnectSwitcher() {
    // An earlier connection, attempt or pending retry gives way to this fresh attempt.
    m_retry->stop();
    endConnection(true);
    m_retries = 0;
    m_failures = 0;

    // Both faults are settings to fix, not network weather: no retry would ever succeed.
    if (!m_host) {
        m_wantLink = false;
        noteFailure(kErrConnect);
        setState(LinkState::Offline);
        return;
    }
    if (m_port < kMinPort || m_port > kMaxPort) {
        m_wantLink = false;
        noteFailure(kErrConnect);
        setState(LinkState::Offline);
        emit connectFailed();
        return;
    }
    m_wantLink = true;
    m_bytesIn = 0;
    m_bytesOut = 0;
    startAttempt();
}

void SwitcherLink::DisconnectSwitcher() {
    m_wantLink = false;
    m_retry->stop();
    endConnection(false);
    setConnected(false);
    setState(LinkState::Offline);
}

void SwitcherLink::startAttempt() {
    if (!m_host || !m_wantLink)
        return;
    endConnection(true);
    ++m_attemptId;
    m_attempting = true;
    setState(LinkState::Connecting);
    m_connectTimeout->start();
    // The outcome arrives as an event: connected, or an error.
    scktServer->connectToHost(*m_host, static_cast<quint16>(m_port));
}

void SwitcherLink::attemptFailed() {
    if (!m_attempting)
        return;
    ++m_attemptId;
    m_attempting = false;
    m_connectTimeout->stop();
    ++m_failures;
    noteFailure(kErrConnect);
    endConnection(true);
    if (m_wantLink)
        scheduleRetry();
    else
        setState(LinkState::Offline);
}

void SwitcherLink::scheduleRetry() {
    const auto delay = Backoff::RetryDelay(m_retries++, m_random.generateDouble() * 2.0 - 1.0);
    m_nextAttempt.setRemainingTime(delay);
    m_retry->start(delay);
    setState(LinkState::Connecting);
}

void SwitcherLink::scktServer_Connect() {
    m_attempting = false;
    m_connectTimeout->stop();
    m_retries = 0;
    m_failures = 0;
    // Small messages such as fader moves must not wait to be coalesced; a dead peer must be
    // noticed.
    scktServer->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    KeepAlive::Enable(*scktServer);
    dropUnfinishedTail();
    m_upSince.start();
    setConnected(true);
    setState(LinkState::Live);
    emit connected();
}

void SwitcherLink::scktServer_Close() {
    if (m_closingOurselves)
        return;
    // The switcher has gone, or the link was found dead, but what came before may still wait
    // in the socket: read it first and end the connection afterwards. Queued, so that the
    // socket has finished its own bookkeeping of the close first.
    m_peerClosed = true;
    QMetaObject::invokeMethod(this, &SwitcherLink::scktServer_Read, Qt::QueuedConnection);
}

void SwitcherLink::onSocketError() {
    if (m_closingOurselves)
        return;
    if (m_attempting) {
        // Refused, unreachable or timed out. Handled once the socket is done with its error,
        // since the error may come from inside connectToHost; by then a newer attempt may run,
        // which this error is none of.
        QMetaObject::invokeMethod(
            this,
            [this, attempt = m_attemptId] {
                if (attempt == m_attemptId)
                    attemptFailed();
            },
            Qt::QueuedConnection);
        return;
    }
    // The switcher closing is not a fault; the disconnected event handles it.
    if (scktServer->error() != QAbstractSocket::RemoteHostClosedError)
        noteFailure(kErrLink);
}

void SwitcherLink::connectionEnded() {
    m_peerClosed = false;
    endConnection(false);
    emit connectionLost();
    // bConnected and the window's "&Disconnect" stay: the link is coming back.
    if (m_connected && m_wantLink)
        scheduleRetry();
    else
        setState(LinkState::Offline);
}

// Ends the connection or attempt, if any. close() lets bytes already handed to the socket go
// out first; abort() drops them and frees the socket at once for a new attempt. Closing a
// socket that is not connected does nothing.
void SwitcherLink::endConnection(bool abort) {
    m_socketReadRetry->stop();
    m_connectTimeout->stop();
    m_attempting = false;
    m_peerClosed = false;
    const QScopedValueRollback guard(m_closingOurselves, true);
    if (abort)
        scktServer->abort();
    else
        scktServer->close();
}

void SwitcherLink::setState(LinkState state) {
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged(state);
}

void SwitcherLink::setConnected(bool connected) {
    m_connected = connected;
    emit connectedChanged(connected);
}

LinkStatus SwitcherLink::status() const {
    LinkStatus s;
    s.state = m_state;
    s.address = m_address;
    s.port = m_port;
    s.upForMs = m_state == LinkState::Live ? m_upSince.elapsed() : 0;
    s.failedAttempts = m_failures;
    s.nextAttemptInMs = m_retry->isActive() ? m_nextAttempt.remainingTime() : -1;
    s.bytesIn = m_bytesIn;
    s.bytesOut = m_bytesOut;
    s.lastFailure = m_lastFailure;
    return s;
}

// --- Sending ------------------------------------------------------------------------------

// The whole message goes to the socket and on to the operating system before this returns,
// so that it is on the wire without waiting for the event loop.
void SwitcherLink::SendToSwitcher(const QByteArray &message) {
    if (scktServer->state() != QAbstractSocket::ConnectedState ||
        scktServer->bytesToWrite() + message.size() > kMaxQueuedSendBytes ||
        scktServer->write(message) != message.size()) {
        noteFailure(kErrSend);
        return;
    }
    scktServer->flush();
    m_bytesOut += message.size();
    emit messageSent(message);
}

// A request that 7-bit data bytes cannot carry (from a hand-edited settings file) sends nothing.
void SwitcherLink::request(const GainRequest &request) {
    if (const auto command = GainRequestCodec::Encode(request))
        SendToSwitcher(*command);
}

qint16 SwitcherLink::reportedGain(int type, int channel, int outChan) const {
    return ReportedGain::Of(*m_tables, type, channel, outChan);
}

// --- Receiving ----------------------------------------------------------------------------

void SwitcherLink::scktServer_Read() {
    qint64 taken = 0;
    if (scktServer->isOpen()) {
        taken = LinkInput::TakeIntoBuffer(*scktServer, m_buffer);
        m_bytesIn += taken;
    }
    // A batch gets its one dispatcher step. A read retry that found sBuffer still full brought
    // no batch and takes no step of its own: the decode timer is draining, and an extra step
    // here could run a second greeting's 100 ms hold before the timers get their turn.
    if (taken > 0)
        TCPComm::ProcessCommand(m_buffer, *m_tables, *this);
    flushJunk();
    if (!m_buffer.isEmpty())
        startDecodeTimer();

    // The step may have closed the socket (a send that failed); look again.
    if (scktServer->isOpen() && scktServer->bytesAvailable() > 0) {
        // sBuffer is full: the rest waits in the socket (and behind it in the peer's TCP
        // window) until the decode timer has made room.
        m_socketReadRetry->start();
        return;
    }
    if (m_peerClosed)
        connectionEnded();
}

// A message that an earlier connection broke off can never be completed, since a new
// connection is a new byte stream. Left in place it would swallow the first message of the
// new connection, the cut running on to that message's EOM. So everything behind the last
// EOM goes (one-byte messages there included: their answers belonged to the old
// connection); complete messages ahead of it are still decoded.
void SwitcherLink::dropUnfinishedTail() {
    if (m_buffer.isEmpty())
        return;
    const QByteArray held = m_buffer.bytes();
    const qsizetype keep = held.lastIndexOf(ReceiveBuffer::kEom) + 1;
    if (keep == held.size())
        return;
    m_buffer.clear();
    m_buffer.append(held.left(keep));
}

void SwitcherLink::tmrDecode_Timer() {
    const bool more = TCPComm::DecodeTick(m_buffer, *m_tables, *this);
    flushJunk();
    if (!more)
        tmrDecode->stop();
}

// Setting a running timer running leaves its interval alone: restarting it on every data
// event would keep a fast stream from ever letting the timer tick.
void SwitcherLink::startDecodeTimer() {
    if (!tmrDecode->isActive())
        tmrDecode->start();
}

void SwitcherLink::noteFailure(const char *reason) {
    m_lastFailure = QString::fromLatin1(reason);
}

void SwitcherLink::frontCut(const FrameCutter::Front &front, const QByteArray &message) {
    if (m_watchersChanged) {
        m_watchersChanged = false;
        m_trafficWatched =
            isSignalConnected(QMetaMethod::fromSignal(&SwitcherLink::messageReceived)) ||
            isSignalConnected(QMetaMethod::fromSignal(&SwitcherLink::junkReceived));
    }
    if (!m_trafficWatched)
        return;
    if (front.kind == FrameCutter::Kind::Junk) {
        if (m_junkSample.size() < kJunkSampleBytes)
            m_junkSample.append(static_cast<char>(front.status));
        ++m_junkCount;
        return;
    }
    flushJunk();
    emit messageReceived(front.kind == FrameCutter::Kind::OneByte
                             ? QByteArray(1, static_cast<char>(front.status))
                             : message);
}

// A run of junk is told as one event, when what follows it is cut or the pass ends.
void SwitcherLink::flushJunk() {
    if (m_junkCount == 0)
        return;
    const qsizetype count = std::exchange(m_junkCount, 0);
    emit junkReceived(count, std::exchange(m_junkSample, {}));
}

void SwitcherLink::connectNotify(const QMetaMethod &signal) {
    if (signal == QMetaMethod::fromSignal(&SwitcherLink::messageReceived) ||
        signal == QMetaMethod::fromSignal(&SwitcherLink::junkReceived))
        m_trafficWatched = true;
}

// Qt may call this with its signal lock held (a disconnect by connection handle does), where
// asking isSignalConnected would deadlock; whether anyone still listens is asked at the next
// cut instead.
void SwitcherLink::disconnectNotify(const QMetaMethod &) {
    m_watchersChanged = true;
}

// --- The serial port ----------------------------------------------------------------------

void SwitcherLink::TcptoSerial(const QByteArray &sSendString) {
    if (!MSComm1->isOpen() || !MSComm1->isWritable())
        return;
    MSComm1->write(sSendString);
    MSComm1->flush();
}

void SwitcherLink::CloseSerialIfOpen() {
    m_portReadRetry->stop();
    if (MSComm1->isOpen())
        MSComm1->close();
}

// The port's receive event: takes in what arrived, decodes a gain report at the front at once
// and leaves the rest to the decode timer.
void SwitcherLink::MSComm1_OnComm() {
    if (!MSComm1->isOpen())
        return;
    LinkInput::TakeIntoBuffer(*MSComm1, m_buffer);
    TCPComm::DecodeMessage(m_buffer, *m_tables, *this);
    flushJunk();
    if (!m_buffer.isEmpty())
        startDecodeTimer();
    if (MSComm1->isOpen() && MSComm1->bytesAvailable() > 0)
        m_portReadRetry->start();
}

// Errors are noted and otherwise silent. A port that fails to read (its device gone, or the
// far end hung up, which some drivers report as a read error on every poll) is closed, since
// nothing more can come from it and it would only keep reporting. Closed once the port has
// finished its own handling of the error.
void SwitcherLink::onPortError() {
    const QSerialPort::SerialPortError error = MSComm1->error();
    if (error == QSerialPort::NoError)
        return;
    noteFailure(kErrSerial);
    if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError)
        QMetaObject::invokeMethod(this, &SwitcherLink::CloseSerialIfOpen, Qt::QueuedConnection);
}
