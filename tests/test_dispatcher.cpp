// The dispatcher's one-step rules and the tmrDecode tick.

#include "protocol/Dispatcher.h"
#include "protocol/Failure.h"
#include "protocol/WireFormat.h"
#include "support/ProtocolFakes.h"

#include <QtTest>

using ProtocolFakes::Hex;
using ProtocolFakes::kReport5;

const QByteArray kReport6 = Hex("E3 00 01 01 00 06 00 68 07 77 FF"); // input 6 := 1000

// Input, dispatcher steps taken, what they leave in sBuffer, and all sends joined.
static void row(const char *name, const QByteArray &input, int steps, const QByteArray &left,
                const QByteArray &sent = {}) {
    QTest::newRow(name) << input << steps << left << sent;
}

class TestDispatcher : public QObject {
    Q_OBJECT
    ProtocolFakes::Recorder rec;

    QByteArray buffer() const { return rec.sBuffer.bytes(); }

  private slots:
    void init() { rec.reset(); }

    void step_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("steps");
        QTest::addColumn<QByteArray>("left");
        QTest::addColumn<QByteArray>("sent"); // all sends joined
        row("junk, one byte a step", Hex("7F 10 E3 01"), 1, Hex("10 E3 01"));
        row("incomplete waits", Hex("7F 10 E3 01"), 5, Hex("E3 01"));
        row("report then partial", kReport5 + Hex("E3 00"), 1, Hex("E3 00"));
        row("lone EOM", Hex("FF 12"), 1, Hex("12"));
        row("unknown status cut whole", Hex("A0 05 FF 81"), 1, Hex("81"));
        row("greeting start waits", Hex("A0 05 FF 81"), 3, Hex("81"));
        row("F2 consumed", Hex("F2 01 02 03 FF"), 1, {});
        row("F4 F1 F3 one each", Hex("F4 F1 F3"), 1, Hex("F1 F3"));
        row("F4 F1 F3 all", Hex("F4 F1 F3"), 3, {});
        row("F5 inside a wait is not a message", Hex("E3 01 F5"), 2, Hex("E3 01 F5"));
        row("F5 F5", Hex("F5 F5 01"), 2, Hex("01"), Hex("F4 F4"));
    }
    void step() {
        QFETCH(QByteArray, input);
        QFETCH(int, steps);
        QFETCH(QByteArray, left);
        QFETCH(QByteArray, sent);
        rec.sBuffer.append(input);
        for (int i = 0; i < steps; ++i)
            rec.step();
        QCOMPARE(buffer().toHex(' '), left.toHex(' '));
        QCOMPARE(rec.sent.join().toHex(' '), sent.toHex(' '));
        QCOMPARE(rec.failure, QString());
        // What went is what was cut, in order.
        QCOMPARE(rec.cut + left, input);
    }

    // A report that lost its EOM runs into the next one; the joined bytes fail the
    // checksum and both reports are lost, but nothing else is.
    void lostEomJoinsTwoMessages() {
        rec.sBuffer.append(kReport5.chopped(1) + kReport6 + Hex("F5"));
        rec.step();
        QCOMPARE(buffer().toHex(' '), Hex("F5").toHex(' '));
        QCOMPARE(rec.tables.udtInGain[5].iSource, 0);
        QCOMPARE(rec.tables.udtInGain[6].iSource, 0);
        rec.expectFailedWithoutRefresh(kErrReceiveGain);
    }

    // A tick with nothing to do, or an incomplete message at the front, stops the timer.
    void tickWithNothingToDoStopsTimer() {
        QVERIFY(!rec.tick());
        rec.sBuffer.append(Hex("7F E3 01"));
        QVERIFY(!rec.tick());
        QCOMPARE(buffer().toHex(' '), Hex("E3 01").toHex(' '));
        QCOMPARE(rec.reports, 0);
    }

    // A backlog of several messages and junk drains in one tick, in order.
    void tickDrainsBacklog() {
        rec.sBuffer.append(Hex("01 02") + kReport5 + Hex("F5") + kReport6 + Hex("03"));
        rec.step(); // the data handler's own step
        QCOMPARE(rec.sBuffer.size(), 25);
        QVERIFY(!rec.tick());
        QVERIFY(rec.sBuffer.isEmpty());
        QCOMPARE(rec.tables.udtInGain[5].iSource, 1000);
        QCOMPARE(rec.tables.udtInGain[6].iSource, 1000);
        QCOMPARE(rec.sent, QList<QByteArray>{Hex("F4")});
        QCOMPARE(rec.reports, 2);
    }

    // A huge backlog is not drained in one go: the tick returns within its budget, leaving
    // the timer running for the rest (how long a tick takes is measured in bench/).
    void tickKeepsToItsBudget() {
        const qsizetype junk = 8 * 1024 * 1024;
        rec.sBuffer.append(QByteArray(junk, '\x01'));
        QVERIFY(rec.tick());
        QVERIFY(rec.sBuffer.size() < junk);
        QVERIFY(!rec.sBuffer.isEmpty());
    }

    // A status byte that never sees its EOM is dropped once the buffer outgrows the bound;
    // the bytes behind it then drain as junk, and the next message is decoded.
    void neverEndingMessageIsDropped() {
        const qsizetype bound = WireFormat::kMaxPendingBytes;
        rec.sBuffer.append(Hex("E3") + QByteArray(bound - 1, '\x01'));
        QVERIFY(!rec.step());
        QCOMPARE(rec.sBuffer.size(), bound); // at the bound it still waits
        QCOMPARE(rec.failure, QString());

        rec.sBuffer.append(Hex("01"));
        QVERIFY(rec.step());
        QCOMPARE(rec.sBuffer.size(), bound);
        QCOMPARE(rec.sBuffer.front(), 0x01);
        QCOMPARE(rec.failure, QString(kErrProcessCommand));

        rec.sBuffer.append(kReport5);
        for (int tick = 0; tick < 10000 && !rec.sBuffer.isEmpty(); ++tick)
            rec.tick();
        QVERIFY(rec.sBuffer.isEmpty());
        QCOMPARE(rec.tables.udtInGain[5].iSource, 1000);
    }
};

QTEST_MAIN(TestDispatcher)
#include "test_dispatcher.moc"
