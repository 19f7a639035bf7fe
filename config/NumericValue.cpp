#include "config/NumericValue.h"

#include <limits>
#include <string>

namespace DiskWork {
namespace {

// Integer parts longer than this cannot fit any supported holder; stopping here keeps every
// intermediate value far from the 64-bit limits.
constexpr int kMaxIntegerDigits = 18;
// Exponents beyond this magnitude are clamped: the outcome (fail or 0) is already decided.
constexpr qint64 kExponentClamp = 1'000'000'000;

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}
bool IsDecimalDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

int DigitOf(char16_t c, int base) {
    int d = -1;
    if (c >= u'0' && c <= u'9')
        d = c - u'0';
    else if (c >= u'a' && c <= u'f')
        d = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F')
        d = c - u'A' + 10;
    return d < base ? d : -1;
}

// "&H..." or "&O..." after the prefix: an unsigned magnitude, saturated just above hi.
std::optional<qint64> RadixValue(const std::u16string &s, std::size_t i, int base, qint64 lo,
                                 qint64 hi) {
    qint64 value = 0;
    bool tooBig = false;
    for (; i < s.size(); ++i) {
        const int d = DigitOf(s[i], base);
        if (d < 0)
            break;
        if (!tooBig) {
            value = value * base + d;
            tooBig = value > hi;
        }
    }
    // "&H" without digits is 0, which must fit the holder like any other value.
    if (tooBig || value < lo || value > hi)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<qint64> NumericValue(const QString &text, qint64 lo, qint64 hi) {
    std::u16string s;
    s.reserve(text.size());
    for (const QChar c : text)
        if (!IsBlank(c.unicode()))
            s.push_back(c.unicode());

    std::size_t i = 0;
    if (s.size() >= 2 && s[0] == u'&') {
        if (s[1] == u'H' || s[1] == u'h')
            return RadixValue(s, 2, 16, lo, hi);
        if (s[1] == u'O' || s[1] == u'o')
            return RadixValue(s, 2, 8, lo, hi);
    }

    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        negative = s[i] == u'-';
        ++i;
    }

    // value = digits * 10^exponent, digits without leading zeros.
    std::string digits;
    qint64 exponent = 0;
    bool seenPoint = false;
    bool anyDigit = false;
    for (; i < s.size(); ++i) {
        const char16_t c = s[i];
        if (IsDecimalDigit(c)) {
            anyDigit = true;
            if (seenPoint)
                --exponent;
            if (!digits.empty() || c != u'0')
                digits.push_back(static_cast<char>(c));
        } else if (c == u'.' && !seenPoint) {
            seenPoint = true;
        } else {
            break;
        }
    }
    if (!anyDigit)
        return lo <= 0 && 0 <= hi ? std::optional<qint64>(0) : std::nullopt;

    // Exponent: only counts when at least one digit follows the letter (and its sign).
    if (i < s.size() && (s[i] == u'E' || s[i] == u'e')) {
        std::size_t j = i + 1;
        bool expNegative = false;
        if (j < s.size() && (s[j] == u'+' || s[j] == u'-')) {
            expNegative = s[j] == u'-';
            ++j;
        }
        qint64 e = 0;
        bool expDigits = false;
        for (; j < s.size() && IsDecimalDigit(s[j]); ++j) {
            expDigits = true;
            e = std::min(e * 10 + (s[j] - u'0'), kExponentClamp);
        }
        if (expDigits)
            exponent += expNegative ? -e : e;
    }

    while (!digits.empty() && digits.back() == '0') {
        digits.pop_back();
        ++exponent;
    }
    if (digits.empty())
        return lo <= 0 && 0 <= hi ? std::optional<qint64>(0) : std::nullopt;

    // The first intDigits digits (padded with zeros) form the integer part, the rest the
    // fraction.
    const qint64 count = static_cast<qint64>(digits.size());
    const qint64 intDigits = count + exponent;
    if (intDigits > kMaxIntegerDigits)
        return std::nullopt;

    qint64 magnitude = 0;
    for (qint64 k = 0; k < intDigits; ++k)
        magnitude = magnitude * 10 + (k < count ? digits[k] - '0' : 0);

    // Round half to even. Trailing zeros are gone, so any digit after the first fraction
    // digit makes the fraction more than a half.
    if (intDigits >= 0 && intDigits < count) {
        const char first = digits[intDigits];
        const bool moreAfter = intDigits + 1 < count;
        if (first > '5' || (first == '5' && (moreAfter || magnitude % 2 != 0)))
            ++magnitude;
    }
    // intDigits < 0: the value is below 0.1 and rounds to 0.

    const qint64 value = negative ? -magnitude : magnitude;
    if (value < lo || value > hi)
        return std::nullopt;
    return value;
}

std::optional<qint16> NumericValue16(const QString &text) {
    const auto v =
        NumericValue(text, std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max());
    return v ? std::optional<qint16>(static_cast<qint16>(*v)) : std::nullopt;
}

std::optional<qint32> NumericValue32(const QString &text) {
    const auto v =
        NumericValue(text, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max());
    return v ? std::optional<qint32>(static_cast<qint32>(*v)) : std::nullopt;
}

} // namespace DiskWork
