#include "protocol/FrameCutter.h"

#include "protocol/ByteManipulation.h"
#include "protocol/WireFormat.h"

namespace FrameCutter {

using namespace WireFormat;

namespace {

bool standsAlone(quint8 b, Rules rules) {
    if (b == kPing || b == kPong)
        return true;
    return rules == Rules::Dispatcher && (b == kSystemF1 || b == kSystemF3);
}

} // namespace

Front LookAtFront(const ReceiveBuffer &buffer, Rules rules) {
    if (buffer.isEmpty())
        return {};
    const quint8 b = buffer.front();
    if (!ByteManipulation::IsStatusByte(b))
        return {Kind::Junk, b, 1};
    if (standsAlone(b, rules))
        return {Kind::OneByte, b, 1};
    const qsizetype eom = buffer.firstEom();
    if (eom == 0)
        return {Kind::Incomplete, b, 0};
    return {Kind::Message, b, eom};
}

} // namespace FrameCutter
