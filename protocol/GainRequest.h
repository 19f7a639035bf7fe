#pragma once

// A set-gain request as a value, and the one place that turns it into the command the
// switcher takes: E3 02 kind n first-channel, then n gain entries, checksum, EOM. It shares the
// gain report's layout.

#include <QByteArray>
#include <QtGlobal>
#include <optional>

struct GainRequest {
    int type = 0;    // the gain type code, sent as the kind byte (1 input, 3 output, 10 DSP)
    int channel = 0; // 0-based channel; for DSP gains the source
    int outChan = 0; // DSP gains: the 0-based output
    int gain = 0;    // gain value, 0.1 dB units, 1024 = 0 dB
    int entries = 1; // 1, or 2 for a stereo pair

    bool operator==(const GainRequest &) const = default;
};

namespace GainRequestCodec {

// The constant data byte after the status byte.
inline constexpr quint8 kSetGainTag = 0x02;

// The command bytes. For DSP the first channel is outChan and each entry is (gain, channel);
// any other type has the layout of 1 and 3 with its own kind byte and the channel first. With
// two entries, kinds 1 and 3 address channel and channel + 1, DSP repeats its entry.
//
// Empty when something cannot travel in 7-bit data bytes without being altered: a type
// outside 0..127, a channel or gain outside 0..16383, or an entry count other than 1 or 2.
// Such values only come from a hand-edited settings file; sending them masked would address
// the wrong channel or gain kind.
std::optional<QByteArray> Encode(const GainRequest &request);

} // namespace GainRequestCodec
