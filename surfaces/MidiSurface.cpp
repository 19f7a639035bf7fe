#include "surfaces/MidiSurface.h"

#include "faders/FaderController.h"
#include "faders/FaderView.h"
#include "faders/GainScale.h"
#include "surfaces/MidiPorts.h"
#include "transport/SwitcherLink.h"

#include <QTimer>
#include <algorithm>

using namespace Midi;

namespace {

QString SceneKey(int n) {
    return QStringLiteral("MIDI Scene %1").arg(n + 1);
}

// The settings key a target is kept under.
QString KeyOf(LearnTarget target) {
    switch (target) {
    case LearnTarget::Fader1:
        return QStringLiteral("MIDI Fader 1");
    case LearnTarget::Fader2:
        return QStringLiteral("MIDI Fader 2");
    case LearnTarget::Zero1:
        return QStringLiteral("MIDI Zero 1");
    case LearnTarget::Zero2:
        return QStringLiteral("MIDI Zero 2");
    case LearnTarget::Stereo1:
        return QStringLiteral("MIDI Stereo 1");
    case LearnTarget::Stereo2:
        return QStringLiteral("MIDI Stereo 2");
    case LearnTarget::Lock:
        return QStringLiteral("MIDI Lock");
    case LearnTarget::Scene:
        return QStringLiteral("MIDI Scene");
    }
    return {};
}

// The button binding slot of a target that is a button.
std::optional<ButtonBinding> *ButtonSlot(MidiSetup &setup, LearnTarget target) {
    switch (target) {
    case LearnTarget::Zero1:
        return &setup.zero[0];
    case LearnTarget::Zero2:
        return &setup.zero[1];
    case LearnTarget::Stereo1:
        return &setup.stereo[0];
    case LearnTarget::Stereo2:
        return &setup.stereo[1];
    case LearnTarget::Lock:
        return &setup.lock;
    default:
        return nullptr;
    }
}

int FaderOf(LearnTarget target) {
    return target == LearnTarget::Fader2 ? 1 : 0;
}

// Whether two fader bindings listen to the same control (whatever their modes).
bool SameControl(const FaderBinding &a, const FaderBinding &b) {
    return a.kind == b.kind && a.channel == b.channel && a.number == b.number;
}

QString Caption(qint16 gain) {
    return GainScale::GainCaption(gain);
}

} // namespace

QString TargetName(LearnTarget target) {
    switch (target) {
    case LearnTarget::Fader1:
        return QStringLiteral("Fader 1");
    case LearnTarget::Fader2:
        return QStringLiteral("Fader 2");
    case LearnTarget::Zero1:
        return QStringLiteral("0db 1");
    case LearnTarget::Zero2:
        return QStringLiteral("0db 2");
    case LearnTarget::Stereo1:
        return QStringLiteral("Stereo 1");
    case LearnTarget::Stereo2:
        return QStringLiteral("Stereo 2");
    case LearnTarget::Lock:
        return QStringLiteral("Lock Faders");
    case LearnTarget::Scene:
        return QStringLiteral("Scene");
    }
    return {};
}

QString DescribeEvent(const Event &event) {
    if (const auto *e = std::get_if<ControlChange>(&event))
        return QStringLiteral("cc %1 %2 = %3").arg(e->channel).arg(e->number).arg(e->value);
    if (const auto *e = std::get_if<NoteOn>(&event))
        return QStringLiteral("note on %1 %2").arg(e->channel).arg(e->note);
    if (const auto *e = std::get_if<NoteOff>(&event))
        return QStringLiteral("note off %1 %2").arg(e->channel).arg(e->note);
    if (const auto *e = std::get_if<PitchBend>(&event))
        return QStringLiteral("pitch bend %1 = %2").arg(e->channel).arg(e->value);
    return QStringLiteral("ignored (%1)").arg(QLatin1String(std::get<Ignored>(event).reason));
}

MidiSurface::MidiSurface(FaderController &faders, FaderView &view, SwitcherLink &link,
                         QObject *parent)
    : QObject(parent), m_faders(faders), m_view(view), m_learnTimer(new QTimer(this)) {
    m_clock.start();
    m_learnTimer->setSingleShot(true);
    connect(m_learnTimer, &QTimer::timeout, this, [this] {
        if (const auto learned = m_learn.poll(now()))
            applyLearned(*learned);
        else
            scheduleLearnPoll();
    });
    for (int i = 0; i < kFaders; ++i) {
        m_motorTimers[i] = new QTimer(this);
        m_motorTimers[i]->setSingleShot(true);
        connect(m_motorTimers[i], &QTimer::timeout, this, [this, i] { pumpMotor(i); });
    }
    connect(&faders, &FaderController::gainShown, this, &MidiSurface::onGainShown);
    connect(&faders, &FaderController::reportedChanged, this, [this](int i, qint16 gain) {
        const auto &binding = m_setup.faders[std::size_t(i)];
        if (!binding || binding->mode != FaderMode::Motor)
            return;
        m_gates[i].setValue(TravelOfGain(gain, TravelMax(binding->kind)));
        pumpMotor(i);
    });
    // A new connection or none: whatever the surface's faders sit at, they must pick up anew.
    connect(&link, &SwitcherLink::connected, this, &MidiSurface::rearmAll);
    connect(&link, &SwitcherLink::connectionLost, this, &MidiSurface::rearmAll);
    connect(&link, &SwitcherLink::connectedChanged, this, [this](bool up) {
        if (!up)
            rearmAll();
    });
}

MidiSurface::~MidiSurface() = default;

void MidiSurface::load(const QString &readFrom, const QString &path) {
    m_path = path;
    if (!readFrom.isEmpty())
        apply(DiskWork::ReadSurfaceSettings(readFrom).settings);
}

void MidiSurface::apply(const SurfaceSettings &settings) {
    m_settings = settings;
    m_setup = ReadMidiSetup([this](const QString &key) {
        const QString *line = m_settings.midiLine(key);
        return line ? *line : QString();
    });
    m_sceneProblems.clear();
    for (int n = 0; n < kSceneKeys; ++n) {
        const QString &text = m_settings.midiScenes[std::size_t(n)];
        const SceneParse parsed = ParseSceneBinding(text);
        m_scenes[std::size_t(n)].reset();
        if (const auto *binding = std::get_if<SceneBinding>(&parsed))
            m_scenes[std::size_t(n)] = *binding;
        else if (!std::get<BindingError>(parsed).blank)
            m_sceneProblems.append(
                QStringLiteral("%1=%2: %3")
                    .arg(SceneKey(n), text.trimmed(), std::get<BindingError>(parsed).reason));
    }
    for (int i = 0; i < kFaders; ++i) {
        if (const auto &binding = m_setup.faders[std::size_t(i)])
            m_pickups[i].setMode(binding->mode);
        m_pickups[i].forgetSurface();
        m_cc14[i] = Cc14State{};
        resetMotor(i);
    }
    if (!m_setup.input.isEmpty() || !m_setup.output.isEmpty()) {
        ensurePorts();
        m_ports->setInputPort(m_setup.input);
        m_ports->setOutputPort(m_setup.output);
    } else {
        dropPortsIfUnbound();
    }
    emit stateChanged();
}

QStringList MidiSurface::problems() const {
    return m_setup.problems + m_sceneProblems;
}

bool MidiSurface::available() const {
    return m_ports && m_ports->available();
}

QString MidiSurface::availability() const {
    if (!m_ports)
        return QStringLiteral("MIDI is off: no port is chosen.");
    if (!m_ports->available())
        return QStringLiteral("MIDI is unavailable: %1.").arg(m_ports->unavailableReason());
    const QString api = m_ports->apiName();
    return QStringLiteral("MIDI is on, through %1.")
        .arg(api == u"alsa" ? QStringLiteral("the ALSA sequencer")
                            : (api == u"jack" ? QStringLiteral("JACK") : api));
}

bool MidiSurface::inputOpen() const {
    return m_ports && m_ports->isInputOpen();
}

bool MidiSurface::outputOpen() const {
    return m_ports && m_ports->isOutputOpen();
}

QStringList MidiSurface::inputPortNames() {
    if (m_ports)
        return m_ports->inputPortNames();
    MidiPorts listing; // a client for the moment, closed again at once
    return listing.inputPortNames();
}

QStringList MidiSurface::outputPortNames() {
    if (m_ports)
        return m_ports->outputPortNames();
    MidiPorts listing;
    return listing.outputPortNames();
}

void MidiSurface::ensurePorts() {
    if (m_ports)
        return;
    m_ports = new MidiPorts(this);
    connect(m_ports, &MidiPorts::messageReceived, this, &MidiSurface::handleMessage);
    connect(m_ports, &MidiPorts::availabilityChanged, this, &MidiSurface::stateChanged);
    connect(m_ports, &MidiPorts::portLost, this, [this](const QString &name) {
        const QString was = m_portStates.value(name);
        m_portStates[name] = was == u"open" || was == u"found again"
                                 ? QStringLiteral("lost; looking for it every 2 s")
                                 : QStringLiteral("not there; looking for it every 2 s");
        forgetSurface();
        emit stateChanged();
    });
    connect(m_ports, &MidiPorts::portFound, this, [this](const QString &name) {
        const bool again = m_portStates.contains(name);
        m_portStates[name] = again ? QStringLiteral("found again") : QStringLiteral("open");
        forgetSurface();
        // A motor that was away from the port may be anywhere: put it where the panel is.
        if (m_ports->outputPort() == name)
            for (int i = 0; i < kFaders; ++i)
                resetMotor(i);
        emit stateChanged();
    });
}

QString MidiSurface::portState() const {
    QStringList lines;
    for (auto it = m_portStates.cbegin(); it != m_portStates.cend(); ++it)
        lines << QStringLiteral("\"%1\" %2").arg(it.key(), it.value());
    return lines.join(QLatin1Char('\n'));
}

void MidiSurface::dropPortsIfUnbound() {
    if (m_ports && m_setup.input.isEmpty() && m_setup.output.isEmpty()) {
        delete m_ports; // closes the ports and the MIDI system client
        m_ports = nullptr;
        m_portStates.clear();
    }
}

void MidiSurface::handleMessage(const QByteArray &bytes) {
    const Event event = Decode(bytes);
    const qint64 t = now();
    m_lastArrived = DescribeEvent(event);
    m_lastOutcome.clear();
    if (m_learn.armed()) {
        if (const auto learned = m_learn.feed(event, t)) {
            applyLearned(*learned);
        } else {
            m_lastOutcome = QStringLiteral("learning");
            scheduleLearnPoll();
        }
        emit messageHandled();
        return;
    }
    for (int i = 0; i < kFaders; ++i) {
        const auto &binding = m_setup.faders[std::size_t(i)];
        if (!binding)
            continue;
        if (const auto touch = TouchOf(*binding, event)) {
            m_gates[i].setTouched(*touch);
            m_lastOutcome =
                QStringLiteral("Fader %1 %2")
                    .arg(i + 1)
                    .arg(*touch ? QStringLiteral("touched") : QStringLiteral("released"));
            pumpMotor(i);
        }
        if (const auto value = FaderValue(*binding, event, m_cc14[i])) {
            m_gates[i].noteInput(t);
            faderValue(i, *value);
            pumpMotor(i);
        }
    }
    for (int i = 0; i < kFaders; ++i) {
        if (m_setup.zero[i] && IsPress(*m_setup.zero[i], event))
            pressed(QStringLiteral("0db %1").arg(i + 1), i, [this, i] {
                m_faders.moveAsUser(i, GainScale::kZeroDbGain);
                m_pickups[i].rearm(); // the panel jumped away from the surface's fader
            });
        if (m_setup.stereo[i] && IsPress(*m_setup.stereo[i], event)) {
            m_faders.setStereo(i, !m_view.stereo(i));
            m_lastOutcome =
                QStringLiteral("Stereo %1 %2")
                    .arg(i + 1)
                    .arg(m_view.stereo(i) ? QStringLiteral("on") : QStringLiteral("off"));
        }
    }
    if (m_setup.lock && IsPress(*m_setup.lock, event)) {
        const bool was = m_view.locked();
        m_faders.setLock(!was);
        m_lastOutcome = m_view.locked() != was
                            ? QStringLiteral("Lock Faders %1").arg(m_view.locked() ? "on" : "off")
                            : QStringLiteral("Lock Faders unchanged: it stays off while Stereo "
                                             "is on");
    }
    for (const auto &scene : m_scenes) {
        if (!scene || !IsPress(scene->button, event))
            continue;
        // A recall moves both faders: the same rule as for a fader of the surface.
        if (!m_faders.reportedSinceConnect(0) || !m_faders.reportedSinceConnect(1)) {
            m_lastOutcome = QStringLiteral("Scene \"%1\" not recalled: the switcher has not "
                                           "reported the faders on this connection yet")
                                .arg(scene->scene);
            continue;
        }
        m_lastOutcome = QStringLiteral("Scene \"%1\" recalled").arg(scene->scene);
        emit sceneRecallRequested(scene->scene, std::nullopt);
    }
    if (m_lastOutcome.isEmpty())
        m_lastOutcome = std::holds_alternative<Ignored>(event) ? QStringLiteral("dropped")
                                                               : QStringLiteral("not bound");
    emit messageHandled();
}

void MidiSurface::faderValue(int i, int value) {
    const FaderBinding &binding = *m_setup.faders[std::size_t(i)];
    const int max = TravelMax(binding.kind);
    const qint16 gain = GainOfTravel(value, max);
    if (!m_faders.reportedSinceConnect(i)) {
        m_lastOutcome = QStringLiteral("Fader %1 held: the switcher has not reported its gain on "
                                       "this connection yet")
                            .arg(i + 1);
        return;
    }
    const qint16 panel = m_shown[std::size_t(i)].value_or(m_faders.reportedGain(i));
    if (!m_pickups[i].offer(GainFraction(panel), TravelFraction(value, max), now())) {
        m_lastOutcome = QStringLiteral("Fader %1 waiting for pickup: the control is at %2, the "
                                       "panel at %3")
                            .arg(i + 1)
                            .arg(Caption(gain), Caption(panel));
        return;
    }
    m_moving = i;
    m_faders.moveAsUser(i, gain);
    m_moving = -1;
    m_lastOutcome = QStringLiteral("Fader %1 to %2").arg(i + 1).arg(Caption(gain));
}

void MidiSurface::pressed(const QString &what, int i, const std::function<void()> &act) {
    if (!m_faders.reportedSinceConnect(i)) {
        m_lastOutcome = QStringLiteral("%1 held: the switcher has not reported the fader on this "
                                       "connection yet")
                            .arg(what);
        return;
    }
    act();
    m_lastOutcome = what;
}

void MidiSurface::onGainShown(int i, qint16 gain) {
    if (i < 0 || i >= kFaders)
        return;
    const auto previous = m_shown[std::size_t(i)];
    m_shown[std::size_t(i)] = gain;
    if (i != m_moving && previous != gain)
        m_pickups[i].panelMoved(now());
}

void MidiSurface::rearmAll() {
    for (auto &pickup : m_pickups)
        pickup.rearm();
    emit stateChanged();
}

void MidiSurface::forgetSurface() {
    for (int i = 0; i < kFaders; ++i) {
        m_pickups[i].forgetSurface();
        m_cc14[i] = Cc14State{};
        m_gates[i].setTouched(false);
    }
}

void MidiSurface::pumpMotor(int i) {
    const auto &binding = m_setup.faders[std::size_t(i)];
    if (!binding || binding->mode != FaderMode::Motor) {
        m_motorTimers[i]->stop();
        return;
    }
    const qint64 t = now();
    if (const auto value = m_gates[i].due(t); value && m_ports)
        for (const Message &message : FeedbackMessages(*binding, *value))
            m_ports->send(message);
    if (const auto next = m_gates[i].nextCheck())
        m_motorTimers[i]->start(int(std::clamp<qint64>(*next - t, 0, MotorGate::kHandMs)));
    else
        m_motorTimers[i]->stop();
}

void MidiSurface::resetMotor(int i) {
    m_gates[i] = MotorGate{};
    const auto &binding = m_setup.faders[std::size_t(i)];
    if (binding && binding->mode == FaderMode::Motor && m_faders.reportedSinceConnect(i))
        m_gates[i].setValue(TravelOfGain(m_faders.reportedGain(i), TravelMax(binding->kind)));
    pumpMotor(i);
}

void MidiSurface::scheduleLearnPoll() {
    if (const auto next = m_learn.nextCheck())
        m_learnTimer->start(int(std::max<qint64>(0, *next - now())));
    else
        m_learnTimer->stop();
}

void MidiSurface::learn(LearnTarget target) {
    FaderMode mode = FaderMode::Pickup;
    if (IsFaderTarget(target))
        if (const auto &binding = m_setup.faders[std::size_t(FaderOf(target))])
            mode = binding->mode;
    m_learn.arm(target, mode);
    scheduleLearnPoll();
    emit stateChanged();
}

void MidiSurface::cancelLearn() {
    m_learn.cancel();
    scheduleLearnPoll();
    emit stateChanged();
}

void MidiSurface::learnScene(const QString &name) {
    const QString scene = name.simplified();
    if (scene.isEmpty())
        return;
    m_sceneToLearn = scene;
    learn(LearnTarget::Scene);
}

// A learned scene button takes the key that already recalls that scene, or the first free one.
void MidiSurface::applyLearnedScene(const ButtonBinding &button) {
    std::optional<std::size_t> slot;
    for (std::size_t k = 0; k < m_scenes.size() && !slot; ++k)
        if (m_scenes[k] && m_scenes[k]->scene == m_sceneToLearn)
            slot = k;
    for (std::size_t k = 0; k < m_scenes.size() && !slot; ++k)
        if (!m_scenes[k] && m_settings.midiScenes[k].trimmed().isEmpty())
            slot = k;
    if (!slot) {
        m_lastOutcome = QStringLiteral("not learned: all %1 scene keys are in use").arg(kSceneKeys);
    } else {
        m_scenes[*slot] = SceneBinding{button, m_sceneToLearn};
        m_settings.midiScenes[*slot] = ToText(*m_scenes[*slot]);
        m_lastOutcome = QStringLiteral("learned for scene \"%1\"").arg(m_sceneToLearn);
        save();
    }
    emit stateChanged();
}

void MidiSurface::applyLearned(const Learned &learned) {
    if (learned.target == LearnTarget::Scene) {
        applyLearnedScene(std::get<ButtonBinding>(learned.binding));
        return;
    }
    // One control drives one target: learning it for a second one takes it from the first.
    if (const auto *fader = std::get_if<FaderBinding>(&learned.binding)) {
        const int i = FaderOf(learned.target);
        auto &other = m_setup.faders[std::size_t(1 - i)];
        if (other && SameControl(*other, *fader))
            remove(i == 0 ? LearnTarget::Fader2 : LearnTarget::Fader1);
        m_setup.faders[std::size_t(i)] = *fader;
        m_pickups[i].setMode(fader->mode);
        m_pickups[i].forgetSurface();
        m_cc14[i] = Cc14State{};
        resetMotor(i);
    } else {
        const auto &button = std::get<ButtonBinding>(learned.binding);
        for (LearnTarget t : {LearnTarget::Zero1, LearnTarget::Zero2, LearnTarget::Stereo1,
                              LearnTarget::Stereo2, LearnTarget::Lock})
            if (t != learned.target && *ButtonSlot(m_setup, t) == button)
                remove(t);
        *ButtonSlot(m_setup, learned.target) = button;
    }
    const QString key = KeyOf(learned.target);
    m_setup.unparsed.remove(key);
    m_setup.problems.removeIf([&](const QString &p) { return p.startsWith(key + u'='); });
    m_lastOutcome = QStringLiteral("learned for %1").arg(TargetName(learned.target));
    save();
    emit stateChanged();
}

void MidiSurface::remove(LearnTarget target) {
    if (IsFaderTarget(target)) {
        const int i = FaderOf(target);
        m_setup.faders[std::size_t(i)].reset();
        m_pickups[i] = Pickup{};
        resetMotor(i);
    } else {
        ButtonSlot(m_setup, target)->reset();
    }
    const QString key = KeyOf(target);
    m_setup.unparsed.remove(key);
    m_setup.problems.removeIf([&](const QString &p) { return p.startsWith(key + u'='); });
    save();
    emit stateChanged();
}

void MidiSurface::setMode(int i, FaderMode mode) {
    auto &binding = m_setup.faders[std::size_t(i)];
    if (!binding || binding->mode == mode)
        return;
    binding->mode = mode;
    m_pickups[i].setMode(mode);
    m_pickups[i].rearm();
    resetMotor(i);
    save();
    emit stateChanged();
}

void MidiSurface::setInputPort(const QString &name) {
    if (name == m_setup.input)
        return;
    m_setup.input = name;
    if (!name.isEmpty())
        ensurePorts();
    m_portStates.clear();
    if (m_ports)
        m_ports->setInputPort(name);
    dropPortsIfUnbound();
    save();
    emit stateChanged();
}

void MidiSurface::setOutputPort(const QString &name) {
    if (name == m_setup.output)
        return;
    m_setup.output = name;
    if (!name.isEmpty())
        ensurePorts();
    m_portStates.clear();
    if (m_ports)
        m_ports->setOutputPort(name);
    dropPortsIfUnbound();
    save();
    emit stateChanged();
}

void MidiSurface::save() {
    for (const auto &[key, text] : MidiSetupEntries(m_setup))
        if (QString *line = m_settings.midiLine(key))
            *line = text;
    if (m_path.isEmpty())
        return;
    m_saveProblem = DiskWork::WriteMidiSurfaceSettings(m_path, m_settings)
                        ? QString()
                        : QStringLiteral("The MIDI settings could not be saved to %1.").arg(m_path);
}
