// Crosspoint maps: the records they build, the store and the DSP-only refresh.

#include "app/Variables.h"
#include "protocol/ByteManipulation.h"
#include "protocol/CrosspointMapDecoder.h"
#include "protocol/Dispatcher.h"
#include "protocol/Failure.h"
#include "support/ProtocolFakes.h"

#include <QtTest>

using namespace ProtocolFakes;
using namespace Variables;

namespace {

using Entries = QList<QPair<int, int>>; // (source, gain)

QByteArray Map(int first, const QList<Entries> &blocks, quint8 info = 0) {
    QByteArray d(1, '\0');
    ByteManipulation::Append14(d, static_cast<int>(blocks.size()));
    ByteManipulation::Append14(d, first);
    for (const Entries &block : blocks) {
        ByteManipulation::Append14(d, static_cast<int>(block.size()));
        d.append(static_cast<char>(info));
        for (const auto &[source, gain] : block) {
            ByteManipulation::Append14(d, source);
            ByteManipulation::Append14(d, gain);
        }
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

} // namespace

class TestCrosspointMap : public QObject {
    Q_OBJECT
    ProtocolFakes::Recorder rec;

    void expectFailedWithoutRefresh() {
        QCOMPARE(TCPComm::LastFailure(), QString(TCPComm::kErrCrosspointMap));
        QCOMPARE(rec.updates + rec.restarts, 0);
    }

  private slots:
    void init() {
        rec.install();
        FollowMapExample();
    }

    void workedExample() {
        TCPComm::ProcessCrosspointMap(kMapExample);
        QCOMPARE(Record(udtXpt[64]), kExampleRecord);
        QCOMPARE(rec.updates, 1);
        QCOMPARE(TCPComm::LastFailure(), QString());

        // A later map replaces the whole record.
        TCPComm::ProcessCrosspointMap(Map(64, {{{7, 300}}}));
        QCOMPARE(Record(udtXpt[64]), QStringLiteral("1 0 [0]8/300 map: 7"));
    }

    // Only a DSP switcher's followed output is refreshed; the map is stored all the same.
    void noRefreshForOtherOutputsOrTypes() {
        iOutChan = 65;
        TCPComm::ProcessCrosspointMap(kMapExample);
        iOutChan = 64;
        iType = kTypeInput;
        TCPComm::ProcessCrosspointMap(kMapExample);
        QCOMPARE(udtXpt[64].iGains[0], 1000);
        QCOMPARE(rec.updates, 0);
    }

    void sourceOutsideTableIsCountedNotKept() {
        TCPComm::ProcessCrosspointMap(Map(64, {{{1024, 700}, {3, 800}}}, 0x2A));
        QCOMPARE(Record(udtXpt[64]), QStringLiteral("2 42 [1]4/800 map: 3"));
    }

    void outputsPastTableStopTheStore() {
        iOutChan = 1022;
        QList<Entries> blocks;
        for (int o = 1020; o < 1030; ++o)
            blocks.append(Entries{{o - 1000, 600}});
        TCPComm::ProcessCrosspointMap(Map(1020, blocks));
        for (int o = 1020; o < 1024; ++o)
            QCOMPARE(Record(udtXpt[o]),
                     QStringLiteral("1 0 [0]%1/600 map: %2").arg(o - 999).arg(o - 1000));
        QCOMPARE(Record(udtXpt[1024]), QStringLiteral("1 0 map:"));
        expectFailedWithoutRefresh();
    }

    void badMapsChangeNothing_data() {
        QTest::addColumn<QByteArray>("message");
        Entries many;
        for (int e = 0; e < 65; ++e)
            many.append({e, 500});
        QTest::newRow("65 kept entries") << Map(64, {many});
        QTest::newRow("wrong checksum") << QByteArray(kMapExample).replace("\x2A\xFF", "\x2B\xFF");
        QTest::newRow("one byte too many")
            << Frame("F6", Hex("00 01 00 40 00 01 00 00 40 00 68 07 01"));
        QTest::newRow("one byte short") << Frame("F6", Hex("00 01 00 40 00 01 00 00 40 00 68"));
        QTest::newRow("no blocks") << Map(64, {});
        QTest::newRow("256 entries") << Frame("F6", Hex("00 01 00 40 00 00 02 00"));
        QTest::newRow("block count beyond 16 bits") << Frame("F6", Hex("00 01 00 40 00 80 FF 00"));
    }
    void badMapsChangeNothing() {
        QFETCH(QByteArray, message);
        TCPComm::ProcessCrosspointMap(kMapExample);
        rec.updates = 0;
        TCPComm::ProcessCrosspointMap(message);
        QCOMPARE(Record(udtXpt[64]), kExampleRecord);
        expectFailedWithoutRefresh();
    }

    // Entries past slot 63 are fine as long as their source is not kept.
    void unkeptEntriesPastSlot63() {
        Entries block;
        for (int e = 0; e < 64; ++e)
            block.append({e, 500});
        block.append({2000, 1});
        TCPComm::ProcessCrosspointMap(Map(64, {block}));
        QCOMPARE(udtXpt[64].bCount, 65);
        QCOMPARE(udtXpt[64].iSources[63], 64);
        QCOMPARE(TCPComm::LastFailure(), QString());
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
        Variables::sBuffer.append(message);
        TCPComm::ProcessCommand();
        QVERIFY(Variables::sBuffer.isEmpty());
        QCOMPARE(udtXpt[1024].bCount, 64);
        QCOMPARE(udtXpt[1023].iSources[63], (1023 + 63) % 1024 + 1);
        QCOMPARE(udtXpt[1023].iGains[63], 24 + 63);
        QCOMPARE(rec.updates, 1);
        QCOMPARE(TCPComm::LastFailure(), QString());
    }
};

QTEST_MAIN(TestCrosspointMap)
#include "test_crosspointmap.moc"
