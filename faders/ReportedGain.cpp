#include "faders/ReportedGain.h"

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

qint16 OfFader(const Settings &settings, const SwitcherTables &tables, int fader) {
    if (fader < 0 || fader >= static_cast<int>(settings.iChan.size()))
        return 0;
    const int channel = settings.iChan[static_cast<std::size_t>(fader)];
    if (!isTableIndex(channel))
        return 0;
    switch (settings.iType) {
    case kTypeInput:
        return tables.udtInGain[static_cast<std::size_t>(channel)].iSource;
    case kTypeOutput:
        return tables.udtOutGain[static_cast<std::size_t>(channel)].iSource;
    case kTypeDsp:
        return isTableIndex(settings.iOutChan) ? crosspointGain(tables, settings.iOutChan, channel)
                                               : qint16(0);
    default:
        return 0;
    }
}

std::optional<qint16> OfChannel(const SwitcherTables &tables, qint16 type, int channel,
                                int outChan) {
    if (!isTableIndex(channel))
        return std::nullopt;
    qint16 gain = 0;
    switch (type) {
    case kTypeInput:
        gain = tables.udtInGain[static_cast<std::size_t>(channel)].iSource;
        break;
    case kTypeOutput:
        gain = tables.udtOutGain[static_cast<std::size_t>(channel)].iSource;
        break;
    case kTypeDsp:
        if (isTableIndex(outChan))
            gain = crosspointGain(tables, outChan, channel);
        break;
    default:
        break;
    }
    if (gain == 0)
        return std::nullopt;
    return gain;
}

} // namespace ReportedGain
