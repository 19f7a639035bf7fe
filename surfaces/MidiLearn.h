#pragma once

// MIDI learn: armed for one of the panel's controls, the next suitable event from the surface
// becomes its binding.
//
//   fader target:  pitch bend                                  -> pitchbend C
//                  controller N (0-31) and N + 32 on the same  -> cc14 C N
//                  channel within 100 ms, in either order
//                  any other controller                        -> cc C N (after the 100 ms
//                                                                 in which its pair could come)
//                  notes are ignored (a motorised fader's touch sensor sends them)
//   button target: note-on                                     -> note C N
//                  controller with a value of 64 or more       -> cc C N
//                  releases and pitch bend are ignored
//
// A learned fader keeps the mode it was armed with. Times are milliseconds on a steady clock,
// passed in; the owner calls poll() at nextCheck() to finish a controller that had no pair.

#include "surfaces/MidiBinding.h"
#include "surfaces/MidiMessage.h"

#include <QtGlobal>
#include <optional>
#include <variant>

namespace Midi {

// Scene: a button that recalls a scene, whose name the caller holds while learning.
enum class LearnTarget { Fader1, Fader2, Zero1, Zero2, Stereo1, Stereo2, Lock, Scene };

bool IsFaderTarget(LearnTarget target);

struct Learned {
    LearnTarget target;
    std::variant<FaderBinding, ButtonBinding> binding;
};

class MidiLearn {
  public:
    static constexpr qint64 kPairWindowMs = 100;

    void arm(LearnTarget target, FaderMode mode = FaderMode::Pickup);
    void cancel();
    bool armed() const { return target_.has_value(); }
    std::optional<LearnTarget> target() const { return target_; }

    // The binding the event completes, if any; learning then ends.
    std::optional<Learned> feed(const Event &event, qint64 now);
    // A controller that waited for its pair in vain becomes a 7-bit binding once its window ends.
    std::optional<Learned> poll(qint64 now);
    std::optional<qint64> nextCheck() const;

  private:
    std::optional<Learned> finish(FaderBinding binding);

    std::optional<LearnTarget> target_;
    FaderMode mode_ = FaderMode::Pickup;
    std::optional<ControlChange> waiting_; // a controller that may be half of a pair
    qint64 waitingSince_ = 0;
};

} // namespace Midi
