#include "protocol/SerialDecoder.h"

#include "protocol/FrameCutter.h"
#include "protocol/GainReport.h"
#include "protocol/WireFormat.h"

namespace TCPComm {

using namespace WireFormat;
using FrameCutter::Kind;

void DecodeMessage(ReceiveBuffer &sBuffer, SwitcherTables &tables, ProtocolHost &host) {
    for (;;) {
        const auto front = FrameCutter::LookAtFront(sBuffer, FrameCutter::Rules::SerialPass);
        switch (front.kind) {
        case Kind::Junk:
            sBuffer.drop(1);
            host.frontCut(front, {});
            continue;
        case Kind::OneByte: // F4 and F5, unanswered on this side
            sBuffer.drop(1);
            host.frontCut(front, {});
            return;
        case Kind::Message:
            if (front.status == kGainReport) {
                const QByteArray message = sBuffer.take(front.length);
                host.frontCut(front, message);
                ReceiveGain(message, tables, host);
                return;
            }
            // Only gain reports are decoded here: any other complete message loses its status
            // byte, and its remaining bytes are dropped as data by later passes.
            sBuffer.drop(1);
            host.frontCut({Kind::Junk, front.status, 1}, {});
            return;
        case Kind::Empty:
        case Kind::Incomplete:
            return;
        }
    }
}

} // namespace TCPComm
