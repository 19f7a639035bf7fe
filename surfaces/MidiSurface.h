#pragma once

// A MIDI controller as a control surface of the running panel: its ports (by name), its
// bindings from the settings file, learn, soft takeover and motor feedback, wired to the fader
// controller.
//
// Every move goes through FaderController::moveAsUser, like a hand on the fader, and only once
// the switcher has reported that fader's gain on the present connection; before that a value is
// dropped and the drop shown. A fader binding without motors follows the panel only after it has
// picked up (Pickup); the pickups re-arm whenever the panel's fader moves by anything but this
// surface, when the link comes up or goes down, and when a port is lost or found again.
//
// Nothing MIDI exists until a port is named: without MIDI settings this object only holds empty
// bindings, owns no MidiPorts, contacts no MIDI system and arms no timer.

#include "config/SurfaceSettings.h"
#include "surfaces/MidiBinding.h"
#include "surfaces/MidiControl.h"
#include "surfaces/MidiLearn.h"
#include "surfaces/MidiScene.h"
#include "surfaces/MidiSetup.h"
#include "surfaces/MotorGate.h"
#include "surfaces/Pickup.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <optional>

class FaderController;
class FaderView;
class MidiPorts;
class QTimer;
class SwitcherLink;

class MidiSurface : public QObject {
    Q_OBJECT

  public:
    static constexpr int kFaders = 2;

    // All three must outlive the surface.
    MidiSurface(FaderController &faders, FaderView &view, SwitcherLink &link,
                QObject *parent = nullptr);
    ~MidiSurface() override;

    // The settings file: the MIDI keys of its [SURFACES] section are read from readFrom now, and
    // every change the operator makes (a port, learn, a mode, a removal) is saved to path.
    void load(const QString &readFrom, const QString &path);
    // The MIDI keys from settings (the raw lines); opens the named ports, if any.
    void apply(const SurfaceSettings &settings);

    // --- state, for the window ---
    const Midi::MidiSetup &setup() const { return m_setup; }
    // One entry per scene key that holds a binding, "MIDI Scene n=<line>" when it parsed.
    const std::array<std::optional<Midi::SceneBinding>, Midi::kSceneKeys> &scenes() const {
        return m_scenes;
    }
    // Bad lines of the file: "MIDI Fader 2=cc 17 7: channel 17 is not 1-16".
    QStringList problems() const;
    bool active() const { return m_ports != nullptr; }
    bool available() const;
    QString availability() const;
    // Each bound port's last change: "ctl:out: lost; looking for it every 2 s".
    QString portState() const;
    bool inputOpen() const;
    bool outputOpen() const;
    // What the controller sent last and what became of it.
    QString lastArrived() const { return m_lastArrived; }
    QString lastOutcome() const { return m_lastOutcome; }
    QString saveProblem() const { return m_saveProblem; }
    std::optional<Midi::LearnTarget> learning() const { return m_learn.target(); }
    bool pickedUp(int i) const { return m_pickups[i].engaged(); }
    // The ports the MIDI system lists now (opens a client for the moment when none exists).
    QStringList inputPortNames();
    QStringList outputPortNames();

    // --- the operator's changes; each is saved ---
    void setInputPort(const QString &name);
    void setOutputPort(const QString &name);
    void learn(Midi::LearnTarget target);
    // Learns the next button pressed as the recall of the scene of that name (a "MIDI Scene n"
    // key: the one that already recalls it, or the first free one).
    void learnScene(const QString &name);
    void cancelLearn();
    void remove(Midi::LearnTarget target);
    void setMode(int i, Midi::FaderMode mode);

    // A message as the ports deliver it (public for the benchmarks and tests that drive the
    // surface without a MIDI system).
    void handleMessage(const QByteArray &bytes);

  signals:
    // A scene key's button was pressed: recall the scene (no fade time of its own).
    void sceneRecallRequested(const QString &name, std::optional<double> seconds);
    // Anything the window shows changed: bindings, ports, availability, learn.
    void stateChanged();
    // A message arrived (lastArrived and lastOutcome changed).
    void messageHandled();

  private:
    qint64 now() const { return m_clock.elapsed(); }
    void ensurePorts();
    void dropPortsIfUnbound();
    void faderValue(int i, int value);
    void pressed(const QString &what, int i, const std::function<void()> &act);
    void applyLearned(const Midi::Learned &learned);
    void applyLearnedScene(const Midi::ButtonBinding &button);
    void scheduleLearnPoll();
    void pumpMotor(int i);
    void resetMotor(int i);
    void rearmAll();
    void forgetSurface();
    void onGainShown(int i, qint16 gain);
    void save();

    FaderController &m_faders;
    FaderView &m_view;
    QString m_path;
    SurfaceSettings m_settings; // the raw lines as read; scene lines stay as they were
    Midi::MidiSetup m_setup;
    std::array<std::optional<Midi::SceneBinding>, Midi::kSceneKeys> m_scenes;
    QStringList m_sceneProblems;
    QString m_sceneToLearn;
    MidiPorts *m_ports = nullptr;

    std::array<Midi::Pickup, kFaders> m_pickups;
    std::array<Midi::MotorGate, kFaders> m_gates;
    std::array<Midi::Cc14State, kFaders> m_cc14;
    std::array<QTimer *, kFaders> m_motorTimers{};
    std::array<std::optional<qint16>, kFaders> m_shown;
    Midi::MidiLearn m_learn;
    QTimer *m_learnTimer = nullptr;
    int m_moving = -1; // the fader this surface is moving, while it does
    QElapsedTimer m_clock;

    QMap<QString, QString> m_portStates; // port name -> what last happened to it
    QString m_lastArrived;
    QString m_lastOutcome;
    QString m_saveProblem;
};

// The panel's name for a binding target ("Fader 1", "0db 2", "Stereo 1", "Lock Faders").
QString TargetName(Midi::LearnTarget target);
// An event as the window shows it ("cc 1 7 = 100", "note on 1 60", "pitch bend 1 = 8192").
QString DescribeEvent(const Midi::Event &event);
