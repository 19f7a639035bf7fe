#include "protocol/ByteManipulation.h"

#include "protocol/WireFormat.h"

#include <limits>

namespace ByteManipulation {

using namespace WireFormat;

std::optional<qint16> Join7Bit(quint8 lo, quint8 hi) {
    const int value = (int{hi} << kBitsPerGroup) + int{lo};
    if (value > std::numeric_limits<qint16>::max())
        return std::nullopt;
    return static_cast<qint16>(value);
}

namespace {

// Checksum of the bytes at 0-based indexes 1 .. end-1.
qint16 ChecksumUpTo(const QByteArray &s, qsizetype end) {
    int sum = 0;
    for (qsizetype i = 1; i < end; ++i)
        sum = (sum + static_cast<quint8>(s.at(i))) & kDataMask;
    return static_cast<qint16>(sum);
}

} // namespace

qint16 CalcChecksum(const QByteArray &s) {
    return ChecksumUpTo(s, s.size());
}

bool ChecksumMatches(const QByteArray &message) {
    const qsizetype body = message.size() - kTrailerBytes;
    if (body < 0)
        return false;
    return ChecksumUpTo(message, body) == static_cast<quint8>(message.at(body));
}

std::optional<qint16> Read14(const QByteArray &message, qsizetype pos) {
    if (pos < 1 || pos + 1 > message.size())
        return std::nullopt;
    return Join7Bit(static_cast<quint8>(message.at(pos - 1)), static_cast<quint8>(message.at(pos)));
}

void Append7BitGroups(QByteArray &data, qint64 value, int groups) {
    for (int g = 0; g < groups; ++g) {
        // Division first, as the protocol defines the groups for any sign of the value.
        const qint64 shifted =
            g * kBitsPerGroup < 63 ? value / (qint64{1} << (g * kBitsPerGroup)) : 0;
        data.append(static_cast<char>(shifted & kDataMask));
    }
}

QByteArray BuildMessage(quint8 status, const QByteArray &data) {
    QByteArray message;
    message.reserve(data.size() + 1 + kTrailerBytes);
    message.append(static_cast<char>(status));
    for (const char byte : data)
        message.append(static_cast<char>(static_cast<quint8>(byte) & kDataMask));
    message.append(static_cast<char>(CalcChecksum(message)));
    message.append(static_cast<char>(kEom));
    return message;
}

} // namespace ByteManipulation
