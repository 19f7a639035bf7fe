#include "surfaces/OscCommand.h"

#include "faders/DbEntry.h"
#include "faders/GainScale.h"
#include "protocol/GainText.h"

#include <oscpack/osc/OscReceivedElements.h>

#include <cmath>
#include <cstring>
#include <exception>
#include <string_view>

namespace Osc {
namespace {

using Args = std::vector<osc::ReceivedMessageArgument>;
// A value that failed: which way.
using Failure = DropReason;

constexpr std::string_view kPrefix = "/dual-slider/";
constexpr qint16 kOffGain = -GainScale::kBottomPosition; // 24
constexpr qint16 kTopGain = -GainScale::kTopPosition;    // 1264

template <typename T> struct Value {
    std::optional<T> value;
    Failure failure = Failure::BadArguments;
    static Value fail(Failure f) { return {std::nullopt, f}; }
};

// A number of any of the numeric OSC types; none for anything else.
std::optional<double> NumberOf(const osc::ReceivedMessageArgument &arg) {
    if (arg.IsFloat())
        return double(arg.AsFloatUnchecked());
    if (arg.IsDouble())
        return arg.AsDoubleUnchecked();
    if (arg.IsInt32())
        return double(arg.AsInt32Unchecked());
    if (arg.IsInt64())
        return double(arg.AsInt64Unchecked());
    return std::nullopt;
}

bool IsOffWord(const char *text) {
    return QByteArray(text).trimmed().compare("off", Qt::CaseInsensitive) == 0;
}

// A gain in dB (any number type) or the word "off": the fader step it goes to, as a typed gain.
Value<qint16> GainArgument(const osc::ReceivedMessageArgument &arg) {
    if (arg.IsString() || arg.IsSymbol()) {
        if (IsOffWord(arg.IsString() ? arg.AsStringUnchecked() : arg.AsSymbolUnchecked()))
            return {kOffGain};
        return Value<qint16>::fail(Failure::OutOfRange);
    }
    const auto db = NumberOf(arg);
    if (!db)
        return Value<qint16>::fail(Failure::BadArguments);
    const auto gain = DbEntry::GainOfDb(*db);
    if (!gain)
        return Value<qint16>::fail(Failure::OutOfRange); // NaN or infinite
    return {*gain};
}

// A position along the travel: 0 is Off, 1 is the top, linear in gain units in between, to the
// nearest step (a tie to the quieter one, as typed gains round). A finite value outside 0..1
// is clamped to the nearer end, as a surface's own scaling may overshoot a little; NaN and
// infinities are no position.
Value<qint16> PositionArgument(const osc::ReceivedMessageArgument &arg) {
    const auto position = NumberOf(arg);
    if (!position)
        return Value<qint16>::fail(Failure::BadArguments);
    if (!std::isfinite(*position))
        return Value<qint16>::fail(Failure::OutOfRange);
    const double clamped = std::clamp(*position, 0.0, 1.0);
    const double units = clamped * double(kTopGain - kOffGain);
    const double step = std::ceil(units - 0.5);
    return {qint16(kOffGain + qint16(std::clamp(step, 0.0, double(kTopGain - kOffGain))))};
}

// On or off: int 0/1, OSC true/false, or a float or double of exactly 0 or 1 (what toggle
// controls send).
Value<bool> SwitchArgument(const osc::ReceivedMessageArgument &arg) {
    if (arg.IsBool())
        return {arg.AsBoolUnchecked()};
    if (arg.IsInt32() || arg.IsFloat() || arg.IsDouble()) {
        const double v = *NumberOf(arg);
        if (v == 0.0 || v == 1.0)
            return {v == 1.0};
        return Value<bool>::fail(Failure::OutOfRange);
    }
    return Value<bool>::fail(Failure::BadArguments);
}

Value<double> SecondsArgument(const osc::ReceivedMessageArgument &arg) {
    const auto seconds = NumberOf(arg);
    if (!seconds)
        return Value<double>::fail(Failure::BadArguments);
    if (!(*seconds >= 0.0 && *seconds <= kMaxFadeSeconds)) // NaN fails too
        return Value<double>::fail(Failure::OutOfRange);
    return {*seconds};
}

using Outcome = std::variant<Command, Failure>;

Outcome FaderCommand(int fader, std::string_view verb, const Args &args) {
    if (verb == "gain" || verb == "position") {
        if (args.size() != 1)
            return Failure::BadArguments;
        const auto gain = verb == "gain" ? GainArgument(args[0]) : PositionArgument(args[0]);
        if (!gain.value)
            return gain.failure;
        return SetGain{fader, *gain.value};
    }
    if (verb == "zero") {
        if (!args.empty())
            return Failure::BadArguments;
        return Zero{fader};
    }
    if (verb == "stereo") {
        if (args.size() != 1)
            return Failure::BadArguments;
        const auto on = SwitchArgument(args[0]);
        if (!on.value)
            return on.failure;
        return SetStereo{fader, *on.value};
    }
    if (verb == "fade") {
        if (args.size() != 2)
            return Failure::BadArguments;
        const auto gain = GainArgument(args[0]);
        const auto seconds = SecondsArgument(args[1]);
        // A wrong type anywhere weighs more than a value out of range.
        if (!gain.value && gain.failure == Failure::BadArguments)
            return Failure::BadArguments;
        if (!seconds.value && seconds.failure == Failure::BadArguments)
            return Failure::BadArguments;
        if (!gain.value || !seconds.value)
            return Failure::OutOfRange;
        return Fade{fader, *gain.value, *seconds.value};
    }
    return Failure::UnknownAddress;
}

Outcome SceneRecall(const Args &args) {
    if (args.empty() || args.size() > 2 || !(args[0].IsString() || args[0].IsSymbol()))
        return Failure::BadArguments;
    const char *text =
        args[0].IsString() ? args[0].AsStringUnchecked() : args[0].AsSymbolUnchecked();
    RecallScene recall{QString::fromUtf8(text), std::nullopt};
    if (args.size() == 2) {
        const auto seconds = SecondsArgument(args[1]);
        if (!seconds.value)
            return seconds.failure;
        recall.seconds = seconds.value;
    }
    if (recall.name.trimmed().isEmpty())
        return Failure::OutOfRange;
    return recall;
}

Outcome SubscribeCommand(const Args &args) {
    if (args.empty())
        return Subscribe{};
    if (args.size() != 1 || !(args[0].IsInt32() || args[0].IsInt64()))
        return Failure::BadArguments;
    const qint64 port =
        args[0].IsInt32() ? args[0].AsInt32Unchecked() : qint64(args[0].AsInt64Unchecked());
    if (port < 1 || port > 65535)
        return Failure::OutOfRange;
    return Subscribe{quint16(port)};
}

Outcome Interpret(std::string_view address, const Args &args) {
    if (!address.starts_with(kPrefix))
        return Failure::UnknownAddress;
    const std::string_view rest = address.substr(kPrefix.size());
    if (rest == "lock") {
        if (args.size() != 1)
            return Failure::BadArguments;
        const auto on = SwitchArgument(args[0]);
        if (!on.value)
            return on.failure;
        return SetLock{*on.value};
    }
    if (rest == "subscribe")
        return SubscribeCommand(args);
    if (rest == "scene/recall")
        return SceneRecall(args);
    constexpr std::string_view kFader = "fader/";
    // "fader/N/verb" with N exactly "1" or "2".
    if (rest.size() > kFader.size() + 2 && rest.starts_with(kFader) &&
        rest[kFader.size() + 1] == '/') {
        const char n = rest[kFader.size()];
        if (n == '1' || n == '2')
            return FaderCommand(n - '1', rest.substr(kFader.size() + 2), args);
    }
    return Failure::UnknownAddress;
}

// The address of a message, when its bytes hold a terminated string at all: for drop reports of
// messages oscpack refuses. Only printable ASCII is kept, and at most 128 bytes.
QByteArray Printable(QByteArray address) {
    address.truncate(128);
    for (char &c : address)
        if (c < 0x20 || c > 0x7E)
            c = '?';
    return address;
}

QByteArray AddressOf(const char *data, std::size_t size) {
    const void *nul = std::memchr(data, '\0', size);
    if (!nul || size == 0 || data[0] != '/')
        return {};
    return Printable(QByteArray(data, static_cast<const char *>(nul) - data));
}

void TakeMessage(const osc::ReceivedMessage &message, Parsed &parsed) {
    const QByteArray address(message.AddressPattern());
    Args args;
    for (auto it = message.ArgumentsBegin(); it != message.ArgumentsEnd(); ++it)
        args.push_back(*it);
    const Outcome outcome = Interpret(std::string_view(address.constData(), address.size()), args);
    if (const auto *command = std::get_if<Command>(&outcome))
        parsed.commands.push_back(*command);
    else
        parsed.drops.push_back({std::get<Failure>(outcome), Printable(address)});
}

template <typename Element> void TakeElement(const Element &element, int depth, Parsed &parsed);

void TakeBundle(const osc::ReceivedBundle &bundle, int depth, Parsed &parsed) {
    for (auto it = bundle.ElementsBegin(); it != bundle.ElementsEnd(); ++it)
        TakeElement(*it, depth + 1, parsed);
}

// One packet or bundle element: a bundle (depth counts the bundles around it) or a message.
// Exceptions are caught per element, so one bad message in a bundle spares its neighbours.
template <typename Element> void TakeElement(const Element &element, int depth, Parsed &parsed) {
    try {
        if (element.IsBundle()) {
            if (depth + 1 > kMaxBundleDepth) {
                parsed.drops.push_back({DropReason::TooDeep, {}});
                return;
            }
            TakeBundle(osc::ReceivedBundle(element), depth, parsed);
        } else {
            TakeMessage(osc::ReceivedMessage(element), parsed);
        }
    } catch (const std::exception &) {
        parsed.drops.push_back({DropReason::Malformed,
                                element.IsBundle()
                                    ? QByteArray()
                                    : AddressOf(element.Contents(), std::size_t(element.Size()))});
    }
}

} // namespace

QString DropReasonText(DropReason reason) {
    switch (reason) {
    case DropReason::Oversized:
        return QStringLiteral("oversized");
    case DropReason::Malformed:
        return QStringLiteral("malformed");
    case DropReason::TooDeep:
        return QStringLiteral("bundles nested too deep");
    case DropReason::UnknownAddress:
        return QStringLiteral("unknown address");
    case DropReason::BadArguments:
        return QStringLiteral("wrong arguments");
    case DropReason::OutOfRange:
        return QStringLiteral("value out of range");
    case DropReason::NotAllowed:
        return QStringLiteral("sender not allowed");
    case DropReason::RateLimited:
        return QStringLiteral("sender rate-limited");
    case DropReason::SubscribersFull:
        return QStringLiteral("too many subscribers");
    }
    return {};
}

Parsed ParseOscPacket(const char *data, std::size_t size) {
    Parsed parsed;
    if (size > kMaxPacketBytes) {
        parsed.drops.push_back({DropReason::Oversized, {}});
        return parsed;
    }
    try {
        const osc::ReceivedPacket packet(data, size);
        TakeElement(packet, 0, parsed);
    } catch (const std::exception &) {
        // Empty, or not a multiple of four bytes.
        parsed.drops.push_back({DropReason::Malformed, {}});
    }
    return parsed;
}

QString CommandText(const Command &command) {
    const auto gainText = [](qint16 gain) { return GainText::DbText(gain); };
    const auto seconds = [](double s) { return QString::number(s, 'g', 4) + QStringLiteral(" s"); };
    const auto onOff = [](bool on) { return on ? QStringLiteral("on") : QStringLiteral("off"); };
    return std::visit(
        [&](const auto &c) -> QString {
            using T = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<T, SetGain>)
                return QStringLiteral("fader %1 gain %2").arg(c.fader + 1).arg(gainText(c.gain));
            else if constexpr (std::is_same_v<T, Zero>)
                return QStringLiteral("fader %1 zero").arg(c.fader + 1);
            else if constexpr (std::is_same_v<T, SetStereo>)
                return QStringLiteral("fader %1 stereo %2").arg(c.fader + 1).arg(onOff(c.on));
            else if constexpr (std::is_same_v<T, SetLock>)
                return QStringLiteral("lock %1").arg(onOff(c.on));
            else if constexpr (std::is_same_v<T, Fade>)
                return QStringLiteral("fader %1 fade to %2 in %3")
                    .arg(c.fader + 1)
                    .arg(gainText(c.gain), seconds(c.seconds));
            else if constexpr (std::is_same_v<T, RecallScene>)
                return QStringLiteral("recall scene \"%1\"").arg(c.name) +
                       (c.seconds ? QStringLiteral(" in ") + seconds(*c.seconds) : QString());
            else
                return c.replyPort ? QStringLiteral("subscribe, reply to port %1").arg(*c.replyPort)
                                   : QStringLiteral("subscribe");
        },
        command);
}

} // namespace Osc
