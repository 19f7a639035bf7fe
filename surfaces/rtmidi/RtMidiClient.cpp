// The MIDI back end: clients of the ALSA sequencer or of a JACK server, over RtMidi. Built as a
// plugin that the panel loads only when a MIDI port is bound.

#include "surfaces/MidiClient.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>
#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace {

const char kClientName[] = "Dual Slider";
const char kInputPortName[] = "in";
const char kOutputPortName[] = "out";
const char kWatchClientName[] = "Dual Slider watch";
const char kSequencerDevice[] = "/dev/snd/seq";

bool Compiled(RtMidi::Api api) {
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    return std::find(apis.begin(), apis.end(), api) != apis.end();
}

// The MIDI system's last error or warning: RtMidi reports them through a callback, which may run
// on any thread.
struct ErrorSink {
    QMutex lock;
    std::string text;

    std::string take() {
        QMutexLocker locker(&lock);
        return std::exchange(text, std::string());
    }
};

// Keeps the MIDI system's errors and warnings instead of letting RtMidi print them (or throw
// from deep inside a call): every call is followed by a look at what it reported.
void OnError(RtMidiError::Type, const std::string &text, void *user) {
    auto *sink = static_cast<ErrorSink *>(user);
    QMutexLocker locker(&sink->lock);
    sink->text = text;
}

template <typename Port> QStringList PortNames(Port &port) {
    QStringList names;
    const unsigned count = port.getPortCount();
    for (unsigned i = 0; i < count; ++i)
        names.append(QString::fromStdString(port.getPortName(i)));
    return names;
}

// libjack prints to stderr whenever a client cannot reach a server, which with a port bound and
// no server would be every check. The window says why MIDI is unavailable; libjack's own lines
// are kept for QT_LOGGING_RULES="ds.midi.jack.debug=true".
Q_LOGGING_CATEGORY(lcJack, "ds.midi.jack", QtWarningMsg)

void JackMessage(const char *message) {
    qCDebug(lcJack, "%s", message);
}

// A client of the JACK server named by JACK_DEFAULT_SERVER, never starting one: nothing when no
// server runs.
jack_client_t *OpenJackClient(const char *name) {
    static const bool quiet = [] {
        jack_set_error_function(&JackMessage);
        jack_set_info_function(&JackMessage);
        return true;
    }();
    Q_UNUSED(quiet);
    jack_status_t status{};
    return jack_client_open(name, JackNoStartServer, &status);
}

class RtMidiClient final : public Midi::Client {
  public:
    RtMidiClient(std::unique_ptr<RtMidiIn> in, std::unique_ptr<RtMidiOut> out, jack_client_t *watch,
                 Midi::ClientEvents *events);
    ~RtMidiClient() override;

    QString apiName() const override {
        return QString::fromStdString(RtMidi::getApiName(in_->getCurrentApi()));
    }
    QStringList inputPorts() override { return PortNames(*in_); }
    QStringList outputPorts() override { return PortNames(*out_); }
    bool openInput(unsigned index) override { return open(*in_, index, kInputPortName); }
    bool openOutput(unsigned index) override { return open(*out_, index, kOutputPortName); }
    void closeInput() override { in_->closePort(); }
    void closeOutput() override { out_->closePort(); }
    bool isInputOpen() const override { return in_->isPortOpen(); }
    bool isOutputOpen() const override { return out_->isPortOpen(); }
    bool send(const unsigned char *bytes, std::size_t size) override;

  private:
    static void OnMessage(double stamp, std::vector<unsigned char> *message, void *user);
    static void OnJackShutdown(void *user);
    bool open(RtMidi &port, unsigned index, const char *name);

    std::unique_ptr<RtMidiIn> in_;
    std::unique_ptr<RtMidiOut> out_;
    jack_client_t *watch_; // JACK only: tells when the server goes away
    Midi::ClientEvents *events_;
    std::atomic<bool> gone_ = false;
    ErrorSink errors_;
};

RtMidiClient::RtMidiClient(std::unique_ptr<RtMidiIn> in, std::unique_ptr<RtMidiOut> out,
                           jack_client_t *watch, Midi::ClientEvents *events)
    : in_(std::move(in)), out_(std::move(out)), watch_(watch), events_(events) {
    in_->setErrorCallback(&OnError, &errors_);
    out_->setErrorCallback(&OnError, &errors_);
    in_->setCallback(&RtMidiClient::OnMessage, this);
    in_->ignoreTypes(true, true, true); // sysex, clock and active sensing are of no use here
    if (watch_)
        jack_on_shutdown(watch_, &RtMidiClient::OnJackShutdown, this);
}

// A JACK client whose server has gone cannot be closed (libjack crashes in jack_client_close),
// so RtMidi's objects for it, and the watch client, are never destroyed: they are kept, out of
// use, for the rest of the process. It happens once per server that stops under the panel.
RtMidiClient::~RtMidiClient() {
    if (gone_) {
        struct Husk {
            std::unique_ptr<RtMidiIn> in;
            std::unique_ptr<RtMidiOut> out;
            jack_client_t *watch;
        };
        static auto *abandoned = new std::vector<Husk>; // never destroyed, on purpose
        in_->cancelCallback();
        abandoned->push_back(Husk{std::move(in_), std::move(out_), watch_});
        return;
    }
    // The input goes first: once it is closed its callback can no longer call the events.
    in_.reset();
    out_.reset();
    if (watch_)
        jack_client_close(watch_);
}

bool RtMidiClient::open(RtMidi &port, unsigned index, const char *name) {
    errors_.take();
    port.openPort(index, name);
    const bool open = port.isPortOpen() && errors_.take().empty();
    if (!open && port.isPortOpen())
        port.closePort();
    return open;
}

bool RtMidiClient::send(const unsigned char *bytes, std::size_t size) {
    errors_.take();
    out_->sendMessage(bytes, size);
    return errors_.take().empty();
}

// On the MIDI system's thread.
void RtMidiClient::OnMessage(double, std::vector<unsigned char> *message, void *user) {
    static_cast<RtMidiClient *>(user)->events_->messageArrived(message->data(), message->size());
}

// On a libjack thread, when the server goes away under the watch client.
void RtMidiClient::OnJackShutdown(void *user) {
    auto *self = static_cast<RtMidiClient *>(user);
    self->gone_ = true;
    self->events_->serverGone();
}

Midi::Client *OpenAlsa(Midi::ClientEvents *events, QString *reason) {
    if (!Compiled(RtMidi::LINUX_ALSA)) {
        *reason = QStringLiteral("no ALSA support");
        return nullptr;
    }
    if (!QFileInfo::exists(QLatin1String(kSequencerDevice))) {
        *reason = QStringLiteral("no ALSA sequencer (%1 is missing)")
                      .arg(QLatin1String(kSequencerDevice));
        return nullptr;
    }
    try {
        auto in = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, kClientName);
        auto out = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, kClientName);
        return new RtMidiClient(std::move(in), std::move(out), nullptr, events);
    } catch (const RtMidiError &e) {
        *reason = QStringLiteral("the ALSA sequencer cannot be opened (%1)")
                      .arg(QString::fromStdString(e.getMessage()));
        return nullptr;
    }
}

Midi::Client *OpenJack(Midi::ClientEvents *events, const QString &alsaReason, QString *reason) {
    if (!Compiled(RtMidi::UNIX_JACK)) {
        *reason = alsaReason + QStringLiteral(", and no JACK support");
        return nullptr;
    }
    // RtMidi does not notice a server that stops, and its clients then only list what the
    // server last had: a client of the panel's own watches for the server going away.
    jack_client_t *watch = OpenJackClient(kWatchClientName);
    if (!watch) {
        *reason = alsaReason + QStringLiteral(", and no JACK server is running");
        return nullptr;
    }
    try {
        auto in = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, kClientName);
        auto out = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, kClientName);
        return new RtMidiClient(std::move(in), std::move(out), watch, events);
    } catch (const RtMidiError &e) {
        jack_client_close(watch);
        *reason = QStringLiteral("%1, and JACK cannot be used (%2)")
                      .arg(alsaReason, QString::fromStdString(e.getMessage()));
        return nullptr;
    }
}

} // namespace

extern "C" Q_DECL_EXPORT Midi::Client *ds_midi_open_client_1(Midi::ClientEvents *events,
                                                             QString *reason) {
    QString alsaReason;
    if (Midi::Client *client = OpenAlsa(events, &alsaReason))
        return client;
    return OpenJack(events, alsaReason, reason);
}
