#pragma once

// The switcher on the network: accepts any number of panels, greets each, answers their
// requests from one shared SimState and confirms every applied command to all of them.

#include "tools/switcher-sim/SimFramer.h"
#include "tools/switcher-sim/SimOptions.h"
#include "tools/switcher-sim/SimState.h"
#include "tools/switcher-sim/SimWire.h"

#include <QObject>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

class QTcpSocket;

class SimServer : public QObject {
    Q_OBJECT
  public:
    // Steps of --animate.
    static constexpr int kAnimateStepMs = 200;
    static constexpr int kAnimateStep = 5;    // 0.5 dB
    static constexpr int kAnimateLow = 824;   // -20 dB
    static constexpr int kAnimateHigh = 1084; // +6 dB

    // A panel that lets this much pile up unread is cut off rather than hoarded for.
    static constexpr qint64 kMaxUnsentBytes = 1024 * 1024;

    explicit SimServer(const SimOptions &options, QObject *parent = nullptr);
    ~SimServer() override;

    bool listen(QString &error);
    QHostAddress address() const { return m_server.serverAddress(); }
    quint16 port() const { return m_server.serverPort(); }
    int panelCount() const { return int(m_panels.size()); }
    const SimState &state() const { return m_state; }

    // Receives every trace line; unset means no trace.
    std::function<void(const QString &)> trace;

  private:
    struct Panel;
    void accept();
    void receive(Panel &panel);
    void handle(Panel &panel, const QByteArray &bytes);
    void command(Panel &panel, const SimCodec::Message &m, const QByteArray &bytes);
    void broadcast(const SimCodec::Message &report);
    void send(Panel &panel, const SimCodec::Message &m, bool report);
    void ping();
    void animate();
    void log(int panel, const QString &direction, const QString &text,
             const QByteArray &bytes = {});

    SimOptions m_options;
    SimState m_state;
    QTcpServer m_server;
    QRandomGenerator m_rng;
    std::map<int, std::unique_ptr<Panel>> m_panels;
    int m_nextId = 1;
    qint64 m_commands = 0;
    QTimer m_pingTimer;
    QTimer m_animateTimer;
    int m_animateGain = SimWire::kGainZeroDb;
    int m_animateDir = 1;
};
