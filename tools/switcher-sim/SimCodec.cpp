#include "tools/switcher-sim/SimCodec.h"

#include "tools/switcher-sim/SimWire.h"

namespace SimCodec {

using namespace SimWire;

namespace {

constexpr int kGainHeader = 7;  // E3 spare kind N(2) first(2)
constexpr int kMapHeader = 6;   // F6 spare N(2) first(2)
constexpr int kTrailer = 2;     // checksum, EOM
constexpr int kInfoPadding = 4; // zero bytes after the selector groups
constexpr int kBitsPerGroup = 7;

Message invalid(const QString &why) {
    Message m;
    m.error = why;
    return m;
}

QString hexByte(quint8 b) {
    return hex(QByteArray(1, static_cast<char>(b)));
}

quint8 at(const QByteArray &b, qsizetype i) {
    return static_cast<quint8>(b[i]);
}
int field14(const QByteArray &b, qsizetype i) {
    return join14(at(b, i), at(b, i + 1));
}

Message decodeGain(const QByteArray &b) {
    if (b.size() < kGainHeader + kTrailer)
        return invalid(QStringLiteral("gain message too short (%1 bytes)").arg(b.size()));
    Message m;
    m.type = Message::Type::Gain;
    m.status = kGain;
    m.spare = at(b, 1);
    m.kind = at(b, 2);
    const int n = field14(b, 3);
    m.first = field14(b, 5);
    if (n == 0)
        return invalid(QStringLiteral("gain message with no entries"));
    const int entryBytes = m.kind == kKindCrosspoint ? 4 : 2;
    const qsizetype expected = kGainHeader + kTrailer + qsizetype(entryBytes) * n;
    if (b.size() != expected)
        return invalid(QStringLiteral("gain message of %1 bytes, %2 entries of kind %3 need %4")
                           .arg(b.size())
                           .arg(n)
                           .arg(m.kind)
                           .arg(expected));
    for (int k = 0; k < n; ++k) {
        const qsizetype pos = kGainHeader + qsizetype(entryBytes) * k;
        if (m.kind == kKindCrosspoint)
            m.crosspoints.append({field14(b, pos + 2), field14(b, pos)});
        else
            m.values.append(field14(b, pos));
    }
    return m;
}

Message decodeMap(const QByteArray &b) {
    if (b.size() < kMapHeader + kTrailer)
        return invalid(QStringLiteral("crosspoint map too short (%1 bytes)").arg(b.size()));
    Message m;
    m.type = Message::Type::CrosspointMap;
    m.status = kCrosspointMap;
    m.spare = at(b, 1);
    const int n = field14(b, 2);
    m.first = field14(b, 4);
    if (n == 0)
        return invalid(QStringLiteral("crosspoint map with no outputs"));
    const qsizetype end = b.size() - kTrailer;
    qsizetype pos = kMapHeader;
    for (int j = 0; j < n; ++j) {
        if (pos + 3 > end)
            return invalid(QStringLiteral("crosspoint map ends inside block %1").arg(j));
        MapBlock block;
        const int count = field14(b, pos);
        block.info = at(b, pos + 2);
        pos += 3;
        if (pos + qsizetype(count) * 4 > end)
            return invalid(QStringLiteral("crosspoint map ends inside block %1").arg(j));
        for (int e = 0; e < count; ++e, pos += 4)
            block.sources.append({field14(b, pos), field14(b, pos + 2)});
        m.blocks.append(block);
    }
    if (pos != end)
        return invalid(
            QStringLiteral("crosspoint map has %1 bytes after its blocks").arg(end - pos));
    return m;
}

Message decodeGreeting(const QByteArray &b) {
    Message m;
    m.status = kGreeting;
    if (b.size() == 4 && at(b, 1) == kGreetingReplyByte) {
        m.type = Message::Type::GreetingReply;
        return m;
    }
    if ((b.size() == 4 || b.size() == 5) && at(b, 1) == kGreetingMagic) {
        m.type = Message::Type::Greeting;
        m.greetingExtra = b.size() == 5 ? at(b, 2) : -1;
        return m;
    }
    return invalid(QStringLiteral("greeting of unknown form"));
}

Message decodeInfoRequest(const QByteArray &b) {
    if (b.size() != kInfoRequestLength)
        return invalid(QStringLiteral("information request of %1 bytes, expected %2")
                           .arg(b.size())
                           .arg(kInfoRequestLength));
    Message m;
    m.type = Message::Type::InfoRequest;
    m.status = kInfoRequest;
    for (int g = 0; g < kInfoSelectorGroups; ++g)
        m.selector |= qint64(at(b, 1 + g)) << (kBitsPerGroup * g);
    return m;
}

Message decodeOneByte(quint8 b) {
    Message m;
    m.status = b;
    if (b == kPing)
        m.type = Message::Type::Ping;
    else if (b == kPingAnswer)
        m.type = Message::Type::PingAnswer;
    else if (b == kSysF1 || b == kSysF3)
        m.type = Message::Type::OtherOneByte;
    else if (!isStatus(b))
        return invalid(QStringLiteral("stray data byte"));
    else if (b == kEom)
        return invalid(QStringLiteral("stray end byte"));
    else
        return invalid(QStringLiteral("message without its end byte"));
    return m;
}

} // namespace

Message decode(const QByteArray &b) {
    if (b.isEmpty())
        return invalid(QStringLiteral("empty message"));
    if (b.size() == 1)
        return decodeOneByte(at(b, 0));
    const quint8 status = at(b, 0);
    if (!isStatus(status) || status == kEom)
        return invalid(QStringLiteral("does not start with a status byte"));
    if (at(b, b.size() - 1) != kEom)
        return invalid(QStringLiteral("message without its end byte"));
    if (b.size() < 3)
        return invalid(QStringLiteral("message too short"));
    const bool greetingReply = status == kGreeting && at(b, 1) == kGreetingReplyByte;
    for (qsizetype i = 1; i < b.size() - 1; ++i) {
        if (isStatus(at(b, i)) && !(greetingReply && i == 1))
            return invalid(QStringLiteral("byte %1 at position %2 is not a data byte")
                               .arg(hexByte(at(b, i)))
                               .arg(i + 1));
    }
    const quint8 expected = checksum(b.left(b.size() - kTrailer));
    const quint8 got = at(b, b.size() - 2);
    if (expected != got)
        return invalid(QStringLiteral("bad checksum %1, expected %2")
                           .arg(hexByte(got))
                           .arg(hexByte(expected)));
    switch (status) {
    case kGreeting:
        return decodeGreeting(b);
    case kInfoRequest:
        return decodeInfoRequest(b);
    case kGain:
        return decodeGain(b);
    case kCrosspointMap:
        return decodeMap(b);
    default: {
        Message m;
        m.type = Message::Type::Unknown;
        m.status = status;
        return m;
    }
    }
}

QByteArray encode(const Message &m) {
    QByteArray data;
    switch (m.type) {
    case Message::Type::Greeting:
        data.append(static_cast<char>(kGreetingMagic));
        if (m.greetingExtra >= 0)
            data.append(static_cast<char>(m.greetingExtra & kDataMask));
        return frame(kGreeting, data);
    case Message::Type::GreetingReply:
        // Fixed bytes: the checksum of 0x96 kept to 7 bits is 0x16.
        return frame(kGreeting, QByteArray(1, static_cast<char>(kGreetingReplyByte)));
    case Message::Type::InfoRequest:
        for (int g = 0; g < kInfoSelectorGroups; ++g)
            data.append(static_cast<char>((m.selector >> (kBitsPerGroup * g)) & kDataMask));
        data.append(QByteArray(kInfoPadding, '\0'));
        return frame(kInfoRequest, data);
    case Message::Type::Gain: {
        data.append(static_cast<char>(m.spare & kDataMask));
        data.append(static_cast<char>(m.kind & kDataMask));
        const bool xpt = m.kind == kKindCrosspoint;
        append14(data, int(xpt ? m.crosspoints.size() : m.values.size()));
        append14(data, m.first);
        if (xpt) {
            for (const Crosspoint &c : m.crosspoints) {
                append14(data, c.gain);
                append14(data, c.source);
            }
        } else {
            for (int v : m.values)
                append14(data, v);
        }
        return frame(kGain, data);
    }
    case Message::Type::CrosspointMap:
        data.append(static_cast<char>(m.spare & kDataMask));
        append14(data, int(m.blocks.size()));
        append14(data, m.first);
        for (const MapBlock &block : m.blocks) {
            append14(data, int(block.sources.size()));
            data.append(static_cast<char>(block.info & kDataMask));
            for (const Crosspoint &c : block.sources) {
                append14(data, c.source);
                append14(data, c.gain);
            }
        }
        return frame(kCrosspointMap, data);
    case Message::Type::Ping:
    case Message::Type::PingAnswer:
    case Message::Type::OtherOneByte:
        return QByteArray(1, static_cast<char>(m.status));
    case Message::Type::Unknown:
    case Message::Type::Invalid:
        break;
    }
    return {};
}

Message greeting() {
    Message m;
    m.type = Message::Type::Greeting;
    m.status = kGreeting;
    return m;
}

Message ping() {
    Message m;
    m.type = Message::Type::Ping;
    m.status = kPing;
    return m;
}

static Message gainMessage(quint8 spare, int kind, int first) {
    Message m;
    m.type = Message::Type::Gain;
    m.status = kGain;
    m.spare = spare;
    m.kind = kind;
    m.first = first;
    return m;
}

Message gainReport(int kind, int first, const QList<int> &values) {
    Message m = gainMessage(kReportSpare, kind, first);
    m.values = values;
    return m;
}

Message crosspointReport(int output, const QList<Crosspoint> &entries) {
    Message m = gainMessage(kReportSpare, kKindCrosspoint, output);
    m.crosspoints = entries;
    return m;
}

Message crosspointMap(int firstOutput, const QList<MapBlock> &blocks) {
    Message m;
    m.type = Message::Type::CrosspointMap;
    m.status = kCrosspointMap;
    m.spare = kReportSpare;
    m.first = firstOutput;
    m.blocks = blocks;
    return m;
}

Message infoRequest(qint64 selector) {
    Message m;
    m.type = Message::Type::InfoRequest;
    m.status = kInfoRequest;
    m.selector = selector;
    return m;
}

Message setGain(int kind, int first, const QList<int> &values) {
    Message m = gainMessage(kCommandSpare, kind, first);
    m.values = values;
    return m;
}

Message setCrosspointGain(int output, const QList<Crosspoint> &entries) {
    Message m = gainMessage(kCommandSpare, kKindCrosspoint, output);
    m.crosspoints = entries;
    return m;
}

} // namespace SimCodec
