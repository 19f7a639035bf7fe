// What the frame cutter finds at the front of the receive buffer: every proper prefix of a
// message is incomplete, the whole message is complete with its exact length, whatever
// follows it.

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

class TestFrameCutter : public QObject {
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
};

QTEST_MAIN(TestFrameCutter)
#include "test_framecutter.moc"
