#pragma once

// Soft takeover for a surface fader without motors: the panel's fader follows the surface only
// once the two agree, so that touching a surface fader that sits elsewhere never makes the gain
// jump (and a fader resting at the bottom never switches a channel Off).
//
// Positions are fractions of the travel (0 bottom, 1 top), the panel's taken from its gain.
// Times are milliseconds on any steady clock, passed in.
//
//   mode          state    previous  new value                                   result
//   ------------  -------  --------  ------------------------------------------  ------------
//   jump, motor   any      any       any                                         pass
//   pickup        engaged  any       any (quick throws too)                      pass
//   pickup        armed    any       the bottom (0), the panel not at the bottom hold
//   pickup        armed    any       within 3/128 of the panel                   pass, engage
//   pickup        armed    known     previous and new on opposite sides of the   pass, engage
//                                    panel, or either one on it (crossed)
//   pickup        armed    none      farther than 3/128 (first value ever)       hold
//   pickup        armed    known     same side as previous, farther than 3/128   hold
//
// The rows are tried in order. The bottom row keeps a control that has not taken over from ever
// switching a channel Off: controllers send 0 when they start or reset, and a fader resting at
// the bottom says nothing about the operator's intent. Once engaged, the bottom passes like any
// other position.
//
// Every value offered becomes the previous one, whether it passed or not.
//
// Re-arming (engaged -> armed):
//   panelMoved(now)   the panel's fader moved by something else (a switcher report, the mouse).
//                     Ignored while the hand is on the surface fader (a value accepted within
//                     the last 300 ms): such a move is the switcher reporting the surface's own
//                     commands back, and re-arming on it would drop the fader mid-move.
//   rearm()           a deliberate move (a recall, a reconnection): always.
//   forgetSurface()   the surface's position is no longer known (its port was lost or found
//                     again): always, and the previous value is forgotten.

#include "surfaces/MidiBinding.h"

#include <QtGlobal>
#include <optional>

namespace Midi {

class Pickup {
  public:
    static constexpr double kThreshold = 3.0 / 128;
    static constexpr qint64 kHandMs = 300;

    explicit Pickup(FaderMode mode = FaderMode::Pickup) : mode_(mode) {}

    void setMode(FaderMode mode) { mode_ = mode; }
    FaderMode mode() const { return mode_; }
    bool engaged() const { return engaged_; }

    // Whether the panel's fader (at `panel`) should take the surface's new position `value`.
    bool offer(double panel, double value, qint64 now);

    void panelMoved(qint64 now);
    void rearm();
    void forgetSurface();

  private:
    FaderMode mode_;
    bool engaged_ = false;
    std::optional<double> previous_;
    std::optional<qint64> lastAccepted_;
};

} // namespace Midi
