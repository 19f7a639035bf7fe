// Gain reports: tables, crosspoint gains, history, counters, refresh and failures.

#include "protocol/Failure.h"
#include "protocol/GainReport.h"
#include "support/ProtocolFakes.h"

#include <QtTest>

using namespace ProtocolFakes;

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

} // namespace

Q_DECLARE_METATYPE(Counted)

class TestGainReport : public QObject {
    Q_OBJECT
    ProtocolFakes::Recorder rec;
    SwitcherTables &tables = rec.tables;

    void receive(const QByteArray &message) { TCPComm::ReceiveGain(message, tables, rec); }

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
    }

    void channelsPastTheTableStopTheDecode() {
        receive(Report(1, {10, 1020, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109}));
        for (int c = 1020; c <= 1024; ++c)
            QCOMPARE(tables.udtInGain[c].iSource, 100 + c - 1020);
        rec.expectFailedWithoutRefresh(kErrReceiveGain);
    }

    void badFramesFail_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("wrong checksum") << Hex("E3 00 01 01 00 05 00 68 07 75 FF");
        QTest::newRow("count 0") << Report(1, {0, 5});
        QTest::newRow("one byte short") << Report(1, {2, 5, 700}, Hex("07"));
        QTest::newRow("one byte too many") << Report(1, {1, 5, 700}, Hex("07"));
        QTest::newRow("status and EOM only") << Hex("E3 FF");
        // The last channel would pass 32767: 32639 + 200 - 1.
        QTest::newRow("channel arithmetic") << Frame("E3", Hex("00 01 48 01 7F FE 00 08"));
        QTest::newRow("value beyond 16 bits") << Frame("E3", Hex("00 01 01 00 05 00 80 FF"));
    }
    void badFramesFail() {
        QFETCH(QByteArray, message);
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
};

QTEST_MAIN(TestGainReport)
#include "test_gainreport.moc"
