#include "transport/DottedAddress.h"

#include <QStringList>

namespace DottedAddress {

namespace {
constexpr int kParts = 4;
constexpr int kMaxPartDigits = 3;
constexpr int kMaxPartValue = 255;
constexpr int kBitsPerPart = 8;
} // namespace

std::optional<QHostAddress> Parse(const QString &text) {
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != kParts)
        return std::nullopt;
    quint32 address = 0;
    for (const QString &part : parts) {
        if (part.isEmpty() || part.size() > kMaxPartDigits)
            return std::nullopt;
        for (const QChar c : part)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return std::nullopt;
        const int value = part.toInt();
        if (value > kMaxPartValue)
            return std::nullopt;
        address = (address << kBitsPerPart) | static_cast<quint32>(value);
    }
    return QHostAddress(address);
}

} // namespace DottedAddress
