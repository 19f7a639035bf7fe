#include "surfaces/MidiPorts.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QMutexLocker>
#include <QRegularExpression>

namespace {

// The back end is loaded once, the first time a client is wanted, and never unloaded: clients
// abandoned by a JACK server that stopped stay in it for the rest of the process.
Midi::OpenClient LoadBackend(QString *reason) {
    static QString failure;
    static const Midi::OpenClient open = [] {
        // Beside the program's folder, as installed and in the build tree alike.
        QLibrary backend(QCoreApplication::applicationDirPath() +
                         QLatin1String("/" DS_MIDI_BACKEND));
        backend.setLoadHints(QLibrary::PreventUnloadHint);
        auto entry = reinterpret_cast<Midi::OpenClient>(backend.resolve(Midi::kOpenClientSymbol));
        if (!entry)
            failure = QStringLiteral("the MIDI back end cannot be loaded (%1)")
                          .arg(backend.errorString());
        return entry;
    }();
    *reason = failure;
    return open;
}

std::optional<unsigned> IndexOf(const QStringList &names, const QString &name) {
    const qsizetype index = names.indexOf(name);
    return index < 0 ? std::nullopt : std::optional<unsigned>(static_cast<unsigned>(index));
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

// On a libjack thread, when the server goes away.
void MidiPorts::serverGone() {
    serverGone_ = true;
    QMetaObject::invokeMethod(this, &MidiPorts::jackServerGone, Qt::QueuedConnection);
}

// A shutdown that has happened but whose queued call has not run yet is dealt with before any
// other use of the dead client.
void MidiPorts::settleJackShutdown() {
    if (serverGone_)
        jackServerGone();
}

void MidiPorts::jackServerGone() {
    if (!serverGone_ || !client_)
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

bool MidiPorts::isOpen(Direction direction) const {
    if (!client_)
        return false;
    return direction == Direction::Input ? client_->isInputOpen() : client_->isOutputOpen();
}

bool MidiPorts::isInputOpen() const {
    return isOpen(Direction::Input);
}

bool MidiPorts::isOutputOpen() const {
    return isOpen(Direction::Output);
}

bool MidiPorts::ensureClient() {
    if (client_)
        return true;
    QString reason;
    const Midi::OpenClient open = LoadBackend(&reason);
    if (open)
        client_.reset(open(this, &reason));
    setAvailable(client_ != nullptr, reason);
    return client_ != nullptr;
}

void MidiPorts::releaseClient() {
    client_.reset();
    serverGone_ = false;
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
    bindPort(name, Direction::Input);
}

void MidiPorts::setOutputPort(const QString &name) {
    bindPort(name, Direction::Output);
}

QString &MidiPorts::boundName(Direction direction) {
    return direction == Direction::Input ? inputName_ : outputName_;
}

// Binds one direction to a port by name: the old port closes, and the new one is opened at
// once when a client can be had (found or lost says which), else by the next port check.
void MidiPorts::bindPort(const QString &name, Direction direction) {
    settleJackShutdown();
    QString &bound = boundName(direction);
    if (name == bound)
        return;
    closePort(direction);
    bound = name;
    updateTimer();
    if (name.isEmpty()) {
        releaseClientIfUnbound();
        return;
    }
    if (!ensureClient())
        return;
    if (openPort(direction))
        emit portFound(name);
    else
        emit portLost(name);
}

// The names as the panel remembers them: stable across replugging.
QStringList MidiPorts::portNames(Direction direction) const {
    QStringList names =
        direction == Direction::Input ? client_->inputPorts() : client_->outputPorts();
    const bool alsa = client_->apiName() == QLatin1String("alsa");
    for (QString &name : names)
        name = Midi::StablePortName(name, alsa);
    return names;
}

bool MidiPorts::openPort(Direction direction) {
    const auto index = IndexOf(portNames(direction), boundName(direction));
    if (!index)
        return false;
    return direction == Direction::Input ? client_->openInput(*index) : client_->openOutput(*index);
}

void MidiPorts::closePort(Direction direction) {
    if (!isOpen(direction))
        return;
    if (direction == Direction::Input)
        client_->closeInput();
    else
        client_->closeOutput();
}

QStringList MidiPorts::inputPortNames() {
    QStringList names;
    if (ensureClient())
        names = portNames(Direction::Input);
    releaseClientIfUnbound();
    return names;
}

QStringList MidiPorts::outputPortNames() {
    QStringList names;
    if (ensureClient())
        names = portNames(Direction::Output);
    releaseClientIfUnbound();
    return names;
}

void MidiPorts::check() {
    settleJackShutdown();
    if (!ensureClient())
        return;
    checkPort(Direction::Input);
    checkPort(Direction::Output);
}

// A bound port that vanished is closed and reported lost; one that came back is reopened.
void MidiPorts::checkPort(Direction direction) {
    const QString &name = boundName(direction);
    if (name.isEmpty())
        return;
    if (isOpen(direction)) {
        if (portNames(direction).contains(name))
            return;
        closePort(direction);
        emit portLost(name);
    } else if (openPort(direction)) {
        emit portFound(name);
    }
}

bool MidiPorts::send(const Midi::Message &message) {
    settleJackShutdown();
    if (!isOutputOpen() || message.empty())
        return false;
    return client_->send(message.data(), message.size());
}

quint64 MidiPorts::droppedMessages() const {
    QMutexLocker locker(&inboxLock_);
    return dropped_;
}

// On the MIDI system's thread.
void MidiPorts::messageArrived(const unsigned char *bytes, std::size_t size) {
    QByteArray message(reinterpret_cast<const char *>(bytes), static_cast<qsizetype>(size));
    QMutexLocker locker(&inboxLock_);
    if (inbox_.size() >= kInboxLimit) {
        ++dropped_;
        return;
    }
    inbox_.push_back(std::move(message));
    if (!drainPosted_) {
        drainPosted_ = true;
        QMetaObject::invokeMethod(this, &MidiPorts::drain, Qt::QueuedConnection);
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
