#include "faders/FaderController.h"

#include "faders/FaderView.h"
#include "faders/GainScale.h"
#include "transport/GainLink.h"

#include <QScopedValueRollback>
#include <QTimer>

namespace {

constexpr int kMono = 1;
constexpr int kStereo = 2;

bool validFader(int i) {
    return i >= 0 && i < FaderController::kFaders;
}

} // namespace

FaderController::FaderController(GainLink &link, FaderView &view, QObject *parent)
    : QObject(parent), m_link(link), m_view(view), tmrGain(new QTimer(this)) {
    tmrGain->setObjectName(QStringLiteral("tmrGain"));
    connect(tmrGain, &QTimer::timeout, this, &FaderController::tmrGain_Timer);
    // Runs from the start: 50 ms later the faders show what the switcher reported so far.
    tmrGain->start(kStartRefreshMs);

    connect(&view, &FaderView::stepped, this, &FaderController::sliGain_Scroll);
    connect(&view, &FaderView::keyReleased, this, &FaderController::sliGain_KeyUp);
    connect(&view, &FaderView::gainEntered, this, &FaderController::moveAsUser);
    connect(&view, &FaderView::zeroClicked, this, &FaderController::cmdZerodb_Click);
    connect(&view, &FaderView::stereoClicked, this, &FaderController::chkStereo_Click);
}

void FaderController::setSettings(const Settings &settings) {
    m_settings = settings;
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
        m_view.showGain(i, GainScale::kZeroDbGain);
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

void FaderController::sliGain_Scroll(int i, qint16 gain) {
    if (!validFader(i) || bUpdating)
        return;
    if (gain == reportedGain(i))
        return;

    m_view.showCaption(i, gain);
    const bool locked = m_view.locked();
    const int other = 1 - i;
    if (locked)
        m_view.showGain(other, gain);
    requestGain(i, gain, m_view.stereo(i) ? kStereo : kMono);
    if (locked)
        requestGain(other, gain, kMono);
    // Starting an active timer restarts it: the refresh counts from this movement.
    tmrGain->start(locked ? kLockedRefreshMs : kRefreshMs);
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
void FaderController::moveAsUser(int i, qint16 gain) {
    if (!validFader(i))
        return;
    m_view.showThumb(i, gain);
    sliGain_Scroll(i, m_view.thumbGain(i));
}

void FaderController::chkStereo_Click(int /*i*/) {
    // Lock Faders and Stereo exclude each other.
    const bool anyStereo = m_view.stereo(0) || m_view.stereo(1);
    m_view.setLock(anyStereo ? false : m_view.locked(), !anyStereo);
}

void FaderController::setStereo(int i, bool on) {
    if (!validFader(i))
        return;
    m_view.setStereo(i, on);
    chkStereo_Click(i);
}

void FaderController::setLock(bool on) {
    if (!m_view.stereo(0) && !m_view.stereo(1))
        m_view.setLock(on, true);
}

void FaderController::tmrGain_Timer() {
    UpdateGain();
    tmrGain->stop();
    tmrGain->setInterval(kAfterRefreshMs);
}

// Puts both faders and their captions on the gains the switcher last reported. Setting a
// slider from here is not a user step, so nothing is echoed back; should a handler run all
// the same, bUpdating keeps it quiet. It is cleared on every way out, or the faders would go
// silent for good.
void FaderController::UpdateGain() {
    const QScopedValueRollback updating(bUpdating, true);
    for (int i = 0; i < kFaders; ++i)
        m_view.showGain(i, reportedGain(i));
}

void FaderController::gainsStored(const StoredGains & /*stored*/) {
    if (!tmrGain->isActive())
        UpdateGain();
    else
        tmrGain->start(); // same interval, counted from now
}

void FaderController::crosspointMapsStored(int first, int last) {
    if (m_settings.iType == kTypeDsp && m_settings.iOutChan >= first && m_settings.iOutChan <= last)
        gainsStored({});
}

void FaderController::refreshSoon() {
    // Enabling a counting timer changes nothing: it must not restart its interval.
    if (!tmrGain->isActive())
        tmrGain->start();
}
