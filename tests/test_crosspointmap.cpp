// Crosspoint maps: the records they build, the store and the DSP-only refresh.

#include "protocol/CrosspointMapDecoder.h"
#include "protocol/Failure.h"
#include "support/ProtocolFakes.h"

#include <QtTest>

using namespace ProtocolFakes;

namespace {

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

class TestCrosspointMap : public QObject {
    Q_OBJECT
    ProtocolFakes::Recorder rec;
    SwitcherTables &tables = rec.tables;

    void process(const QByteArray &message) { TCPComm::ProcessCrosspointMap(message, tables, rec); }

  private slots:
    void init() { rec.reset(); }

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
        process(Map(1020, blocks));
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

QTEST_MAIN(TestCrosspointMap)
#include "test_crosspointmap.moc"
