#pragma once

// The operator's ceilings: the highest gain each fader may be moved to, kept in the settings
// file in use, section "LIMITS", keys "Ceiling 1" and "Ceiling 2", in dB ("Ceiling 1=-6").
//
//  - Empty or missing: no ceiling (the top of the scale, +24 dB, is the only bound).
//  - A value is a number of dB on the fader's scale: an optional sign, digits and at most one
//    decimal (further decimals only as trailing zeros), an optional trailing "dB" in any case,
//    or "Off"; from -100 dB (Off) to +24 dB. The file is read the same in every locale, so
//    the decimal separator is a full stop.
//  - Anything else ("+30", "-6.05", "loud") is ignored as if missing, and named in the read's
//    problems, so that a hand-edited typo never turns into a ceiling nobody meant.
//
// A ceiling holds every move of its fader before a command is built. A gain the switcher
// reports above the ceiling is shown as it is; nothing is sent to pull it down.

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <array>
#include <optional>

struct Limits {
    std::array<std::optional<qint16>, 2> ceiling; // gain value of fader 0 and fader 1's ceiling

    bool operator==(const Limits &) const = default;
};

namespace DiskWork {

struct LimitsRead {
    Limits limits;
    QStringList problems; // one sentence per value ignored, or why the file gave nothing
};

// The ceiling a value of the file stands for; nothing when it is empty or not a gain on the
// scale.
std::optional<qint16> CeilingOfText(const QString &text);

// The value the file stores for a ceiling: "-6", "-6.5", "+3", "0", "-100".
QString CeilingText(qint16 gain);

// The ceilings in the file at path. A missing file, section or key is no problem.
LimitsRead ReadLimits(const QString &path);

// Stores both ceilings; every other section, key and comment stays. A fader without a ceiling
// gets an empty value if its key is there and no key if it is not. False, with the file left
// as it was, when it cannot be written or when it exists but could not be read as a settings
// file (binary, oversized, a folder): its content is not ours to throw away. False too for a
// ceiling off the scale, which would read back as none.
bool WriteLimits(const QString &path, const Limits &limits);

} // namespace DiskWork

namespace Ceiling {

// gain, or the ceiling when gain lies above it.
qint16 HoldAtCeiling(qint16 gain, std::optional<qint16> ceiling);

// What a move of a fader from `from` (the gain last reported) to `to` may send: `to` held at
// the ceiling, or nothing when holding would turn a move that asked for the same or more gain
// into a move down (the fader already stands above its ceiling, as the switcher reported it):
// a ceiling never makes the panel pull a gain down on its own.
std::optional<qint16> HeldMove(qint16 from, qint16 to, std::optional<qint16> ceiling);

} // namespace Ceiling
