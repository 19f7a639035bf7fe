#pragma once

#include "protocol/DecodedMessage.h"
#include "protocol/ProtocolHost.h"

#include <QByteArray>
#include <QtGlobal>

namespace TCPComm {

// Reads a greeting: 81 64, an optional byte, the checksum and the EOM. Pure.
Decoded::Greeting DecodeGreeting(const QByteArray &message);

// Answers a valid greeting (81 64 [x] checksum FF) with the fixed reply, holds the thread for
// the switcher to settle, then sends the one information request. Anything else is ignored.
void AnswerGreeting(QByteArray message, ProtocolHost &host);

// Sends the information request for the selector S.
void SendInfoRequest(qint32 S, ProtocolHost &host);

} // namespace TCPComm
