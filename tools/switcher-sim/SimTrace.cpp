#include "tools/switcher-sim/SimTrace.h"

#include "tools/switcher-sim/SimWire.h"

#include <QStringList>
#include <QTime>

namespace SimTrace {

using SimCodec::Message;
using namespace SimWire;

QString dbText(int gain) {
    // The panel computes in single precision and calls everything below -99.9 dB Off.
    const float d = static_cast<float>((gain - kGainZeroDb) / 10.0);
    if (d < -99.9f)
        return QStringLiteral("Off");
    QString number = QString::number(static_cast<double>(d), 'g', 7);
    if (d > 0.0f)
        number.prepend(QLatin1Char('+'));
    return number + QStringLiteral(" dB");
}

namespace {

QString channelNoun(int kind) {
    switch (kind) {
    case kKindInputSecond:
    case kKindInput:
        return QStringLiteral("input");
    case kKindOutputSecond:
    case kKindOutput:
        return QStringLiteral("output");
    default:
        return QStringLiteral("kind %1 channel").arg(kind);
    }
}

QString gainNoun(int kind) {
    return kind == kKindInputSecond || kind == kKindOutputSecond ? QStringLiteral("second gain")
                                                                 : QStringLiteral("gain");
}

QString range(int first, qsizetype count) {
    if (count == 1)
        return QString::number(first + 1);
    return QStringLiteral("%1..%2").arg(first + 1).arg(first + count);
}

QString describeGain(const Message &m) {
    const bool command = m.spare == kCommandSpare;
    const QString verb = command ? QStringLiteral("set ") : QString();
    if (m.kind == kKindCrosspoint) {
        if (m.crosspoints.size() == 1) {
            const auto &c = m.crosspoints.front();
            return QStringLiteral("%1input %2 on output %3 gain %4")
                .arg(verb)
                .arg(c.source + 1)
                .arg(m.first + 1)
                .arg(dbText(c.gain));
        }
        QStringList parts;
        for (const auto &c : m.crosspoints)
            parts << QStringLiteral("input %1 %2").arg(c.source + 1).arg(dbText(c.gain));
        return QStringLiteral("%1output %2 crosspoint gains: %3")
            .arg(verb)
            .arg(m.first + 1)
            .arg(parts.join(QStringLiteral(", ")));
    }
    QStringList gains;
    for (int v : m.values)
        gains << dbText(v);
    return QStringLiteral("%1%2 %3 %4 %5")
        .arg(verb, channelNoun(m.kind), range(m.first, m.values.size()), gainNoun(m.kind),
             gains.join(QStringLiteral(", ")));
}

QString describeMap(const Message &m) {
    QStringList fed;
    for (qsizetype j = 0; j < m.blocks.size(); ++j) {
        const auto &block = m.blocks[j];
        if (block.sources.isEmpty())
            continue;
        QStringList sources;
        for (const auto &c : block.sources)
            sources << QStringLiteral("input %1 %2").arg(c.source + 1).arg(dbText(c.gain));
        fed << QStringLiteral("output %1 <- %2")
                   .arg(m.first + j + 1)
                   .arg(sources.join(QStringLiteral(", ")));
    }
    const QString noun =
        m.blocks.size() == 1 ? QStringLiteral("output") : QStringLiteral("outputs");
    QString text =
        QStringLiteral("crosspoint map %1 %2").arg(noun, range(m.first, m.blocks.size()));
    if (fed.isEmpty())
        return text + QStringLiteral(": no sources");
    return text + QStringLiteral(": ") + fed.join(QStringLiteral("; "));
}

} // namespace

QString describe(const Message &m) {
    switch (m.type) {
    case Message::Type::Greeting:
        return QStringLiteral("greeting");
    case Message::Type::GreetingReply:
        return QStringLiteral("greeting reply");
    case Message::Type::InfoRequest:
        return QStringLiteral("information request, selector 0x%1")
            .arg(QString::number(m.selector, 16).toUpper());
    case Message::Type::Gain:
        return describeGain(m);
    case Message::Type::CrosspointMap:
        return describeMap(m);
    case Message::Type::Ping:
        return QStringLiteral("ping");
    case Message::Type::PingAnswer:
        return QStringLiteral("ping answer");
    case Message::Type::OtherOneByte:
        return QStringLiteral("system byte");
    case Message::Type::Unknown:
        return QStringLiteral("unknown message %1").arg(QString::number(m.status, 16).toUpper());
    case Message::Type::Invalid:
        break;
    }
    return QStringLiteral("bad: ") + m.error;
}

QString line(int panel, const QString &direction, const QString &text, const QByteArray &bytes) {
    QString out = QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
    out += panel > 0 ? QStringLiteral(" [%1] ").arg(panel) : QStringLiteral(" [-] ");
    out += direction + QLatin1Char(' ') + text;
    if (!bytes.isEmpty())
        out += QStringLiteral(" | ") + hex(bytes);
    return out;
}

} // namespace SimTrace
