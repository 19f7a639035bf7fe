// The simulator's own encoder, decoder and stream framer against the protocol's worked byte
// examples and against broken input.

#include "tools/switcher-sim/SimCodec.h"
#include "tools/switcher-sim/SimFramer.h"
#include "tools/switcher-sim/SimTrace.h"
#include "tools/switcher-sim/SimWire.h"

#include <QtTest>

using SimCodec::Message;

Q_DECLARE_METATYPE(SimCodec::Message)

namespace {

QByteArray hexBytes(const char *text) {
    return QByteArray::fromHex(QByteArray(text));
}

Message greetingWithExtra(int extra) {
    Message m = SimCodec::greeting();
    m.greetingExtra = extra;
    return m;
}

Message fixed(Message::Type type, quint8 status) {
    Message m;
    m.type = type;
    m.status = status;
    return m;
}

// "M:81 96 16 FF|S:12 34" for a list of frames.
QString frames(const QList<SimFramer::Frame> &list) {
    QStringList out;
    for (const auto &f : list) {
        const char *tag = f.kind == SimFramer::Frame::Kind::Message ? "M"
                          : f.kind == SimFramer::Frame::Kind::Stray ? "S"
                                                                    : "B";
        out << QStringLiteral("%1:%2").arg(QLatin1String(tag), SimWire::hex(f.bytes));
    }
    return out.join(QLatin1Char('|'));
}

} // namespace

class TestSimCodec : public QObject {
    Q_OBJECT
  private slots:
    void wireHelpers() {
        QCOMPARE(SimWire::checksum(hexBytes("E3 00 01 01 00 05 00 68 07")), quint8(0x76));
        QCOMPARE(SimWire::checksum(hexBytes("E3 7F 02")), quint8(0x01));
        QCOMPARE(SimWire::checksum(hexBytes("E3")), quint8(0));
        QCOMPARE(SimWire::join14(0x68, 0x07), 1000);
        QCOMPARE(SimWire::join14(0x7F, 0x7F), 16383);
        QByteArray out;
        SimWire::append14(out, 16383);
        SimWire::append14(out, 1000);
        QCOMPARE(out, hexBytes("7F 7F 68 07"));
    }

    void workedExamples_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Message>("built");
        QTest::addColumn<QString>("meaning");
        using namespace SimCodec;
        QTest::newRow("set input 1 to 0 dB") << hexBytes("E3 02 01 01 00 00 00 00 08 0C FF")
                                             << setGain(1, 0, {1024}) << "set input 1 gain 0 dB";
        QTest::newRow("set output 5 stereo +3 dB")
            << hexBytes("E3 02 03 02 00 04 00 1E 08 1E 08 57 FF") << setGain(3, 4, {1054, 1054})
            << "set output 5..6 gain +3 dB, +3 dB";
        QTest::newRow("set DSP input 3 on output 1 to -10 dB")
            << hexBytes("E3 02 0A 01 00 00 00 1C 07 02 00 32 FF")
            << setCrosspointGain(0, {{2, 924}}) << "set input 3 on output 1 gain -10 dB";
        QTest::newRow("set output 2 to the top")
            << hexBytes("E3 02 03 01 00 01 00 70 09 00 FF") << setGain(3, 1, {1264})
            << "set output 2 gain +24 dB";
        QTest::newRow("Home key on input 1") << hexBytes("E3 02 01 01 00 00 00 70 09 7D FF")
                                             << setGain(1, 0, {1264}) << "set input 1 gain +24 dB";
        QTest::newRow("stereo input 6")
            << hexBytes("E3 02 01 02 00 05 00 4C 08 4C 08 32 FF") << setGain(1, 5, {1100, 1100})
            << "set input 6..7 gain +7.6 dB, +7.6 dB";
        QTest::newRow("report input 6") << hexBytes("E3 00 01 01 00 05 00 68 07 76 FF")
                                        << gainReport(1, 5, {1000}) << "input 6 gain -2.4 dB";
        QTest::newRow("report crosspoint")
            << hexBytes("E3 00 0A 01 00 40 00 68 07 41 00 7B FF")
            << crosspointReport(64, {{65, 1000}}) << "input 66 on output 65 gain -2.4 dB";
        QTest::newRow("report second gains")
            << hexBytes("E3 00 02 02 00 00 00 06 08 10 08 2A FF") << gainReport(2, 0, {1030, 1040})
            << "output 1..2 second gain +0.6 dB, +1.6 dB";
        QTest::newRow("crosspoint map")
            << hexBytes("F6 00 01 00 40 00 02 00 00 40 00 68 07 41 00 74 03 2A FF")
            << crosspointMap(64, {{0, {{64, 1000}, {65, 500}}}})
            << "crosspoint map output 65: output 65 <- input 65 -2.4 dB, input 66 -52.4 dB";
        QTest::newRow("greeting") << hexBytes("81 64 64 FF") << greeting() << "greeting";
        QTest::newRow("greeting, long form")
            << hexBytes("81 64 05 69 FF") << greetingWithExtra(5) << "greeting";
        QTest::newRow("greeting reply")
            << hexBytes("81 96 16 FF") << fixed(Message::Type::GreetingReply, 0x81)
            << "greeting reply";
        QTest::newRow("information request")
            << hexBytes("F2 00 01 02 00 00 00 00 00 00 00 03 FF") << infoRequest(0x8080)
            << "information request, selector 0x8080";
        QTest::newRow("ping") << hexBytes("F5") << ping() << "ping";
        QTest::newRow("ping answer")
            << hexBytes("F4") << fixed(Message::Type::PingAnswer, 0xF4) << "ping answer";
    }

    // Both directions: building the message gives the bytes, and decoding the bytes gives
    // the meaning and encodes back to the same bytes.
    void workedExamples() {
        QFETCH(QByteArray, bytes);
        QFETCH(Message, built);
        QFETCH(QString, meaning);
        QCOMPARE(SimWire::hex(SimCodec::encode(built)), SimWire::hex(bytes));
        const Message decoded = SimCodec::decode(bytes);
        QCOMPARE(SimTrace::describe(decoded), meaning);
        QCOMPARE(SimWire::hex(SimCodec::encode(decoded)), SimWire::hex(bytes));
    }

    void rejected_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("why");
        using SimWire::frame;
        QTest::newRow("bad checksum")
            << hexBytes("E3 02 01 01 00 00 00 00 08 0D FF") << "bad checksum 0D, expected 0C";
        QTest::newRow("one entry short")
            << frame(0xE3, hexBytes("02 01 02 00 00 00 00 08")) << "2 entries of kind 1 need 13";
        QTest::newRow("one byte too many")
            << frame(0xE3, hexBytes("02 0A 01 00 00 00 1C 07 02 00 00"))
            << "1 entries of kind 10 need 13";
        QTest::newRow("no entries")
            << frame(0xE3, hexBytes("02 01 00 00 00 00")) << "gain message with no entries";
        QTest::newRow("header cut short") << frame(0xE3, hexBytes("02 01 01")) << "too short";
        QTest::newRow("status byte inside")
            << hexBytes("E3 02 01 01 00 00 00 80 08 0C FF") << "80 at position 8";
        QTest::newRow("no end byte") << hexBytes("E3 02 01 01") << "without its end byte";
        QTest::newRow("greeting 81 65 65 FF") << hexBytes("81 65 65 FF") << "unknown form";
        QTest::newRow("six-byte greeting") << frame(0x81, hexBytes("64 01 02")) << "unknown form";
        QTest::newRow("short information request")
            << frame(0xF2, hexBytes("00 01 02")) << "information request of 6 bytes";
        QTest::newRow("map with no outputs")
            << frame(0xF6, hexBytes("00 00 00 40 00")) << "no outputs";
        QTest::newRow("map block cut short")
            << frame(0xF6, hexBytes("00 01 00 40 00 02 00 00 40 00 68 07"))
            << "ends inside block 0";
        QTest::newRow("map with bytes left over")
            << frame(0xF6, hexBytes("00 01 00 40 00 00 00 00 11")) << "1 bytes after its blocks";
        QTest::newRow("stray data byte") << hexBytes("12") << "stray data byte";
        QTest::newRow("lone status byte") << hexBytes("E3") << "without its end byte";
        QTest::newRow("lone end byte") << hexBytes("FF") << "stray end byte";
        QTest::newRow("empty") << QByteArray() << "empty";
    }

    void rejected() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, why);
        const Message m = SimCodec::decode(bytes);
        QCOMPARE(m.type, Message::Type::Invalid);
        QVERIFY2(m.error.contains(why), qPrintable(m.error));
        QVERIFY(SimCodec::encode(m).isEmpty());
    }

    void unknownStatusIsFramedButNotUnderstood() {
        const Message m = SimCodec::decode(SimWire::frame(0xA0, hexBytes("05")));
        QCOMPARE(m.type, Message::Type::Unknown);
        QCOMPARE(SimTrace::describe(m), QStringLiteral("unknown message A0"));
    }

    void dbText_data() {
        QTest::addColumn<int>("gain");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0 << "Off";
        QTest::newRow("24") << 24 << "Off";
        QTest::newRow("25") << 25 << "-99.9 dB";
        QTest::newRow("1023") << 1023 << "-0.1 dB";
        QTest::newRow("1024") << 1024 << "0 dB";
        QTest::newRow("1025") << 1025 << "+0.1 dB";
        QTest::newRow("1049") << 1049 << "+2.5 dB";
        QTest::newRow("1264") << 1264 << "+24 dB";
        QTest::newRow("2024") << 2024 << "+100 dB";
    }
    void dbText() {
        QFETCH(int, gain);
        QFETCH(QString, text);
        QCOMPARE(SimTrace::dbText(gain), text);
    }

    void framer_data() {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QString>("expected");
        QTest::newRow("what a panel sends")
            << hexBytes("81 96 16 FF F2 00 01 02 00 00 00 00 00 00 00 03 FF F4 "
                        "E3 02 01 01 00 00 00 00 08 0C FF")
            << "M:81 96 16 FF|M:F2 00 01 02 00 00 00 00 00 00 00 03 FF|M:F4|"
               "M:E3 02 01 01 00 00 00 00 08 0C FF";
        QTest::newRow("junk around messages")
            << hexBytes("12 34 FF E3 02 01 01 00 00 00 00 08 0C FF 7F")
            << "S:12 34 FF|M:E3 02 01 01 00 00 00 00 08 0C FF|S:7F";
        QTest::newRow("lost end byte, next message intact")
            << hexBytes("E3 02 01 01 F4 E3 02 01 01 00 00 00 00 08 0C FF")
            << "B:E3 02 01 01|M:F4|M:E3 02 01 01 00 00 00 00 08 0C FF";
        QTest::newRow("one-byte messages") << hexBytes("F1 F3 F5") << "M:F1|M:F3|M:F5";
        QTest::newRow("0x96 starts a message except right after 0x81")
            << hexBytes("E3 96 05 FF") << "B:E3|M:96 05 FF";
    }

    // The same stream gives the same frames whether it arrives whole or byte by byte.
    void framer() {
        QFETCH(QByteArray, stream);
        QFETCH(QString, expected);
        SimFramer whole;
        QCOMPARE(frames(whole.push(stream)), expected);
        SimFramer bytewise;
        QList<SimFramer::Frame> got;
        for (char c : stream)
            got += bytewise.push(QByteArray(1, c));
        // Stray runs come out as they arrive, so join neighbouring ones before comparing.
        QList<SimFramer::Frame> joined;
        for (const auto &f : got) {
            if (!joined.isEmpty() && f.kind == SimFramer::Frame::Kind::Stray &&
                joined.last().kind == SimFramer::Frame::Kind::Stray)
                joined.last().bytes += f.bytes;
            else
                joined.append(f);
        }
        QCOMPARE(frames(joined), expected);
    }

    void framerHoldsAnUnfinishedMessage() {
        SimFramer f;
        QVERIFY(f.push(hexBytes("E3 02 01")).isEmpty());
        QCOMPARE(f.pending(), 3);
        QCOMPARE(frames(f.push(hexBytes("01 00 00 00 00 08 0C FF"))),
                 QStringLiteral("M:E3 02 01 01 00 00 00 00 08 0C FF"));
        QCOMPARE(f.pending(), 0);
    }

    void framerDropsAMessageThatNeverEnds() {
        SimFramer f;
        QByteArray endless(1, char(0xE3));
        endless += QByteArray(SimFramer::kMaxMessage + 10, '\x01');
        const auto out = f.push(endless);
        QCOMPARE(out.size(), 2);
        QCOMPARE(out[0].kind, SimFramer::Frame::Kind::Broken);
        QCOMPARE(out[0].bytes.size(), SimFramer::kMaxMessage);
        QCOMPARE(out[1].kind, SimFramer::Frame::Kind::Stray);
        QCOMPARE(f.pending(), 0);
    }
};

QTEST_MAIN(TestSimCodec)
#include "test_sim_codec.moc"
