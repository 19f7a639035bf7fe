// Fuzz target for the numeric value of a text: no undefined behaviour on any text, a result
// that always fits its holder, holders that agree with each other, and agreement with a plain
// reference on texts that are simply a decimal number or a "&H" number.
//
// Input: one mode byte, then the text. Mode bits 0-1 pick how the bytes become a text (UTF-8,
// Latin-1 or raw UTF-16 code units); with bit 2 set, the next eight bytes give the bounds of
// an extra holder.

#define DS_FUZZ_TARGET "fuzz_numeric"
#include "Check.h"

#include "config/NumericValue.h"

#include <QString>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

namespace {

using Value = std::optional<qint64>;

constexpr qint64 kMin32 = std::numeric_limits<qint32>::min();
constexpr qint64 kMax32 = std::numeric_limits<qint32>::max();
constexpr qint64 kMin16 = std::numeric_limits<qint16>::min();
constexpr qint64 kMax16 = std::numeric_limits<qint16>::max();

Value InRange(const Value &v, qint64 lo, qint64 hi) {
    return v && *v >= lo && *v <= hi ? v : std::nullopt;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The value of a text that, once its blanks are gone, is exactly [sign] digits [. digits]:
// integer part, then half to even on the fraction. Empty when the text is not of that form.
// Texts whose integer part has more than 12 significant digits give the value 10^13, which no
// 32-bit holder takes.
std::optional<Value> PlainDecimal(const std::string &s) {
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    std::string intPart;
    std::string fracPart;
    while (i < s.size() && IsDigit(s[i]))
        intPart += s[i++];
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && IsDigit(s[i]))
            fracPart += s[i++];
    }
    if (i != s.size() || (intPart.empty() && fracPart.empty()))
        return std::nullopt;
    const std::size_t nonZero = intPart.find_first_not_of('0');
    intPart = nonZero == std::string::npos ? std::string() : intPart.substr(nonZero);
    if (intPart.size() > 12)
        return Value(10'000'000'000'000);
    qint64 magnitude = intPart.empty() ? 0 : std::stoll(intPart);
    if (!fracPart.empty()) {
        const char first = fracPart[0];
        const bool moreAfter = fracPart.find_first_not_of('0', 1) != std::string::npos;
        if (first > '5' || (first == '5' && (moreAfter || magnitude % 2 != 0)))
            ++magnitude;
    }
    return Value(negative ? -magnitude : magnitude);
}

// "&H" followed by nothing but hexadecimal digits: their unsigned value.
std::optional<Value> PlainHex(const std::string &s) {
    if (s.size() < 2 || s[0] != '&' || (s[1] != 'H' && s[1] != 'h'))
        return std::nullopt;
    qint64 value = 0;
    for (std::size_t i = 2; i < s.size(); ++i) {
        const char c = s[i];
        int d = -1;
        if (IsDigit(c))
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        if (d < 0)
            return std::nullopt;
        value = std::min<qint64>(value * 16 + d, 10'000'000'000'000);
    }
    return Value(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t mode = data[0];
    const char *bytes = reinterpret_cast<const char *>(data + 1);
    std::size_t count = size - 1;

    qint64 lo = kMin16;
    qint64 hi = kMax16;
    if ((mode & 4) != 0 && count >= 8) {
        qint32 bounds[2];
        std::memcpy(bounds, bytes, sizeof bounds);
        lo = std::min(bounds[0], bounds[1]);
        hi = std::max(bounds[0], bounds[1]);
        bytes += 8;
        count -= 8;
    }

    QString text;
    switch (mode & 3) {
    case 1:
        text = QString::fromLatin1(bytes, static_cast<qsizetype>(count));
        break;
    case 2: {
        // Raw UTF-16 code units, copied out first: the input need not be aligned for them.
        std::u16string units(count / 2, u'\0');
        std::memcpy(units.data(), bytes, units.size() * 2);
        text = QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size()));
        break;
    }
    default:
        text = QString::fromUtf8(bytes, static_cast<qsizetype>(count));
        break;
    }

    const auto v16 = DiskWork::NumericValue16(text);
    const auto v32 = DiskWork::NumericValue32(text);
    const Value wide = DiskWork::NumericValue(text, kMin32, kMax32);
    const Value narrow = DiskWork::NumericValue(text, lo, hi);

    if ((v32 ? Value(*v32) : Value()) != wide)
        Violation("the 32-bit holder and the general rule differ", text.toUtf8().constData());
    if ((v16 ? Value(*v16) : Value()) != InRange(wide, kMin16, kMax16))
        Violation("the 16-bit holder does not take exactly the 32-bit values that fit",
                  text.toUtf8().constData());
    if (narrow != InRange(wide, lo, hi))
        Violation("a holder does not take exactly the values that fit it",
                  text.toUtf8().constData());

    // The reference, on texts that are plainly a number once blanks are skipped.
    std::string plain;
    for (const QChar c : text) {
        if (c == u' ' || c == u'\t' || c == u'\n')
            continue;
        if (c.unicode() > 0x7F) {
            plain.clear();
            plain.push_back('x'); // not a plain number
            break;
        }
        plain.push_back(static_cast<char>(c.unicode()));
    }
    std::optional<Value> expected = PlainDecimal(plain);
    if (!expected)
        expected = PlainHex(plain);
    if (expected && InRange(*expected, kMin32, kMax32) != wide)
        Violation("differs from the reference", text.toUtf8().constData());
    return 0;
}
