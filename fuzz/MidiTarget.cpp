// Fuzz target for what a MIDI surface and a settings file can hand the panel: raw messages and
// binding lines. No undefined behaviour on any input, every decoded field in its range, encoders
// that read back as what they encode, binding lines that round-trip through their canonical
// text, and positions from a message stream that never leave the binding's travel.
//
// Input: one mode byte, then the payload.
//  - mode 0: the payload is one message;
//  - mode 1 / 2: the payload is a fader / button binding line (UTF-8);
//  - mode 3: the payload is a stream of messages, each preceded by its length byte (0-7), fed
//    to a 14-bit pair binding, a pitch-bend binding, a button and MIDI learn.

#define DS_FUZZ_TARGET "fuzz_midi"
#include "Check.h"

#include "surfaces/MidiBinding.h"
#include "surfaces/MidiControl.h"
#include "surfaces/MidiLearn.h"
#include "surfaces/MidiMessage.h"

#include <QString>
#include <cstdint>

namespace {

using namespace Midi;

bool Channel(int c) {
    return c >= 1 && c <= 16;
}

bool Data(int v) {
    return v >= 0 && v <= 127;
}

void CheckEvent(const Event &event, const unsigned char *bytes, std::size_t size) {
    if (const auto *e = std::get_if<ControlChange>(&event)) {
        Check(Channel(e->channel) && Data(e->number) && Data(e->value), "controller out of range");
        const Message again = EncodeControlChange(e->channel, e->number, e->value);
        Check(size == 3 && std::equal(again.begin(), again.end(), bytes), "controller re-encodes");
    } else if (const auto *e = std::get_if<PitchBend>(&event)) {
        Check(Channel(e->channel) && e->value >= 0 && e->value <= kMaxBendValue, "bend range");
        const Message again = EncodePitchBend(e->channel, e->value);
        Check(size == 3 && std::equal(again.begin(), again.end(), bytes), "bend re-encodes");
    } else if (const auto *e = std::get_if<NoteOn>(&event)) {
        Check(Channel(e->channel) && Data(e->note) && e->velocity >= 1 && e->velocity <= 127,
              "note-on out of range");
    } else if (const auto *e = std::get_if<NoteOff>(&event)) {
        Check(Channel(e->channel) && Data(e->note) && Data(e->velocity), "note-off out of range");
    } else {
        Check(std::get<Ignored>(event).reason != nullptr, "ignored without a reason");
    }
}

template <typename Binding, typename Parse> void CheckLine(const QString &line, Parse parse) {
    const auto parsed = parse(line);
    if (const auto *error = std::get_if<BindingError>(&parsed)) {
        Check(!error->reason.isEmpty(), "a failure without a reason");
        Check(error->blank == line.trimmed().isEmpty(), "blank flag wrong");
        return;
    }
    const Binding &binding = std::get<Binding>(parsed);
    Check(Channel(binding.channel) && Data(binding.number), "binding out of range");
    const auto again = parse(ToText(binding));
    Check(std::holds_alternative<Binding>(again) && std::get<Binding>(again) == binding,
          "canonical text does not round-trip");
}

void Stream(const unsigned char *data, std::size_t size) {
    const FaderBinding pair{FaderKind::ControlChange14, 1, 7, FaderMode::Pickup};
    const FaderBinding bend{FaderKind::PitchBend, 1, 0, FaderMode::Motor};
    const ButtonBinding button{ButtonKind::ControlChange, 1, 7};
    Cc14State state;
    MidiLearn learn;
    learn.arm(LearnTarget::Fader1);
    qint64 now = 0;
    std::size_t pos = 0;
    while (pos < size) {
        const std::size_t length = std::min<std::size_t>(data[pos] & 7, size - pos - 1);
        const unsigned char *message = data + pos + 1;
        now += data[pos] >> 3;
        pos += 1 + length;
        const Event event = Decode(message, length);
        CheckEvent(event, message, length);
        for (const FaderBinding &binding : {pair, bend}) {
            const auto value = FaderValue(binding, event, state);
            Check(!value || (*value >= 0 && *value <= TravelMax(binding.kind)), "value off travel");
            if (value) {
                const qint16 gain = GainOfTravel(*value, TravelMax(binding.kind));
                Check(gain >= kBottomGain && gain <= kTopGain, "gain off the fader");
            }
        }
        IsPress(button, event);
        auto learned = learn.feed(event, now);
        if (!learned)
            learned = learn.poll(now);
        if (learned) {
            Check(IsFaderTarget(learned->target) ==
                      std::holds_alternative<FaderBinding>(learned->binding),
                  "learned the wrong kind of binding");
            if (const auto *fader = std::get_if<FaderBinding>(&learned->binding))
                Check(std::holds_alternative<FaderBinding>(ParseFaderBinding(ToText(*fader))),
                      "learned a fader binding that does not parse");
            else
                Check(std::holds_alternative<ButtonBinding>(
                          ParseButtonBinding(ToText(std::get<ButtonBinding>(learned->binding)))),
                      "learned a button binding that does not parse");
            // Take turns learning a fader and a button.
            learn.arm(IsFaderTarget(learned->target) ? LearnTarget::Lock : LearnTarget::Fader1);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    const unsigned char *payload = data + 1;
    const std::size_t count = size - 1;
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char *>(payload), static_cast<qsizetype>(count));
    switch (data[0] & 3) {
    case 0:
        CheckEvent(Decode(payload, count), payload, count);
        break;
    case 1:
        CheckLine<FaderBinding>(text, ParseFaderBinding);
        break;
    case 2:
        CheckLine<ButtonBinding>(text, ParseButtonBinding);
        break;
    default:
        Stream(payload, count);
        break;
    }
    return 0;
}
