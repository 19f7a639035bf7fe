#pragma once

// The panel's MIDI ports: one input and one output, chosen and remembered by name.
//
// The MIDI system is the ALSA sequencer where it exists and a client can be opened, JACK
// otherwise. Nothing is created until a port name is bound: a panel without MIDI bindings never
// contacts a MIDI system (no JACK client, no timer). When neither system is there, available()
// is false and unavailableReason() says why; the panel carries on without MIDI.
//
// While a name is bound its port is looked for every 2 s: a port that disappears is closed
// (portLost), one that appears again under its name is reopened (portFound). Both signals are
// also emitted once when a name is bound, for the port's state then. A JACK server that starts
// later is found by the same check.
//
// Incoming messages arrive on the MIDI system's own thread; they are queued and handed to this
// object's thread, in order, as messageReceived. At most kInboxLimit messages wait at a time: a
// surface flooding a stalled panel loses the newest beyond that (counted in droppedMessages()).

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
#include <string>

class RtMidi;
class RtMidiIn;
class RtMidiOut;
struct _jack_client;
typedef struct _jack_client jack_client_t;

// The MIDI system's last error or warning: RtMidi reports them through a callback, which may run
// on any thread.
struct MidiErrorSink {
    QMutex lock;
    std::string text;
};

namespace Midi {
// A port's name as the panel knows it: as the MIDI system lists it, less the client and port
// numbers that ALSA appends ("Device:Port 1 20:0"), which change when a device is plugged again.
QString StablePortName(const QString &listed, bool alsa);
} // namespace Midi

class MidiPorts : public QObject {
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
    bool hasClient() const { return in_ != nullptr; }
    bool available() const { return available_; }
    QString unavailableReason() const { return reason_; }
    QString apiName() const { return apiName_; }

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
    static void OnMessage(double stamp, std::vector<unsigned char> *message, void *user);
    static void OnJackShutdown(void *user);
    void jackServerGone();
    void settleJackShutdown();

    bool ensureClient();
    void releaseClient();
    void releaseClientIfUnbound();
    void updateTimer();
    void check();
    void checkInput();
    void checkOutput();
    bool openInput();
    bool openOutput();
    void bindPort(const QString &name, QString &bound, RtMidi *port, bool (MidiPorts::*open)());
    void drain();
    void setAvailable(bool available, const QString &reason);
    std::optional<unsigned> findInput() const;
    std::optional<unsigned> findOutput() const;

    QString inputName_;
    QString outputName_;
    std::unique_ptr<RtMidiIn> in_;
    std::unique_ptr<RtMidiOut> out_;
    bool alsa_ = false;
    jack_client_t *jackWatch_ = nullptr; // JACK only: tells when the server goes away
    std::atomic<bool> jackGone_ = false;
    bool available_ = false;
    QString reason_;
    QString apiName_;
    std::string takeError();
    MidiErrorSink errors_;
    QTimer checkTimer_;

    mutable QMutex inboxLock_;
    std::deque<QByteArray> inbox_;
    bool drainPosted_ = false;
    quint64 dropped_ = 0;
};
