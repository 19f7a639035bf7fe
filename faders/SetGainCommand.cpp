#include "faders/SetGainCommand.h"

#include "config/Settings.h"
#include "protocol/ByteManipulation.h"
#include "protocol/WireFormat.h"

namespace SetGainCommand {

namespace {

constexpr int kMax14Bit = (1 << (2 * WireFormat::kBitsPerGroup)) - 1; // 16383
constexpr int kMaxEntries = 2;

bool fits14(int value) {
    return value >= 0 && value <= kMax14Bit;
}

} // namespace

std::optional<QByteArray> Build(int kind, int channel, int outChan, int gain, int entries) {
    const bool crosspoint = kind == kTypeDsp;
    if (kind < 0 || kind > WireFormat::kDataMask || !fits14(channel) || !fits14(gain) ||
        (crosspoint && !fits14(outChan)) || entries < 1 || entries > kMaxEntries)
        return std::nullopt;

    QByteArray data;
    data.append(static_cast<char>(kSetGainTag));
    data.append(static_cast<char>(kind));
    ByteManipulation::Append14(data, entries);
    ByteManipulation::Append14(data, crosspoint ? outChan : channel);
    for (int n = 0; n < entries; ++n) {
        ByteManipulation::Append14(data, gain);
        if (crosspoint)
            ByteManipulation::Append14(data, channel);
    }
    return ByteManipulation::BuildMessage(WireFormat::kGainReport, data);
}

} // namespace SetGainCommand
