#include "protocol/Greeting.h"

#include "protocol/ByteManipulation.h"
#include "protocol/WireFormat.h"

#include <chrono>
#include <thread>

namespace TCPComm {

using namespace WireFormat;

namespace {

// Holds the thread until the hold has passed on a monotonic clock: immune to wall-clock
// changes and counter wrap, and asleep rather than spinning. The loop covers early wake-ups.
void Hold(std::chrono::steady_clock::duration hold) {
    const auto deadline = std::chrono::steady_clock::now() + hold;
    while (std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_until(deadline);
}

} // namespace

Decoded::Greeting DecodeGreeting(const QByteArray &message) {
    using Decoded::Refusal;
    using Decoded::Rule;
    Decoded::Greeting greeting;
    if (const auto fault = Decoded::CheckFraming(message)) {
        greeting.refusal = fault;
    } else if (message.size() != kGreetingShortLength && message.size() != kGreetingLongLength) {
        greeting.refusal = Refusal{Rule::GreetingLength, message.size()};
    } else if (static_cast<quint8>(message.at(1)) != kGreetingMagic) {
        Refusal refusal{Rule::GreetingMagic, message.size()};
        refusal.found = static_cast<quint8>(message.at(1));
        refusal.wanted = kGreetingMagic;
        greeting.refusal = refusal;
    }
    return greeting;
}

void AnswerGreeting(QByteArray message, ProtocolHost &host) {
    if (!DecodeGreeting(message).accepted())
        return;
    host.SendToSwitcher(QByteArray(kGreetingReply, sizeof kGreetingReply));
    Hold(kGreetingHold);
    SendInfoRequest(kInfoSelector, host);
}

void SendInfoRequest(qint32 S, ProtocolHost &host) {
    QByteArray data;
    ByteManipulation::Append7BitGroups(data, S, kInfoSelectorGroups);
    data.append(kInfoPaddingBytes, '\0');
    host.SendToSwitcher(ByteManipulation::BuildMessage(kInfoRequest, data));
}

} // namespace TCPComm
