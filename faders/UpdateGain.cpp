#include "app/Variables.h"
#include "app/frmMain.h"
#include "faders/FaderView.h"
#include "faders/ReportedGain.h"

#include <QSlider>

namespace {

// While set, fader movements are not sent; it must be cleared on every way out, or the
// faders would go silent for good.
class UpdatingGuard {
  public:
    UpdatingGuard() { Variables::bUpdating = true; }
    ~UpdatingGuard() { Variables::bUpdating = false; }
    UpdatingGuard(const UpdatingGuard &) = delete;
    UpdatingGuard &operator=(const UpdatingGuard &) = delete;
};

} // namespace

// Puts both faders and their captions on the gains the switcher last reported. Setting a
// slider from here is not a user step, so nothing is echoed back.
void frmMain::UpdateGain() {
    const UpdatingGuard guard;
    for (int i = 0; i < kFaders; ++i) {
        const qint16 reported = ReportedGain::OfFader(i);
        sliGain[static_cast<std::size_t>(i)]->setValue(FaderView::PositionOfGain(reported));
        FaderView::ShowGainCaption(*this, i, reported);
    }
}
