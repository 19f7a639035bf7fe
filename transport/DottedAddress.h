#pragma once

// The switcher's address as the settings hold it: dotted IPv4 text.

#include <QHostAddress>
#include <QString>
#include <optional>

namespace DottedAddress {

// Only the dotted form a.b.c.d with decimal parts 0..255 is an address here: no host names,
// no shortened or hexadecimal forms, no blanks; leading zeros read as decimal.
std::optional<QHostAddress> Parse(const QString &text);

} // namespace DottedAddress
