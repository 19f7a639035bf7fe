// Gain reports: tables, crosspoint gains, history, counters, refresh and failures.

#include "app/Variables.h"
#include "protocol/ByteManipulation.h"
#include "protocol/Failure.h"
#include "protocol/GainReport.h"
#include "support/ProtocolFakes.h"

#include <QtTest>

using ProtocolFakes::Hex;
using namespace Variables;

namespace {

// A correctly framed report: kind, count, first channel (or output), then 14-bit fields.
QByteArray Report(int kind, int count, int first, const QList<int> &fields,
                  const QByteArray &extra = {}) {
    QByteArray d;
    d.append('\0');
    d.append(static_cast<char>(kind));
    ByteManipulation::Append14(d, count);
    ByteManipulation::Append14(d, first);
    for (int f : fields)
        ByteManipulation::Append14(d, f);
    return ByteManipulation::BuildMessage(0xE3, d + extra);
}

// Status byte, the data exactly as given (bytes above 7F included), checksum and EOM.
QByteArray Frame(const QByteArray &data) {
    QByteArray m = Hex("E3") + data;
    m.append(static_cast<char>(ByteManipulation::CalcChecksum(m)));
    return m + Hex("FF");
}

// Output 64 (0-based) lists sources 64 and 65 (held 1-based).
void ListSources64And65() {
    udtXpt[64].bCount = 2;
    udtXpt[64].iSources[0] = 65;
    udtXpt[64].iSources[1] = 66;
}

} // namespace

class TestGainReport : public QObject {
    Q_OBJECT
    ProtocolFakes::Recorder rec;

    void expectFailedWithoutRefresh() {
        QCOMPARE(TCPComm::LastFailure(), QString(TCPComm::kErrReceiveGain));
        QCOMPARE(rec.updates + rec.restarts, 0);
    }

  private slots:
    void init() { rec.install(); }

    void workedExample() {
        TCPComm::ReceiveGain(Hex("E3 00 01 01 00 05 00 68 07 76 FF"));
        QCOMPARE(udtInGain[5].iSource, 1000);
        QCOMPARE(udtInGain[5].iChannel, 0);
        QCOMPARE(rec.updates, 1);
        QCOMPARE(TCPComm::LastFailure(), QString());
    }

    void wrongChecksumChangesNothing() {
        TCPComm::ReceiveGain(Hex("E3 00 01 01 00 05 00 68 07 75 FF"));
        QCOMPARE(udtInGain[5].iSource, 0);
        expectFailedWithoutRefresh();
    }

    // field: which of the four table fields the kind writes, or -1 for none.
    void kindsFillTheirFields_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("field");
        QTest::newRow("0: input second") << 0 << 0;
        QTest::newRow("1: input") << 1 << 1;
        QTest::newRow("2: output second") << 2 << 2;
        QTest::newRow("3: output") << 3 << 3;
        QTest::newRow("5: refresh only") << 5 << -1;
        QTest::newRow("255: refresh only") << 255 << -1;
    }
    void kindsFillTheirFields() {
        QFETCH(int, kind);
        QFETCH(int, field);
        TCPComm::ReceiveGain(Report(kind, 2, 7, {700, 701}));
        for (int c : {7, 8}) {
            const QList<int> fields{udtInGain[c].iChannel, udtInGain[c].iSource,
                                    udtOutGain[c].iChannel, udtOutGain[c].iSource};
            for (int f = 0; f < 4; ++f)
                QCOMPARE(fields[f], f == field ? 700 + c - 7 : 0);
        }
        QCOMPARE(rec.updates, 1);
        QCOMPARE(iHistoryCount, 0);
    }

    void runningTimerIsRestartedInstead() {
        rec.gainTimerRunning = true;
        TCPComm::ReceiveGain(Hex("E3 00 01 01 00 05 00 68 07 76 FF"));
        QCOMPARE(rec.updates, 0);
        QCOMPARE(rec.restarts, 1);
    }

    void channelsPastTheTableStopTheDecode() {
        QList<int> values;
        for (int k = 0; k < 10; ++k)
            values.append(100 + k);
        TCPComm::ReceiveGain(Report(1, 10, 1020, values));
        for (int c = 1020; c <= 1024; ++c)
            QCOMPARE(udtInGain[c].iSource, 100 + c - 1020);
        expectFailedWithoutRefresh();
    }

    void badFramesFail_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("count 0") << Report(1, 0, 5, {});
        QTest::newRow("one byte short") << Report(1, 2, 5, {700}, Hex("07"));
        QTest::newRow("one byte too many") << Report(1, 1, 5, {700}, Hex("07"));
        QTest::newRow("status and EOM only") << Hex("E3 FF");
        // The last channel would pass 32767: 32639 + 200 - 1.
        QTest::newRow("channel arithmetic") << Frame(Hex("00 01 48 01 7F FE 00 08"));
        QTest::newRow("value beyond 16 bits") << Frame(Hex("00 01 01 00 05 00 80 FF"));
    }
    void badFramesFail() {
        QFETCH(QByteArray, message);
        TCPComm::ReceiveGain(message);
        QCOMPARE(udtInGain[5].iSource, 0);
        expectFailedWithoutRefresh();
    }

    void crosspointWorkedExample() {
        ListSources64And65();
        TCPComm::ReceiveGain(Hex("E3 00 0A 01 00 40 00 68 07 41 00 7B FF"));
        QCOMPARE(udtXpt[64].iGains[1], 1000);
        QCOMPARE(udtXpt[64].iGains[0], 0);
        QCOMPARE(iMsgCount[1], 1);
        QCOMPARE(rec.shown, QList<int>{1});
        QCOMPARE(iHistoryCount, 1);
        QCOMPARE(udtHistory[0].bKind, 10);
        QCOMPARE(udtHistory[0].iValue, 1000);
        QCOMPARE(udtHistory[0].iChannel, 64);
        QCOMPARE(udtHistory[0].iSource, 65);
        QCOMPARE(rec.updates, 1);
    }

    // Which counter each applied crosspoint counts in.
    void counters_data() {
        QTest::addColumn<int>("output");
        QTest::addColumn<int>("source");
        QTest::addColumn<int>("counter");
        QTest::newRow("65->65") << 64 << 64 << 0;
        QTest::newRow("68->65") << 64 << 67 << 3;
        QTest::newRow("65->66") << 65 << 64 << 4;
        QTest::newRow("68->66") << 65 << 67 << 7;
        QTest::newRow("in, other source") << 65 << 68 << 8;
        QTest::newRow("in, source 63") << 64 << 63 << 8;
        QTest::newRow("out") << 66 << 64 << 9;
        QTest::newRow("out 63") << 63 << 1 << 9;
    }
    void counters() {
        QFETCH(int, output);
        QFETCH(int, source);
        QFETCH(int, counter);
        udtXpt[output].bCount = 1;
        udtXpt[output].iSources[0] = static_cast<qint16>(source + 1);
        TCPComm::ReceiveGain(Report(10, 1, output, {900, source}));
        QCOMPARE(udtXpt[output].iGains[0], 900);
        QCOMPARE(rec.shown, QList<int>{counter});
        for (int k = 0; k < kCounterCount; ++k)
            QCOMPARE(iMsgCount[k], k == counter ? 1 : 0);
    }

    void unlistedSourceCountsNothing_data() {
        QTest::addColumn<int>("source");
        QTest::addColumn<int>("recorded");
        QTest::newRow("66") << 66 << 66;
        QTest::newRow("3000 clamped") << 3000 << 2024;
    }
    void unlistedSourceCountsNothing() {
        QFETCH(int, source);
        QFETCH(int, recorded);
        ListSources64And65();
        TCPComm::ReceiveGain(Report(10, 1, 64, {1000, source}));
        QCOMPARE(udtXpt[64].iGains[0] + udtXpt[64].iGains[1], 0);
        QVERIFY(rec.shown.isEmpty());
        QCOMPARE(udtHistory[0].iSource, recorded);
        QCOMPARE(rec.updates, 1);
    }

    void crosspointLengthErrorKeepsHistory() {
        ListSources64And65();
        TCPComm::ReceiveGain(Report(10, 2, 64, {1000, 64, 500, 65}, Hex("05")));
        QCOMPARE(iHistoryCount, 2);
        QCOMPARE(udtHistory[1].iValue, 500);
        QCOMPARE(udtXpt[64].iGains[0], 0);
        QVERIFY(rec.shown.isEmpty());
        expectFailedWithoutRefresh();
    }

    // A value that does not fit 16 bits in entry 2 ends the decode; entries 0 and 1 are
    // already in the history.
    void crosspointOverflowMidway() {
        ListSources64And65();
        TCPComm::ReceiveGain(Frame(Hex("00 0A 03 00 40 00 68 07 40 00 68 07 41 00 80 FF 41 00")));
        QCOMPARE(iHistoryCount, 2);
        QCOMPARE(udtXpt[64].iGains[0], 0);
        expectFailedWithoutRefresh();
    }

    void fullHistoryStillApplies() {
        ListSources64And65();
        iHistoryCount = kHistorySize;
        TCPComm::ReceiveGain(Report(10, 1, 64, {1000, 64}));
        QCOMPARE(iHistoryCount, kHistorySize);
        QCOMPARE(udtXpt[64].iGains[0], 1000);
        QCOMPARE(iMsgCount[0], 1);
        QCOMPARE(rec.updates, 1);
    }

    void counterStopsAtItsTop() {
        ListSources64And65();
        iMsgCount[0] = 32767;
        TCPComm::ReceiveGain(Report(10, 2, 64, {700, 64, 800, 65}));
        QCOMPARE(iMsgCount[0], 32767);
        QCOMPARE(iMsgCount[1], 1);
        QCOMPARE(rec.shown, (QList<int>{0, 1}));
        QCOMPARE(udtXpt[64].iGains[0], 700);
        QCOMPARE(udtXpt[64].iGains[1], 800);
        QCOMPARE(rec.updates, 1);
    }

    // A list longer than its 64 slots: a search that runs past slot 63 ends the decode.
    void searchPastLastSlotStops() {
        ListSources64And65();
        udtXpt[64].bCount = 70;
        TCPComm::ReceiveGain(Report(10, 3, 64, {700, 64, 900, 66, 800, 65}));
        QCOMPARE(udtXpt[64].iGains[0], 700);
        QCOMPARE(udtXpt[64].iGains[1], 0);
        expectFailedWithoutRefresh();
    }

    void crosspointOutputPastTableFails() {
        TCPComm::ReceiveGain(Report(10, 1, 1025, {700, 64}));
        QCOMPARE(iHistoryCount, 1);
        expectFailedWithoutRefresh();
    }

    void entriesPastNumber1024AreSkipped() {
        udtXpt[3].bCount = 1;
        udtXpt[3].iSources[0] = 1;
        QList<int> fields;
        for (int k = 0; k < 1026; ++k)
            fields << (k == 1025 ? 999 : 500 + k % 3) << 0;
        TCPComm::ReceiveGain(Report(10, 1026, 3, fields));
        QCOMPARE(udtXpt[3].iGains[0], 500 + 1024 % 3);
        QCOMPARE(iMsgCount[9], 1025);
        QCOMPARE(iHistoryCount, kHistorySize);
        QCOMPARE(rec.updates, 1);
    }
};

QTEST_MAIN(TestGainReport)
#include "test_gainreport.moc"
