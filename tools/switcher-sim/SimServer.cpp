#include "tools/switcher-sim/SimServer.h"

#include "tools/switcher-sim/SimTrace.h"
#include "tools/switcher-sim/SimWire.h"

#include <QTcpSocket>
#include <algorithm>

using SimCodec::Message;
using namespace SimWire;

struct SimServer::Panel {
    int id = 0;
    QTcpSocket *socket = nullptr; // owned by the server object, deleted later
    SimFramer framer;
    SimDelivery::Outbox *outbox = nullptr; // child of socket
    bool awaitingPingAnswer = false;
};

SimServer::SimServer(const SimOptions &options, QObject *parent)
    : QObject(parent), m_options(options), m_state(options.inputs, options.outputs),
      m_rng(options.seed ? *options.seed : QRandomGenerator::global()->generate()) {
    connect(&m_server, &QTcpServer::newConnection, this, &SimServer::accept);
    connect(&m_pingTimer, &QTimer::timeout, this, &SimServer::ping);
    connect(&m_animateTimer, &QTimer::timeout, this, &SimServer::animate);
    m_animateGain = std::clamp(m_state.gain(kKindInput, 0), kAnimateLow, kAnimateHigh);
}

SimServer::~SimServer() {
    for (auto &[id, panel] : m_panels) {
        panel->socket->disconnect(this);
        panel->socket->abort();
    }
}

bool SimServer::listen(QString &error) {
    if (!m_server.listen(m_options.bind, m_options.port)) {
        error = m_server.errorString();
        return false;
    }
    if (m_options.pingIntervalMs > 0)
        m_pingTimer.start(m_options.pingIntervalMs);
    if (m_options.animate)
        m_animateTimer.start(kAnimateStepMs);
    return true;
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
