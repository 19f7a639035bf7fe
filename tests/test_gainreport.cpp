// Gain reports: tables, crosspoint gains, history, counters, refresh and failures.

#include "app/Variables.h"
#include "protocol/ByteManipulation.h"
#include "protocol/Failure.h"
#include "protocol/GainReport.h"
#include "support/ProtocolFakes.h"

#include <QtTest>

using namespace ProtocolFakes;
using namespace Variables;

namespace {

// A correctly framed report: kind, count, first channel (or output), then 14-bit fields.
QByteArray Report(int kind, int count, int first, const QList<int> &fields,
                  const QByteArray &extra = {}) {
    QByteArray d(1, '\0');
    d.append(static_cast<char>(kind));
    ByteManipulation::Append14(d, count);
    ByteManipulation::Append14(d, first);
    for (int f : fields)
        ByteManipulation::Append14(d, f);
    return ByteManipulation::BuildMessage(0xE3, d + extra);
}

// Output 64 (0-based) lists sources 64 and 65 (held 1-based).
void ListSources64And65() {
    udtXpt[64].bCount = 2;
    udtXpt[64].iSources[0] = 65;
    udtXpt[64].iSources[1] = 66;
}

// "kind value channel source", so a mismatch shows the whole entry.
QString Text(const GainEntry &e) {
    return QStringLiteral("%1 %2 %3 %4").arg(e.bKind).arg(e.iValue).arg(e.iChannel).arg(e.iSource);
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
        TCPComm::ReceiveGain(kReport5);
        QCOMPARE(udtInGain[5].iSource, 1000);
        QCOMPARE(udtInGain[5].iChannel, 0);
        QCOMPARE(rec.updates, 1);
        QCOMPARE(TCPComm::LastFailure(), QString());
        // While tmrGain runs (a fader is moving) it is restarted instead of refreshing now.
        rec.gainTimerRunning = true;
        TCPComm::ReceiveGain(kReport5);
        QCOMPARE(rec.updates, 1);
        QCOMPARE(rec.restarts, 1);
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

    void channelsPastTheTableStopTheDecode() {
        TCPComm::ReceiveGain(
            Report(1, 10, 1020, {100, 101, 102, 103, 104, 105, 106, 107, 108, 109}));
        for (int c = 1020; c <= 1024; ++c)
            QCOMPARE(udtInGain[c].iSource, 100 + c - 1020);
        expectFailedWithoutRefresh();
    }

    void badFramesFail_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("wrong checksum") << Hex("E3 00 01 01 00 05 00 68 07 75 FF");
        QTest::newRow("count 0") << Report(1, 0, 5, {});
        QTest::newRow("one byte short") << Report(1, 2, 5, {700}, Hex("07"));
        QTest::newRow("one byte too many") << Report(1, 1, 5, {700}, Hex("07"));
        QTest::newRow("status and EOM only") << Hex("E3 FF");
        // The last channel would pass 32767: 32639 + 200 - 1.
        QTest::newRow("channel arithmetic") << Frame("E3", Hex("00 01 48 01 7F FE 00 08"));
        QTest::newRow("value beyond 16 bits") << Frame("E3", Hex("00 01 01 00 05 00 80 FF"));
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
        QCOMPARE(Text(udtHistory[0]), QStringLiteral("10 1000 64 65"));
        QCOMPARE(rec.updates, 1);
    }

    // Which counter an applied crosspoint counts in (rows named by 1-based output->source).
    // -1: the output lists another source, so nothing is applied or counted. recorded: the
    // source the history keeps.
    void counters_data() {
        QTest::addColumn<int>("output");
        QTest::addColumn<int>("source");
        QTest::addColumn<int>("counter");
        QTest::addColumn<int>("recorded");
        QTest::newRow("65->65") << 64 << 64 << 0 << 64;
        QTest::newRow("65->66") << 65 << 64 << 4 << 64;
        QTest::newRow("68->66") << 65 << 67 << 7 << 67;
        QTest::newRow("in, other source") << 65 << 68 << 8 << 68;
        QTest::newRow("in, source 63") << 64 << 63 << 8 << 63;
        QTest::newRow("out") << 66 << 64 << 9 << 64;
        QTest::newRow("out 63") << 63 << 1 << 9 << 1;
        QTest::newRow("unlisted") << 64 << 66 << -1 << 66;
        QTest::newRow("unlisted, 3000 clamped") << 64 << 3000 << -1 << 2024;
    }
    void counters() {
        QFETCH(int, output);
        QFETCH(int, source);
        QFETCH(int, counter);
        QFETCH(int, recorded);
        udtXpt[output].bCount = 1;
        udtXpt[output].iSources[0] = static_cast<qint16>(counter < 0 ? 65 : source + 1);
        TCPComm::ReceiveGain(Report(10, 1, output, {900, source}));
        QCOMPARE(udtXpt[output].iGains[0], counter < 0 ? 0 : 900);
        QCOMPARE(rec.shown, counter < 0 ? QList<int>{} : QList<int>{counter});
        for (int k = 0; k < kCounterCount; ++k)
            QCOMPARE(iMsgCount[k], k == counter ? 1 : 0);
        QCOMPARE(udtHistory[0].iSource, recorded);
        QCOMPARE(rec.updates, 1);
    }

    // Entries go to the history as they are read: a fault further on leaves those before it
    // recorded, and nothing applied.
    void crosspointFailuresKeepHistory_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("lastRecorded");
        QTest::addColumn<int>("recorded");
        QTest::newRow("length error")
            << Report(10, 2, 64, {1000, 64, 500, 65}, Hex("05")) << "10 500 64 65" << 2;
        QTest::newRow("entry 2 beyond 16 bits")
            << Frame("E3", Hex("00 0A 03 00 40 00 68 07 40 00 68 07 41 00 80 FF 41 00"))
            << "10 1000 64 65" << 2;
        QTest::newRow("output past the table")
            << Report(10, 1, 1025, {700, 64}) << "10 700 1025 64" << 1;
    }
    void crosspointFailuresKeepHistory() {
        QFETCH(QByteArray, message);
        QFETCH(QString, lastRecorded);
        QFETCH(int, recorded);
        ListSources64And65();
        TCPComm::ReceiveGain(message);
        QCOMPARE(iHistoryCount, recorded);
        QCOMPARE(Text(udtHistory[recorded - 1]), lastRecorded);
        QCOMPARE(udtXpt[64].iGains[0] + udtXpt[64].iGains[1], 0);
        QVERIFY(rec.shown.isEmpty());
        expectFailedWithoutRefresh();
    }

    // A full history and a counter at its top stop neither the decode nor the apply.
    void limitsStillApply() {
        ListSources64And65();
        iHistoryCount = kHistorySize;
        iMsgCount[0] = 32767;
        TCPComm::ReceiveGain(Report(10, 2, 64, {700, 64, 800, 65}));
        QCOMPARE(iHistoryCount, kHistorySize);
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
