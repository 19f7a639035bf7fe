#pragma once

// What a fader group shows for a gain value, shared by the fader handlers and UpdateGain.

#include <QtGlobal>

class frmMain;

namespace FaderView {

// Interval of tmrGain after a movement (longer with Lock Faders, whose two commands the
// switcher confirms one after the other) and after it has fired.
inline constexpr int kRefreshMs = 100;
inline constexpr int kLockedRefreshMs = 200;
inline constexpr int kAfterRefreshMs = 10;

// Sets the gain caption of group i to gain, and gives screen readers the same text as the
// fader's description.
void ShowGainCaption(frmMain &form, int i, qint16 gain);

// The slider position that shows gain: -gain, or the nearest end of the fader for a gain the
// fader cannot show (0 for a channel never reported, up to 16383 in a report).
int PositionOfGain(qint16 gain);

} // namespace FaderView
