#pragma once

// The link to the switcher: one object that owns the TCP socket and the serial port, the one
// receive buffer they both fill, the decode timer that drains it and the tables the decoders
// fill from it. It tells what happens through its signals.
//
// The panel is a TCP client of the switcher. ConnectSwitcher starts an attempt; the connected
// event marks the link open (bConnected, and the window's "&Disconnect"). The link heals
// itself: an established connection that ends without the user asking (the switcher closes
// it, resets it, or the link is found dead) while bConnected holds, and an attempt that fails
// while the user's last word was to connect, are retried in the background after a growing
// delay (Backoff) until the link is up again or the user disconnects. Only two settings faults
// stop it for good: a port that cannot be connected to at all (connectFailed, for the one
// message box) and a malformed address (silent). Failures keep a fixed reason (lastFailure()).

#include "protocol/FrameCutter.h"
#include "protocol/ProtocolHost.h"
#include "protocol/ReceiveBuffer.h"
#include "protocol/StoredGains.h"
#include "protocol/SwitcherTables.h"
#include "transport/GainLink.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QRandomGenerator>
#include <QString>
#include <memory>
#include <optional>

class QSerialPort;
class QTcpSocket;
class QTimer;

enum class LinkState {
    Offline,    // the user disconnected, or a setting prevents any attempt
    Connecting, // an attempt runs, or the next one is due (after a loss or a failure)
    Live,       // connected
};

// What the link indicator tells the user about the link.
struct LinkStatus {
    LinkState state = LinkState::Offline;
    QString address;
    qint32 port = 0;
    qint64 upForMs = 0;          // Live: since when the connection stands
    int failedAttempts = 0;      // attempts that failed since the link was last up
    qint64 nextAttemptInMs = -1; // Connecting: until the next attempt; -1 while one runs
    qint64 bytesIn = 0;          // since the user last asked to connect
    qint64 bytesOut = 0;
    QString lastFailure; // fixed reason text, empty when nothing failed
};

class SwitcherLink : public QObject, public GainLink, private ProtocolHost {
    Q_OBJECT

  public:
    static constexpr int kSerialBaud = 57600;
    // How long an attempt may wait for the switcher's answer before it counts as failed.
    static constexpr int kConnectTimeoutMs = 5000;
    // Outgoing bytes the socket may hold while the switcher does not read them. Messages sent
    // beyond this are dropped (silently, like any other send failure), so that a switcher
    // that stops reading cannot make the panel queue without limit.
    static constexpr qint64 kMaxQueuedSendBytes = 1024 * 1024;
    // Ports a connection can be made to; anything else cannot even be attempted.
    static constexpr qint32 kMinPort = 1;
    static constexpr qint32 kMaxPort = 65535;
    // How much of a run of junk bytes is kept for whoever watches the traffic.
    static constexpr qsizetype kJunkSampleBytes = 64;

    static constexpr char kErrConnect[] = "Error Connecting";
    static constexpr char kErrSend[] = "Error Sending";
    static constexpr char kErrLink[] = "Error On Link";
    static constexpr char kErrSerial[] = "Error On Serial Port";

    explicit SwitcherLink(QObject *parent = nullptr);
    ~SwitcherLink() override;

    // Where ConnectSwitcher connects to (the settings' sIPAddress and lIPPort), and retries go.
    void setTarget(const QString &sIPAddress, qint32 lIPPort);

    // A fresh attempt to the target, dropping any connection or pending retry.
    void ConnectSwitcher();
    // Closes the link, stops retrying; bConnected false.
    void DisconnectSwitcher();
    // Writes a whole message to the switcher before returning; dropped while the link is down.
    void SendToSwitcher(const QByteArray &message) override;

    // GainLink: a set-gain request as its command bytes, through SendToSwitcher.
    void request(const GainRequest &request) override;
    qint16 reportedGain(int type, int channel, int outChan) const override;

    // Writes the bytes out of the serial port when it is open (nothing opens it by itself).
    void TcptoSerial(const QByteArray &sSendString);
    void CloseSerialIfOpen();

    bool bConnected() const { return m_connected; }
    LinkState state() const { return m_state; }
    LinkStatus status() const;
    QString lastFailure() const { return m_lastFailure; }
    // Bytes moved into sBuffer from the socket since the user last asked to connect.
    qint64 bytesReceived() const { return m_bytesIn; }

    // The tables the decoders fill: for the counters panel, and for tests and tools that look
    // at or prepare what the switcher reported. The faders go through GainLink.
    const SwitcherTables &tables() const { return *m_tables; }
    SwitcherTables &tables() { return *m_tables; }
    const ReceiveBuffer &sBuffer() const { return m_buffer; }

    // The decode timer's tick: dispatcher steps for a short budget; stops the timer once there
    // is nothing more it can do.
    void tmrDecode_Timer();

  signals:
    void connected();
    // The connection ended without the user asking; a retry follows.
    void connectionLost();
    // bConnected changed: true at the connected event, false when the user disconnects.
    void connectedChanged(bool bConnected);
    void stateChanged(LinkState state);
    // A connect that cannot be started at all (the port is none a connection can go to).
    void connectFailed();

    // Every message written to the switcher, and every one cut from the receive buffer.
    void messageSent(const QByteArray &message);
    void messageReceived(const QByteArray &message);
    // A run of data bytes that started no message: its length and its first bytes.
    void junkReceived(qsizetype count, const QByteArray &sample);

    // What the decoders stored: a gain report taken to its end, and what the tables took.
    void gainsStored(const StoredGains &stored);
    void crosspointMapsStored(int first, int last);
    void counterChanged(int k);

  protected:
    void connectNotify(const QMetaMethod &signal) override;
    void disconnectNotify(const QMetaMethod &signal) override;

  private:
    // The socket's and the port's events.
    void scktServer_Connect();
    void scktServer_Read();
    void scktServer_Close();
    void onSocketError();
    void MSComm1_OnComm();
    void onPortError();

    void startAttempt();
    void attemptFailed();
    void connectionEnded();
    void scheduleRetry();
    void endConnection(bool abort);
    void setState(LinkState state);
    void setConnected(bool connected);
    void startDecodeTimer();
    void dropUnfinishedTail();
    void flushJunk();

    // ProtocolHost: the decoders' results become signals.
    void noteFailure(const char *reason) override;
    void gainsApplied(const StoredGains &stored) override { emit gainsStored(stored); }
    void crosspointMapDecoded(int first, int last) override {
        emit crosspointMapsStored(first, last);
    }
    void counterIncremented(int k) override { emit counterChanged(k); }
    void frontCut(const FrameCutter::Front &front, const QByteArray &message) override;

    QTcpSocket *scktServer;
    QSerialPort *MSComm1;
    QTimer *tmrDecode;
    QTimer *m_socketReadRetry;
    QTimer *m_portReadRetry;
    QTimer *m_retry;          // the next attempt after a loss or a failure
    QTimer *m_connectTimeout; // an attempt that gets no answer

    ReceiveBuffer m_buffer;
    std::unique_ptr<SwitcherTables> m_tables;

    QString m_address;
    std::optional<QHostAddress> m_host; // m_address as an address; none when malformed
    qint32 m_port = 0;
    LinkState m_state = LinkState::Offline;
    bool m_connected = false;        // bConnected
    bool m_wantLink = false;         // the user's last word was to connect
    bool m_attempting = false;       // an attempt runs
    quint64 m_attemptId = 0;         // tells a late error of an old attempt from the current
    bool m_closingOurselves = false; // our own close must not count as the switcher's
    bool m_peerClosed = false;       // closed by the switcher; close once everything is read
    int m_retries = 0;               // retries scheduled since the link was last up
    int m_failures = 0;              // attempts failed since the link was last up
    QDeadlineTimer m_nextAttempt;
    QElapsedTimer m_upSince;
    qint64 m_bytesIn = 0;
    qint64 m_bytesOut = 0;
    QString m_lastFailure;
    QRandomGenerator m_random;

    bool m_trafficWatched = false;  // someone listens to the received messages and junk
    bool m_watchersChanged = false; // a listener went: look again before collecting
    qsizetype m_junkCount = 0;
    QByteArray m_junkSample;
};
