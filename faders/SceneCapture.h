#pragma once

// What storing a scene takes: the gains the switcher last reported, for the gain type and
// output the faders show now.

#include "config/Settings.h"
#include "faders/RecallPlan.h"
#include "faders/Scene.h"

#include <array>

namespace SceneCapture {

// The faders' channels (and the channel after a Stereo fader's, for input and output gains,
// as a Stereo fader moves both), or with wholeSwitcher every channel 1..1025 of the type. Only
// channels with a reported gain are kept: there is nothing to restore of the others. Channels
// a hand-edited settings file puts outside the tables are left out.
Scene Capture(const QString &name, const Settings &settings, std::array<bool, 2> stereo,
              bool wholeSwitcher, const RecallPlan::ReportedGain &reported);

} // namespace SceneCapture
