#include "protocol/SerialDecoder.h"

#include "app/Variables.h"
#include "protocol/ByteManipulation.h"
#include "protocol/GainReport.h"
#include "protocol/WireFormat.h"

namespace TCPComm {

using namespace WireFormat;

void DecodeMessage() {
    ReceiveBuffer &buffer = Variables::sBuffer;
    while (!buffer.isEmpty()) {
        const quint8 b = buffer.front();
        if (!ByteManipulation::IsStatusByte(b)) {
            buffer.drop(1);
            continue;
        }
        // No answer to kPing on this side, and no special case for F1/F3.
        if (b == kPong || b == kPing || b == kEom) {
            buffer.drop(1);
            return;
        }
        const qsizetype eom = buffer.firstEom();
        if (eom == 0)
            return; // the rest has not arrived yet
        if (b == kGainReport) {
            ReceiveGain(buffer.take(eom));
            return;
        }
        // Only gain reports are decoded here: any other complete message loses its status
        // byte, and its remaining bytes are dropped as data by later passes.
        buffer.drop(1);
        return;
    }
}

} // namespace TCPComm
