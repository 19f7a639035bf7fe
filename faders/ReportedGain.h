#pragma once

// What the switcher last reported for the channel of a fader: the value the fader falls back
// to and the one a movement is compared with; and for any channel, as scenes store and
// recall them.

#include "config/Settings.h"
#include "protocol/SwitcherTables.h"

#include <QtGlobal>
#include <optional>

namespace ReportedGain {

// Reported gain of fader 0 or 1 under the present gain type: the input or output gain table
// entry of its channel, or for DSP gains the last slot of the output's crosspoint map that
// lists its channel. 0 when nothing was reported, when the gain type is none of the three,
// or when a channel (from a hand-edited settings file) lies outside the tables.
qint16 OfFader(const Settings &settings, const SwitcherTables &tables, int fader);

// The gain last reported for any channel (for DSP: source channel on outChan) of a gain type;
// nothing while none was (the table still holds 0), for a channel or output outside the
// tables, and for a type without a table.
std::optional<qint16> OfChannel(const SwitcherTables &tables, qint16 type, int channel,
                                int outChan);

} // namespace ReportedGain
