#include "surfaces/MidiPorts.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QMutexLocker>
#include <QRegularExpression>
#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <algorithm>

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

// Keeps the MIDI system's errors and warnings instead of letting RtMidi print them (or throw
// from deep inside a call): every call is followed by a look at what it reported.
void OnError(RtMidiError::Type, const std::string &text, void *user) {
    auto *sink = static_cast<MidiErrorSink *>(user);
    QMutexLocker locker(&sink->lock);
    sink->text = text;
}

template <typename Port> QStringList PortNames(Port &port, bool alsa) {
    QStringList names;
    const unsigned count = port.getPortCount();
    for (unsigned i = 0; i < count; ++i)
        names.append(Midi::StablePortName(QString::fromStdString(port.getPortName(i)), alsa));
    return names;
}

std::optional<unsigned> IndexOf(const QStringList &names, const QString &name) {
    const qsizetype index = names.indexOf(name);
    return index < 0 ? std::nullopt : std::optional<unsigned>(static_cast<unsigned>(index));
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

// A JACK client whose server has gone cannot be closed (libjack crashes in jack_client_close),
// so RtMidi's objects for it, and the watch client, are never destroyed: they are kept here, out
// of use, for the rest of the process. It happens once per server that stops under the panel.
void Abandon(std::unique_ptr<RtMidiIn> in, std::unique_ptr<RtMidiOut> out, jack_client_t *watch) {
    struct Husk {
        std::unique_ptr<RtMidiIn> in;
        std::unique_ptr<RtMidiOut> out;
        jack_client_t *watch;
    };
    static auto *abandoned = new std::vector<Husk>; // never destroyed, on purpose
    if (in)
        in->cancelCallback();
    abandoned->push_back(Husk{std::move(in), std::move(out), watch});
}

} // namespace

QString Midi::StablePortName(const QString &listed, bool alsa) {
    if (!alsa)
        return listed;
    static const QRegularExpression numbers(QStringLiteral("\\s+\\d+:\\d+$"));
    QString name = listed;
    name.remove(numbers);
    return name;
}

MidiPorts::MidiPorts(QObject *parent) : QObject(parent) {
    checkTimer_.setInterval(kCheckIntervalMs);
    connect(&checkTimer_, &QTimer::timeout, this, &MidiPorts::check);
}

MidiPorts::~MidiPorts() {
    releaseClient();
}

// On a libjack thread, when the server goes away under the watch client.
void MidiPorts::OnJackShutdown(void *user) {
    auto *self = static_cast<MidiPorts *>(user);
    self->jackGone_ = true;
    QMetaObject::invokeMethod(self, &MidiPorts::jackServerGone, Qt::QueuedConnection);
}

// A shutdown that has happened but whose queued call has not run yet is dealt with before any
// other use of the dead clients.
void MidiPorts::settleJackShutdown() {
    if (jackGone_)
        jackServerGone();
}

void MidiPorts::jackServerGone() {
    if (!jackWatch_)
        return;
    const bool inputWasOpen = isInputOpen();
    const bool outputWasOpen = isOutputOpen();
    releaseClient();
    if (inputWasOpen)
        emit portLost(inputName_);
    if (outputWasOpen)
        emit portLost(outputName_);
    if (!inputName_.isEmpty() || !outputName_.isEmpty())
        ensureClient(); // says why MIDI is unavailable now
}

bool MidiPorts::isInputOpen() const {
    return in_ && in_->isPortOpen();
}

bool MidiPorts::isOutputOpen() const {
    return out_ && out_->isPortOpen();
}

std::string MidiPorts::takeError() {
    QMutexLocker locker(&errors_.lock);
    return std::exchange(errors_.text, std::string());
}

bool MidiPorts::ensureClient() {
    if (in_)
        return true;
    QString alsaReason;
    if (!Compiled(RtMidi::LINUX_ALSA)) {
        alsaReason = QStringLiteral("no ALSA support");
    } else if (!QFileInfo::exists(QLatin1String(kSequencerDevice))) {
        alsaReason = QStringLiteral("no ALSA sequencer (%1 is missing)")
                         .arg(QLatin1String(kSequencerDevice));
    } else {
        try {
            auto in = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, kClientName);
            auto out = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, kClientName);
            in_ = std::move(in);
            out_ = std::move(out);
            alsa_ = true;
        } catch (const RtMidiError &e) {
            alsaReason = QStringLiteral("the ALSA sequencer cannot be opened (%1)")
                             .arg(QString::fromStdString(e.getMessage()));
        }
    }
    if (!in_) {
        alsa_ = false;
        if (!Compiled(RtMidi::UNIX_JACK)) {
            setAvailable(false, alsaReason + QStringLiteral(", and no JACK support"));
            return false;
        }
        // RtMidi does not notice a server that stops, and its clients then only list what the
        // server last had: a client of the panel's own watches for the server going away.
        jack_client_t *watch = OpenJackClient(kWatchClientName);
        if (!watch) {
            setAvailable(false, alsaReason + QStringLiteral(", and no JACK server is running"));
            return false;
        }
        jackGone_ = false;
        jack_on_shutdown(watch, &MidiPorts::OnJackShutdown, this);
        try {
            auto in = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, kClientName);
            auto out = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, kClientName);
            in_ = std::move(in);
            out_ = std::move(out);
            jackWatch_ = watch;
        } catch (const RtMidiError &e) {
            jack_client_close(watch);
            setAvailable(false, QStringLiteral("%1, and JACK cannot be used (%2)")
                                    .arg(alsaReason, QString::fromStdString(e.getMessage())));
            return false;
        }
    }
    in_->setErrorCallback(&OnError, &errors_);
    out_->setErrorCallback(&OnError, &errors_);
    in_->setCallback(&MidiPorts::OnMessage, this);
    in_->ignoreTypes(true, true, true); // sysex, clock and active sensing are of no use here
    apiName_ = QString::fromStdString(RtMidi::getApiName(in_->getCurrentApi()));
    setAvailable(true, QString());
    return true;
}

void MidiPorts::releaseClient() {
    if (jackGone_) {
        Abandon(std::move(in_), std::move(out_), jackWatch_);
    } else {
        // The input goes first: once it is closed its callback can no longer touch the inbox.
        in_.reset();
        out_.reset();
        if (jackWatch_)
            jack_client_close(jackWatch_);
    }
    jackWatch_ = nullptr;
    jackGone_ = false;
    apiName_.clear();
}

void MidiPorts::setAvailable(bool available, const QString &reason) {
    if (available == available_ && reason == reason_)
        return;
    available_ = available;
    reason_ = reason;
    emit availabilityChanged(available_, reason_);
}

void MidiPorts::releaseClientIfUnbound() {
    if (inputName_.isEmpty() && outputName_.isEmpty())
        releaseClient();
}

void MidiPorts::updateTimer() {
    if (inputName_.isEmpty() && outputName_.isEmpty())
        checkTimer_.stop();
    else if (!checkTimer_.isActive())
        checkTimer_.start();
}

void MidiPorts::setInputPort(const QString &name) {
    bindPort(name, inputName_, in_.get(), &MidiPorts::openInput);
}

void MidiPorts::setOutputPort(const QString &name) {
    bindPort(name, outputName_, out_.get(), &MidiPorts::openOutput);
}

// Binds one direction to a port by name: the old port closes, and the new one is opened at
// once when a client can be had (found or lost says which), else by the next port check.
void MidiPorts::bindPort(const QString &name, QString &bound, RtMidi *port,
                         bool (MidiPorts::*open)()) {
    settleJackShutdown();
    if (name == bound)
        return;
    if (port && port->isPortOpen())
        port->closePort();
    bound = name;
    updateTimer();
    if (name.isEmpty()) {
        releaseClientIfUnbound();
        return;
    }
    if (!ensureClient())
        return;
    if ((this->*open)())
        emit portFound(name);
    else
        emit portLost(name);
}

std::optional<unsigned> MidiPorts::findInput() const {
    return IndexOf(PortNames(*in_, alsa_), inputName_);
}

std::optional<unsigned> MidiPorts::findOutput() const {
    return IndexOf(PortNames(*out_, alsa_), outputName_);
}

bool MidiPorts::openInput() {
    takeError();
    const auto index = findInput();
    if (!index)
        return false;
    in_->openPort(*index, kInputPortName);
    const bool open = in_->isPortOpen() && takeError().empty();
    if (!open && in_->isPortOpen())
        in_->closePort();
    return open;
}

bool MidiPorts::openOutput() {
    takeError();
    const auto index = findOutput();
    if (!index)
        return false;
    out_->openPort(*index, kOutputPortName);
    const bool open = out_->isPortOpen() && takeError().empty();
    if (!open && out_->isPortOpen())
        out_->closePort();
    return open;
}

QStringList MidiPorts::inputPortNames() {
    QStringList names;
    if (ensureClient())
        names = PortNames(*in_, alsa_);
    releaseClientIfUnbound();
    return names;
}

QStringList MidiPorts::outputPortNames() {
    QStringList names;
    if (ensureClient())
        names = PortNames(*out_, alsa_);
    releaseClientIfUnbound();
    return names;
}

void MidiPorts::check() {
    settleJackShutdown();
    if (!ensureClient())
        return;
    checkInput();
    checkOutput();
}

void MidiPorts::checkInput() {
    if (inputName_.isEmpty())
        return;
    if (in_->isPortOpen()) {
        if (findInput())
            return;
        in_->closePort();
        emit portLost(inputName_);
    } else if (openInput()) {
        emit portFound(inputName_);
    }
}

void MidiPorts::checkOutput() {
    if (outputName_.isEmpty())
        return;
    if (out_->isPortOpen()) {
        if (findOutput())
            return;
        out_->closePort();
        emit portLost(outputName_);
    } else if (openOutput()) {
        emit portFound(outputName_);
    }
}

bool MidiPorts::send(const Midi::Message &message) {
    settleJackShutdown();
    if (!isOutputOpen() || message.empty())
        return false;
    takeError();
    out_->sendMessage(message.data(), message.size());
    return takeError().empty();
}

quint64 MidiPorts::droppedMessages() const {
    QMutexLocker locker(&inboxLock_);
    return dropped_;
}

// On the MIDI system's thread.
void MidiPorts::OnMessage(double, std::vector<unsigned char> *message, void *user) {
    auto *self = static_cast<MidiPorts *>(user);
    QByteArray bytes(reinterpret_cast<const char *>(message->data()),
                     static_cast<qsizetype>(message->size()));
    QMutexLocker locker(&self->inboxLock_);
    if (self->inbox_.size() >= kInboxLimit) {
        ++self->dropped_;
        return;
    }
    self->inbox_.push_back(std::move(bytes));
    if (!self->drainPosted_) {
        self->drainPosted_ = true;
        QMetaObject::invokeMethod(self, &MidiPorts::drain, Qt::QueuedConnection);
    }
}

void MidiPorts::drain() {
    std::deque<QByteArray> batch;
    {
        QMutexLocker locker(&inboxLock_);
        batch.swap(inbox_);
        drainPosted_ = false;
    }
    for (const QByteArray &message : batch)
        emit messageReceived(message);
}
