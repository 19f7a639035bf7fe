#pragma once

// The numeric value of a text: how every number typed into a settings field or stored in the
// settings file becomes an integer.
//
//  - Blanks, tabs and line feeds are skipped wherever they stand ("1 2" is 12). Carriage
//    returns and every other character are not blanks.
//  - Then an optional sign, decimal digits (ASCII 0-9 only) with at most one decimal point, and
//    an optional exponent "E"/"e" with its own optional sign and digits. "D" is not an
//    exponent letter: "12D3" reads 12.
//  - Or, instead, "&H" (hexadecimal) or "&O" (octal), in any letter case, followed by digits of
//    that base. Such a value is an unsigned magnitude: "&HFF" is 255 and "&HFFFF" is 65535
//    (too big for 16 bits, not -1). A sign in front of "&H" is a sign without digits, so
//    "-&H10" reads 0.
//  - Reading stops at the first character that does not fit; whatever was read up to it
//    counts ("12abc" is 12, "1.2.3" is 1.2, "1e" and "1e+" are 1). A text without digits is 0,
//    so "", ".", "-", "+.", "abc" and "E5" all read 0.
//  - The value is rounded to the nearest integer, a half going to the even neighbour (2.5 is 2,
//    3.5 is 4, -2.5 is -2). Rounding works on the decimal digits themselves, so it is exact for
//    any number of digits.
//  - The result must fit its holder; otherwise there is no value (std::nullopt). Huge exponents
//    ("1e400"), long digit strings and overlong hex numbers fail cleanly; tiny ones ("1e-400")
//    and zero with any exponent ("0e999999") read 0.

#include <QString>
#include <QtGlobal>
#include <optional>

namespace DiskWork {

// The value of text if it lies within [lo, hi]. Holders up to 32 bits wide are supported.
std::optional<qint64> NumericValue(const QString &text, qint64 lo, qint64 hi);

// The value for a 16-bit holder (-32768..32767) and a 32-bit holder.
std::optional<qint16> NumericValue16(const QString &text);
std::optional<qint32> NumericValue32(const QString &text);

} // namespace DiskWork
