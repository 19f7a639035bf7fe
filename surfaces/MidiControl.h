#pragma once

// Events against bindings: what position a surface fader reports, whether a button was pressed,
// and the panel's gain as a surface position and back.
//
// A control's travel maps linearly onto the fader's: the bottom of the control (value 0) is the
// gain value 24 (Off), the top (the control's largest value) is 1264 (+24 dB), and every value in
// between is the nearest gain step. The other way, a gain is the nearest control value; gains the
// fader cannot show (0 for a channel never reported, anything above the top) take the nearest end.

#include "faders/GainScale.h"
#include "surfaces/MidiBinding.h"
#include "surfaces/MidiMessage.h"

#include <QtGlobal>
#include <optional>
#include <vector>

namespace Midi {

inline constexpr qint16 kBottomGain = -GainScale::kBottomPosition; // 24: Off
inline constexpr qint16 kTopGain = -GainScale::kTopPosition;       // 1264: +24 dB
inline constexpr int kMax14 = 16383;

// The largest value of a fader binding's travel: 127 for a 7-bit controller, 16383 otherwise.
int TravelMax(FaderKind kind);

// A 14-bit controller pair arrives as two messages. The rule (the usual one for MIDI controller
// pairs): an MSB sets the high seven bits and clears the low ones, and gives a position at once,
// so that a control that only ever sends its MSB still works at 7-bit resolution; an LSB then
// refines the position under the last MSB. An LSB before any MSB gives nothing, as the high part
// is unknown. Forget the MSB when the port is lost (a fresh state).
struct Cc14State {
    int msb = -1;
};

// The position (0..TravelMax) an event gives a fader binding, if it is meant for it. Pitch bend
// binds the whole 14-bit range: the bottom is 0, the top 16383 (motorised faders send it so).
std::optional<int> FaderValue(const FaderBinding &binding, const Event &event, Cc14State &state);

// Whether an event is a press of the button: a note-on (velocity above 0) of the note, or the
// controller with a value of 64 or more. Releases and everything else are not.
bool IsPress(const ButtonBinding &binding, const Event &event);

// The touch sensor of a motorised fader bound to pitch bend on channel C (1-8) sends note
// 104 + C - 1 on channel 1: a note-on when a finger lands on the fader, a note-off (or note-on
// with velocity 0) when it leaves. True for a touch, false for a release, nothing otherwise.
std::optional<bool> TouchOf(const FaderBinding &binding, const Event &event);

qint16 GainOfTravel(int value, int max);
int TravelOfGain(qint16 gain, int max);

// The fraction (0..1) of the travel: for comparing a surface position with the panel's.
double TravelFraction(int value, int max);
double GainFraction(qint16 gain);

// The messages that put a motorised control at the position, as the binding's own kind of
// message: a controller value, the 14-bit pair (MSB then LSB) or a pitch bend.
std::vector<Message> FeedbackMessages(const FaderBinding &binding, int value);

} // namespace Midi
