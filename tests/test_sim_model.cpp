// The simulator's own encoder, decoder and stream framer against the protocol's worked byte
// examples and broken input; and its state: its defaults, how it takes set-gain commands
// (clamping, all-or-nothing rejection) and the dump that answers an information request.

#include "tools/switcher-sim/SimCodec.h"
#include "tools/switcher-sim/SimFramer.h"
#include "tools/switcher-sim/SimState.h"
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

void row(const char *name, const Message &command, const char *outcome) {
    QTest::newRow(name) << command << QString(outcome);
}

QByteArray dumpBytes(const SimState &s) {
    QByteArray all;
    for (const Message &m : s.dump())
        all += SimCodec::encode(m);
    return all;
}

} // namespace
using SimCodec::Crosspoint;

class TestSimModel : public QObject {
    Q_OBJECT

  private slots:
    void workedExamples_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Message>("built");
        QTest::addColumn<QString>("meaning");
        using namespace SimCodec;
        example("set output 5 stereo +3 dB", "E3 02 03 02 00 04 00 1E 08 1E 08 57 FF",
                setGain(3, 4, {1054, 1054}), "set output 5..6 gain +3 dB, +3 dB");
        example("set DSP input 3 on output 1 to -10 dB", "E3 02 0A 01 00 00 00 1C 07 02 00 32 FF",
                setCrosspointGain(0, {{2, 924}}), "set input 3 on output 1 gain -10 dB");
        // A 14-bit field at its top.
        example("set input 1 to the 14-bit top", "E3 02 01 01 00 00 00 7F 7F 02 FF",
                setGain(1, 0, {16383}), "set input 1 gain +1535.9 dB");
        example("report crosspoint", "E3 00 0A 01 00 40 00 68 07 41 00 7B FF",
                crosspointReport(64, {{65, 1000}}), "input 66 on output 65 gain -2.4 dB");
        example("report second gains", "E3 00 02 02 00 00 00 06 08 10 08 2A FF",
                gainReport(2, 0, {1030, 1040}), "output 1..2 second gain +0.6 dB, +1.6 dB");
        example("crosspoint map", "F6 00 01 00 40 00 02 00 00 40 00 68 07 41 00 74 03 2A FF",
                crosspointMap(64, {{0, {{64, 1000}, {65, 500}}}}),
                "crosspoint map output 65: output 65 <- input 65 -2.4 dB, input 66 -52.4 dB");
        example("greeting, long form", "81 64 05 69 FF", greetingWithExtra(5), "greeting");
    }

    // Both directions: building the message gives the bytes, and decoding the bytes gives
    // the meaning and encodes back to the same bytes. The plain set-gain command, gain report,
    // greeting and information request are read and traced end to end in test_e2e.
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

    // Small switchers keep what of the demo routing fits. The defaults of 128 and of 4 inputs
    // reach the panel's faders and counters in test_e2e.
    void defaultsFitSmallSwitchers() {
        QCOMPARE(SimState(1, 1).crosspoints(0), (QList<Crosspoint>{{0, 1024}}));
    }

    void apply_data() {
        QTest::addColumn<Message>("command");
        // The hex of the confirming report, marked when a value was clamped, or the refusal.
        QTest::addColumn<QString>("outcome");
        using namespace SimCodec;
        row("input 2 second gain", setGain(0, 1, {1000}), "E3 00 00 01 00 01 00 68 07 71 FF");
        row("exactly +24 dB", setGain(1, 0, {1264}), "E3 00 01 01 00 00 00 70 09 7B FF");
        row("above +24 dB", setGain(1, 0, {16383}), "E3 00 01 01 00 00 00 70 09 7B FF clamped");
        row("below Off", setGain(3, 127, {0}), "E3 00 03 01 00 7F 00 18 00 1B FF clamped");
        row("crosspoint below Off", setCrosspointGain(0, {{0, 23}}),
            "E3 00 0A 01 00 00 00 18 00 00 00 23 FF clamped");
        row("stereo crosspoint", setCrosspointGain(64, {{65, 1100}, {65, 1100}}),
            "E3 00 0A 02 00 40 00 4C 08 41 00 4C 08 41 00 76 FF");
        row("stereo past the last input", setGain(1, 127, {1024, 1024}),
            "input 129 does not exist (128 inputs)");
        row("output beyond the switcher", setGain(3, 200, {1024}),
            "output 201 does not exist (128 outputs)");
        row("second entry not routed", setCrosspointGain(64, {{64, 1000}, {70, 1000}}),
            "input 71 does not feed output 65");
        row("crosspoint output beyond the switcher", setCrosspointGain(1000, {{0, 1024}}),
            "output 1001 does not exist (128 outputs)");
        row("unknown kind", setGain(5, 0, {1024}), "unknown gain kind 5");
        row("no entries", setGain(1, 0, {}), "no entries");
    }

    // Applied commands confirm with the report the panel decodes, carrying the value the
    // switcher now really holds, and say whether they were clamped; refused ones change
    // nothing at all.
    void apply() {
        QFETCH(Message, command);
        QFETCH(QString, outcome);
        SimState s;
        const QByteArray before = dumpBytes(s);
        const SimState::Result r = s.apply(command);
        const QString clamped = r.clamped ? QStringLiteral(" clamped") : QString();
        QCOMPARE(r.applied ? SimWire::hex(SimCodec::encode(r.report)) + clamped : r.reason,
                 outcome);
        if (!r.applied)
            QCOMPARE(dumpBytes(s), before);
        for (const Crosspoint &c : r.report.crosspoints)
            QVERIFY(s.crosspoints(r.report.first).contains(c));
        for (qsizetype k = 0; k < r.report.values.size(); ++k)
            QCOMPARE(s.gain(r.report.kind, r.report.first + int(k)), r.report.values[k]);
    }

    // The largest switcher still dumps in messages the panel takes whole: at most 32 gains
    // per report, every map block within the 64 sources a panel keeps, every message valid,
    // and together they carry every value of the state.
    void dumpOfTheLargestSwitcher() {
        constexpr int n = SimState::kMaxChannels, perMap = SimState::kOutputsPerMap;
        SimState s(n, n);
        QList<int> seen[4];
        int maps = 0, crosspointReports = 0;
        for (const Message &m : s.dump()) {
            const QByteArray bytes = SimCodec::encode(m);
            const Message back = SimCodec::decode(bytes);
            QVERIFY2(back.type != Message::Type::Invalid, qPrintable(back.error));
            QVERIFY(bytes.size() <= 1100);
            if (back.type == Message::Type::CrosspointMap) {
                ++maps;
                QVERIFY(back.blocks.size() <= perMap);
                for (qsizetype j = 0; j < back.blocks.size(); ++j) {
                    QVERIFY(back.blocks[j].sources.size() <= SimState::kMaxSourcesPerOutput);
                    QCOMPARE(back.blocks[j].sources, s.crosspoints(back.first + int(j)));
                }
            } else if (back.kind == SimWire::kKindCrosspoint) {
                ++crosspointReports;
                QCOMPARE(back.crosspoints, s.crosspoints(back.first));
            } else {
                QVERIFY(back.values.size() <= SimState::kGainsPerReport);
                QCOMPARE(back.first, int(seen[back.kind].size()));
                seen[back.kind] += back.values;
            }
        }
        for (int kind = 0; kind < 4; ++kind) {
            QCOMPARE(seen[kind].size(), n);
            for (int c = 0; c < n; ++c)
                QCOMPARE(seen[kind][c], s.gain(kind, c));
        }
        QCOMPARE(maps, (n + perMap - 1) / perMap);
        QCOMPARE(crosspointReports, 4); // outputs 1, 2, 65 and 66
    }
};

QTEST_MAIN(TestSimModel)
#include "test_sim_model.moc"
