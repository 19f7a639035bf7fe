#include "protocol/DecodedMessage.h"

#include "protocol/ByteManipulation.h"
#include "protocol/WireFormat.h"

namespace Decoded {

std::optional<Refusal> CheckFraming(const QByteArray &message) {
    using namespace WireFormat;
    if (message.isEmpty() || static_cast<quint8>(message.back()) != kEom)
        return Refusal{Rule::NoEom, message.size()};
    if (ByteManipulation::ChecksumMatches(message))
        return std::nullopt;
    Refusal refusal{Rule::BadChecksum, message.size()};
    if (message.size() >= kTrailerBytes) {
        refusal.found = static_cast<quint8>(message.at(message.size() - kTrailerBytes));
        refusal.wanted = static_cast<quint8>(
            ByteManipulation::CalcChecksum(message.left(message.size() - kTrailerBytes)));
    }
    return refusal;
}

} // namespace Decoded
