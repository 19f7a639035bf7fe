// Where a message ends and how it is built: the 7-bit helpers, the checksum and framing of
// outgoing messages, and what the frame cutter finds at the front of the receive buffer: every
// proper prefix of a message is incomplete, the whole message is complete with its exact
// length, whatever follows it. The buffer itself (the EOM search across appends, positions
// beyond 16 bits, compaction) is checked against a model at every step by fuzz_receive, whose
// corpus runs as fuzz_receive_regression.

#include "protocol/ByteManipulation.h"
#include "protocol/FrameCutter.h"
#include "support/ProtocolFakes.h"

#include <QtTest>

using FrameCutter::Kind;
using FrameCutter::Rules;
using ProtocolFakes::Hex;

Q_DECLARE_METATYPE(Kind)

namespace {

// The worked examples of the protocol, both directions.
const char *const kMessages[] = {
    "E3 02 01 01 00 00 00 00 08 0C FF",                         // set input 1 to 0 dB
    "E3 02 03 02 00 04 00 1E 08 1E 08 57 FF",                   // stereo output gain
    "E3 02 0A 01 00 00 00 1C 07 02 00 32 FF",                   // DSP gain
    "E3 00 01 01 00 05 00 68 07 76 FF",                         // gain report
    "E3 00 0A 01 00 40 00 68 07 41 00 7B FF",                   // crosspoint gain report
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

} // namespace
using namespace ByteManipulation;

class TestFraming : public QObject {
    Q_OBJECT

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
};

QTEST_MAIN(TestFraming)
#include "test_framing.moc"
