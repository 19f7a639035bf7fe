#include "surfaces/OscFeedback.h"

#include "faders/GainScale.h"
#include "protocol/GainText.h"

#include <oscpack/osc/OscOutboundPacketStream.h>

#include <vector>

namespace Osc {
namespace {

constexpr qint16 kOffGain = -GainScale::kBottomPosition;
constexpr float kOffDb = -100.0f;

// Room for the address, the type tags and the arguments, each padded to four bytes.
std::size_t Capacity(const QByteArray &address, std::size_t argumentBytes) {
    return std::size_t(address.size()) + argumentBytes + 32;
}

template <typename Write>
QByteArray Encode(const QByteArray &address, std::size_t argumentBytes, Write write) {
    std::vector<char> buffer(Capacity(address, argumentBytes));
    osc::OutboundPacketStream stream(buffer.data(), buffer.size());
    stream << osc::BeginMessage(address.constData());
    write(stream);
    stream << osc::EndMessage;
    return QByteArray(stream.Data(), qsizetype(stream.Size()));
}

QByteArray FaderAddress(int fader, const char *leaf) {
    return QByteArrayLiteral("/dual-slider/fader/") + QByteArray::number(fader + 1) + '/' + leaf;
}

} // namespace

QByteArray GainAddress(int fader) {
    return FaderAddress(fader, "gain");
}
QByteArray CaptionAddress(int fader) {
    return FaderAddress(fader, "caption");
}
QByteArray LinkAddress() {
    return QByteArrayLiteral("/dual-slider/link");
}

float GainDb(qint16 gain) {
    if (gain <= kOffGain)
        return kOffDb;
    return float(double(gain - GainText::kZeroDbGain) / GainText::kUnitsPerDb);
}

QByteArray GainMessage(int fader, qint16 gain) {
    return Encode(GainAddress(fader), 4,
                  [&](osc::OutboundPacketStream &stream) { stream << GainDb(gain); });
}

QByteArray CaptionMessage(int fader, const QString &caption) {
    QByteArray text = caption.toUtf8();
    text.replace('\0', QByteArray());
    return Encode(CaptionAddress(fader), std::size_t(text.size()) + 4,
                  [&](osc::OutboundPacketStream &stream) { stream << text.constData(); });
}

QByteArray LinkMessage(LinkWord link) {
    const char *word = link == LinkWord::Live         ? "Live"
                       : link == LinkWord::Connecting ? "Connecting"
                                                      : "Offline";
    return Encode(LinkAddress(), 16, [&](osc::OutboundPacketStream &stream) { stream << word; });
}

} // namespace Osc
