#pragma once

// The panel's MIDI ports: one input and one output, chosen and remembered by name.
//
// The MIDI system is the ALSA sequencer where it exists and a client can be opened, JACK
// otherwise. Nothing is created until a port name is bound: a panel without MIDI bindings never
// contacts a MIDI system (no JACK client, no timer) and never loads the MIDI back end. When
// neither system is there, or the back end cannot be loaded, available() is false and
// unavailableReason() says why; the panel carries on without MIDI.
//
// While a name is bound its port is looked for every 2 s: a port that disappears is closed
// (portLost), one that appears again under its name is reopened (portFound). Both signals are
// also emitted once when a name is bound, for the port's state then. A JACK server that starts
// later is found by the same check.
//
// Incoming messages arrive on the MIDI system's own thread; they are queued and handed to this
// object's thread, in order, as messageReceived. At most kInboxLimit messages wait at a time: a
// surface flooding a stalled panel loses the newest beyond that (counted in droppedMessages()).

#include "surfaces/MidiClient.h"
#include "surfaces/MidiMessage.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <deque>
#include <memory>
#include <optional>

namespace Midi {
// A port's name as the panel knows it: as the MIDI system lists it, less the client and port
// numbers that ALSA appends ("Device:Port 1 20:0"), which change when a device is plugged again.
QString StablePortName(const QString &listed, bool alsa);
} // namespace Midi

class MidiPorts : public QObject, private Midi::ClientEvents {
    Q_OBJECT

  public:
    static constexpr int kCheckIntervalMs = 2000;
    static constexpr std::size_t kInboxLimit = 4096;

    explicit MidiPorts(QObject *parent = nullptr);
    ~MidiPorts() override;

    // Binds a port by the name the MIDI system lists it under; an empty name unbinds.
    void setInputPort(const QString &name);
    void setOutputPort(const QString &name);
    QString inputPort() const { return inputName_; }
    QString outputPort() const { return outputName_; }
    bool isInputOpen() const;
    bool isOutputOpen() const;

    // Whether a MIDI system client exists (only while a name is bound, or while listing).
    bool hasClient() const { return client_ != nullptr; }
    bool available() const { return available_; }
    QString unavailableReason() const { return reason_; }
    QString apiName() const { return client_ ? client_->apiName() : QString(); }

    // The ports the MIDI system lists now (for the Setup dialog).
    QStringList inputPortNames();
    QStringList outputPortNames();

    // Sends one complete message on the output port; false when no port is open or the MIDI
    // system refused it.
    bool send(const Midi::Message &message);

    quint64 droppedMessages() const;

  signals:
    void messageReceived(const QByteArray &message);
    void portLost(const QString &name);
    void portFound(const QString &name);
    void availabilityChanged(bool available, const QString &reason);

  private:
    enum class Direction { Input, Output };

    void messageArrived(const unsigned char *bytes, std::size_t size) override;
    void serverGone() override;
    void jackServerGone();
    void settleJackShutdown();

    bool ensureClient();
    void releaseClient();
    void releaseClientIfUnbound();
    void updateTimer();
    void check();
    void checkPort(Direction direction);
    bool openPort(Direction direction);
    void closePort(Direction direction);
    bool isOpen(Direction direction) const;
    void bindPort(const QString &name, Direction direction);
    QString &boundName(Direction direction);
    QStringList portNames(Direction direction) const;
    void drain();
    void setAvailable(bool available, const QString &reason);

    QString inputName_;
    QString outputName_;
    std::unique_ptr<Midi::Client> client_;
    std::atomic<bool> serverGone_ = false;
    bool available_ = false;
    QString reason_;
    QTimer checkTimer_;

    mutable QMutex inboxLock_;
    std::deque<QByteArray> inbox_;
    bool drainPosted_ = false;
    quint64 dropped_ = 0;
};
