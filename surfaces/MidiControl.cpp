#include "surfaces/MidiControl.h"

#include <algorithm>

namespace Midi {

namespace {

constexpr int kGainSpan = kTopGain - kBottomGain; // 1240 steps of 0.1 dB
constexpr int kPressThreshold = 64;
constexpr int kFirstTouchNote = 104;
constexpr int kTouchFaders = 8;

} // namespace

int TravelMax(FaderKind kind) {
    return kind == FaderKind::ControlChange ? kMaxDataValue : kMax14;
}

std::optional<int> FaderValue(const FaderBinding &binding, const Event &event, Cc14State &state) {
    if (binding.kind == FaderKind::PitchBend) {
        const auto *bend = std::get_if<PitchBend>(&event);
        if (bend && bend->channel == binding.channel)
            return bend->value;
        return std::nullopt;
    }
    const auto *cc = std::get_if<ControlChange>(&event);
    if (!cc || cc->channel != binding.channel)
        return std::nullopt;
    if (binding.kind == FaderKind::ControlChange)
        return cc->number == binding.number ? std::optional<int>(cc->value) : std::nullopt;
    if (cc->number == binding.number) {
        state.msb = cc->value;
        return cc->value << 7;
    }
    if (cc->number == binding.number + kPairOffset && state.msb >= 0)
        return (state.msb << 7) | cc->value;
    return std::nullopt;
}

bool IsPress(const ButtonBinding &binding, const Event &event) {
    if (binding.kind == ButtonKind::Note) {
        const auto *on = std::get_if<NoteOn>(&event);
        return on && on->channel == binding.channel && on->note == binding.number;
    }
    const auto *cc = std::get_if<ControlChange>(&event);
    return cc && cc->channel == binding.channel && cc->number == binding.number &&
           cc->value >= kPressThreshold;
}

std::optional<bool> TouchOf(const FaderBinding &binding, const Event &event) {
    if (binding.kind != FaderKind::PitchBend || binding.channel > kTouchFaders)
        return std::nullopt;
    const int note = kFirstTouchNote + binding.channel - 1;
    if (const auto *on = std::get_if<NoteOn>(&event); on && on->channel == 1 && on->note == note)
        return true;
    if (const auto *off = std::get_if<NoteOff>(&event);
        off && off->channel == 1 && off->note == note)
        return false;
    return std::nullopt;
}

qint16 GainOfTravel(int value, int max) {
    if (max <= 0)
        return kBottomGain;
    const qint64 v = std::clamp(value, 0, max);
    // Nearest step; an exact half cannot occur for the odd travel lengths 127 and 16383.
    return static_cast<qint16>(kBottomGain + (2 * v * kGainSpan + max) / (2 * qint64{max}));
}

int TravelOfGain(qint16 gain, int max) {
    if (max <= 0)
        return 0;
    const qint64 g = std::clamp<int>(gain, kBottomGain, kTopGain) - kBottomGain;
    return static_cast<int>((2 * g * max + kGainSpan) / (2 * kGainSpan)); // halves go up
}

double TravelFraction(int value, int max) {
    return max <= 0 ? 0.0 : static_cast<double>(std::clamp(value, 0, max)) / max;
}

double GainFraction(qint16 gain) {
    return static_cast<double>(std::clamp<int>(gain, kBottomGain, kTopGain) - kBottomGain) /
           kGainSpan;
}

std::vector<Message> FeedbackMessages(const FaderBinding &binding, int value) {
    switch (binding.kind) {
    case FaderKind::ControlChange:
        return {EncodeControlChange(binding.channel, binding.number, value)};
    case FaderKind::ControlChange14:
        return EncodeControlChange14(binding.channel, binding.number, value);
    case FaderKind::PitchBend:
        return {EncodePitchBend(binding.channel, value)};
    }
    return {};
}

} // namespace Midi
