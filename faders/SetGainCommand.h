#pragma once

// The set-gain command the panel sends when a fader moves: E3 02 kind n first-channel, then
// n gain entries, checksum, EOM. It shares the gain report's layout.

#include <QByteArray>
#include <QtGlobal>
#include <optional>

namespace SetGainCommand {

// The constant data byte after the status byte.
inline constexpr quint8 kSetGainTag = 0x02;

// The command for one fader. kind is the gain type code (1 input, 3 output, 10 DSP; any other
// type gets the layout of 1 and 3 with its own kind byte). For DSP the first channel is
// outChan and each entry is (gain, channel); otherwise the first channel is channel and an
// entry is the gain alone. entries is 1, or 2 for a stereo fader: kinds 1 and 3 then address
// channel and channel + 1, DSP repeats its entry.
//
// Empty when something cannot travel in 7-bit data bytes without being altered: a kind
// outside 0..127, a channel or gain outside 0..16383, or an entry count other than 1 or 2.
// Such values only come from a hand-edited settings file; sending them masked would address
// the wrong channel or gain kind.
std::optional<QByteArray> Build(int kind, int channel, int outChan, int gain, int entries);

} // namespace SetGainCommand
