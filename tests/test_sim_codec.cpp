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

void example(const char *name, const char *hex, const Message &built, const char *meaning) {
    QTest::newRow(name) << hexBytes(hex) << built << QString(meaning);
}

void rejection(const char *name, const QByteArray &bytes, const char *why) {
    QTest::newRow(name) << bytes << QString(why);
}

// "M:81 96 16 FF|S:12 34" for a list of frames, neighbouring stray runs joined when asked.
QString frames(const QList<SimFramer::Frame> &list, bool joinStray = false) {
    QStringList out;
    for (const auto &f : list) {
        const char *tag = f.kind == SimFramer::Frame::Kind::Message ? "M:"
                          : f.kind == SimFramer::Frame::Kind::Stray ? "S:"
                                                                    : "B:";
        if (joinStray && *tag == 'S' && !out.isEmpty() && out.last().startsWith(QLatin1Char('S')))
            out.last() += QLatin1Char(' ') + SimWire::hex(f.bytes);
        else
            out << QLatin1String(tag) + SimWire::hex(f.bytes);
    }
    return out.join(QLatin1Char('|'));
}

void stream(const char *name, const char *hex, const char *expected) {
    QTest::newRow(name) << hexBytes(hex) << QString(expected);
}

} // namespace

class TestSimCodec : public QObject {
    Q_OBJECT
  private slots:
    void workedExamples_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Message>("built");
        QTest::addColumn<QString>("meaning");
        using namespace SimCodec;
        example("set input 1 to 0 dB", "E3 02 01 01 00 00 00 00 08 0C FF", setGain(1, 0, {1024}),
                "set input 1 gain 0 dB");
        example("set output 5 stereo +3 dB", "E3 02 03 02 00 04 00 1E 08 1E 08 57 FF",
                setGain(3, 4, {1054, 1054}), "set output 5..6 gain +3 dB, +3 dB");
        example("set DSP input 3 on output 1 to -10 dB", "E3 02 0A 01 00 00 00 1C 07 02 00 32 FF",
                setCrosspointGain(0, {{2, 924}}), "set input 3 on output 1 gain -10 dB");
        // The 14-bit fields at their top, both ways.
        example("set input 1 to the 14-bit top", "E3 02 01 01 00 00 00 7F 7F 02 FF",
                setGain(1, 0, {16383}), "set input 1 gain +1535.9 dB");
        example("set output 2 to the top", "E3 02 03 01 00 01 00 70 09 00 FF",
                setGain(3, 1, {1264}), "set output 2 gain +24 dB");
        example("report input 6", "E3 00 01 01 00 05 00 68 07 76 FF", gainReport(1, 5, {1000}),
                "input 6 gain -2.4 dB");
        example("report crosspoint", "E3 00 0A 01 00 40 00 68 07 41 00 7B FF",
                crosspointReport(64, {{65, 1000}}), "input 66 on output 65 gain -2.4 dB");
        example("report second gains", "E3 00 02 02 00 00 00 06 08 10 08 2A FF",
                gainReport(2, 0, {1030, 1040}), "output 1..2 second gain +0.6 dB, +1.6 dB");
        example("crosspoint map", "F6 00 01 00 40 00 02 00 00 40 00 68 07 41 00 74 03 2A FF",
                crosspointMap(64, {{0, {{64, 1000}, {65, 500}}}}),
                "crosspoint map output 65: output 65 <- input 65 -2.4 dB, input 66 -52.4 dB");
        example("greeting", "81 64 64 FF", greeting(), "greeting");
        example("greeting, long form", "81 64 05 69 FF", greetingWithExtra(5), "greeting");
        example("information request", "F2 00 01 02 00 00 00 00 00 00 00 03 FF",
                infoRequest(0x8080), "information request, selector 0x8080");
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
        rejection("one byte too many", frame(0xE3, hexBytes("02 0A 01 00 00 00 1C 07 02 00 00")),
                  "1 entries of kind 10 need 13");
        rejection("no entries", frame(0xE3, hexBytes("02 01 00 00 00 00")),
                  "gain message with no entries");
        rejection("header cut short", frame(0xE3, hexBytes("02 01 01")), "too short");
        rejection("status byte inside", hexBytes("E3 02 01 01 00 00 00 80 08 0C FF"),
                  "80 at position 8");
        rejection("no end byte", hexBytes("E3 02 01 01"), "without its end byte");
        rejection("greeting 81 65 65 FF", hexBytes("81 65 65 FF"), "unknown form");
        rejection("six-byte greeting", frame(0x81, hexBytes("64 01 02")), "unknown form");
        rejection("short information request", frame(0xF2, hexBytes("00 01 02")),
                  "information request of 6 bytes");
        rejection("map with no outputs", frame(0xF6, hexBytes("00 00 00 40 00")), "no outputs");
        rejection("map block cut short",
                  frame(0xF6, hexBytes("00 01 00 40 00 02 00 00 40 00 68 07")),
                  "ends inside block 0");
        rejection("map with bytes left over", frame(0xF6, hexBytes("00 01 00 40 00 00 00 00 11")),
                  "1 bytes after its blocks");
        rejection("stray data byte", hexBytes("12"), "stray data byte");
        rejection("lone end byte", hexBytes("FF"), "stray end byte");
        rejection("empty", hexBytes(""), "empty");
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

    void dbText() {
        QStringList texts;
        for (int gain : {0, 24, 25, 1023, 1025, 2024})
            texts << SimTrace::dbText(gain);
        QCOMPARE(texts.join(u'|'), QStringLiteral("Off|Off|-99.9 dB|-0.1 dB|+0.1 dB|+100 dB"));
    }

    void framer_data() {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QString>("expected");
        stream("what a panel sends",
               "81 96 16 FF F2 00 01 02 00 00 00 00 00 00 00 03 FF F4 E3 02 01 01 00 00 00 00 08 "
               "0C FF",
               "M:81 96 16 FF|M:F2 00 01 02 00 00 00 00 00 00 00 03 FF|M:F4|"
               "M:E3 02 01 01 00 00 00 00 08 0C FF");
        stream("junk around messages", "12 34 FF E3 02 01 01 00 00 00 00 08 0C FF 7F",
               "S:12 34 FF|M:E3 02 01 01 00 00 00 00 08 0C FF|S:7F");
        stream("lost end byte, next message intact",
               "E3 02 01 01 F4 E3 02 01 01 00 00 00 00 08 0C FF",
               "B:E3 02 01 01|M:F4|M:E3 02 01 01 00 00 00 00 08 0C FF");
        stream("one-byte messages", "F1 F3 F5", "M:F1|M:F3|M:F5");
        stream("0x96 starts a message except right after 0x81", "E3 96 05 FF", "B:E3|M:96 05 FF");
        // A message that grows past the limit is handed out broken, and what follows is stray.
        const QByteArray endless = hexBytes("E3") + QByteArray(SimFramer::kMaxMessage + 10, 1);
        QTest::newRow("message that never ends")
            << endless
            << "B:" + SimWire::hex(endless.left(SimFramer::kMaxMessage)) +
                   "|S:" + SimWire::hex(endless.mid(SimFramer::kMaxMessage));
    }

    // The same stream gives the same frames whether it arrives whole or byte by byte.
    void framer() {
        QFETCH(QByteArray, stream);
        QFETCH(QString, expected);
        SimFramer whole;
        QCOMPARE(frames(whole.push(stream)), expected);
        QCOMPARE(whole.pending(), 0);
        // Stray runs come out as they arrive, so byte by byte they come in pieces.
        SimFramer bytewise;
        QList<SimFramer::Frame> got;
        for (char c : stream)
            got += bytewise.push(QByteArray(1, c));
        QCOMPARE(frames(got, true), expected);
    }
};

QTEST_MAIN(TestSimCodec)
#include "test_sim_codec.moc"
