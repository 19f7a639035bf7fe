// The simulated switcher's state: its demo defaults, how it takes set-gain commands
// (clamping, all-or-nothing rejection) and the dump that answers an information request.

#include "tools/switcher-sim/SimCodec.h"
#include "tools/switcher-sim/SimState.h"
#include "tools/switcher-sim/SimWire.h"

#include <QtTest>

using SimCodec::Crosspoint;
using SimCodec::Message;

Q_DECLARE_METATYPE(SimCodec::Message)

namespace {

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

class TestSimState : public QObject {
    Q_OBJECT
  private slots:
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

QTEST_MAIN(TestSimState)
#include "test_sim_state.moc"
