#include "protocol/MessageMeaning.h"

#include "protocol/ByteManipulation.h"
#include "protocol/GainText.h"
#include "protocol/WireFormat.h"

#include <QList>
#include <QLocale>
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

// Why the decoders would reject a framed message before looking at its layout: no EOM, too
// short to hold a checksum, or a checksum that does not match. Empty when it passes.
std::optional<QString> FramingFault(const QByteArray &m) {
    if (ByteAt(m, m.size() - 1) != kEom)
        return QStringLiteral("no EOM");
    if (m.size() < 1 + kTrailerBytes)
        return WrongLength(m.size());
    if (!ByteManipulation::ChecksumMatches(m)) {
        const auto expected = ByteManipulation::CalcChecksum(m.left(m.size() - kTrailerBytes));
        return QStringLiteral("bad checksum %1, expected %2")
            .arg(ByteHex(ByteAt(m, m.size() - kTrailerBytes)),
                 ByteHex(static_cast<quint8>(expected)));
    }
    return std::nullopt;
}

// "input 5", "inputs 5-6" (first is 0-based).
QString Channels(const QString &one, const QString &many, int first, int count) {
    if (count == 1)
        return one + QLatin1Char(' ') + QString::number(first + 1);
    return QStringLiteral("%1 %2-%3").arg(many).arg(first + 1).arg(first + count);
}

// Gain report or set-gain command of kinds other than 10: values of channels first, first + 1..
QString ChannelGains(quint8 kind, int first, const QList<qint16> &values) {
    QString one, many, noun, nouns;
    const bool gain = kind <= kKindOutput;
    if (kind == kKindInputSecond || kind == kKindInput) {
        one = QStringLiteral("input");
        many = QStringLiteral("inputs");
    } else if (kind == kKindOutputSecond || kind == kKindOutput) {
        one = QStringLiteral("output");
        many = QStringLiteral("outputs");
    } else {
        one = QStringLiteral("kind %1 channel").arg(kind);
        many = QStringLiteral("kind %1 channels").arg(kind);
    }
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

// E3: the switcher's gain report, or the panel's set-gain command (the same layout).
QString DescribeGain(const QByteArray &m, Direction direction) {
    const bool command = direction == Direction::ToSwitcher;
    const QString name =
        command ? QStringLiteral("set-gain command") : QStringLiteral("gain report");
    if (const auto fault = FramingFault(m))
        return name + QStringLiteral(", ") + *fault;
    if (m.size() < kGainFixedLength)
        return name + QStringLiteral(", ") + WrongLength(m.size());
    const quint8 kind = ByteAt(m, kGainKindPos - 1);
    const auto n = Read14(m, kGainCountPos);
    const auto first = Read14(m, kGainFirstPos);
    if (!n || !first)
        return name + QStringLiteral(", unreadable header");
    if (*n == 0)
        return name + QStringLiteral(", no entries");
    const bool crosspoint = kind == kKindCrosspoint;
    const qint64 expected =
        kGainFixedLength + qint64{crosspoint ? kCrosspointEntryBytes : kChannelEntryBytes} * *n;
    if (m.size() != expected)
        return name + QStringLiteral(", ") + WrongLength(m.size(), expected);

    QString body;
    if (crosspoint) {
        QList<Crosspoint> entries;
        for (qsizetype pos = kGainEntriesPos; entries.size() < *n; pos += kCrosspointEntryBytes) {
            const auto gain = Read14(m, pos);
            const auto source = Read14(m, pos + kChannelEntryBytes);
            if (!gain || !source)
                return name + QStringLiteral(", unreadable entry");
            entries.append({*gain, *source});
        }
        body = CrosspointGains(*first, entries);
    } else {
        QList<qint16> values;
        for (qsizetype pos = kGainEntriesPos; values.size() < *n; pos += kChannelEntryBytes) {
            const auto value = Read14(m, pos);
            if (!value)
                return name + QStringLiteral(", unreadable entry");
            values.append(*value);
        }
        body = ChannelGains(kind, *first, values);
    }
    return (command ? QStringLiteral("set ") : QStringLiteral("gain report: ")) + body;
}

// F6: the crosspoint map, walked block by block as its decoder walks it.
QString DescribeMap(const QByteArray &m) {
    const QString name = QStringLiteral("crosspoint map");
    if (const auto fault = FramingFault(m))
        return name + QStringLiteral(", ") + *fault;
    if (m.size() < kMapFixedLength)
        return name + QStringLiteral(", ") + WrongLength(m.size());
    const auto n = Read14(m, kMapCountPos);
    const auto first = Read14(m, kMapFirstPos);
    if (!n || !first)
        return name + QStringLiteral(", unreadable header");
    if (*n == 0)
        return name + QStringLiteral(", no outputs");

    qint64 expected = kMapFixedLength;
    qsizetype pos = kMapBlocksPos;
    int firstBlockSources = 0;
    QList<Crosspoint> firstBlock; // listed when the map names one output with few sources
    for (int block = 0; block < *n; ++block) {
        // Each block adds at least its header to the length: a count of blocks that the
        // message cannot hold ends the walk early.
        const auto sources = expected <= m.size() ? Read14(m, pos) : std::nullopt;
        if (!sources)
            return name + QStringLiteral(", ") + WrongLength(m.size());
        if (*sources > kMapMaxEntries)
            return name + QStringLiteral(", output %1 lists %2 sources, at most %3")
                              .arg(*first + block + 1)
                              .arg(*sources)
                              .arg(kMapMaxEntries);
        expected += kMapBlockHeaderBytes + qint64{kMapEntryBytes} * *sources;
        if (block == 0) {
            firstBlockSources = *sources;
            for (int e = 0; e < std::min<int>(*sources, kValuesListed); ++e) {
                const qsizetype at = pos + kMapBlockHeaderBytes + qsizetype{kMapEntryBytes} * e;
                const auto source = Read14(m, at);
                const auto gain = Read14(m, at + 2);
                if (source && gain)
                    firstBlock.append({*gain, *source});
            }
        }
        pos += kMapBlockHeaderBytes + qsizetype{kMapEntryBytes} * *sources;
    }
    if (m.size() != expected)
        return name + QStringLiteral(", ") + WrongLength(m.size(), expected);

    if (*n > 1)
        return name + QStringLiteral(": ") +
               Channels(QStringLiteral("output"), QStringLiteral("outputs"), *first, *n);
    const QString output = name + QStringLiteral(": output ") + QString::number(*first + 1);
    if (firstBlockSources == 0)
        return output + QStringLiteral(", no sources");
    if (firstBlockSources > kValuesListed)
        return output + QStringLiteral(", ") + Amount(firstBlockSources, "source", "sources");
    QStringList listed;
    for (const Crosspoint &c : firstBlock)
        listed << CrosspointText(c);
    return output + QStringLiteral(": ") + listed.join(QStringLiteral(", "));
}

// 81: the switcher's greeting, or the panel's fixed reply.
QString DescribeGreeting(const QByteArray &m, Direction direction) {
    if (direction == Direction::ToSwitcher &&
        m == QByteArray(kGreetingReply, sizeof kGreetingReply))
        return QStringLiteral("greeting reply");
    const QString name = direction == Direction::ToSwitcher ? QStringLiteral("greeting reply")
                                                            : QStringLiteral("greeting");
    if (const auto fault = FramingFault(m))
        return name + QStringLiteral(", ") + *fault;
    if (m.size() != kGreetingShortLength && m.size() != kGreetingLongLength)
        return name + QStringLiteral(", ") +
               WrongLength(
                   m.size(),
                   QStringLiteral("%1 or %2").arg(kGreetingShortLength).arg(kGreetingLongLength));
    if (ByteAt(m, 1) != kGreetingMagic)
        return name + QStringLiteral(", second byte %1, expected %2")
                          .arg(ByteHex(ByteAt(m, 1)), ByteHex(kGreetingMagic));
    return name;
}

// F2: the panel's information request; one from the switcher is consumed and ignored.
QString DescribeInfoRequest(const QByteArray &m, Direction direction) {
    const QString name = QStringLiteral("information request");
    const QString ignored =
        direction == Direction::FromSwitcher ? QStringLiteral(", ignored") : QString();
    if (const auto fault = FramingFault(m))
        return name + QStringLiteral(", ") + *fault + ignored;
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
