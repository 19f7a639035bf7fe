// Crosspoint maps: the records they build, the store and the DSP-only refresh.

#include "app/Variables.h"
#include "protocol/ByteManipulation.h"
#include "protocol/CrosspointMapDecoder.h"
#include "protocol/Dispatcher.h"
#include "protocol/Failure.h"
#include "support/ProtocolFakes.h"

#include <QtTest>

using ProtocolFakes::Hex;
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

// Status byte, the data exactly as given, checksum and EOM.
QByteArray Frame(const QByteArray &data) {
    QByteArray m = Hex("F6") + data;
    m.append(static_cast<char>(ByteManipulation::CalcChecksum(m)));
    return m + Hex("FF");
}

const QByteArray kExample = Hex("F6 00 01 00 40 00 02 00 00 40 00 68 07 41 00 74 03 2A FF");

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
        iType = kTypeDsp;
        iOutChan = 64;
    }

    void workedExample() {
        TCPComm::ProcessCrosspointMap(kExample);
        const CrosspointMap &m = udtXpt[64];
        QCOMPARE(m.bCount, 2);
        QCOMPARE(m.bInfo, 0);
        QCOMPARE(m.iSources[0], 65);
        QCOMPARE(m.iSources[1], 66);
        QCOMPARE(m.iSources[2], 0);
        QCOMPARE(m.iGains[0], 1000);
        QCOMPARE(m.iGains[1], 500);
        QByteArray expectedMap(1024, '0');
        expectedMap[64] = '1';
        expectedMap[65] = '1';
        QCOMPARE(m.sMap, expectedMap);
        QCOMPARE(rec.updates, 1);
        QCOMPARE(TCPComm::LastFailure(), QString());
    }

    void refreshOnlyForTheFollowedOutput_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("outChan");
        QTest::addColumn<int>("updates");
        QTest::newRow("dsp, output 64") << 10 << 64 << 1;
        QTest::newRow("dsp, output 65") << 10 << 65 << 0;
        QTest::newRow("input gain") << 1 << 64 << 0;
    }
    void refreshOnlyForTheFollowedOutput() {
        QFETCH(int, type);
        QFETCH(int, outChan);
        QFETCH(int, updates);
        iType = static_cast<qint16>(type);
        iOutChan = static_cast<qint16>(outChan);
        TCPComm::ProcessCrosspointMap(kExample);
        QCOMPARE(udtXpt[64].iGains[0], 1000);
        QCOMPARE(rec.updates, updates);
    }

    void sourceOutsideTableIsCountedNotKept() {
        TCPComm::ProcessCrosspointMap(Map(64, {{{1024, 700}, {3, 800}}}, 0x2A));
        const CrosspointMap &m = udtXpt[64];
        QCOMPARE(m.bCount, 2);
        QCOMPARE(m.bInfo, 0x2A);
        QCOMPARE(m.iSources[0], 0);
        QCOMPARE(m.iGains[0], 0);
        QCOMPARE(m.iSources[1], 4);
        QCOMPARE(m.iGains[1], 800);
        QCOMPARE(m.sMap.count('1'), 1);
        QCOMPARE(m.sMap[3], '1');
    }

    void outputsPastTableStopTheStore() {
        iOutChan = 1022;
        QList<Entries> blocks;
        for (int o = 1020; o < 1030; ++o)
            blocks.append(Entries{{o - 1000, 600}});
        TCPComm::ProcessCrosspointMap(Map(1020, blocks));
        for (int o = 1020; o < 1024; ++o) {
            QCOMPARE(udtXpt[o].iSources[0], o - 999);
            QCOMPARE(udtXpt[o].iGains[0], 600);
        }
        QCOMPARE(udtXpt[1024].bCount, 1);
        QCOMPARE(udtXpt[1024].iSources[0], 0);
        QCOMPARE(udtXpt[1024].sMap, QByteArray(1024, '0'));
        expectFailedWithoutRefresh();
    }

    void badMapsChangeNothing_data() {
        QTest::addColumn<QByteArray>("message");
        Entries many;
        for (int e = 0; e < 65; ++e)
            many.append({e, 500});
        QTest::newRow("65 kept entries") << Map(64, {many});
        QTest::newRow("wrong checksum")
            << Hex("F6 00 01 00 40 00 02 00 00 40 00 68 07 41 00 74 03 2B FF");
        QTest::newRow("one byte too many") << Frame(Hex("00 01 00 40 00 01 00 00 40 00 68 07 01"));
        QTest::newRow("one byte short") << Frame(Hex("00 01 00 40 00 01 00 00 40 00 68"));
        QTest::newRow("no blocks") << Map(64, {});
        QTest::newRow("256 entries") << Frame(Hex("00 01 00 40 00 00 02 00"));
        QTest::newRow("block count beyond 16 bits") << Frame(Hex("00 01 00 40 00 80 FF 00"));
    }
    void badMapsChangeNothing() {
        QFETCH(QByteArray, message);
        TCPComm::ProcessCrosspointMap(kExample);
        rec.updates = 0;
        TCPComm::ProcessCrosspointMap(message);
        QCOMPARE(udtXpt[64].bCount, 2);
        QCOMPARE(udtXpt[64].iGains[1], 500);
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

    void laterMapReplacesRecord() {
        TCPComm::ProcessCrosspointMap(kExample);
        TCPComm::ProcessCrosspointMap(Map(64, {{{7, 300}}}));
        const CrosspointMap &m = udtXpt[64];
        QCOMPARE(m.bCount, 1);
        QCOMPARE(m.iSources[0], 8);
        QCOMPARE(m.iGains[0], 300);
        QCOMPARE(m.iSources[1], 0);
        QCOMPARE(m.sMap.count('1'), 1);
    }

    // A full map of every output is far longer than 32767 bytes and still decoded, also
    // when it arrives through the dispatcher.
    void fullSizeMap() {
        QList<Entries> blocks;
        for (int o = 0; o <= kMaxChannel; ++o) {
            Entries block;
            for (int e = 0; e < kMapSlots; ++e)
                block.append({(o + e) % 1024, 24 + e});
            blocks.append(block);
        }
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
