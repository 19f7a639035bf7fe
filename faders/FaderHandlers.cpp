#include "faders/DbEditor.h"
#include "faders/Fader.h"
#include "faders/FaderKeys.h"
#include "faders/FaderPanel.h"
#include "faders/GainScale.h"
#include "faders/ReportedGain.h"
#include "faders/SetGainCommand.h"

#include <QCheckBox>
#include <QTimer>

namespace {

constexpr int kMono = 1;
constexpr int kStereo = 2;

bool validFader(int i) {
    return i >= 0 && i < FaderPanel::kFaders;
}

} // namespace

// Builds and hands over the set-gain command of fader i. A fader whose channel cannot be
// addressed on the wire (hand-edited settings) sends nothing.
void FaderPanel::sendSetGain(int i, qint16 gain, int entries) {
    const auto command =
        SetGainCommand::Build(m_settings.iType, m_settings.iChan[static_cast<std::size_t>(i)],
                              m_settings.iOutChan, gain, entries);
    if (command)
        emit sendRequested(*command);
}

void FaderPanel::sliGain_Scroll(int index) {
    if (!validFader(index) || bUpdating)
        return;
    const auto i = static_cast<std::size_t>(index);
    const qint16 reported = ReportedGain::OfFader(m_settings, m_tables, index);
    // During a step the slider position already holds where the user put the thumb.
    const qint16 gain = GainScale::GainOfPosition(sliGain[i]->sliderPosition());
    if (gain == reported)
        return;

    ShowGainCaption(index, gain);
    const bool locked = chkLock->isChecked();
    const int other = 1 - index;
    if (locked) {
        sliGain[static_cast<std::size_t>(other)]->setValue(-gain);
        ShowGainCaption(other, gain);
    }
    sendSetGain(index, gain, chkStereo[i]->isChecked() ? kStereo : kMono);
    if (locked)
        sendSetGain(other, gain, kMono);
    // Starting an active timer restarts it: the refresh counts from this movement.
    tmrGain->start(locked ? kLockedRefreshMs : kRefreshMs);
}

void FaderPanel::sliGain_KeyUp(int index, int keyCode, int /*shift*/) {
    if (keyCode == FaderKeys::kVkEnd || keyCode == FaderKeys::kVkHome)
        sliGain_Scroll(index);
}

void FaderPanel::cmdZerodb_Click(int index) {
    if (!validFader(index))
        return;
    const auto i = static_cast<std::size_t>(index);
    sliGain[i]->setValue(GainScale::kZeroDbPosition);
    sliGain_Scroll(index);
    sliGain[i]->setFocus(Qt::OtherFocusReason);
}

void FaderPanel::OpenGainEntry(int index) {
    if (validFader(index))
        txtGainEntry[static_cast<std::size_t>(index)]->open(
            sliGain[static_cast<std::size_t>(index)]->gain());
}

// As if the user had put the thumb there: the handler compares with the reported gain, shows
// the caption, applies Stereo and Lock Faders, sends and restarts the refresh.
void FaderPanel::ApplyGain(int index, qint16 gain) {
    if (!validFader(index))
        return;
    sliGain[static_cast<std::size_t>(index)]->setValue(GainScale::PositionOfGain(gain));
    sliGain_Scroll(index);
}

void FaderPanel::chkStereo_Click(int /*index*/) {
    // Lock Faders and Stereo exclude each other.
    if (chkStereo[0]->isChecked() || chkStereo[1]->isChecked()) {
        chkLock->setChecked(false);
        chkLock->setEnabled(false);
    } else {
        chkLock->setEnabled(true);
    }
}

void FaderPanel::tmrGain_Timer() {
    UpdateGain();
    tmrGain->stop();
    tmrGain->setInterval(kAfterRefreshMs);
}
