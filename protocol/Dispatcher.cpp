#include "protocol/Dispatcher.h"

#include "protocol/CrosspointMapDecoder.h"
#include "protocol/Failure.h"
#include "protocol/FrameCutter.h"
#include "protocol/GainReport.h"
#include "protocol/Greeting.h"
#include "protocol/WireFormat.h"

#include <QElapsedTimer>
#include <chrono>

namespace TCPComm {

using namespace WireFormat;
using FrameCutter::Kind;

namespace {

// Steps that drop a single byte are cheap; the clock is read only every so many of them,
// and after every step that cut a whole message, whose decoding may take longer.
constexpr int kStepsPerClockRead = 64;

void Decode(const QByteArray &message, SwitcherTables &tables, ProtocolHost &host) {
    switch (static_cast<quint8>(message.front())) {
    case kGreeting:
        AnswerGreeting(message, host);
        break;
    case kGainReport:
        ReceiveGain(message, tables, host);
        break;
    case kCrosspointMap:
        ProcessCrosspointMap(message, tables, host);
        break;
    default:
        break; // kInfoRequest from the switcher, unknown status bytes and a lone EOM
    }
}

} // namespace

bool ProcessCommand(ReceiveBuffer &sBuffer, SwitcherTables &tables, ProtocolHost &host) {
    FrameCutter::Front front = FrameCutter::LookAtFront(sBuffer);
    switch (front.kind) {
    case Kind::Empty:
        return false;
    case Kind::Junk:
        sBuffer.drop(1);
        host.frontCut(front, {});
        return true;
    case Kind::OneByte:
        sBuffer.drop(1);
        host.frontCut(front, {});
        if (front.status == kPing)
            host.SendToSwitcher(QByteArray(1, static_cast<char>(kPong)));
        return true;
    case Kind::Incomplete:
        // Still waiting for the EOM. A wait that has outgrown every meaningful message means
        // the EOM was lost or never sent: drop the status byte, so that the rest drains as
        // junk up to the next message instead of piling up without limit.
        if (sBuffer.size() <= kMaxPendingBytes)
            return false;
        sBuffer.drop(1);
        host.frontCut({Kind::Junk, front.status, 1}, {});
        host.noteFailure(kErrProcessCommand);
        return true;
    case Kind::Message:
        break;
    }
    // The message leaves the buffer before its decoder runs, so a decoder that fails never
    // sees it again.
    const QByteArray message = sBuffer.take(front.length);
    host.frontCut(front, message);
    Decode(message, tables, host);
    return true;
}

bool DecodeTick(ReceiveBuffer &sBuffer, SwitcherTables &tables, ProtocolHost &host) {
    QElapsedTimer clock;
    clock.start();
    const qint64 budget = std::chrono::nanoseconds(kDecodeTickBudget).count();
    int cheapSteps = 0;
    while (!sBuffer.isEmpty()) {
        const qsizetype before = sBuffer.size();
        if (!ProcessCommand(sBuffer, tables, host))
            return false; // an incomplete message: nothing changes until more bytes arrive
        const bool cutMessage = before - sBuffer.size() > 1;
        if (cutMessage || ++cheapSteps >= kStepsPerClockRead) {
            cheapSteps = 0;
            if (clock.nsecsElapsed() >= budget)
                return !sBuffer.isEmpty();
        }
    }
    return false;
}

} // namespace TCPComm
