#pragma once

// The rules of the two faders: what a movement sends, Stereo and Lock Faders, and the fall-back
// to what the switcher reported (tmrGain, UpdateGain). It speaks to the link in gains only
// (GainLink) and to the widgets through FaderView; the window feeds it the link's reports.
//
// Every way of moving a fader (a hand on the fader or its keys, 0db, a typed gain, assistive
// technology, and anything added later) ends in the same handler, sliGain_Scroll, so that each
// obeys the same rules: nothing is sent when the gain is the one reported, Stereo sends a pair,
// Lock Faders moves the other fader too, and tmrGain brings both back to the reported gains a
// moment after the last movement. A ceiling holds every one of them before a command is built.
//
// On top of that the controller keeps what the operator's safety net needs: the ceilings, timed
// fades (by the clock, ended by a hand on the fader, a new fade or a lost link), and the undo
// history, one step per finished gesture (a gesture ends when tmrGain brings the faders back).

#include "config/Settings.h"
#include "faders/FadePlan.h"
#include "faders/UndoHistory.h"
#include "protocol/StoredGains.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QtGlobal>
#include <array>
#include <optional>

class FaderView;
class GainLink;
class QTimer;

class FaderController : public QObject {
    Q_OBJECT

  public:
    static constexpr int kFaders = 2;

    // Interval of tmrGain at start-up (the first refresh), after a movement (longer with Lock
    // Faders, whose two commands the switcher confirms one after the other) and after it fired.
    static constexpr int kStartRefreshMs = 50;
    static constexpr int kRefreshMs = 100;
    static constexpr int kLockedRefreshMs = 200;
    static constexpr int kAfterRefreshMs = 10;

    // link and view must outlive the controller.
    FaderController(GainLink &link, FaderView &view, QObject *parent = nullptr);

    // The gain type, channels and output channel the faders follow from now on.
    void setSettings(const Settings &settings);
    const Settings &settings() const { return m_settings; }
    // "Ch. n" captions from the configured channels.
    void ShowChannelCaptions();
    // Shows Lock Faders and both Stereo boxes for input and output gains, hides them for DSP
    // gains (they keep their state, and their effect, while hidden).
    void ShowStereoAndLock();
    // Both faders at 0 dB with their captions, as start-up puts them.
    void ShowZeroDb();

    // Moves fader i to gain as the user would: the thumb goes there and the handler decides
    // what is sent. The one way in for every source of movement that is not the fader itself;
    // like a hand on the fader, it ends a fade of that fader. alone: the Lock Faders partner
    // stays where it is (a scene recall sets each fader to its own gain).
    void moveAsUser(int i, qint16 gain, bool alone = false);
    // Fades fader i from its reported gain to gain over durationMs (0..60 s; 0 moves at once),
    // a step about every 20 ms, the last exactly on gain. A new fade of the fader replaces it.
    // Each step is held at the ceiling and sent only when the held gain moved on; with alone
    // the Lock Faders partner does not follow.
    void fadeTo(int i, qint16 gain, qint64 durationMs, bool alone = false);
    void cancelFade(int i);
    bool fading(int i) const;

    // The highest gain fader i may be moved to; none: the top of the scale.
    void setCeiling(int i, std::optional<qint16> ceiling);
    std::optional<qint16> ceiling(int i) const;

    // Undo and redo of whole gestures; each sends the gains through the same handler (so the
    // ceilings hold), each fader on its own.
    bool canUndo() const { return m_history.canUndo(); }
    bool canRedo() const { return m_history.canRedo(); }
    QString undoLabel() const { return m_history.undoLabel(); }
    QString redoLabel() const { return m_history.redoLabel(); }
    void undo();
    void redo();
    // Groups the moves that follow, until endGesture, into one undo step named label (a scene
    // recall, which moves the faders one after the other).
    void beginGesture(const QString &label);
    void endGesture();

    // The link came up: nothing counts as reported on this connection yet. The link went down:
    // every fade ends, and nothing resumes by itself when it returns.
    void linkUp();
    void linkDown();
    // True once the switcher has reported fader i's gain (its channel under the present gain
    // type) on the present connection: before that, a control surface must not move it.
    bool reportedSinceConnect(int i) const;
    // Stereo on fader i and Lock Faders, as a click on their boxes would set them (Lock Faders
    // stays off while either Stereo box is checked).
    void setStereo(int i, bool on);
    void setLock(bool on);

    // What the switcher last reported for fader i's channel under the present gain type.
    qint16 reportedGain(int i) const;

    // Refreshes both faders and gain captions from the reported gains.
    void UpdateGain();
    // After the link stored a report: refresh at once when tmrGain is idle, otherwise restart
    // it, so that the refresh waits until the user has stopped moving a fader.
    void gainsStored(const StoredGains &stored);
    // The same after crosspoint maps, when the faders follow one of the outputs stored.
    void crosspointMapsStored(int first, int last);
    // Enables tmrGain (Setup's OK): a refresh soon, unless one is already counting down.
    void refreshSoon();

    // True while UpdateGain moves the faders: the handlers then send nothing.
    bool updating() const { return bUpdating; }

    // Handlers. sliGain_Scroll takes the gain the user put fader i's thumb at; alone, it does
    // not move the Lock Faders partner (undo and redo restore each fader by itself).
    void sliGain_Scroll(int i, qint16 gain, bool alone = false);
    void sliGain_KeyUp(int i, int key);
    void cmdZerodb_Click(int i);
    void chkStereo_Click(int i);
    void tmrGain_Timer();

  signals:
    // Fader i's caption now shows gain (a movement, a refresh, start-up).
    void gainShown(int i, qint16 gain);
    // What the switcher reported for fader i changed, or was reported for the first time on
    // this connection.
    void reportedChanged(int i, qint16 gain);
    void stereoChanged(int i, bool on);
    void lockChanged(bool on);
    // A move of fader i was held back at its ceiling.
    void heldAtCeiling(int i, qint16 ceiling);
    void historyChanged();
    void fadeEnded(int i);

  private:
    struct Fade {
        FadePlan plan;
        QTimer *timer = nullptr;
        qint16 lastSent = 0;
        bool alone = false;
        bool held = false; // the ceiling held a step: said once per fade
    };
    struct Gesture {
        QString label;
        std::array<std::optional<qint16>, 2> before, after;
    };

    void requestGain(int i, qint16 gain, int entries);
    void show(int i, qint16 gain, bool thumbToo);
    void fadeStep(int i);
    void note(int i, qint16 gain);
    void finishGesture();
    void replay(const std::optional<UndoStep> &step, bool undoing);
    void checkReported();
    void handStep(int i, qint16 gain);
    void cancelFades();

    GainLink &m_link;
    FaderView &m_view;
    Settings m_settings;
    bool bUpdating = false;
    QTimer *tmrGain;

    std::array<std::optional<qint16>, 2> m_ceiling;
    std::array<std::optional<Fade>, 2> m_fades;
    QElapsedTimer m_clock;
    UndoHistory m_history;
    std::optional<Gesture> m_gesture;
    bool m_heldGesture = false;  // beginGesture is grouping: tmrGain does not end the gesture
    bool m_replaying = false;    // undo or redo: their moves are no gesture of their own
    QSet<quint64> m_reportedNow; // (kind, channel, output) reported on this connection
    std::array<std::optional<qint16>, 2> m_lastReported;
};
