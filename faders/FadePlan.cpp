#include "faders/FadePlan.h"

#include "faders/DbEntry.h"

#include <QRegularExpression>
#include <algorithm>

qint16 FadePlan::gainAt(qint64 t) const {
    if (durationMs <= 0 || t >= endMs())
        return to;
    if (t <= startMs)
        return from;
    // Exact integer arithmetic: (to - from) * elapsed fits easily (16383 * 60000).
    const qint64 span = qint64(to) - from;
    const qint64 elapsed = t - startMs;
    const qint64 scaled = 2 * span * elapsed;
    const qint64 twice = 2 * durationMs;
    const qint64 offset =
        span >= 0 ? (scaled + durationMs) / twice : -((-scaled + durationMs) / twice);
    return qint16(from + offset);
}

qint64 FadePlan::nextStepAt(qint64 t) const {
    if (t >= endMs())
        return endMs();
    if (t < startMs)
        return std::min(startMs + kStepMs, endMs());
    const qint64 next = startMs + ((t - startMs) / kStepMs + 1) * kStepMs;
    return std::min(next, endMs());
}

namespace FadeEntry {

std::optional<TypedFade> ParseTypedFade(const QString &text, const QLocale &locale) {
    const QString trimmed = text.trimmed();
    // The time: digits, an optional fraction (a full stop or the locale's separator), a blank
    // or none, then "s"; set off from the gain by a blank.
    const QString separator = locale.decimalPoint().isEmpty()
                                  ? QString()
                                  : u'|' + QRegularExpression::escape(locale.decimalPoint());
    const QRegularExpression pattern(
        QStringLiteral(R"(^(.*\S)\s+([0-9]+)(?:(\.%1)([0-9]*))?\s*s$)").arg(separator),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(trimmed);
    if (!match.hasMatch()) {
        const std::optional<qint16> gain = DbEntry::GainOfText(trimmed, locale);
        if (!gain)
            return std::nullopt;
        return TypedFade{*gain, std::nullopt};
    }
    const std::optional<qint16> gain = DbEntry::GainOfText(match.captured(1), locale);
    if (!gain)
        return std::nullopt;
    // Whole seconds with their leading zeros dropped: more than two digits is over 60 s.
    QString whole = match.captured(2);
    while (whole.size() > 1 && whole.startsWith(u'0'))
        whole.remove(0, 1);
    if (whole.size() > 2)
        return std::nullopt;
    QString fraction = match.captured(4);
    // To the nearest millisecond, a half upwards.
    const bool roundUp = fraction.size() > 3 && fraction[3].digitValue() >= 5;
    fraction = fraction.left(3).leftJustified(3, u'0');
    const qint64 ms = whole.toLongLong() * 1000 + fraction.toLongLong() + (roundUp ? 1 : 0);
    if (ms > FadePlan::kMaxDurationMs)
        return std::nullopt;
    return TypedFade{*gain, ms};
}

} // namespace FadeEntry
