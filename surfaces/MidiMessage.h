#pragma once

// MIDI messages as the MIDI system hands them over (one complete message per buffer, status
// byte first, no running status) to typed events, and the messages the panel sends back to a
// surface's motors.

#include <QByteArray>
#include <cstddef>
#include <variant>
#include <vector>

namespace Midi {

using Message = std::vector<unsigned char>;

inline constexpr int kMaxBendValue = 16383;
inline constexpr int kBendCentre = 8192;

struct ControlChange {
    int channel; // 1-16
    int number;  // 0-127
    int value;   // 0-127
    friend bool operator==(const ControlChange &, const ControlChange &) = default;
};

// A note-on with velocity 0 is delivered as the NoteOff it means.
struct NoteOn {
    int channel;
    int note;
    int velocity; // 1-127
    friend bool operator==(const NoteOn &, const NoteOn &) = default;
};

struct NoteOff {
    int channel;
    int note;
    int velocity; // release velocity, 0 for a note-on with velocity 0
    friend bool operator==(const NoteOff &, const NoteOff &) = default;
};

struct PitchBend {
    int channel;
    int value; // 0-16383, 8192 at rest
    friend bool operator==(const PitchBend &, const PitchBend &) = default;
};

// Anything else: a message kind the panel has no use for, or bytes that are not a well-formed
// message. Dropped by the caller; the reason is for the traffic log and the tests.
struct Ignored {
    const char *reason;
    friend bool operator==(const Ignored &a, const Ignored &b) {
        return QByteArrayView(a.reason) == QByteArrayView(b.reason);
    }
};

using Event = std::variant<Ignored, ControlChange, NoteOn, NoteOff, PitchBend>;

Event Decode(const unsigned char *bytes, std::size_t size);
Event Decode(const QByteArray &bytes);

// The messages for a value, every data byte clamped into its range (out-of-range arguments never
// produce a byte with the status bit). A 14-bit controller is two messages, MSB then LSB: each is
// handed to the MIDI system on its own.
Message EncodeControlChange(int channel, int number, int value);
std::vector<Message> EncodeControlChange14(int channel, int number, int value);
Message EncodePitchBend(int channel, int value);

} // namespace Midi
