#include "faders/FaderView.h"

#include "app/frmMain.h"
#include "faders/GainScale.h"

#include <QLabel>
#include <QSlider>
#include <algorithm>

namespace FaderView {

void ShowGainCaption(frmMain &form, int i, qint16 gain) {
    const QString caption = GainScale::GainCaption(gain);
    form.lblGain[static_cast<std::size_t>(i)]->setText(caption);
    form.sliGain[static_cast<std::size_t>(i)]->setAccessibleDescription(caption);
}

int PositionOfGain(qint16 gain) {
    return std::clamp(-static_cast<int>(gain), GainScale::kTopPosition, GainScale::kBottomPosition);
}

} // namespace FaderView
