#pragma once

// The messages a subscribed surface receives, encoded as OSC datagrams:
//   /dual-slider/fader/N/gain     float dB of the reported gain, -100 for Off
//   /dual-slider/fader/N/caption  string, the fader's caption text
//   /dual-slider/link             string "Live", "Connecting" or "Offline"
// Faders are numbered 0 and 1 here, 1 and 2 in the addresses.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace Osc {

enum class LinkWord { Live, Connecting, Offline };

// The OSC addresses, which the coalescing of feedback is keyed on.
QByteArray GainAddress(int fader);
QByteArray CaptionAddress(int fader);
QByteArray LinkAddress();

// dB of a gain value (units of 0.1 dB, 1024 = 0 dB); Off (24 and below) is -100.
float GainDb(qint16 gain);

QByteArray GainMessage(int fader, qint16 gain);
// NUL characters, which an OSC string cannot hold, are left out.
QByteArray CaptionMessage(int fader, const QString &caption);
QByteArray LinkMessage(LinkWord link);

} // namespace Osc
