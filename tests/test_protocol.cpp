// The protocol below the decoders. Where a message ends and how it is built: the 7-bit
// helpers, the checksum and framing of outgoing messages, and what the frame cutter finds at
// the front of the receive buffer (every proper prefix of a message is incomplete, the whole
// message is complete with its exact length, whatever follows it). Then the receive path on a
// recording host: the dispatcher's one-step rules and the tmrDecode tick, the greeting's
// answer, and the serial port's quick pass. The buffer itself (the EOM search across appends,
// positions beyond 16 bits, compaction) is checked against a model at every step by
// fuzz_receive, whose corpus runs as fuzz_receive_regression.

#include "protocol/ByteManipulation.h"
#include "protocol/Dispatcher.h"
#include "protocol/Failure.h"
#include "protocol/FrameCutter.h"
#include "protocol/Greeting.h"
#include "protocol/SerialDecoder.h"
#include "protocol/WireFormat.h"
#include "support/ProtocolFakes.h"

#include <QtTest>

using FrameCutter::Kind;
using FrameCutter::Rules;
using ProtocolFakes::Hex;
using ProtocolFakes::kMapExample;
using ProtocolFakes::kReport5;

Q_DECLARE_METATYPE(Kind)

namespace {

// One worked example of each framing: a gain message either way, the map, the greetings
// (the reply holds a data byte above 7F) and the information request.
const char *const kMessages[] = {
    "E3 02 01 01 00 00 00 00 08 0C FF",                         // set input 1 to 0 dB
    "E3 00 01 01 00 05 00 68 07 76 FF",                         // gain report
    "F6 00 01 00 40 00 02 00 00 40 00 68 07 41 00 74 03 2A FF", // crosspoint map
    "81 64 64 FF",                                              // greeting
    "81 64 05 69 FF",                                           // long greeting
    "81 96 16 FF",                                              // greeting reply
    "F2 00 01 02 00 00 00 00 00 00 00 03 FF",                   // information request
};

ReceiveBuffer Holding(const QByteArray &bytes) {
    ReceiveBuffer buffer;
    buffer.append(bytes);
    return buffer;
}

const QByteArray kReport6 = Hex("E3 00 01 01 00 06 00 68 07 77 FF"); // input 6 := 1000
const QByteArray kReply = Hex("81 96 16 FF");
const QByteArray kRequest = Hex("F2 00 01 02 00 00 00 00 00 00 00 03 FF");

// Input, dispatcher steps taken, what they leave in sBuffer, and all sends joined.
void row(const char *name, const QByteArray &input, int steps, const QByteArray &left,
         const QByteArray &sent = {}) {
    QTest::newRow(name) << input << steps << left << sent;
}

} // namespace
using namespace ByteManipulation;

class TestProtocol : public QObject {
    Q_OBJECT
    ProtocolFakes::Recorder rec;

    QByteArray buffer() const { return rec.sBuffer.bytes(); }
    void decode() { TCPComm::DecodeMessage(rec.sBuffer, rec.tables, rec); }

  private slots:
    void prefixesAndWholes_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<int>("length");
        for (const char *text : kMessages) {
            const QByteArray message = Hex(text);
            for (qsizetype n = 1; n < message.size(); ++n)
                QTest::addRow("%s, %d bytes", text, int(n))
                    << message.left(n) << Kind::Incomplete << 0;
            QTest::addRow("%s", text) << message << Kind::Message << int(message.size());
            QTest::addRow("%s, then more", text)
                << message + message + Hex("F5") << Kind::Message << int(message.size());
        }
    }
    void prefixesAndWholes() {
        QFETCH(QByteArray, bytes);
        QFETCH(Kind, kind);
        QFETCH(int, length);
        for (const Rules rules : {Rules::Dispatcher, Rules::SerialPass}) {
            const ReceiveBuffer buffer = Holding(bytes);
            const FrameCutter::Front front = FrameCutter::LookAtFront(buffer, rules);
            QCOMPARE(front.kind, kind);
            QCOMPARE(int(front.length), length);
            QCOMPARE(int(front.status), int(quint8(bytes.front())));
            QCOMPARE(buffer.bytes(), bytes); // looking changes nothing
        }
    }

    // Under the serial pass F1 and F3 wait for an EOM like any framed message; under the
    // dispatcher's rules they stand alone (the dispatcher and serial tests cover the rest).
    void systemBytesByRules() {
        QCOMPARE(FrameCutter::LookAtFront(Holding(Hex("F1 01")), Rules::SerialPass).kind,
                 Kind::Incomplete);
        QCOMPARE(FrameCutter::LookAtFront(Holding(Hex("F3 01 FF")), Rules::SerialPass).length, 3);
        QCOMPARE(FrameCutter::LookAtFront(Holding(Hex("F1 01 FF")), Rules::Dispatcher).kind,
                 Kind::OneByte);
        // Positions are not limited to 16 bits.
        const QByteArray far = Hex("A0") + QByteArray(40000, 1) + Hex("FF");
        QCOMPARE(FrameCutter::LookAtFront(Holding(far)).length, 40002);
    }

    void takeAndDropClampToSize() {
        ReceiveBuffer b;
        b.append(Hex("01 02"));
        QCOMPARE(b.take(5).toHex(' '), Hex("01 02").toHex(' '));
        QVERIFY(b.isEmpty());
        b.drop(3);
        QCOMPARE(b.size(), 0);
        b.append(Hex("03 FF"));
        QCOMPARE(b.firstEom(), 2);
    }

    // The set-gain and gain report tests check checksums of whole messages.
    void checksum() {
        QCOMPARE(CalcChecksum(QByteArray()), 0);
        QCOMPARE(CalcChecksum(Hex("E3")), 0);          // the status byte is not summed
        QCOMPARE(CalcChecksum(Hex("E3 7F 02")), 0x01); // kept to 7 bits
        QCOMPARE(CalcChecksum(Hex("81 96")), 0x16);    // data bytes above 7F are summed whole
    }

    void join7Bit() {
        QCOMPARE(Join7Bit(0x68, 0x07).value_or(-1), 1000);
        QCOMPARE(Join7Bit(0x7F, 0x7F).value_or(-1), 16383);
        QCOMPARE(Join7Bit(0x7F, 0xFF).value_or(-1), 32767);
        QVERIFY(!Join7Bit(0x80, 0xFF)); // 32768 does not fit the 16-bit result
        QVERIFY(!Join7Bit(0xFF, 0xFF));
    }

    void read14OutsideMessage() {
        const QByteArray m = Hex("E3 68 07");
        QCOMPARE(Read14(m, 2).value_or(-1), 1000);
        QVERIFY(!Read14(m, 3)); // only the low byte is there
        QVERIFY(!Read14(m, 0));
    }

    void groups_data() {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<int>("groups");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("1000") << qint64{1000} << 2 << Hex("68 07");
        QTest::newRow("largest 32-bit") << qint64{0x7FFFFFFF} << 6 << Hex("7F 7F 7F 7F 07 00");
        QTest::newRow("above 14 bits is masked") << qint64{16384 + 5} << 2 << Hex("05 00");
        // Division truncates toward zero before the mask.
        QTest::newRow("minus one") << qint64{-1} << 2 << Hex("7F 00");
        QTest::newRow("minus 129") << qint64{-129} << 2 << Hex("7F 7F");
    }
    void groups() {
        QFETCH(qint64, value);
        QFETCH(int, groups);
        QFETCH(QByteArray, expected);
        QByteArray data;
        Append7BitGroups(data, value, groups);
        QCOMPARE(data.toHex(' '), expected.toHex(' '));
    }

    // Whole set-gain commands are framed in test_faders (commandBytes), through the handler.
    void buildMessageKeepsDataBytesSevenBit() {
        QCOMPARE(BuildMessage(0xE3, Hex("82 FF")).toHex(' '), Hex("E3 02 7F 01 FF").toHex(' '));
        QCOMPARE(BuildMessage(0xF2, QByteArray()).toHex(' '), Hex("F2 00 FF").toHex(' '));
    }

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

    // The greeting reply, the hold and the information request.
    void greetings_data() {
        QTest::addColumn<QByteArray>("greeting");
        QTest::addColumn<bool>("answered");
        QTest::newRow("4 bytes") << Hex("81 64 64 FF") << true;
        QTest::newRow("5 bytes") << Hex("81 64 05 69 FF") << true;
        QTest::newRow("second byte 101") << Hex("81 65 65 FF") << false;
        QTest::newRow("6 bytes") << Hex("81 64 01 01 66 FF") << false;
        QTest::newRow("3 bytes") << Hex("81 00 FF") << false;
        QTest::newRow("wrong checksum") << Hex("81 64 63 FF") << false;
    }
    void greetings() {
        QFETCH(QByteArray, greeting);
        QFETCH(bool, answered);
        TCPComm::AnswerGreeting(greeting, rec);
        QCOMPARE(rec.sent, answered ? (QList<QByteArray>{kReply, kRequest}) : QList<QByteArray>{});
    }

    // Reply first, the request after the hold; the hold must not run far over.
    void requestFollowsAfterHold() {
        rec.sBuffer.append(Hex("81 64 64 FF F5"));
        rec.step();
        QCOMPARE(rec.sent, (QList<QByteArray>{kReply, kRequest}));
        const qint64 gap = rec.sentAtMs[1] - rec.sentAtMs[0];
        QVERIFY2(gap >= 100 && gap < 1000, qPrintable(QString::number(gap)));
        QCOMPARE(rec.sBuffer.bytes(), Hex("F5"));
    }

    // The selector goes out as six 7-bit groups, negative values truncated toward zero.
    void infoRequestCarriesItsSelector() {
        TCPComm::SendInfoRequest(-1, rec);
        QCOMPARE(rec.sent.join().toHex(' '),
                 Hex("F2 7F 00 00 00 00 00 00 00 00 00 7F FF").toHex(' '));
    }

    // The serial port's quick pass over the receive buffer.
    void oneCall_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("left");
        QTest::addColumn<int>("gain5"); // udtInGain(5).iSource afterwards
        QTest::newRow("junk then report") << Hex("05 06") + kReport5 << QByteArray() << 1000;
        QTest::newRow("report then more") << kReport5 + Hex("05 F5") << Hex("05 F5") << 1000;
        QTest::newRow("incomplete report") << Hex("E3 00 01") << Hex("E3 00 01") << 0;
        QTest::newRow("F5 not answered") << Hex("F5 E3 00 01") << Hex("E3 00 01") << 0;
        QTest::newRow("F4") << Hex("F4 01") << Hex("01") << 0;
        QTest::newRow("lone EOM") << Hex("FF 12") << Hex("12") << 0;
        QTest::newRow("map loses its status byte") << kMapExample << kMapExample.mid(1) << 0;
        QTest::newRow("greeting loses its status byte")
            << Hex("81 64 64 FF") << Hex("64 64 FF") << 0;
        QTest::newRow("incomplete greeting waits") << Hex("81 64") << Hex("81 64") << 0;
        QTest::newRow("F1 waits for an EOM") << Hex("F1 01") << Hex("F1 01") << 0;
        QTest::newRow("F1 then alone") << Hex("F1 01 FF") << Hex("01 FF") << 0;
    }
    void oneCall() {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, left);
        QFETCH(int, gain5);
        rec.sBuffer.append(input);
        decode();
        QCOMPARE(rec.sBuffer.bytes().toHex(' '), left.toHex(' '));
        QCOMPARE(rec.tables.udtInGain[5].iSource, gain5);
        QVERIFY(rec.sent.isEmpty());
    }

    // The rest of a stripped map drains as junk and is never decoded.
    void strippedMapIsLost() {
        rec.sBuffer.append(kMapExample);
        for (int i = 0; i < 3 && !rec.sBuffer.isEmpty(); ++i)
            decode();
        QVERIFY(rec.sBuffer.isEmpty());
        QCOMPARE(rec.tables.udtXpt[64].bCount, 0);
        QVERIFY(rec.mapsStored.isEmpty());
    }
};

QTEST_MAIN(TestProtocol)
#include "test_protocol.moc"
