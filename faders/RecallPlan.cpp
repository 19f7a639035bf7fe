#include "faders/RecallPlan.h"

#include "config/Limits.h"

#include <algorithm>

namespace RecallPlan {

QList<ChannelGain> Differences(const Scene &scene, const ReportedGain &reported,
                               const CeilingOf &ceilingOf) {
    QList<ChannelGain> plan;
    for (const auto &[channel, stored] : scene.gains) {
        const std::optional<qint16> now = reported(scene.type, channel, scene.outChan);
        const std::optional<qint16> ceiling = ceilingOf ? ceilingOf(channel) : std::nullopt;
        // A gain never reported moves from nowhere: held at the ceiling, never dropped.
        const std::optional<qint16> gain = now ? Ceiling::HeldMove(*now, stored, ceiling)
                                               : Ceiling::HoldAtCeiling(stored, ceiling);
        if (gain && gain != now)
            plan.append({channel, *gain});
    }
    // A scene read from a file is sorted already; one built in memory need not be.
    std::stable_sort(plan.begin(), plan.end(),
                     [](const ChannelGain &a, const ChannelGain &b) { return a.first < b.first; });
    return plan;
}

} // namespace RecallPlan
