#pragma once

// The OSC control surface in the running panel: it owns the listener (OscServer), starts,
// stops and rebinds it from the [SURFACES] settings, turns what surfaces send into the
// FaderController's own entry points, and publishes the switcher's reported state back to the
// surfaces that subscribed.
//
//   gain, position  -> FaderController::moveAsUser(i, gain)
//   zero            -> FaderController::moveAsUser(i, GainScale::kZeroDbGain)
//   stereo, lock    -> FaderController::setStereo / setLock
//   fade            -> FaderController::fadeTo
//   scene recall    -> sceneRecallRequested (dropped as "no scenes" while nothing is connected)
//
// A surface move therefore obeys Stereo, Lock Faders, the ceilings and the refresh fall-back, and
// holds no gain of its own. After the link comes up (at start-up too) or comes back, no command
// that moves a fader (gain, position, zero, fade, scene recall) is taken until the switcher has
// reported that fader on this connection (both faders while Lock Faders is on, and for a scene);
// what comes before is dropped and counted as "not yet reported on this connection". Stereo
// and Lock are no gain moves and pass.
//
// Feedback: the reported gain (FaderController::reportedChanged), the caption
// (FaderController::gainShown, as GainScale::GainCaption) and the link word
// (SwitcherLink::stateChanged) go to every subscriber, coalesced by the server.
//
// Off (the default) there is no socket and no timer: the object only remembers the latest
// state for a surface that may subscribe once OSC is switched on.

#include "config/SurfaceSettings.h"
#include "surfaces/OscServer.h"

#include <QObject>
#include <QString>
#include <optional>

class FaderController;
class SwitcherLink;

class OscSurface : public QObject {
    Q_OBJECT

  public:
    // Why the surface itself (rather than the listener) dropped a command.
    enum class SurfaceDrop { NotYetReported, NoScenes };
    static constexpr int kSurfaceDropCount = 2;
    static QString SurfaceDropText(SurfaceDrop reason);

    // faders and link must outlive the surface.
    OscSurface(FaderController &faders, SwitcherLink &link, QObject *parent = nullptr);
    ~OscSurface() override;

    // Starts, stops or rebinds the listener as the settings say (only their OSC part is read).
    // A port that is taken or an address that cannot be bound leaves OSC off, with the reason
    // in stateText() and problem(); the panel goes on without OSC.
    void apply(const SurfaceSettings &settings);
    const SurfaceSettings &settings() const { return m_settings; }

    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.port(); }
    // "Listening on 127.0.0.1:9000", "Off", or why OSC could not start.
    QString stateText() const { return m_state; }
    // Why OSC is enabled but not listening (empty otherwise), as one line for the link
    // indicator's facts: "OSC: port 9000 is in use".
    QString problem() const { return m_problem; }

    // What arrived last, with the surface's own verdict when it dropped the command.
    QString lastArrival() const;
    quint64 surfaceDropCount(SurfaceDrop reason) const { return m_drops[int(reason)]; }
    const Osc::OscServer &server() const { return m_server; }
    Osc::OscServer &server() { return m_server; }

  signals:
    // A surface asked for a scene. Another part of the panel (Scenes) recalls it.
    void sceneRecallRequested(const QString &name, std::optional<double> seconds);
    // The state text or the problem changed (start, stop, bind error).
    void stateChanged();
    // The counts, the last arrival or the subscribers changed.
    void statusChanged();

  private:
    void onCommand(const Osc::Command &command);
    bool mayMove(int fader) const;
    void dropCommand(SurfaceDrop reason);
    void publishLink();

    FaderController &m_faders;
    SwitcherLink &m_link;
    Osc::OscServer m_server;
    SurfaceSettings m_settings;
    QString m_state;
    QString m_problem;
    bool m_locked = false;
    quint64 m_drops[kSurfaceDropCount] = {};
    // The surface's verdict on the last command, and the listener's line it belongs to.
    QString m_verdictFor;
    QString m_verdict;
};
