#include "surfaces/MidiMessage.h"

#include <algorithm>

namespace Midi {

namespace {

constexpr unsigned char kStatusBit = 0x80;

unsigned char StatusByte(unsigned char kind, int channel) {
    return static_cast<unsigned char>(kind | (std::clamp(channel, 1, 16) - 1));
}

unsigned char DataByte(int value) {
    return static_cast<unsigned char>(std::clamp(value, 0, 127));
}

} // namespace

Event Decode(const unsigned char *bytes, std::size_t size) {
    if (size == 0)
        return Ignored{"empty message"};
    const unsigned char status = bytes[0];
    if ((status & kStatusBit) == 0)
        return Ignored{"no status byte"};
    if (status >= 0xF0)
        return Ignored{"system message"};
    const unsigned char kind = status & 0xF0;
    const int channel = (status & 0x0F) + 1;
    if (kind == 0xC0 || kind == 0xD0)
        return Ignored{kind == 0xC0 ? "program change" : "channel pressure"};
    if (kind == 0xA0)
        return Ignored{"key pressure"};
    if (size < 3)
        return Ignored{"truncated message"};
    if (size > 3)
        return Ignored{"message too long"};
    if (((bytes[1] | bytes[2]) & kStatusBit) != 0)
        return Ignored{"data byte with the status bit"};
    const int first = bytes[1];
    const int second = bytes[2];
    switch (kind) {
    case 0x80:
        return NoteOff{channel, first, second};
    case 0x90:
        if (second == 0)
            return NoteOff{channel, first, 0};
        return NoteOn{channel, first, second};
    case 0xB0:
        return ControlChange{channel, first, second};
    default: // 0xE0
        return PitchBend{channel, first | (second << 7)};
    }
}

Event Decode(const QByteArray &bytes) {
    return Decode(reinterpret_cast<const unsigned char *>(bytes.constData()),
                  static_cast<std::size_t>(bytes.size()));
}

Message EncodeControlChange(int channel, int number, int value) {
    return {StatusByte(0xB0, channel), DataByte(number), DataByte(value)};
}

std::vector<Message> EncodeControlChange14(int channel, int number, int value) {
    const int v = std::clamp(value, 0, kMaxBendValue);
    const int msbNumber = std::clamp(number, 0, 31);
    return {EncodeControlChange(channel, msbNumber, v >> 7),
            EncodeControlChange(channel, msbNumber + 32, v & 0x7F)};
}

Message EncodePitchBend(int channel, int value) {
    const int v = std::clamp(value, 0, kMaxBendValue);
    return {StatusByte(0xE0, channel), static_cast<unsigned char>(v & 0x7F),
            static_cast<unsigned char>(v >> 7)};
}

} // namespace Midi
