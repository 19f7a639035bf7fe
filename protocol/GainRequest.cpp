#include "protocol/GainRequest.h"

#include "protocol/ByteManipulation.h"
#include "protocol/WireFormat.h"

namespace GainRequestCodec {

namespace {

constexpr int kMax14Bit = (1 << (2 * WireFormat::kBitsPerGroup)) - 1; // 16383
constexpr int kMaxEntries = 2;

bool fits14(int value) {
    return value >= 0 && value <= kMax14Bit;
}

} // namespace

std::optional<QByteArray> Encode(const GainRequest &r) {
    const bool crosspoint = r.type == WireFormat::kKindCrosspoint;
    if (r.type < 0 || r.type > WireFormat::kDataMask || !fits14(r.channel) || !fits14(r.gain) ||
        (crosspoint && !fits14(r.outChan)) || r.entries < 1 || r.entries > kMaxEntries)
        return std::nullopt;

    QByteArray data;
    data.append(static_cast<char>(kSetGainTag));
    data.append(static_cast<char>(r.type));
    ByteManipulation::Append14(data, r.entries);
    ByteManipulation::Append14(data, crosspoint ? r.outChan : r.channel);
    for (int n = 0; n < r.entries; ++n) {
        ByteManipulation::Append14(data, r.gain);
        if (crosspoint)
            ByteManipulation::Append14(data, r.channel);
    }
    return ByteManipulation::BuildMessage(WireFormat::kGainReport, data);
}

} // namespace GainRequestCodec
