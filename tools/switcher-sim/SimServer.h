#pragma once

// The switcher on the network: accepts any number of panels, greets each, answers their
// requests from one shared SimState and confirms every applied command to all of them.
// It can also reboot: drop every panel, stay off the network for a while, then listen again
// on the same address and port with its state as it was.

#include "tools/switcher-sim/SimFramer.h"
#include "tools/switcher-sim/SimOptions.h"
#include "tools/switcher-sim/SimState.h"
#include "tools/switcher-sim/SimWire.h"

#include <QObject>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTimer>
#include <chrono>
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

    // After a reboot, how often listening is tried again while the port is taken.
    static constexpr int kRelistenRetryMs = 500;

    explicit SimServer(const SimOptions &options, QObject *parent = nullptr);
    ~SimServer() override;

    bool listen(QString &error);
    // Where the server listens, and listens again after a reboot (the chosen port for 0).
    QHostAddress address() const { return m_address; }
    quint16 port() const { return m_port; }
    int panelCount() const { return int(m_panels.size()); }
    const SimState &state() const { return m_state; }

    // As a switcher that loses power: resets every panel's connection, closes the port for
    // the time given, then listens again and greets new panels as at first. The state is
    // kept. A reboot while down starts the down time over. Does nothing before listen().
    void reboot(std::chrono::milliseconds down);

    // Receives every trace line; unset means no trace.
    std::function<void(const QString &)> trace;

  private:
    struct Panel;
    void startUpTimers();
    void comeBack();
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
    QHostAddress m_address;
    quint16 m_port = 0;
    bool m_started = false;
    bool m_down = false;
    QTimer m_rebootTimer; // --reboot-every, counts the time up
    QTimer m_downTimer;   // ends the down time, then paces retries to listen
    QRandomGenerator m_rng;
    std::map<int, std::unique_ptr<Panel>> m_panels;
    int m_nextId = 1;
    qint64 m_commands = 0;
    QTimer m_pingTimer;
    QTimer m_animateTimer;
    int m_animateGain = SimWire::kGainZeroDb;
    int m_animateDir = 1;
};
