#pragma once

// Which senders an OSC listener takes datagrams from: the "OSC Allowed" setting, a
// comma-separated list of addresses ("192.168.1.20", "::1") and networks ("192.168.1.0/24",
// "fd00::/8"). Empty entries (a trailing comma) are ignored; an empty list allows every sender
// that can reach the port. Host names are not accepted: the list is checked for every datagram
// and must not wait on name lookups. IPv4-mapped IPv6 addresses (::ffff:a.b.c.d), as a
// dual-stack socket reports IPv4 senders, count as the IPv4 address they carry, both in the list
// and for a sender.

#include <QHostAddress>
#include <QString>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

namespace Osc {

struct AllowList {
    std::vector<std::pair<QHostAddress, int>> networks; // address and prefix length

    bool allowsAll() const { return networks.empty(); }
    bool allows(const QHostAddress &sender) const;
};

struct BadAllowEntry {
    QString entry; // the entry as written, trimmed
    bool operator==(const BadAllowEntry &) const = default;
};

std::variant<AllowList, BadAllowEntry> ParseAllowList(const QString &text);

// An IP address written out in full: a dotted quad ("192.168.1.20", no shorthand such as
// "127.1") or an IPv6 address; a mapped IPv4 address comes back as IPv4. None for anything else,
// host names included. Also the rule for the address a listener binds to.
std::optional<QHostAddress> ParseAddressLiteral(const QString &text);

// The address as IPv4 when it is an IPv4-mapped IPv6 address, otherwise unchanged.
QHostAddress Unmapped(const QHostAddress &address);

} // namespace Osc
