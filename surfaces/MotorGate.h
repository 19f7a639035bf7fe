#pragma once

// When the panel may move a motorised surface control: never while the operator's hand is on it
// (its touch sensor reports a touch, or it sent a position within the last 300 ms), so that
// feedback never fights the hand. Reported positions that arrive meanwhile are not lost: the
// latest is kept and goes out once the hand lets go.
//
// Positions are in the binding's own travel units; times are milliseconds on a steady clock,
// passed in. The owner calls due(now) whenever something changed and again at nextCheck().

#include <QtGlobal>
#include <optional>

namespace Midi {

class MotorGate {
  public:
    static constexpr qint64 kHandMs = 300;

    // The panel's position for the control (from a switcher report, a recall, ...).
    void setValue(int value) { latest_ = value; }
    // The control sent a position: the hand is on it, and the motor's last position is stale.
    void noteInput(qint64 now);
    void setTouched(bool touched) { touched_ = touched; }

    // The position to send now, if one is due and the hand is off; it then counts as sent.
    std::optional<int> due(qint64 now);
    // When to call due() again: while a position waits for the input window to close. Nothing
    // while a touch is held (the release comes as an event) or when nothing waits.
    std::optional<qint64> nextCheck() const;

  private:
    bool pending() const { return latest_ && latest_ != sent_; }

    std::optional<int> latest_;
    std::optional<int> sent_;
    std::optional<qint64> lastInput_;
    bool touched_ = false;
};

} // namespace Midi
