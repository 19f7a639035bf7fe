// Fuzz target for the OSC parser: arbitrary bytes as one datagram. Parsing must never throw or
// read outside the datagram, must account for every packet (at least one command or drop), and
// every command must carry values the panel can act on.

#define DS_FUZZ_TARGET "fuzz_osc"
#include "Check.h"

#include "surfaces/OscCommand.h"

#include <cstdint>

namespace {

bool Fader(int fader) {
    return fader == 0 || fader == 1;
}
bool Gain(qint16 gain) {
    return gain >= 24 && gain <= 1264;
}
bool Seconds(double s) {
    return s >= 0.0 && s <= Osc::kMaxFadeSeconds;
}

void CheckCommand(const Osc::Command &command) {
    if (const auto *c = std::get_if<Osc::SetGain>(&command))
        Check(Fader(c->fader) && Gain(c->gain), "gain out of range");
    else if (const auto *c = std::get_if<Osc::Zero>(&command))
        Check(Fader(c->fader), "zero of no fader");
    else if (const auto *c = std::get_if<Osc::SetStereo>(&command))
        Check(Fader(c->fader), "stereo of no fader");
    else if (const auto *c = std::get_if<Osc::Fade>(&command))
        Check(Fader(c->fader) && Gain(c->gain) && Seconds(c->seconds), "fade out of range");
    else if (const auto *c = std::get_if<Osc::RecallScene>(&command))
        Check(!c->name.trimmed().isEmpty() && (!c->seconds || Seconds(*c->seconds)),
              "scene recall out of range");
    else if (const auto *c = std::get_if<Osc::Subscribe>(&command))
        Check(!c->replyPort || *c->replyPort != 0, "reply port 0");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const Osc::Parsed parsed = Osc::ParseOscPacket(reinterpret_cast<const char *>(data), size);
    Check(!parsed.commands.empty() || !parsed.drops.empty(), "a packet without an outcome");
    // At most one outcome per 4 bytes (the smallest bundle element), plus the packet's own.
    Check(parsed.commands.size() + parsed.drops.size() <= size / 4 + 1, "more outcomes than room");
    for (const Osc::Command &command : parsed.commands)
        CheckCommand(command);
    for (const Osc::Drop &drop : parsed.drops) {
        Check(drop.address.size() <= 128, "drop address unbounded");
        for (const char c : drop.address)
            Check(c >= 0x20 && c <= 0x7E, "drop address not printable");
        (void)Osc::DropReasonText(drop.reason);
    }
    for (const Osc::Command &command : parsed.commands)
        (void)Osc::CommandText(command);
    return 0;
}
