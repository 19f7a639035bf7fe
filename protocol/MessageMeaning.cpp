#include "protocol/MessageMeaning.h"

#include "protocol/ByteManipulation.h"
#include "protocol/CrosspointMapDecoder.h"
#include "protocol/GainReport.h"
#include "protocol/GainText.h"
#include "protocol/Greeting.h"
#include "protocol/WireFormat.h"

#include <QList>
#include <QLocale>
#include <QPair>
#include <QStringList>
#include <algorithm>
#include <optional>

namespace MessageMeaning {

namespace {

using namespace WireFormat;
using ByteManipulation::Read14;

constexpr qsizetype kInfoRequestLength = 13;

quint8 ByteAt(const QByteArray &m, qsizetype index) {
    return static_cast<quint8>(m.at(index));
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendHex(QString &text, quint8 b) {
    text += QLatin1Char(kHexDigits[b >> 4]);
    text += QLatin1Char(kHexDigits[b & 0xF]);
}

QString ByteHex(quint8 b) {
    QString text;
    AppendHex(text, b);
    return text;
}

// "1 byte", "3 bytes".
QString Amount(qint64 n, const char *one, const char *many) {
    return Count(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

QString WrongLength(qsizetype length, const QString &expected = {}) {
    QString text = QStringLiteral("wrong length: ") + Amount(length, "byte", "bytes");
    if (!expected.isEmpty())
        text += QStringLiteral(", expected ") + expected;
    return text;
}

QString WrongLength(qsizetype length, qint64 expected) {
    return WrongLength(length, QString::number(expected));
}

// A gain value as the faders show it: "1054 (+3db)".
QString GainValue(qint16 value) {
    return QStringLiteral("%1 (%2)").arg(value).arg(GainText::DbText(value));
}

// The decoders' reason for refusing a message, in words.
QString RefusalText(const Decoded::Refusal &r) {
    using Decoded::Rule;
    switch (r.rule) {
    case Rule::NoEom:
        return QStringLiteral("no EOM");
    case Rule::BadChecksum:
        return QStringLiteral("bad checksum %1, expected %2")
            .arg(ByteHex(r.found), ByteHex(r.wanted));
    case Rule::UnreadableHeader:
        return QStringLiteral("unreadable header");
    case Rule::NoEntries:
        return QStringLiteral("no entries");
    case Rule::ChannelsPastRange:
        return QStringLiteral("channels past 32767");
    case Rule::TooManySources:
        return QStringLiteral("output %1 lists %2 sources, at most %3")
            .arg(r.at + 1)
            .arg(r.count)
            .arg(kMapMaxEntries);
    case Rule::UnreadableEntry:
        return QStringLiteral("unreadable entry");
    case Rule::SlotsFull:
        return QStringLiteral("output %1 lists a source past its %2 slots")
            .arg(r.at + 1)
            .arg(kMapSlots);
    case Rule::WrongLength:
        return r.expected < 0 ? WrongLength(r.length) : WrongLength(r.length, r.expected);
    case Rule::BeyondTables:
        return QStringLiteral("channel %1 is beyond the tables").arg(r.at + 1);
    case Rule::GreetingLength:
        return WrongLength(
            r.length,
            QStringLiteral("%1 or %2").arg(kGreetingShortLength).arg(kGreetingLongLength));
    case Rule::GreetingMagic:
        return QStringLiteral("second byte %1, expected %2")
            .arg(ByteHex(r.found), ByteHex(r.wanted));
    }
    return QStringLiteral("refused");
}

// "input 5", "inputs 5-6" (first is 0-based).
QString Channels(const QString &one, const QString &many, int first, int count) {
    if (count == 1)
        return one + QLatin1Char(' ') + QString::number(first + 1);
    return QStringLiteral("%1 %2-%3").arg(many).arg(first + 1).arg(first + count);
}

// The channel words of a kind: "input"/"inputs", "output"/"outputs", "kind 5 channel"/...
QPair<QString, QString> ChannelWords(quint8 kind) {
    if (kind == kKindInputSecond || kind == kKindInput)
        return {QStringLiteral("input"), QStringLiteral("inputs")};
    if (kind == kKindOutputSecond || kind == kKindOutput || kind == kKindCrosspoint)
        return {QStringLiteral("output"), QStringLiteral("outputs")};
    return {QStringLiteral("kind %1 channel").arg(kind),
            QStringLiteral("kind %1 channels").arg(kind)};
}

// Gain report or set-gain command of kinds other than 10: values of channels first, first + 1..
QString ChannelGains(quint8 kind, int first, const QList<qint16> &values) {
    QString noun, nouns;
    const bool gain = kind <= kKindOutput;
    const auto [one, many] = ChannelWords(kind);
    if (kind == kKindInputSecond || kind == kKindOutputSecond) {
        noun = QStringLiteral("second gain");
        nouns = QStringLiteral("second gains");
    } else if (gain) {
        noun = QStringLiteral("gain");
        nouns = QStringLiteral("gains");
    } else {
        noun = QStringLiteral("value");
        nouns = QStringLiteral("values");
    }
    const auto text = [gain](qint16 v) { return gain ? GainValue(v) : QString::number(v); };

    const QString channels = Channels(one, many, first, static_cast<int>(values.size()));
    if (std::all_of(values.begin(), values.end(), [&](qint16 v) { return v == values.front(); }))
        return channels + QLatin1Char(' ') + noun + QLatin1Char(' ') + text(values.front());
    if (values.size() > kValuesListed)
        return channels;
    QStringList listed;
    for (const qint16 v : values)
        listed << text(v);
    return channels + QLatin1Char(' ') + nouns + QLatin1Char(' ') +
           listed.join(QStringLiteral(", "));
}

struct Crosspoint {
    qint16 gain = 0;
    qint16 source = 0; // 0-based
};

QString CrosspointText(const Crosspoint &c) {
    return QStringLiteral("input %1 %2").arg(c.source + 1).arg(GainValue(c.gain));
}

// Kind 10: (gain, source) pairs on one output.
QString CrosspointGains(int output, const QList<Crosspoint> &entries) {
    if (entries.size() == 1)
        return QStringLiteral("input %1 on output %2 gain %3")
            .arg(entries.front().source + 1)
            .arg(output + 1)
            .arg(GainValue(entries.front().gain));
    QString text = QStringLiteral("output %1 crosspoint gains").arg(output + 1);
    if (entries.size() > kValuesListed)
        return text + QStringLiteral(", ") + Amount(entries.size(), "entry", "entries");
    QStringList listed;
    for (const Crosspoint &c : entries)
        listed << CrosspointText(c);
    return text + QStringLiteral(": ") + listed.join(QStringLiteral(", "));
}

// What a decoded report (or command) sets, from its entries.
QString GainBody(const Decoded::GainReport &report) {
    if (report.kind == kKindCrosspoint) {
        QList<Crosspoint> entries;
        for (const GainEntry &e : report.entries)
            entries.append({e.iValue, e.iSource});
        return CrosspointGains(report.first, entries);
    }
    QList<qint16> values;
    for (const GainEntry &e : report.entries)
        values.append(e.iValue);
    return ChannelGains(report.kind, report.first, values);
}

// E3: the switcher's gain report, or the panel's set-gain command (the same layout), as the
// gain report decoder reads it. The tables' bounds concern only what the panel stores: a
// command to a channel beyond them is described like any other.
QString DescribeGain(const QByteArray &m, Direction direction) {
    const bool command = direction == Direction::ToSwitcher;
    const Decoded::GainReport report = TCPComm::DecodeGainReport(m);
    const auto &refusal = report.refusal;
    const bool beyond = refusal && refusal->rule == Decoded::Rule::BeyondTables;
    if (command && (!refusal || beyond))
        return QStringLiteral("set ") + GainBody(report);
    const QString name =
        command ? QStringLiteral("set-gain command") : QStringLiteral("gain report");
    if (!refusal)
        return name + QStringLiteral(": ") + GainBody(report);
    if (!beyond)
        return name + QStringLiteral(", ") + RefusalText(*refusal);
    // Stored up to the first channel the tables do not hold.
    const auto [one, many] = ChannelWords(report.kind);
    QString text =
        name + QStringLiteral(", %1 %2 is beyond the tables; ").arg(one).arg(refusal->at + 1);
    if (report.storable == 0 || report.kind == kKindCrosspoint)
        return text + QStringLiteral("nothing stored");
    return text + QStringLiteral("stored ") +
           Channels(one, many, report.first, static_cast<int>(report.storable));
}

// F6: the crosspoint map, as its decoder reads it.
QString DescribeMap(const QByteArray &m) {
    const QString name = QStringLiteral("crosspoint map");
    const Decoded::CrosspointMapReport map = TCPComm::DecodeCrosspointMap(m);
    if (map.refusal && map.refusal->rule == Decoded::Rule::BeyondTables) {
        QString text =
            name + QStringLiteral(", output %1 is beyond the tables; ").arg(map.refusal->at + 1);
        if (map.storable == 0)
            return text + QStringLiteral("nothing stored");
        return text + QStringLiteral("stored ") +
               Channels(QStringLiteral("output"), QStringLiteral("outputs"), map.first,
                        static_cast<int>(map.storable));
    }
    if (map.refusal) {
        if (map.refusal->rule == Decoded::Rule::NoEntries)
            return name + QStringLiteral(", no outputs");
        return name + QStringLiteral(", ") + RefusalText(*map.refusal);
    }
    if (map.outputs > 1)
        return name + QStringLiteral(": ") +
               Channels(QStringLiteral("output"), QStringLiteral("outputs"), map.first,
                        map.outputs);
    const QString output = name + QStringLiteral(": output ") + QString::number(map.first + 1);
    const Decoded::MapBlock &block = map.blocks.front();
    if (block.count == 0)
        return output + QStringLiteral(", no sources");
    if (block.count > kValuesListed)
        return output + QStringLiteral(", ") + Amount(block.count, "source", "sources");
    QStringList listed;
    for (const Decoded::MapSource &s : block.sources)
        listed << CrosspointText({s.gain, s.source});
    return output + QStringLiteral(": ") + listed.join(QStringLiteral(", "));
}

// 81: the switcher's greeting, or the panel's fixed reply.
QString DescribeGreeting(const QByteArray &m, Direction direction) {
    if (direction == Direction::ToSwitcher &&
        m == QByteArray(kGreetingReply, sizeof kGreetingReply))
        return QStringLiteral("greeting reply");
    const QString name = direction == Direction::ToSwitcher ? QStringLiteral("greeting reply")
                                                            : QStringLiteral("greeting");
    const Decoded::Greeting greeting = TCPComm::DecodeGreeting(m);
    if (greeting.refusal)
        return name + QStringLiteral(", ") + RefusalText(*greeting.refusal);
    return name;
}

// F2: the panel's information request; one from the switcher is consumed and ignored.
QString DescribeInfoRequest(const QByteArray &m, Direction direction) {
    const QString name = QStringLiteral("information request");
    const QString ignored =
        direction == Direction::FromSwitcher ? QStringLiteral(", ignored") : QString();
    if (const auto fault = Decoded::CheckFraming(m))
        return name + QStringLiteral(", ") + RefusalText(*fault) + ignored;
    if (m.size() != kInfoRequestLength)
        return name + QStringLiteral(", ") + WrongLength(m.size(), kInfoRequestLength) + ignored;
    qint64 selector = 0;
    for (int g = 0; g < kInfoSelectorGroups; ++g)
        selector |= qint64{ByteAt(m, 1 + g)} << (g * kBitsPerGroup);
    return name + QStringLiteral(", selector 0x") + QString::number(selector, 16).toUpper() +
           ignored;
}

QString DescribeOneByte(const QByteArray &m, const QString &name) {
    if (m.size() == 1)
        return name;
    return name + QStringLiteral(", ") + WrongLength(m.size(), 1);
}

} // namespace

QString Describe(const QByteArray &message, Direction direction) {
    if (message.isEmpty())
        return QStringLiteral("empty message");
    const quint8 status = ByteAt(message, 0);
    if (!ByteManipulation::IsStatusByte(status))
        return DescribeJunk(message.size());
    switch (status) {
    case kGreeting:
        return DescribeGreeting(message, direction);
    case kGainReport:
        return DescribeGain(message, direction);
    case kInfoRequest:
        return DescribeInfoRequest(message, direction);
    case kCrosspointMap:
        return DescribeMap(message);
    case kPing:
        return DescribeOneByte(message, QStringLiteral("ping"));
    case kPong:
        return DescribeOneByte(message, QStringLiteral("pong"));
    case kSystemF1:
    case kSystemF3:
        return DescribeOneByte(message, QStringLiteral("system byte ") + ByteHex(status));
    case kEom:
        if (message.size() == 1)
            return QStringLiteral("lone EOM");
        break;
    default:
        break;
    }
    return QStringLiteral("unknown message %1, %2")
        .arg(ByteHex(status), Amount(message.size(), "byte", "bytes"));
}

QString DescribeJunk(qint64 count) {
    return QStringLiteral("junk, ") + Amount(count, "byte", "bytes");
}

QString Hex(const QByteArray &bytes, qint64 total) {
    const qsizetype shown = std::min(bytes.size(), kHexBytesShown);
    QString text;
    text.reserve(shown * 3);
    for (qsizetype i = 0; i < shown; ++i) {
        if (i > 0)
            text += QLatin1Char(' ');
        AppendHex(text, ByteAt(bytes, i));
    }
    const qint64 all = std::max<qint64>(total, bytes.size());
    if (all > shown)
        text += QStringLiteral(" ... (") + Amount(all, "byte", "bytes") + QLatin1Char(')');
    return text;
}

QString Count(qint64 n) {
    static const QLocale english(QLocale::English);
    return english.toString(n);
}

} // namespace MessageMeaning
