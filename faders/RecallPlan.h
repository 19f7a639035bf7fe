#pragma once

// What recalling a scene sends: only the gains that differ from what the switcher reported.

#include "faders/Scene.h"

#include <QList>
#include <functional>
#include <optional>

namespace RecallPlan {

// The gain the switcher last reported for (type, 0-based channel, 0-based outChan); nothing
// for a gain it never reported.
using ReportedGain =
    std::function<std::optional<qint16>(qint16 type, qint16 channel, qint16 outChan)>;

// The ceiling that holds a channel of the scene: that of the fader showing it now (same type,
// channel and, for DSP, outChan); nothing for a channel under no fader or without a ceiling.
using CeilingOf = std::function<std::optional<qint16>(qint16 channel)>;

// The scene's (channel, gain) pairs whose gain differs from the reported one, or that were
// never reported, in channel order. The scene's own type and outChan address them, whatever
// the faders show now. With ceilingOf, a recall is held like any other move
// (Ceiling::HeldMove): a gain goes no higher than its fader's ceiling, and a channel reported
// above its ceiling is not pulled down by a scene that asks for as much or more.
QList<ChannelGain> Differences(const Scene &scene, const ReportedGain &reported,
                               const CeilingOf &ceilingOf = {});

} // namespace RecallPlan
