#include "faders/RecallPlan.h"

#include <algorithm>

namespace RecallPlan {

QList<ChannelGain> Differences(const Scene &scene, const ReportedGain &reported) {
    QList<ChannelGain> plan;
    for (const ChannelGain &entry : scene.gains)
        if (reported(scene.type, entry.first, scene.outChan) != entry.second)
            plan.append(entry);
    // A scene read from a file is sorted already; one built in memory need not be.
    std::stable_sort(plan.begin(), plan.end(),
                     [](const ChannelGain &a, const ChannelGain &b) { return a.first < b.first; });
    return plan;
}

} // namespace RecallPlan
