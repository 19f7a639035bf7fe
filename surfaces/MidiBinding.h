#pragma once

// What a MIDI control is bound to, as plain values, and the one-line text form the settings file
// keeps them in (written by the panel, by hand and by other tools):
//
//   fader:  "cc C N [mode]"     7-bit controller N (0-127) on channel C (1-16)
//           "cc14 C N [mode]"   14-bit controller pair N (MSB, 0-31) and N+32 (LSB)
//           "pitchbend C [mode]"
//           mode: "pickup" (when missing), "jump" or "motor"
//   button: "note C N" or "cc C N" (N 0-127)
//
// Words are case-insensitive and any run of blanks separates them. A text that does not parse
// gives a reason meant for the operator ("channel 17 is not 1-16"); a blank text is reported as
// such, and callers treat it as "not bound" rather than as a fault.

#include <QString>
#include <variant>

namespace Midi {

inline constexpr int kFirstChannel = 1;
inline constexpr int kLastChannel = 16;
inline constexpr int kMaxDataValue = 127;
// A 14-bit pair is controller N (MSB) with N + 32 (LSB), N 0-31.
inline constexpr int kLastPairedController = 31;
inline constexpr int kPairOffset = 32;

enum class FaderKind { ControlChange, ControlChange14, PitchBend };
enum class FaderMode { Pickup, Jump, Motor };
enum class ButtonKind { Note, ControlChange };

struct FaderBinding {
    FaderKind kind = FaderKind::ControlChange;
    int channel = kFirstChannel; // 1-16
    int number = 0;              // controller; unused (0) for pitch bend
    FaderMode mode = FaderMode::Pickup;
    friend bool operator==(const FaderBinding &, const FaderBinding &) = default;
};

struct ButtonBinding {
    ButtonKind kind = ButtonKind::Note;
    int channel = kFirstChannel; // 1-16
    int number = 0;              // note or controller, 0-127
    friend bool operator==(const ButtonBinding &, const ButtonBinding &) = default;
};

// Why a text is not a binding. `blank` is set for a text with nothing but blanks in it.
struct BindingError {
    QString reason;
    bool blank = false;
    friend bool operator==(const BindingError &, const BindingError &) = default;
};

using FaderParse = std::variant<FaderBinding, BindingError>;
using ButtonParse = std::variant<ButtonBinding, BindingError>;

FaderParse ParseFaderBinding(const QString &text);
ButtonParse ParseButtonBinding(const QString &text);

// The canonical line: lower-case words, single blanks, the mode always written. Parsing it gives
// the same binding back.
QString ToText(const FaderBinding &binding);
QString ToText(const ButtonBinding &binding);

} // namespace Midi
