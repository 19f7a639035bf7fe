#pragma once

// A timed fade of one fader: where it stands at any moment, by the clock. The fader controller
// asks at each step; a step that comes late lands where the fade should be by then, so a busy
// machine shortens nothing and lengthens nothing, and the last step is always the target.

#include <QLocale>
#include <QString>
#include <QtGlobal>
#include <optional>

struct FadePlan {
    static constexpr qint64 kStepMs = 20; // about 50 steps a second
    static constexpr qint64 kMaxDurationMs = 60 * 1000;

    qint16 from = 0;
    qint16 to = 0;
    qint64 durationMs = 0; // 0: one step straight to the target
    qint64 startMs = 0;    // on the clock the caller uses (QElapsedTimer, monotonic)

    qint64 endMs() const { return startMs + durationMs; }

    // The gain at time t: linear in gain units from `from` at the start to `to` at the end,
    // to the nearest step (a half away from `from`); exactly `to` from the end on.
    qint16 gainAt(qint64 t) const;

    // When the next step after time t is due: the next multiple of kStepMs after the start,
    // but never later than the end. The end itself once t has reached it (the caller stops
    // after the step at the end).
    qint64 nextStepAt(qint64 t) const;

    bool doneAt(qint64 t) const { return t >= endMs(); }
};

struct TypedFade {
    qint16 gain = 0;
    std::optional<qint64> durationMs; // none: no time typed, the gain is set at once

    bool operator==(const TypedFade &) const = default;
};

namespace FadeEntry {

// A typed gain with an optional fade time after it: "-6", "-6 3s", "off 10s", "-6 2.5 s",
// "+3dB 0.5S". The gain part is read as DbEntry::GainOfText reads it; the time is a number
// of seconds from 0 to 60 (decimals with a full stop or the locale's separator, to the
// nearest millisecond) followed by "s", set off from the gain by a blank. Nothing for
// anything else, a time beyond 60 s or a gain without a time unit included.
std::optional<TypedFade> ParseTypedFade(const QString &text, const QLocale &locale);

} // namespace FadeEntry
