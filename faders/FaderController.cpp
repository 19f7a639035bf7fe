#include "faders/FaderController.h"

#include "config/Limits.h"
#include "faders/FaderView.h"
#include "faders/GainScale.h"
#include "protocol/Channels.h"
#include "transport/GainLink.h"

#include <QScopedValueRollback>
#include <QTimer>
#include <algorithm>

namespace {

constexpr int kMono = 1;
constexpr int kStereo = 2;

bool validFader(int i) {
    return i >= 0 && i < FaderController::kFaders;
}

// What a report or map made known on this connection: a kind of gain, a channel (a source, for
// crosspoint gains; -1 for a whole output's map) and an output (-1 but for crosspoint gains).
quint64 reportKey(int kind, int channel, int output) {
    return (quint64(quint8(kind)) << 40) | (quint64(quint16(channel + 1)) << 20) |
           quint64(quint16(output + 1));
}

// A gain the fader can stand at: a channel never reported (0) starts a fade from Off.
qint16 onScale(qint16 gain) {
    return qint16(std::clamp<int>(gain, GainScale::kOffGain, GainScale::kTopGain));
}

} // namespace

FaderController::FaderController(GainLink &link, FaderView &view, QObject *parent)
    : QObject(parent), m_link(link), m_view(view), tmrGain(new QTimer(this)) {
    tmrGain->setObjectName(QStringLiteral("tmrGain"));
    connect(tmrGain, &QTimer::timeout, this, &FaderController::tmrGain_Timer);
    // Runs from the start: 50 ms later the faders show what the switcher reported so far.
    tmrGain->start(kStartRefreshMs);
    m_clock.start();

    // A hand on a fader ends its fade before the movement counts.
    connect(&view, &FaderView::stepped, this, &FaderController::handStep);
    connect(&view, &FaderView::keyReleased, this, [this](int i, int key) {
        if (key == Qt::Key_End || key == Qt::Key_Home)
            cancelFade(i);
        sliGain_KeyUp(i, key);
    });
    // A press on the thumb or Home and End going down: the fade must not pull the thumb away
    // from under the hand before the step is taken.
    connect(&view, &FaderView::touched, this, &FaderController::cancelFade);
    connect(&view, &FaderView::gainEntered, this,
            [this](int i, qint16 gain) { moveAsUser(i, gain); });
    connect(&view, &FaderView::fadeEntered, this,
            [this](int i, qint16 gain, qint64 ms) { fadeTo(i, gain, ms); });
    connect(this, &FaderController::heldAtCeiling, &view, &FaderView::showHeldAtCeiling);
    connect(&view, &FaderView::zeroClicked, this, &FaderController::cmdZerodb_Click);
    connect(&view, &FaderView::stereoClicked, this, &FaderController::chkStereo_Click);
    connect(&view, &FaderView::lockClicked, this, &FaderController::lockChanged);
}

void FaderController::setSettings(const Settings &settings) {
    // The recorded gains and the fades belong to the channels they were made on.
    const bool rebound = settings.iType != m_settings.iType || settings.iChan != m_settings.iChan ||
                         settings.iOutChan != m_settings.iOutChan;
    m_settings = settings;
    if (rebound) {
        cancelFades();
        m_gesture.reset();
        m_history.clear();
        emit historyChanged();
        checkReported();
    }
}

void FaderController::ShowChannelCaptions() {
    for (int i = 0; i < kFaders; ++i)
        m_view.showChannel(i, m_settings.iChan[static_cast<std::size_t>(i)]);
}

void FaderController::ShowStereoAndLock() {
    m_view.showStereoAndLock(m_settings.iType != kTypeDsp);
}

void FaderController::ShowZeroDb() {
    for (int i = 0; i < kFaders; ++i)
        show(i, GainScale::kZeroDbGain, true);
}

void FaderController::show(int i, qint16 gain, bool thumbToo) {
    if (thumbToo)
        m_view.showGain(i, gain);
    else
        m_view.showCaption(i, gain);
    emit gainShown(i, gain);
}

qint16 FaderController::reportedGain(int i) const {
    if (!validFader(i))
        return 0;
    return m_link.reportedGain(m_settings.iType, m_settings.iChan[static_cast<std::size_t>(i)],
                               m_settings.iOutChan);
}

// Asks for the set-gain command of fader i. A fader whose channel cannot be addressed on the
// wire (hand-edited settings) sends nothing: the link drops what it cannot encode.
void FaderController::requestGain(int i, qint16 gain, int entries) {
    m_link.request(GainRequest{m_settings.iType, m_settings.iChan[static_cast<std::size_t>(i)],
                               m_settings.iOutChan, gain, entries});
}

void FaderController::sliGain_Scroll(int i, qint16 gain, bool alone) {
    if (!validFader(i) || bUpdating)
        return;
    const qint16 reported = reportedGain(i);
    const auto ceiling = m_ceiling[static_cast<std::size_t>(i)];
    if (ceiling && gain > *ceiling) {
        // Held before any command is built: the thumb goes back to what may be sent, or to
        // where the switcher has it when it already stands above the ceiling.
        const auto held = Ceiling::HeldMove(reported, gain, ceiling);
        m_view.holdThumb(i, held.value_or(reported));
        emit heldAtCeiling(i, *ceiling);
        if (!held)
            return;
        gain = *held;
    }
    if (gain == reported)
        return;

    show(i, gain, false);
    const bool locked = !alone && m_view.locked();
    const int other = 1 - i;
    std::optional<qint16> partner;
    if (locked) {
        partner = Ceiling::HeldMove(reportedGain(other), gain,
                                    m_ceiling[static_cast<std::size_t>(other)]);
        if (!partner || *partner != gain)
            emit heldAtCeiling(other, *m_ceiling[static_cast<std::size_t>(other)]);
        if (partner)
            show(other, *partner, true);
    }
    requestGain(i, gain, m_view.stereo(i) ? kStereo : kMono);
    note(i, gain);
    if (partner) {
        requestGain(other, *partner, kMono);
        note(other, *partner);
    }
    // Starting an active timer restarts it: the refresh counts from this movement.
    tmrGain->start(locked ? kLockedRefreshMs : kRefreshMs);
}

// A sent gain belongs to the gesture under way, which starts with what the switcher reported.
void FaderController::note(int i, qint16 gain) {
    if (m_replaying)
        return;
    if (!m_gesture) {
        m_gesture = Gesture{};
        m_gesture->label = QStringLiteral("Move Fader %1").arg(i + 1);
    }
    auto &before = m_gesture->before[static_cast<std::size_t>(i)];
    if (!before)
        before = reportedGain(i);
    m_gesture->after[static_cast<std::size_t>(i)] = gain;
}

void FaderController::finishGesture() {
    if (!m_gesture)
        return;
    UndoStep step{m_gesture->label, {}};
    for (int i = 0; i < kFaders; ++i) {
        const auto k = static_cast<std::size_t>(i);
        if (m_gesture->before[k] && m_gesture->after[k])
            step.changes.append({i, *m_gesture->before[k], *m_gesture->after[k]});
    }
    m_gesture.reset();
    m_history.push(step);
    emit historyChanged();
}

void FaderController::beginGesture(const QString &label) {
    if (!m_heldGesture)
        finishGesture();
    m_heldGesture = true;
    if (!m_gesture)
        m_gesture = Gesture{};
    m_gesture->label = label;
}

void FaderController::endGesture() {
    m_heldGesture = false;
    if (!tmrGain->isActive())
        finishGesture(); // otherwise when the faders fall back, as for any movement
}

// A fade under way is part of the gesture being undone: it stops first, so that what it sent
// so far is one step and no later step of it overrides the undo.
void FaderController::undo() {
    cancelFades();
    finishGesture();
    replay(m_history.undo(), true);
}

void FaderController::redo() {
    cancelFades();
    finishGesture();
    replay(m_history.redo(), false);
}

void FaderController::replay(const std::optional<UndoStep> &step, bool undoing) {
    if (!step)
        return;
    const QScopedValueRollback replaying(m_replaying, true);
    for (const UndoChange &change : step->changes) {
        if (!validFader(change.target))
            continue;
        cancelFade(change.target);
        const qint16 gain = undoing ? change.before : change.after;
        m_view.showThumb(change.target, gain);
        sliGain_Scroll(change.target, m_view.thumbGain(change.target), true);
    }
    emit historyChanged();
}

void FaderController::handStep(int i, qint16 gain) {
    cancelFade(i);
    sliGain_Scroll(i, gain);
}

// Home and End moved the thumb on key press; the step is taken when the key is let go.
void FaderController::sliGain_KeyUp(int i, int key) {
    if (validFader(i) && (key == Qt::Key_End || key == Qt::Key_Home))
        sliGain_Scroll(i, m_view.thumbGain(i));
}

void FaderController::cmdZerodb_Click(int i) {
    if (!validFader(i))
        return;
    moveAsUser(i, GainScale::kZeroDbGain);
    m_view.focusFader(i);
}

// As if the user had put the thumb there: the handler compares with the reported gain, shows
// the caption, applies Stereo and Lock Faders, sends and restarts the refresh.
void FaderController::moveAsUser(int i, qint16 gain, bool alone) {
    if (!validFader(i))
        return;
    cancelFade(i);
    m_view.showThumb(i, gain);
    sliGain_Scroll(i, m_view.thumbGain(i), alone);
}

void FaderController::chkStereo_Click(int i) {
    // Lock Faders and Stereo exclude each other.
    const bool wasLocked = m_view.locked();
    const bool anyStereo = m_view.stereo(0) || m_view.stereo(1);
    m_view.setLock(anyStereo ? false : wasLocked, !anyStereo);
    if (validFader(i))
        emit stereoChanged(i, m_view.stereo(i));
    if (wasLocked != m_view.locked())
        emit lockChanged(m_view.locked());
}

void FaderController::setStereo(int i, bool on) {
    if (!validFader(i) || m_view.stereo(i) == on)
        return;
    m_view.setStereo(i, on);
    chkStereo_Click(i);
}

void FaderController::setLock(bool on) {
    if (m_view.stereo(0) || m_view.stereo(1) || m_view.locked() == on)
        return;
    m_view.setLock(on, true);
    emit lockChanged(on);
}

void FaderController::tmrGain_Timer() {
    UpdateGain();
    tmrGain->stop();
    tmrGain->setInterval(kAfterRefreshMs);
    if (!m_heldGesture)
        finishGesture();
}

// Puts both faders and their captions on the gains the switcher last reported. Setting a
// slider from here is not a user step, so nothing is echoed back; should a handler run all
// the same, bUpdating keeps it quiet. It is cleared on every way out, or the faders would go
// silent for good.
void FaderController::UpdateGain() {
    const QScopedValueRollback updating(bUpdating, true);
    for (int i = 0; i < kFaders; ++i)
        show(i, reportedGain(i), true);
}

void FaderController::gainsStored(const StoredGains &stored) {
    for (const StoredGain &g : stored.gains)
        m_reportedNow.insert(reportKey(stored.kind, g.channel, stored.output));
    checkReported();
    if (!tmrGain->isActive())
        UpdateGain();
    else
        tmrGain->start(); // same interval, counted from now
}

void FaderController::crosspointMapsStored(int first, int last) {
    for (int o = std::max(first, 0); o <= std::min(last, kMaxChannel); ++o)
        m_reportedNow.insert(reportKey(kTypeDsp, -1, o));
    checkReported();
    if (m_settings.iType == kTypeDsp && m_settings.iOutChan >= first &&
        m_settings.iOutChan <= last) {
        if (!tmrGain->isActive())
            UpdateGain();
        else
            tmrGain->start();
    }
}

void FaderController::refreshSoon() {
    // Enabling a counting timer changes nothing: it must not restart its interval.
    if (!tmrGain->isActive())
        tmrGain->start();
}

bool FaderController::reportedSinceConnect(int i) const {
    if (!validFader(i))
        return false;
    const int channel = m_settings.iChan[static_cast<std::size_t>(i)];
    if (m_settings.iType == kTypeDsp)
        return m_reportedNow.contains(reportKey(kTypeDsp, channel, m_settings.iOutChan)) ||
               m_reportedNow.contains(reportKey(kTypeDsp, -1, m_settings.iOutChan));
    return m_reportedNow.contains(reportKey(m_settings.iType, channel, -1));
}

// Tells of each fader whose reported gain changed, or became known on this connection.
void FaderController::checkReported() {
    for (int i = 0; i < kFaders; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const std::optional<qint16> now =
            reportedSinceConnect(i) ? std::optional(reportedGain(i)) : std::nullopt;
        if (now != m_lastReported[k]) {
            m_lastReported[k] = now;
            if (now)
                emit reportedChanged(i, *now);
        }
    }
}

void FaderController::linkUp() {
    m_reportedNow.clear();
    m_lastReported = {};
}

void FaderController::linkDown() {
    cancelFades();
    m_reportedNow.clear();
    m_lastReported = {};
}

// --- Fades -----------------------------------------------------------------------------------

void FaderController::fadeTo(int i, qint16 gain, qint64 durationMs, bool alone) {
    if (!validFader(i))
        return;
    cancelFade(i);
    const qint64 duration = std::clamp<qint64>(durationMs, 0, FadePlan::kMaxDurationMs);
    const qint16 target = onScale(gain);
    if (duration == 0) {
        moveAsUser(i, target, alone);
        return;
    }
    // A fade is a gesture of its own, unless a recall groups it with others.
    if (!m_heldGesture && !m_replaying) {
        finishGesture();
        m_gesture = Gesture{QStringLiteral("Fade Fader %1").arg(i + 1), {}, {}};
    }
    auto &fade = m_fades[static_cast<std::size_t>(i)];
    fade = Fade{};
    fade->plan = FadePlan{onScale(reportedGain(i)), target, duration, m_clock.elapsed()};
    fade->lastSent = fade->plan.from;
    fade->alone = alone;
    fade->timer = new QTimer(this);
    fade->timer->setSingleShot(true);
    fade->timer->setTimerType(Qt::PreciseTimer);
    connect(fade->timer, &QTimer::timeout, this, [this, i] { fadeStep(i); });
    fadeStep(i);
}

// One step: where the fade should be by now, held at the ceiling, sent only when that moved
// on (a step that holds at the ceiling again, or repeats the last gain, sends nothing). While
// the fade runs the refresh keeps waiting, so the fader never jumps back to a report that lags
// behind it.
void FaderController::fadeStep(int i) {
    auto &fade = m_fades[static_cast<std::size_t>(i)];
    if (!fade)
        return;
    const qint64 now = m_clock.elapsed();
    const qint16 gain = fade->plan.gainAt(now);
    const auto ceiling = m_ceiling[static_cast<std::size_t>(i)];
    // Held as a move from where the fade began: a fader standing above its ceiling is not
    // pulled down by a fade that asks for more.
    const auto held = Ceiling::HeldMove(fade->plan.from, gain, ceiling);
    if (ceiling && (!held || *held != gain) && !fade->held) {
        fade->held = true;
        emit heldAtCeiling(i, *ceiling);
    }
    if (held && *held != fade->lastSent) {
        fade->lastSent = *held;
        m_view.showThumb(i, *held);
        sliGain_Scroll(i, m_view.thumbGain(i), fade->alone);
    }
    if (fade->plan.doneAt(now)) {
        cancelFade(i);
        return;
    }
    tmrGain->start(!fade->alone && m_view.locked() ? kLockedRefreshMs : kRefreshMs);
    fade->timer->start(int(std::max<qint64>(0, fade->plan.nextStepAt(now) - now)));
}

void FaderController::cancelFades() {
    for (int i = 0; i < kFaders; ++i)
        cancelFade(i);
}

void FaderController::cancelFade(int i) {
    if (!validFader(i))
        return;
    auto &fade = m_fades[static_cast<std::size_t>(i)];
    if (!fade)
        return;
    // The timer may be the one whose step is running: it goes once that step is over.
    fade->timer->stop();
    fade->timer->deleteLater();
    fade.reset();
    emit fadeEnded(i);
}

bool FaderController::fading(int i) const {
    return validFader(i) && m_fades[static_cast<std::size_t>(i)].has_value();
}

void FaderController::setCeiling(int i, std::optional<qint16> ceiling) {
    if (validFader(i)) {
        m_ceiling[static_cast<std::size_t>(i)] = ceiling;
        m_view.showCeiling(i, ceiling);
    }
}

std::optional<qint16> FaderController::ceiling(int i) const {
    return validFader(i) ? m_ceiling[static_cast<std::size_t>(i)] : std::nullopt;
}
