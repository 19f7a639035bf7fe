// The simulated switcher's state: its demo defaults, how it takes set-gain commands
// (clamping, all-or-nothing rejection) and the dump that answers an information request.

#include "tools/switcher-sim/SimCodec.h"
#include "tools/switcher-sim/SimState.h"
#include "tools/switcher-sim/SimWire.h"

#include <QtTest>

using SimCodec::Crosspoint;
using SimCodec::Message;

Q_DECLARE_METATYPE(SimCodec::Message)

class TestSimState : public QObject {
    Q_OBJECT
  private slots:
    // A panel with default settings sees real values in every gain type, and outputs 65
    // and 66 (1-based) are fed by inputs 65..68 for the counters.
    void defaults() {
        const SimState s;
        QCOMPARE(s.inputs(), 128);
        QCOMPARE(s.outputs(), 128);
        QCOMPARE(s.gain(1, 0), 1024);
        QCOMPARE(s.gain(1, 1), 964);
        QCOMPARE(s.gain(3, 0), 924);
        QCOMPARE(s.gain(3, 1), 1124);
        QCOMPARE(s.gain(0, 0), 1024);
        QCOMPARE(s.crosspoints(0), (QList<Crosspoint>{{0, 1024}, {1, 964}}));
        for (int out : {64, 65}) {
            QList<int> sources;
            for (const Crosspoint &c : s.crosspoints(out))
                sources << c.source;
            QCOMPARE(sources, (QList<int>{64, 65, 66, 67}));
        }
        QVERIFY(s.crosspoints(2).isEmpty());
    }

    void defaultsFitSmallSwitchers() {
        const SimState s(2, 1);
        QCOMPARE(s.crosspoints(0).size(), 2);
        const SimState tiny(1, 1);
        QCOMPARE(tiny.crosspoints(0), (QList<Crosspoint>{{0, 1024}}));
    }

    void apply_data() {
        QTest::addColumn<Message>("command");
        QTest::addColumn<QString>("report"); // hex of the confirming report, or empty
        QTest::addColumn<QString>("reason"); // part of the rejection reason
        using namespace SimCodec;
        QTest::newRow("input 1 +2.5 dB")
            << setGain(1, 0, {1049}) << "E3 00 01 01 00 00 00 19 08 23 FF"
            << "";
        QTest::newRow("input 2 second gain")
            << setGain(0, 1, {1000}) << "E3 00 00 01 00 01 00 68 07 71 FF"
            << "";
        QTest::newRow("above +24 dB clamps")
            << setGain(1, 0, {16383}) << "E3 00 01 01 00 00 00 70 09 7B FF"
            << "";
        QTest::newRow("below Off clamps, last output")
            << setGain(3, 127, {0}) << "E3 00 03 01 00 7F 00 18 00 1B FF"
            << "";
        QTest::newRow("stereo crosspoint") << setCrosspointGain(64, {{65, 1100}, {65, 1100}})
                                           << "E3 00 0A 02 00 40 00 4C 08 41 00 4C 08 41 00 76 FF"
                                           << "";
        QTest::newRow("stereo past the last input") << setGain(1, 127, {1024, 1024}) << ""
                                                    << "input 129 does not exist (128 inputs)";
        QTest::newRow("output beyond the switcher") << setGain(3, 200, {1024}) << ""
                                                    << "output 201 does not exist (128 outputs)";
        QTest::newRow("source that does not feed the output")
            << setCrosspointGain(0, {{2, 924}}) << ""
            << "input 3 does not feed output 1";
        QTest::newRow("second entry not routed")
            << setCrosspointGain(64, {{64, 1000}, {70, 1000}}) << ""
            << "input 71 does not feed output 65";
        QTest::newRow("crosspoint output beyond the switcher")
            << setCrosspointGain(1000, {{0, 1024}}) << ""
            << "output 1001 does not exist";
        QTest::newRow("unknown kind") << setGain(5, 0, {1024}) << ""
                                      << "unknown gain kind 5";
        QTest::newRow("no entries") << setGain(1, 0, {}) << ""
                                    << "no entries";
    }

    // Applied commands confirm with the report the panel decodes, carrying the value the
    // switcher really holds; rejected ones change nothing at all.
    void apply() {
        QFETCH(Message, command);
        QFETCH(QString, report);
        QFETCH(QString, reason);
        SimState s;
        const SimState before = s;
        const SimState::Result r = s.apply(command);
        if (report.isEmpty()) {
            QVERIFY(!r.applied);
            QVERIFY2(r.reason.contains(reason), qPrintable(r.reason));
            QCOMPARE(dumpBytes(s), dumpBytes(before));
            return;
        }
        QVERIFY2(r.applied, qPrintable(r.reason));
        QCOMPARE(SimWire::hex(SimCodec::encode(r.report)), report);
        // The state now answers with the confirmed value.
        const Message confirmed = SimCodec::decode(SimCodec::encode(r.report));
        if (confirmed.kind == SimWire::kKindCrosspoint) {
            for (const Crosspoint &c : confirmed.crosspoints) {
                const auto &fed = s.crosspoints(confirmed.first);
                QVERIFY(fed.contains(c));
            }
        } else {
            for (qsizetype k = 0; k < confirmed.values.size(); ++k)
                QCOMPARE(s.gain(confirmed.kind, confirmed.first + int(k)), confirmed.values[k]);
        }
    }

    void clampIsReported() {
        SimState s;
        QVERIFY(!s.apply(SimCodec::setGain(1, 0, {1264})).clamped);
        QVERIFY(s.apply(SimCodec::setGain(1, 0, {1265})).clamped);
        QVERIFY(s.apply(SimCodec::setCrosspointGain(0, {{0, 23}})).clamped);
        QCOMPARE(s.crosspoints(0).first().gain, 24);
    }

    // The largest switcher still dumps in messages the panel takes whole: at most 32 gains
    // per report, every map block within the 64 sources a panel keeps, every message valid,
    // and together they carry every value of the state.
    void dumpOfTheLargestSwitcher() {
        SimState s(SimState::kMaxChannels, SimState::kMaxChannels);
        QList<int> seen[4];
        int maps = 0, crosspointReports = 0;
        for (const Message &m : s.dump()) {
            const QByteArray bytes = SimCodec::encode(m);
            const Message back = SimCodec::decode(bytes);
            QVERIFY2(back.type != Message::Type::Invalid, qPrintable(back.error));
            QVERIFY(bytes.size() <= 1100);
            if (back.type == Message::Type::CrosspointMap) {
                ++maps;
                QVERIFY(back.blocks.size() <= SimState::kOutputsPerMap);
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
            QCOMPARE(seen[kind].size(), SimState::kMaxChannels);
            for (int c = 0; c < SimState::kMaxChannels; ++c)
                QCOMPARE(seen[kind][c], s.gain(kind, c));
        }
        QCOMPARE(maps, (SimState::kMaxChannels + SimState::kOutputsPerMap - 1) /
                           SimState::kOutputsPerMap);
        QCOMPARE(crosspointReports, 4); // outputs 1, 2, 65 and 66
    }

  private:
    static QByteArray dumpBytes(const SimState &s) {
        QByteArray all;
        for (const Message &m : s.dump())
            all += SimCodec::encode(m);
        return all;
    }
};

QTEST_MAIN(TestSimState)
#include "test_sim_state.moc"
