#include "surfaces/AllowList.h"

#include <QRegularExpression>

namespace Osc {
namespace {

constexpr int kMappedPrefix = 96; // ::ffff:0:0/96

bool IsDottedQuad(const QString &text) {
    static const QRegularExpression quad(QStringLiteral(R"(^\d{1,3}(\.\d{1,3}){3}$)"));
    return quad.match(text).hasMatch();
}

// A prefix length: decimal digits only, within the address's width.
std::optional<int> PrefixOf(const QString &text, int width) {
    if (text.isEmpty() || text.size() > 3)
        return std::nullopt;
    for (const QChar c : text)
        if (c < u'0' || c > u'9')
            return std::nullopt;
    const int prefix = text.toInt();
    if (prefix > width)
        return std::nullopt;
    return prefix;
}

} // namespace

QHostAddress Unmapped(const QHostAddress &address) {
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return address;
    // Only ::ffff:a.b.c.d: Qt would also read "::" (any IPv6 address) as 0.0.0.0.
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    for (int i = 0; i < 10; ++i)
        if (bytes[i] != 0)
            return address;
    if (bytes[10] != 0xff || bytes[11] != 0xff)
        return address;
    return QHostAddress(quint32(bytes[12]) << 24 | quint32(bytes[13]) << 16 |
                        quint32(bytes[14]) << 8 | quint32(bytes[15]));
}

std::optional<QHostAddress> ParseAddressLiteral(const QString &text) {
    const QString trimmed = text.trimmed();
    // A scope ("%eth0") names an interface of this machine: not an address to compare with.
    if (trimmed.isEmpty() || trimmed.contains(u'%'))
        return std::nullopt;
    QHostAddress address;
    if (!address.setAddress(trimmed))
        return std::nullopt;
    if (address.protocol() == QAbstractSocket::IPv4Protocol && !IsDottedQuad(trimmed))
        return std::nullopt;
    if (address.protocol() != QAbstractSocket::IPv4Protocol &&
        address.protocol() != QAbstractSocket::IPv6Protocol)
        return std::nullopt;
    return Unmapped(address);
}

std::variant<AllowList, BadAllowEntry> ParseAllowList(const QString &text) {
    AllowList list;
    for (const QString &raw : text.split(u',')) {
        const QString entry = raw.trimmed();
        if (entry.isEmpty())
            continue;
        const qsizetype slash = entry.indexOf(u'/');
        const QString addressText = slash < 0 ? entry : entry.left(slash);
        QHostAddress address;
        if (auto parsed = ParseAddressLiteral(addressText))
            address = *parsed;
        else
            return BadAllowEntry{entry};
        const bool v4 = address.protocol() == QAbstractSocket::IPv4Protocol;
        // A mapped address was written as IPv6: its prefix counts IPv6 bits.
        const bool writtenAsV6 = addressText.contains(u':');
        const int width = writtenAsV6 ? 128 : 32;
        int prefix = width;
        if (slash >= 0) {
            const auto p = PrefixOf(entry.mid(slash + 1), width);
            if (!p)
                return BadAllowEntry{entry};
            prefix = *p;
        }
        if (v4 && writtenAsV6) {
            // "::ffff:10.0.0.0/104" is 10.0.0.0/8; a shorter prefix reaches beyond the mapped
            // range, where no IPv4 sender can match, so it is written wrongly.
            if (prefix < kMappedPrefix)
                return BadAllowEntry{entry};
            prefix -= kMappedPrefix;
        }
        list.networks.emplace_back(address, prefix);
    }
    return list;
}

bool AllowList::allows(const QHostAddress &sender) const {
    if (networks.empty())
        return true;
    QHostAddress plain = Unmapped(sender);
    plain.setScopeId(QString());
    for (const auto &[network, prefix] : networks)
        if (plain.protocol() == network.protocol() && plain.isInSubnet(network, prefix))
            return true;
    return false;
}

} // namespace Osc
