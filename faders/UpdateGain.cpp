#include "faders/Fader.h"
#include "faders/FaderPanel.h"
#include "faders/GainScale.h"
#include "faders/ReportedGain.h"

#include <QScopedValueRollback>
#include <QTimer>

// Puts both faders and their captions on the gains the switcher last reported. Setting a
// slider from here is not a user step, so nothing is echoed back; should a handler run all
// the same, bUpdating keeps it quiet. It is cleared on every way out, or the faders would go
// silent for good.
void FaderPanel::UpdateGain() {
    const QScopedValueRollback updating(bUpdating, true);
    for (int i = 0; i < kFaders; ++i) {
        const qint16 reported = ReportedGain::OfFader(m_settings, m_tables, i);
        sliGain[static_cast<std::size_t>(i)]->setValue(GainScale::PositionOfGain(reported));
        ShowGainCaption(i, reported);
    }
}

void FaderPanel::gainsReported() {
    if (!tmrGain->isActive())
        UpdateGain();
    else
        tmrGain->start(); // same interval, counted from now
}

void FaderPanel::crosspointMapsStored(int first, int last) {
    if (m_settings.iType == kTypeDsp && m_settings.iOutChan >= first && m_settings.iOutChan <= last)
        gainsReported();
}

void FaderPanel::refreshSoon() {
    // Enabling a counting timer changes nothing: it must not restart its interval.
    if (!tmrGain->isActive())
        tmrGain->start();
}
