// Fuzz target for the traffic log's words: any bytes, as one message and cut into messages the
// way the receive path cuts them, described in both directions. Each description must be one
// short line of printable text, and the hex of any bytes must stay within its bound, so that a
// switcher sending garbage can neither break the log's one-line-per-message form nor make a
// line without limit. The words must also agree with the decoders: a message reads as a gain
// report, a crosspoint map or a greeting exactly when its decoder accepts it, and otherwise as
// that decoder's refusal, so that the log can never call a refused message an ordinary one.
//
// Input: one byte that is skipped (the receive target's plan byte, so that both targets share
// their seeds), then the byte stream.

#define DS_FUZZ_TARGET "fuzz_meaning"
#include "Check.h"

#include "protocol/CrosspointMapDecoder.h"
#include "protocol/FrameCutter.h"
#include "protocol/GainReport.h"
#include "protocol/Greeting.h"
#include "protocol/MessageMeaning.h"
#include "protocol/ReceiveBuffer.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <utility>

namespace {

using MessageMeaning::Direction;

// Longer than any meaning the panel gives: four listed values with the largest numbers.
constexpr qsizetype kMaxMeaning = 400;
// The hex of kHexBytesShown bytes and the note of how many there were in all.
constexpr qsizetype kMaxHex = MessageMeaning::kHexBytesShown * 3 + 40;

void CheckLine(const QString &text, qsizetype limit) {
    if (text.isEmpty())
        Violation("empty text", text.toUtf8().constData());
    if (text.size() > limit)
        Violation("text too long", text.toUtf8().constData());
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            Violation("control character in the text", text.toUtf8().constData());
}

// Accepted: "<name>: ..." (or the name alone); refused: "<name>, <the decoder's reason>".
void CheckVerdict(const QString &text, const QString &name, bool accepted) {
    const bool readsAccepted = text == name || text.startsWith(name + QStringLiteral(": "));
    const bool readsRefused = text.startsWith(name + QStringLiteral(", "));
    if (accepted ? !readsAccepted : !readsRefused)
        Violation(accepted ? "accepted message described as refused"
                           : "refused message described as accepted",
                  text.toUtf8().constData());
}

void CheckAgreement(const QByteArray &message, const QString &text) {
    if (message.isEmpty())
        return;
    switch (static_cast<quint8>(message.front())) {
    case 0xE3:
        CheckVerdict(text, QStringLiteral("gain report"),
                     TCPComm::DecodeGainReport(message).accepted());
        break;
    case 0xF6:
        CheckVerdict(text, QStringLiteral("crosspoint map"),
                     TCPComm::DecodeCrosspointMap(message).accepted());
        break;
    case 0x81:
        CheckVerdict(text, QStringLiteral("greeting"), TCPComm::DecodeGreeting(message).accepted());
        break;
    default:
        break;
    }
}

void CheckMessage(const QByteArray &message) {
    const QString received = MessageMeaning::Describe(message, Direction::FromSwitcher);
    CheckLine(received, kMaxMeaning);
    CheckAgreement(message, received);
    CheckLine(MessageMeaning::Describe(message, Direction::ToSwitcher), kMaxMeaning);
    CheckLine(MessageMeaning::Hex(message), kMaxHex);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 2)
        return 0;
    const QByteArray stream(reinterpret_cast<const char *>(data + 1),
                            static_cast<qsizetype>(size - 1));
    CheckMessage(stream);

    ReceiveBuffer buffer;
    buffer.append(stream);
    qint64 junk = 0;
    for (;;) {
        const FrameCutter::Front front = FrameCutter::LookAtFront(buffer);
        if (front.kind == FrameCutter::Kind::Junk) {
            buffer.drop(1);
            ++junk;
            continue;
        }
        if (junk > 0)
            CheckLine(MessageMeaning::DescribeJunk(std::exchange(junk, 0)), kMaxMeaning);
        if (front.kind == FrameCutter::Kind::Empty)
            break;
        if (front.kind == FrameCutter::Kind::Incomplete) {
            CheckMessage(buffer.bytes());
            break;
        }
        CheckMessage(buffer.take(front.length));
    }
    return 0;
}
