#include "protocol/Dispatcher.h"

#include "app/Variables.h"
#include "protocol/ByteManipulation.h"
#include "protocol/CrosspointMapDecoder.h"
#include "protocol/Failure.h"
#include "protocol/GainReport.h"
#include "protocol/Greeting.h"
#include "protocol/Seams.h"
#include "protocol/WireFormat.h"

#include <QElapsedTimer>
#include <chrono>

namespace TCPComm {

using namespace WireFormat;

namespace {

// Steps that drop a single byte are cheap; the clock is read only every so many of them,
// and after every step that cut a whole message, whose decoding may take longer.
constexpr int kStepsPerClockRead = 64;

// One dispatcher step. Returns true when it removed anything from sBuffer.
bool Step() {
    ReceiveBuffer &buffer = Variables::sBuffer;
    if (buffer.isEmpty())
        return false;
    const quint8 b = buffer.front();
    if (!ByteManipulation::IsStatusByte(b)) {
        buffer.drop(1); // junk: data bytes never start a message
        return true;
    }
    if (b == kPing) {
        buffer.drop(1);
        SendToSwitcher(QByteArray(1, static_cast<char>(kPong)));
        return true;
    }
    if (b == kPong || b == kSystemF1 || b == kSystemF3) {
        buffer.drop(1);
        return true;
    }
    const qsizetype eom = buffer.firstEom();
    if (eom == 0) {
        // Still waiting for the EOM. A wait that has outgrown every meaningful message means
        // the EOM was lost or never sent: drop the status byte, so that the rest drains as
        // junk up to the next message instead of piling up without limit.
        if (buffer.size() > kMaxPendingBytes) {
            buffer.drop(1);
            NoteFailure(kErrProcessCommand);
            return true;
        }
        return false;
    }
    // The message leaves the buffer before its decoder runs, so a decoder that fails never
    // sees it again. The cut ends at the first EOM even if that joins two messages whose
    // first lost its EOM; the decoder rejects the join by checksum or length.
    const QByteArray message = buffer.take(eom);
    switch (b) {
    case kGreeting:
        AnswerGreeting(message);
        break;
    case kGainReport:
        ReceiveGain(message);
        break;
    case kCrosspointMap:
        ProcessCrosspointMap(message);
        break;
    default:
        break; // kInfoRequest from the switcher, unknown status bytes and a lone EOM
    }
    return true;
}

} // namespace

void ProcessCommand() {
    Step();
}

void DecodeTick() {
    Seams &hooks = seams();
    if (Variables::sBuffer.isEmpty()) {
        if (hooks.stopDecodeTimer)
            hooks.stopDecodeTimer();
        return;
    }
    QElapsedTimer clock;
    clock.start();
    const qint64 budget = std::chrono::nanoseconds(kDecodeTickBudget).count();
    int cheapSteps = 0;
    while (!Variables::sBuffer.isEmpty()) {
        const qsizetype before = Variables::sBuffer.size();
        if (!Step()) {
            // An incomplete message at the front: nothing changes until more bytes arrive,
            // and the link handler that appends them restarts the timer.
            if (hooks.stopDecodeTimer)
                hooks.stopDecodeTimer();
            return;
        }
        const bool cutMessage = before - Variables::sBuffer.size() > 1;
        if ((cutMessage || ++cheapSteps >= kStepsPerClockRead)) {
            cheapSteps = 0;
            if (clock.nsecsElapsed() >= budget)
                return;
        }
    }
    if (hooks.stopDecodeTimer)
        hooks.stopDecodeTimer();
}

} // namespace TCPComm
