// The decoders of gain reports (tables, crosspoint gains, history, counters, failures) and of
// crosspoint maps (the records they build and the store), on a recording host.

#include "protocol/CrosspointMapDecoder.h"
#include "protocol/Failure.h"
#include "protocol/GainReport.h"
#include "support/ProtocolFakes.h"

#include <QtTest>

using namespace ProtocolFakes;
using Decoded::Rule;

namespace {

// A correctly framed report: kind, then the 14-bit fields (count, first channel or output,
// then the entries), then any extra data bytes.
QByteArray Report(int kind, const QList<int> &fields, const QByteArray &extra = {}) {
    return ByteManipulation::BuildMessage(0xE3, Hex("00") + char(kind) + Fields(fields) + extra);
}

// Output 64 (0-based) lists sources 64 and 65 (held 1-based).
void ListSources64And65(SwitcherTables &tables) {
    tables.udtXpt[64].bCount = 2;
    tables.udtXpt[64].iSources = {65, 66};
}

// "kind value channel source", so a mismatch shows the whole entry.
QString Text(const GainEntry &e) {
    return QStringLiteral("%1 %2 %3 %4").arg(e.bKind).arg(e.iValue).arg(e.iChannel).arg(e.iSource);
}

// One kind-10 entry for an output that lists one source (or, with counter -1, only another
// one): the counter it counts in and the source the history keeps.
struct Counted {
    int output, source, counter, recorded;
};

using Entries = QList<QPair<int, int>>; // (source, gain)

QByteArray Map(int first, const QList<Entries> &blocks, quint8 info = 0) {
    QByteArray d = Hex("00") + Fields({int(blocks.size()), first});
    for (const Entries &block : blocks) {
        d += Fields({int(block.size())}) + char(info);
        for (const auto &[source, gain] : block)
            d += Fields({source, gain});
    }
    return ByteManipulation::BuildMessage(0xF6, d);
}

// "count info [slot]source/gain... map: the channels marked in sMap" (the map's size shown
// when it is not 1024), so a mismatch shows the whole record.
QString Record(const CrosspointMap &m) {
    QString text = QStringLiteral("%1 %2").arg(m.bCount).arg(m.bInfo);
    for (std::size_t k = 0; k < m.iSources.size(); ++k)
        if (m.iSources[k] != 0 || m.iGains[k] != 0)
            text += QStringLiteral(" [%1]%2/%3").arg(k).arg(m.iSources[k]).arg(m.iGains[k]);
    text += m.sMap.size() == 1024 ? QStringLiteral(" map:")
                                  : QStringLiteral(" map(%1):").arg(m.sMap.size());
    for (qsizetype k = 0; k < m.sMap.size(); ++k)
        if (m.sMap[k] != '0')
            text += QStringLiteral(" %1%2").arg(k).arg(m.sMap[k] == '1' ? "" : "?");
    return text;
}

const QString kExampleRecord = QStringLiteral("2 0 [0]65/1000 [1]66/500 map: 64 65");

// A row with the record the map leaves; none for a map that fails.
void row(const char *name, const QByteArray &message, const QString &record = {}) {
    QTest::newRow(name) << message << record;
}

} // namespace

Q_DECLARE_METATYPE(Counted)
Q_DECLARE_METATYPE(Decoded::Rule)

class TestDecoders : public QObject {
    Q_OBJECT
    ProtocolFakes::Recorder rec;
    SwitcherTables &tables = rec.tables;

    void receive(const QByteArray &message) { TCPComm::ReceiveGain(message, tables, rec); }

    void process(const QByteArray &message) { TCPComm::ProcessCrosspointMap(message, tables, rec); }

  private slots:
    void init() { rec.reset(); }

    // field: which of the four table fields the kind writes, or -1 for none; the report is
    // told as decoded either way, so that the faders refresh.
    void kindsFillTheirFields_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("field");
        QTest::newRow("0: input second") << 0 << 0;
        QTest::newRow("1: input") << 1 << 1;
        QTest::newRow("2: output second") << 2 << 2;
        QTest::newRow("3: output") << 3 << 3;
        QTest::newRow("5: refresh only") << 5 << -1;
    }
    void kindsFillTheirFields() {
        QFETCH(int, kind);
        QFETCH(int, field);
        receive(Report(kind, {2, 7, 700, 701}));
        for (int c : {7, 8}) {
            const QList<int> fields{tables.udtInGain[c].iChannel, tables.udtInGain[c].iSource,
                                    tables.udtOutGain[c].iChannel, tables.udtOutGain[c].iSource};
            for (int f = 0; f < 4; ++f)
                QCOMPARE(fields[f], f == field ? 700 + c - 7 : 0);
        }
        QCOMPARE(rec.reports, 1);
        QCOMPARE(tables.iHistoryCount, 0);
        QCOMPARE(rec.failure, QString());
        // What the link is told the tables took: both channels, unless the kind has no table.
        const StoredGains &stored = rec.stored.front();
        QCOMPARE(stored.kind, kind);
        QCOMPARE(stored.gains.size(), field < 0 ? 0 : 2);
        if (field >= 0)
            QCOMPARE(stored.gains.back().channel * 10000 + stored.gains.back().gain, 80701);
    }

    void channelsPastTheTableStopTheDecode() {
        const QByteArray message =
            Report(1, {10, 1020, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109});
        const Decoded::GainReport report = TCPComm::DecodeGainReport(message);
        QCOMPARE(report.refusal->rule, Rule::BeyondTables);
        QCOMPARE(report.refusal->at, 1025);
        QCOMPARE(report.entries.size(), 10);
        QCOMPARE(report.storable, 5);
        receive(message);
        for (int c = 1020; c <= 1024; ++c)
            QCOMPARE(tables.udtInGain[c].iSource, 100 + c - 1020);
        rec.expectFailedWithoutRefresh(kErrReceiveGain);
    }

    // The decoder's verdict (the rule and the entries it read) and, separately, what storing
    // the refused report does: nothing, and the failure is noted.
    void badFramesFail_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<Rule>("rule");
        QTest::addColumn<int>("read");
        const auto row = [](const char *name, const QByteArray &m, Rule rule, int read = 0) {
            QTest::newRow(name) << m << rule << read;
        };
        row("wrong checksum", Hex("E3 00 01 01 00 05 00 68 07 75 FF"), Rule::BadChecksum);
        row("count 0", Report(1, {0, 5}), Rule::NoEntries);
        row("one byte short", Report(1, {2, 5, 700}, Hex("07")), Rule::WrongLength, 2);
        row("one byte too many", Report(1, {1, 5, 700}, Hex("07")), Rule::WrongLength, 1);
        row("status and EOM only", Hex("E3 FF"), Rule::BadChecksum);
        row("no EOM", Hex("E3 00 01 01 00 05 00 68 07 76"), Rule::NoEom);
        // The last channel would pass 32767: 32639 + 200 - 1.
        row("channel arithmetic", Frame("E3", Hex("00 01 48 01 7F FE 00 08")),
            Rule::ChannelsPastRange);
        row("value beyond 16 bits", Frame("E3", Hex("00 01 01 00 05 00 80 FF")),
            Rule::UnreadableEntry);
        row("first past the tables", Report(3, {1, 1025, 700}), Rule::BeyondTables, 1);
    }
    void badFramesFail() {
        QFETCH(QByteArray, message);
        QFETCH(Rule, rule);
        QFETCH(int, read);
        const Decoded::GainReport report = TCPComm::DecodeGainReport(message);
        QVERIFY(report.refusal);
        QCOMPARE(report.refusal->rule, rule);
        QCOMPARE(report.entries.size(), read);
        QCOMPARE(report.storable, 0);
        receive(message);
        QCOMPARE(tables.udtInGain[5].iSource, 0);
        rec.expectFailedWithoutRefresh(kErrReceiveGain);
    }

    // The worked example finds its source in the second slot. Then a full history and a
    // counter at its top stop neither the decode nor the apply.
    void crosspointWorkedExampleAndLimits() {
        ListSources64And65(tables);
        receive(Hex("E3 00 0A 01 00 40 00 68 07 41 00 7B FF"));
        QCOMPARE(tables.udtXpt[64].iGains[1], 1000);
        QCOMPARE(tables.udtXpt[64].iGains[0], 0);
        QCOMPARE(tables.iMsgCount[1], 1);
        QCOMPARE(rec.shown, QList<int>{1});
        QCOMPARE(tables.iHistoryCount, 1);
        QCOMPARE(Text(tables.udtHistory[0]), QStringLiteral("10 1000 64 65"));
        QCOMPARE(rec.reports, 1);

        tables.iHistoryCount = kHistorySize;
        tables.iMsgCount[0] = 32767;
        receive(Report(10, {2, 64, 700, 64, 800, 65}));
        QCOMPARE(tables.iHistoryCount, kHistorySize);
        QCOMPARE(tables.iMsgCount[0], 32767);
        QCOMPARE(tables.iMsgCount[1], 2);
        QCOMPARE(rec.shown, (QList<int>{1, 0, 1}));
        QCOMPARE(tables.udtXpt[64].iGains[0], 700);
        QCOMPARE(tables.udtXpt[64].iGains[1], 800);
        QCOMPARE(rec.reports, 2);
        QCOMPARE(rec.stored.back().output, 64);
        QCOMPARE(rec.stored.back().gains.size(), 2);
        QCOMPARE(rec.stored.back().gains.front().channel, 64);
    }

    // Rows named by 1-based output->source. Counter -1: the output lists another source, so
    // nothing is applied or counted.
    void counters_data() {
        QTest::addColumn<Counted>("entry");
        QTest::newRow("65->65") << Counted{64, 64, 0, 64};
        QTest::newRow("65->66") << Counted{65, 64, 4, 64};
        QTest::newRow("68->66") << Counted{65, 67, 7, 67};
        QTest::newRow("in, other source") << Counted{65, 68, 8, 68};
        QTest::newRow("in, source 63") << Counted{64, 63, 8, 63};
        QTest::newRow("out") << Counted{66, 64, 9, 64};
        QTest::newRow("out 63") << Counted{63, 1, 9, 1};
        QTest::newRow("unlisted") << Counted{64, 66, -1, 66};
        QTest::newRow("unlisted, 3000 clamped") << Counted{64, 3000, -1, 2024};
    }
    void counters() {
        QFETCH(Counted, entry);
        const auto [output, source, counter, recorded] = entry;
        tables.udtXpt[output].bCount = 1;
        tables.udtXpt[output].iSources[0] = static_cast<qint16>(counter < 0 ? 65 : source + 1);
        receive(Report(10, {1, output, 900, source}));
        QCOMPARE(tables.udtXpt[output].iGains[0], counter < 0 ? 0 : 900);
        QCOMPARE(rec.shown, counter < 0 ? QList<int>{} : QList<int>{counter});
        for (int k = 0; k < kCounterCount; ++k)
            QCOMPARE(tables.iMsgCount[k], k == counter ? 1 : 0);
        QCOMPARE(tables.udtHistory[0].iSource, recorded);
        QCOMPARE(rec.reports, 1);
    }

    // Entries go to the history as they are read: a fault further on leaves those before it
    // recorded, and nothing applied.
    void crosspointFailuresKeepHistory_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("lastRecorded");
        QTest::addColumn<int>("recorded");
        QTest::newRow("length error")
            << Report(10, {2, 64, 1000, 64, 500, 65}, Hex("05")) << "10 500 64 65" << 2;
        QTest::newRow("entry 2 beyond 16 bits")
            << Frame("E3", Hex("00 0A 03 00 40 00 68 07 40 00 68 07 41 00 80 FF 41 00"))
            << "10 1000 64 65" << 2;
        QTest::newRow("output past the table")
            << Report(10, {1, 1025, 700, 64}) << "10 700 1025 64" << 1;
    }
    void crosspointFailuresKeepHistory() {
        QFETCH(QByteArray, message);
        QFETCH(QString, lastRecorded);
        QFETCH(int, recorded);
        ListSources64And65(tables);
        receive(message);
        QCOMPARE(tables.iHistoryCount, recorded);
        QCOMPARE(Text(tables.udtHistory[recorded - 1]), lastRecorded);
        QCOMPARE(tables.udtXpt[64].iGains[0] + tables.udtXpt[64].iGains[1], 0);
        QVERIFY(rec.shown.isEmpty());
        rec.expectFailedWithoutRefresh(kErrReceiveGain);
    }

    // A list longer than its 64 slots: a search that runs past slot 63 ends the decode.
    void searchPastLastSlotStops() {
        ListSources64And65(tables);
        tables.udtXpt[64].bCount = 70;
        receive(Report(10, {3, 64, 700, 64, 900, 66, 800, 65}));
        QCOMPARE(tables.udtXpt[64].iGains[0], 700);
        QCOMPARE(tables.udtXpt[64].iGains[1], 0);
        rec.expectFailedWithoutRefresh(kErrReceiveGain);
    }

    void entriesPastNumber1024AreSkipped() {
        tables.udtXpt[3].bCount = 1;
        tables.udtXpt[3].iSources[0] = 1;
        QList<int> fields{1026, 3};
        for (int k = 0; k < 1026; ++k)
            fields << (k == 1025 ? 999 : 500 + k % 3) << 0;
        receive(Report(10, fields));
        QCOMPARE(tables.udtXpt[3].iGains[0], 500 + 1024 % 3);
        QCOMPARE(tables.iMsgCount[9], 1025);
        QCOMPARE(tables.iHistoryCount, kHistorySize);
        QCOMPARE(rec.reports, 1);
    }

    // Each row follows the worked example: a good map replaces the whole record and tells
    // which outputs it stored, a bad one fails and leaves the worked example's record as it
    // was.
    void records_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("record");
        row("worked example", kMapExample, kExampleRecord);
        row("replaced", Map(64, {{{7, 300}}}), "1 0 [0]8/300 map: 7");
        row("source outside the table counted, not kept", Map(64, {{{1024, 700}, {3, 800}}}, 0x2A),
            "2 42 [1]4/800 map: 3");
        // Sources 0..63, each kept. A 65th entry is fine as long as its source is not kept.
        Entries block;
        QString kept = QStringLiteral("65 0"), marked = QStringLiteral(" map:");
        for (int e = 0; e < kMapSlots; ++e) {
            block.append({e, 500});
            kept += QStringLiteral(" [%1]%2/500").arg(e).arg(e + 1);
            marked += QStringLiteral(" %1").arg(e);
        }
        row("unkept entry past slot 63", Map(64, {block + Entries{{2000, 1}}}), kept + marked);
        row("65 kept entries", Map(64, {block + Entries{{64, 500}}}));
        row("wrong checksum", QByteArray(kMapExample).replace("\x2A\xFF", "\x2B\xFF"));
        row("one byte too many", Frame("F6", Hex("00 01 00 40 00 01 00 00 40 00 68 07 01")));
        row("one byte short", Frame("F6", Hex("00 01 00 40 00 01 00 00 40 00 68")));
        row("no blocks", Map(64, {}));
        row("256 entries", Frame("F6", Hex("00 01 00 40 00 00 02 00")));
        row("block count beyond 16 bits", Frame("F6", Hex("00 01 00 40 00 80 FF 00")));
    }
    void records() {
        QFETCH(QByteArray, message);
        QFETCH(QString, record);
        const bool fails = record.isEmpty();
        QCOMPARE(TCPComm::DecodeCrosspointMap(message).accepted(), !fails);
        process(kMapExample);
        rec.mapsStored.clear();
        process(message);
        QCOMPARE(Record(tables.udtXpt[64]), fails ? kExampleRecord : record);
        QCOMPARE(rec.failure, fails ? QString(kErrCrosspointMap) : QString());
        const QList<QPair<int, int>> stored{{64, 64}};
        QCOMPARE(rec.mapsStored, fails ? decltype(stored)() : stored);
    }

    void outputsPastTableStopTheStore() {
        QList<Entries> blocks;
        for (int o = 1020; o < 1030; ++o)
            blocks.append(Entries{{o - 1000, 600}});
        const QByteArray message = Map(1020, blocks);
        const Decoded::CrosspointMapReport map = TCPComm::DecodeCrosspointMap(message);
        QCOMPARE(map.refusal->rule, Rule::BeyondTables);
        QCOMPARE(map.refusal->at, 1025);
        QCOMPARE(map.blocks.size(), 10);
        QCOMPARE(map.storable, 5);
        process(message);
        for (int o = 1020; o < 1024; ++o)
            QCOMPARE(Record(tables.udtXpt[o]),
                     QStringLiteral("1 0 [0]%1/600 map: %2").arg(o - 999).arg(o - 1000));
        QCOMPARE(Record(tables.udtXpt[1024]), QStringLiteral("1 0 map:"));
        rec.expectFailedWithoutRefresh(kErrCrosspointMap);
    }

    // A full map of every output is far longer than 32767 bytes and still decoded, also
    // when it arrives through the dispatcher.
    void fullSizeMap() {
        QList<Entries> blocks(kMaxChannel + 1);
        for (int o = 0; o <= kMaxChannel; ++o)
            for (int e = 0; e < kMapSlots; ++e)
                blocks[o].append({(o + e) % 1024, 24 + e});
        const QByteArray message = Map(0, blocks);
        QVERIFY(message.size() > 256 * 1024);
        rec.sBuffer.append(message);
        rec.step();
        QVERIFY(rec.sBuffer.isEmpty());
        QCOMPARE(tables.udtXpt[1024].bCount, 64);
        QCOMPARE(tables.udtXpt[1023].iSources[63], (1023 + 63) % 1024 + 1);
        QCOMPARE(tables.udtXpt[1023].iGains[63], 24 + 63);
        QCOMPARE(rec.mapsStored.size(), 1);
        QCOMPARE(rec.mapsStored.front(), qMakePair(0, kMaxChannel));
        QCOMPARE(rec.failure, QString());
    }
};

QTEST_MAIN(TestDecoders)
#include "test_decoders.moc"
