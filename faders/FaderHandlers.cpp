#include "app/Variables.h"
#include "app/frmMain.h"
#include "faders/FaderKeys.h"
#include "faders/FaderView.h"
#include "faders/GainScale.h"
#include "faders/ReportedGain.h"
#include "faders/SetGainCommand.h"
#include "protocol/Seams.h"

#include <QCheckBox>
#include <QLabel>
#include <QPalette>
#include <QSlider>
#include <QTimer>

namespace {

constexpr int kArrowStep = 1; // 0.1 dB
constexpr int kPageStep = 5;  // 0.5 dB
constexpr int kTickSpacing = 50;
constexpr int kMono = 1;
constexpr int kStereo = 2;

bool validFader(int i) {
    return i >= 0 && i < frmMain::kFaders;
}

// Builds and hands over the set-gain command of fader i. A fader whose channel cannot be
// addressed on the wire (hand-edited settings) sends nothing.
void sendSetGain(int i, qint16 gain, int entries) {
    using namespace Variables;
    const auto command =
        SetGainCommand::Build(iType, iChan[static_cast<std::size_t>(i)], iOutChan, gain, entries);
    if (command)
        TCPComm::SendToSwitcher(*command);
}

} // namespace

void frmMain::setupFaders() {
    for (int i = 0; i < kFaders; ++i) {
        QSlider *slider = sliGain[static_cast<std::size_t>(i)];
        slider->setRange(GainScale::kTopPosition, GainScale::kBottomPosition);
        slider->setSingleStep(kArrowStep);
        slider->setPageStep(kPageStep);
        slider->setTickInterval(kTickSpacing);
        slider->setTickPosition(QSlider::TicksBothSides);
        // Lowest value at the top, and louder is up for the arrow and page keys and the wheel.
        slider->setInvertedAppearance(true);
        slider->setInvertedControls(true);
        slider->setValue(GainScale::kBottomPosition);
        slider->setAccessibleDescription(lblGain[static_cast<std::size_t>(i)]->text());
        // Styles fill the groove from the lowest value to the thumb, which on a fader whose
        // top is loudest reads upside down (a full bar at Off). Draw the groove plain.
        QPalette palette = slider->palette();
        palette.setColor(QPalette::Highlight, palette.color(QPalette::Mid));
        slider->setPalette(palette);

        // actionTriggered fires for user steps only, before the value follows the new slider
        // position. A step that does not move the thumb (a press on the thumb, an arrow key
        // at an end) is not a movement.
        connect(slider, &QAbstractSlider::actionTriggered, this, [this, slider, i](int action) {
            if (action == QAbstractSlider::SliderNoAction ||
                slider->sliderPosition() == slider->value())
                return;
            sliGain_Scroll(i);
        });
        FaderKeys::Install(slider,
                           [this, i](int keyCode, int shift) { sliGain_KeyUp(i, keyCode, shift); });
    }
}

void frmMain::sliGain_Scroll(int index) {
    using namespace Variables;
    if (!validFader(index) || bUpdating)
        return;
    const auto i = static_cast<std::size_t>(index);
    const qint16 reported = ReportedGain::OfFader(index);
    // During a step the slider position already holds where the user put the thumb.
    const qint16 gain = GainScale::GainOfPosition(sliGain[i]->sliderPosition());
    if (gain == reported)
        return;

    FaderView::ShowGainCaption(*this, index, gain);
    const bool locked = chkLock->isChecked();
    const int other = 1 - index;
    if (locked) {
        sliGain[static_cast<std::size_t>(other)]->setValue(-gain);
        FaderView::ShowGainCaption(*this, other, gain);
    }
    sendSetGain(index, gain, chkStereo[i]->isChecked() ? kStereo : kMono);
    if (locked)
        sendSetGain(other, gain, kMono);
    // Starting an active timer restarts it: the refresh counts from this movement.
    tmrGain->start(locked ? FaderView::kLockedRefreshMs : FaderView::kRefreshMs);
}

void frmMain::sliGain_KeyUp(int index, int keyCode, int /*shift*/) {
    if (keyCode == FaderKeys::kVkEnd || keyCode == FaderKeys::kVkHome)
        sliGain_Scroll(index);
}

void frmMain::cmdZerodb_Click(int index) {
    if (!validFader(index))
        return;
    const auto i = static_cast<std::size_t>(index);
    sliGain[i]->setValue(GainScale::kZeroDbPosition);
    sliGain_Scroll(index);
    sliGain[i]->setFocus(Qt::OtherFocusReason);
}

void frmMain::chkStereo_Click(int /*index*/) {
    // Lock Faders and Stereo exclude each other.
    if (chkStereo[0]->isChecked() || chkStereo[1]->isChecked()) {
        chkLock->setChecked(false);
        chkLock->setEnabled(false);
    } else {
        chkLock->setEnabled(true);
    }
}

void frmMain::tmrGain_Timer() {
    UpdateGain();
    tmrGain->stop();
    tmrGain->setInterval(FaderView::kAfterRefreshMs);
}
