#pragma once

// What the switcher last reported for one channel: the value a fader falls back to and the one
// a movement is compared with.

#include "protocol/SwitcherTables.h"

#include <QtGlobal>
#include <optional>

namespace ReportedGain {

// The reported gain of channel under gain type: the input or output gain table entry of the
// channel, or for DSP gains the last slot of output outChan's crosspoint map that lists the
// channel as a source. 0 when nothing was reported, when the gain type is none of the three,
// or when a channel (from a hand-edited settings file) lies outside the tables.
qint16 Of(const SwitcherTables &tables, int type, int channel, int outChan);

// The same, as scenes store and recall it: nothing while none was reported (the table still
// holds 0), for a channel or output outside the tables, and for a type without a table.
std::optional<qint16> OfChannel(const SwitcherTables &tables, int type, int channel, int outChan);

} // namespace ReportedGain
