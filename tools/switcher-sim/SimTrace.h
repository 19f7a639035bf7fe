#pragma once

// Words for the trace: what a message means to someone looking at the panel, with channels
// counted from 1 and gains in dB.

#include "tools/switcher-sim/SimCodec.h"

#include <QString>

namespace SimTrace {

// "+2.5 dB", "0 dB", "-10 dB", "Off" (24 and below), as the panel's captions count.
QString dbText(int gain);

// "input 1 gain +2.5 dB", "input 2 on output 1 gain -6 dB", "crosspoint map outputs 1..16:
// ...", "greeting", "bad: ..." and so on.
QString describe(const SimCodec::Message &m);

// "hh:mm:ss.zzz [panel] dir text | hex"; panel 0 means the switcher itself.
QString line(int panel, const QString &direction, const QString &text, const QByteArray &bytes);

} // namespace SimTrace
