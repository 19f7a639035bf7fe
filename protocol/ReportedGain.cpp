#include "protocol/ReportedGain.h"

#include "protocol/WireFormat.h"

#include <algorithm>

namespace ReportedGain {

namespace {

bool isTableIndex(int channel) {
    return channel >= 0 && channel <= kMaxChannel;
}

qint16 crosspointGain(const SwitcherTables &tables, int outChan, int source) {
    const auto &map = tables.udtXpt[static_cast<std::size_t>(outChan)];
    // The map lists 1-based source channels; only the first 64 entries have slots, whatever
    // the count says.
    const int listed = source + 1;
    const int kept = std::min<int>(map.bCount, kMapSlots);
    qint16 gain = 0;
    for (int k = 0; k < kept; ++k) {
        if (map.iSources[static_cast<std::size_t>(k)] == listed)
            gain = map.iGains[static_cast<std::size_t>(k)]; // the last match wins
    }
    return gain;
}

} // namespace

qint16 Of(const SwitcherTables &tables, int type, int channel, int outChan) {
    if (!isTableIndex(channel))
        return 0;
    switch (type) {
    case WireFormat::kKindInput:
        return tables.udtInGain[static_cast<std::size_t>(channel)].iSource;
    case WireFormat::kKindOutput:
        return tables.udtOutGain[static_cast<std::size_t>(channel)].iSource;
    case WireFormat::kKindCrosspoint:
        return isTableIndex(outChan) ? crosspointGain(tables, outChan, channel) : qint16(0);
    default:
        return 0;
    }
}

std::optional<qint16> OfChannel(const SwitcherTables &tables, int type, int channel, int outChan) {
    const qint16 gain = Of(tables, type, channel, outChan);
    if (gain == 0)
        return std::nullopt;
    return gain;
}

} // namespace ReportedGain
