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
Q_DECLARE_METATYPE(Rules)

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

    // One byte on its own, under the dispatcher's rules and the serial pass's.
    void singleBytes_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Rules>("rules");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<int>("length");
        const auto row = [](const char *name, const char *hex, Rules rules, Kind kind, int length) {
            QTest::newRow(name) << Hex(hex) << rules << kind << length;
        };
        row("empty", "", Rules::Dispatcher, Kind::Empty, 0);
        row("data byte", "7F E3", Rules::Dispatcher, Kind::Junk, 1);
        row("ping", "F5 E3", Rules::Dispatcher, Kind::OneByte, 1);
        row("pong", "F4 FF", Rules::SerialPass, Kind::OneByte, 1);
        row("F1 alone", "F1 01 FF", Rules::Dispatcher, Kind::OneByte, 1);
        row("F3 framed on the serial pass", "F3 01 FF", Rules::SerialPass, Kind::Message, 3);
        row("F1 waits on the serial pass", "F1 01", Rules::SerialPass, Kind::Incomplete, 0);
        row("lone EOM", "FF 12", Rules::Dispatcher, Kind::Message, 1);
        row("unknown status through EOM", "A0 05 FF 81", Rules::Dispatcher, Kind::Message, 3);
        // A message that lost its EOM runs on into the next one.
        row("lost EOM joins", "E3 00 01 F5 E3 00 FF", Rules::Dispatcher, Kind::Message, 7);
        // Positions are not limited to 16 bits.
        QTest::newRow("EOM past 16-bit positions") << Hex("A0") + QByteArray(40000, 1) + Hex("FF")
                                                   << Rules::Dispatcher << Kind::Message << 40002;
    }
    void singleBytes() {
        QFETCH(QByteArray, bytes);
        QFETCH(Rules, rules);
        QFETCH(Kind, kind);
        QFETCH(int, length);
        const FrameCutter::Front front = FrameCutter::LookAtFront(Holding(bytes), rules);
        QCOMPARE(front.kind, kind);
        QCOMPARE(int(front.length), length);
    }
};

QTEST_MAIN(TestFrameCutter)
#include "test_framecutter.moc"
