#pragma once

// What an OSC control surface asks of the panel, as typed values: one packet (a message or a
// bundle of them) in, the commands it holds and the reasons for whatever was dropped out.
//
// The address space (N is the fader, 1 or 2):
//   /dual-slider/fader/N/gain      dB as float, int or double, or the string "off"
//   /dual-slider/fader/N/position  0..1 along the fader's travel (float, int or double)
//   /dual-slider/fader/N/zero      no arguments
//   /dual-slider/fader/N/stereo    0 or 1 (int, true/false, or a float 0.0/1.0 as toggle
//                                  controls of common surface apps send)
//   /dual-slider/lock              as stereo
//   /dual-slider/fader/N/fade      dB or "off", then seconds 0..60
//   /dual-slider/scene/recall      a non-empty name, then optionally seconds 0..60
//   /dual-slider/subscribe         optionally the port (1..65535) to send feedback to; without
//                                  it feedback goes to the port the message came from
//
// Addresses match exactly; OSC address patterns (wildcards) are not expanded and count as
// unknown. A bundle's time tag is ignored: its messages take effect on arrival, in order.

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QtGlobal>
#include <cstddef>
#include <optional>
#include <variant>
#include <vector>

namespace Osc {

// Anything longer is not a control message: the largest sensible bundle is far smaller, and a
// bound keeps one datagram's parsing cheap.
inline constexpr std::size_t kMaxPacketBytes = 8 * 1024;
// Bundles inside bundles deeper than this are dropped whole (a bundle at the top is depth 1).
inline constexpr int kMaxBundleDepth = 8;
// Longest fade or scene transition, in seconds.
inline constexpr double kMaxFadeSeconds = 60.0;

// The faders are numbered 0 and 1 here (1 and 2 in OSC addresses). Gains are in units of
// 0.1 dB: 1024 is 0 dB, 24 is Off, 1264 is +24 dB.
struct SetGain {
    int fader = 0;
    qint16 gain = 0;
    bool operator==(const SetGain &) const = default;
};
struct Zero {
    int fader = 0;
    bool operator==(const Zero &) const = default;
};
struct SetStereo {
    int fader = 0;
    bool on = false;
    bool operator==(const SetStereo &) const = default;
};
struct SetLock {
    bool on = false;
    bool operator==(const SetLock &) const = default;
};
struct Fade {
    int fader = 0;
    qint16 gain = 0;
    double seconds = 0;
    bool operator==(const Fade &) const = default;
};
struct RecallScene {
    QString name;
    std::optional<double> seconds; // none: the scene's own timing
    bool operator==(const RecallScene &) const = default;
};
struct Subscribe {
    std::optional<quint16> replyPort; // none: reply to the sender's port
    bool operator==(const Subscribe &) const = default;
};

using Command = std::variant<SetGain, Zero, SetStereo, SetLock, Fade, RecallScene, Subscribe>;

enum class DropReason {
    Oversized,      // the datagram is larger than kMaxPacketBytes
    Malformed,      // not a well-formed OSC packet, message or bundle
    TooDeep,        // a bundle nested deeper than kMaxBundleDepth
    UnknownAddress, // no such address (or an address pattern)
    BadArguments,   // wrong number or types of arguments
    OutOfRange,     // right type, value not allowed (NaN, seconds past 60, stereo 2, ...)
    NotAllowed,     // the sender is not on the allow list
    RateLimited,    // the sender sends faster than its share
    SubscribersFull // a new subscriber while the subscriber table is full
};
inline constexpr int kDropReasonCount = int(DropReason::SubscribersFull) + 1;

// Short English words for a reason, for a window's table.
QString DropReasonText(DropReason reason);

struct Drop {
    DropReason reason = DropReason::Malformed;
    QByteArray address; // the OSC address when it could be read
    bool operator==(const Drop &) const = default;
};

struct Parsed {
    std::vector<Command> commands; // in the order they stand in the packet
    std::vector<Drop> drops;
};

// Takes one datagram apart. Never throws: whatever oscpack rejects becomes a Malformed drop. A
// malformed message inside a well-formed bundle drops only that message.
Parsed ParseOscPacket(const char *data, std::size_t size);

// The command as a short line for a window, e.g. "fader 1 gain -6.0 dB".
QString CommandText(const Command &command);

} // namespace Osc

Q_DECLARE_METATYPE(Osc::Command)
