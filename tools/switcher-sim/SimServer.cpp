#include "tools/switcher-sim/SimServer.h"

#include "tools/switcher-sim/SimTrace.h"
#include "tools/switcher-sim/SimWire.h"

#include <QTcpSocket>
#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

using SimCodec::Message;
using namespace SimWire;

namespace {

// A switcher that loses power says no goodbye, and once it is back it answers anything on
// the old connection with a reset. The panel gets that reset at once rather than on its next
// write, but it is a reset (RST), not an orderly close (FIN), and it leaves no TIME_WAIT.
void resetConnection(QTcpSocket &socket) {
#ifdef Q_OS_UNIX
    if (const qintptr fd = socket.socketDescriptor(); fd != -1) {
        linger hard = {};
        hard.l_onoff = 1;
        hard.l_linger = 0; // closing then sends RST and drops what is unsent
        ::setsockopt(int(fd), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
#endif
    socket.abort();
}

QString hostPort(const QHostAddress &address, quint16 port) {
    return QStringLiteral("%1:%2").arg(address.toString()).arg(port);
}

} // namespace

struct SimServer::Panel {
    int id = 0;
    QTcpSocket *socket = nullptr; // owned by the server object, deleted later
    SimFramer framer;
    SimDelivery::Outbox *outbox = nullptr; // child of socket
    bool awaitingPingAnswer = false;
};

SimServer::SimServer(const SimOptions &options, QObject *parent)
    : QObject(parent), m_options(options), m_state(options.inputs, options.outputs),
      m_address(options.bind), m_port(options.port),
      m_rng(options.seed ? *options.seed : QRandomGenerator::global()->generate()) {
    connect(&m_server, &QTcpServer::newConnection, this, &SimServer::accept);
    connect(&m_pingTimer, &QTimer::timeout, this, &SimServer::ping);
    connect(&m_animateTimer, &QTimer::timeout, this, &SimServer::animate);
    m_rebootTimer.setSingleShot(true);
    connect(&m_rebootTimer, &QTimer::timeout, this,
            [this] { reboot(std::chrono::milliseconds(m_options.downForMs)); });
    m_downTimer.setSingleShot(true);
    m_downTimer.setTimerType(Qt::PreciseTimer); // a coarse one may end the down time early
    connect(&m_downTimer, &QTimer::timeout, this, &SimServer::comeBack);
    m_animateGain = std::clamp(m_state.gain(kKindInput, 0), kAnimateLow, kAnimateHigh);
}

SimServer::~SimServer() {
    for (auto &[id, panel] : m_panels) {
        panel->socket->disconnect(this);
        panel->socket->abort();
    }
}

bool SimServer::listen(QString &error) {
    if (!m_server.listen(m_address, m_port)) {
        error = m_server.errorString();
        return false;
    }
    m_address = m_server.serverAddress();
    m_port = m_server.serverPort();
    m_started = true;
    startUpTimers();
    return true;
}

void SimServer::startUpTimers() {
    if (m_options.pingIntervalMs > 0)
        m_pingTimer.start(m_options.pingIntervalMs);
    if (m_options.animate)
        m_animateTimer.start(kAnimateStepMs);
    if (m_options.rebootEveryS > 0)
        m_rebootTimer.start(m_options.rebootEveryS * 1000);
}

void SimServer::reboot(std::chrono::milliseconds down) {
    if (!m_started)
        return;
    down = std::max(down, std::chrono::milliseconds(0));
    const QString what = m_down ? QStringLiteral("rebooting again, not listening for %1 ms")
                                : QStringLiteral("rebooting, not listening for %1 ms");
    log(0, QStringLiteral("--"), what.arg(down.count()));
    m_down = true;
    m_server.close();
    m_pingTimer.stop();
    m_animateTimer.stop();
    m_rebootTimer.stop();
    for (auto &[id, panel] : m_panels) {
        panel->socket->disconnect(this);
        resetConnection(*panel->socket);
        panel->socket->deleteLater();
        log(id, QStringLiteral("--"), QStringLiteral("connection reset by the reboot"));
    }
    m_panels.clear();
    m_downTimer.start(down);
}

void SimServer::comeBack() {
    // Reset connections leave no TIME_WAIT, and on Unix QTcpServer sets SO_REUSEADDR, so
    // those --close-after ended do not stop this either: only another program on the port.
    if (!m_server.listen(m_address, m_port)) {
        log(0, QStringLiteral("--"),
            QStringLiteral("cannot listen on %1 again (%2), trying again in %3 ms")
                .arg(hostPort(m_address, m_port), m_server.errorString())
                .arg(kRelistenRetryMs));
        m_downTimer.start(kRelistenRetryMs);
        return;
    }
    m_down = false;
    log(0, QStringLiteral("--"),
        QStringLiteral("back up, listening on %1").arg(hostPort(m_address, m_port)));
    startUpTimers();
}

void SimServer::log(int panel, const QString &direction, const QString &text,
                    const QByteArray &bytes) {
    if (trace)
        trace(SimTrace::line(panel, direction, text, bytes));
}

void SimServer::accept() {
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto panel = std::make_unique<Panel>();
        Panel &p = *panel;
        p.id = m_nextId++;
        p.socket = socket;
        p.outbox = new SimDelivery::Outbox(socket, m_options.faults, &m_rng, socket);
        p.outbox->written = [this, id = p.id](const QByteArray &bytes, bool junk) {
            if (junk)
                log(id, QStringLiteral("tx"), QStringLiteral("junk"), bytes);
            else
                log(id, QStringLiteral("tx"), SimTrace::describe(SimCodec::decode(bytes)), bytes);
        };
        m_panels.emplace(p.id, std::move(panel));
        log(p.id, QStringLiteral("--"),
            QStringLiteral("panel connected from %1:%2")
                .arg(socket->peerAddress().toString())
                .arg(socket->peerPort()));
        const int id = p.id;
        connect(socket, &QTcpSocket::readyRead, this, [this, id] {
            if (auto it = m_panels.find(id); it != m_panels.end())
                receive(*it->second);
        });
        // Queued: a write that fails can emit this from inside a broadcast or a receive,
        // which must not see the panel vanish under them.
        connect(
            socket, &QTcpSocket::disconnected, this,
            [this, id] {
                auto it = m_panels.find(id);
                if (it == m_panels.end())
                    return;
                it->second->socket->deleteLater();
                m_panels.erase(it);
                log(id, QStringLiteral("--"), QStringLiteral("panel disconnected"));
            },
            Qt::QueuedConnection);
        if (m_options.closeAfterS > 0) {
            QTimer::singleShot(m_options.closeAfterS * 1000, socket, [this, id, socket] {
                if (!m_panels.contains(id))
                    return; // reset by a reboot, the socket not yet deleted
                log(id, QStringLiteral("--"),
                    QStringLiteral("closing the connection (--close-after)"));
                socket->disconnectFromHost();
            });
        }
        send(p, SimCodec::greeting(), false);
    }
}

void SimServer::receive(Panel &panel) {
    const QByteArray bytes = panel.socket->readAll();
    const int id = panel.id;
    for (const SimFramer::Frame &frame : panel.framer.push(bytes)) {
        switch (frame.kind) {
        case SimFramer::Frame::Kind::Stray:
            log(id, QStringLiteral("rx"),
                QStringLiteral("ignored %1 stray byte(s)").arg(frame.bytes.size()), frame.bytes);
            break;
        case SimFramer::Frame::Kind::Broken:
            log(id, QStringLiteral("rx"),
                QStringLiteral("ignored a message that lost its end byte"), frame.bytes);
            break;
        case SimFramer::Frame::Kind::Message:
            handle(panel, frame.bytes);
            break;
        }
    }
}

void SimServer::handle(Panel &panel, const QByteArray &bytes) {
    const Message m = SimCodec::decode(bytes);
    const QString rx = QStringLiteral("rx");
    switch (m.type) {
    case Message::Type::Invalid:
        log(panel.id, rx, QStringLiteral("ignored, %1").arg(m.error), bytes);
        return;
    case Message::Type::GreetingReply:
        log(panel.id, rx, SimTrace::describe(m), bytes);
        return;
    case Message::Type::PingAnswer:
        panel.awaitingPingAnswer = false;
        log(panel.id, rx, SimTrace::describe(m), bytes);
        return;
    case Message::Type::InfoRequest: {
        log(panel.id, rx, SimTrace::describe(m), bytes);
        // Whatever the selector asks for, the whole state answers it.
        for (const Message &report : m_state.dump())
            send(panel, report, true);
        return;
    }
    case Message::Type::Gain:
        command(panel, m, bytes);
        return;
    case Message::Type::Greeting:
    case Message::Type::CrosspointMap:
    case Message::Type::Ping:
    case Message::Type::OtherOneByte:
    case Message::Type::Unknown:
        break;
    }
    log(panel.id, rx,
        QStringLiteral("ignored, %1 is not for the switcher").arg(SimTrace::describe(m)), bytes);
}

void SimServer::command(Panel &panel, const Message &m, const QByteArray &bytes) {
    log(panel.id, QStringLiteral("rx"), SimTrace::describe(m), bytes);
    ++m_commands;
    if (m_options.dropEvery > 0 && m_commands % m_options.dropEvery == 0) {
        log(panel.id, QStringLiteral("--"),
            QStringLiteral("command lost on purpose (--drop-every %1)").arg(m_options.dropEvery));
        return;
    }
    const SimState::Result result = m_state.apply(m);
    if (!result.applied) {
        log(panel.id, QStringLiteral("--"), QStringLiteral("rejected: %1").arg(result.reason));
        return;
    }
    if (result.clamped)
        log(panel.id, QStringLiteral("--"),
            QStringLiteral("gain clamped to Off (24) .. +24 dB (1264)"));
    broadcast(result.report);
}

void SimServer::broadcast(const Message &report) {
    for (auto &[id, panel] : m_panels)
        send(*panel, report, true);
}

void SimServer::send(Panel &panel, const Message &m, bool report) {
    if (panel.socket->state() != QAbstractSocket::ConnectedState)
        return;
    if (panel.socket->bytesToWrite() > kMaxUnsentBytes) {
        log(panel.id, QStringLiteral("--"),
            QStringLiteral("panel does not read what it is sent, closing the connection"));
        panel.socket->abort();
        return;
    }
    panel.outbox->send(SimCodec::encode(m), report);
}

void SimServer::ping() {
    for (auto &[id, panel] : m_panels) {
        if (panel->awaitingPingAnswer)
            log(id, QStringLiteral("--"), QStringLiteral("no ping answer (F4) to the last ping"));
        panel->awaitingPingAnswer = true;
        send(*panel, SimCodec::ping(), false);
    }
}

void SimServer::animate() {
    if (m_animateGain + m_animateDir * kAnimateStep > kAnimateHigh ||
        m_animateGain + m_animateDir * kAnimateStep < kAnimateLow)
        m_animateDir = -m_animateDir;
    m_animateGain += m_animateDir * kAnimateStep;
    const int g = m_animateGain;
    // Whatever does not exist with the configured channel counts is left out.
    const Message steps[] = {
        SimCodec::setGain(kKindInput, 0, {g}),
        SimCodec::setGain(kKindOutput, 0, {g}),
        SimCodec::setCrosspointGain(0, {{0, g}}),
        SimCodec::setCrosspointGain(64, {{64, g}}),
    };
    for (const Message &step : steps) {
        const SimState::Result result = m_state.apply(step);
        if (result.applied)
            broadcast(result.report);
    }
}
