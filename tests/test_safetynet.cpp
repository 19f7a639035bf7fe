// The operator's safety net: ceilings in the settings file and the holding of moves, the scene
// file and its store, what a recall sends and at what pace, timed fades and typed fade times,
// the undo history, and one panel per settings file.

#include "app/SingleInstance.h"
#include "config/Limits.h"
#include "faders/FadePlan.h"
#include "faders/Pacer.h"
#include "faders/RecallPlan.h"
#include "faders/SceneCapture.h"
#include "faders/SceneStore.h"
#include "faders/UndoHistory.h"
#include "protocol/ReportedGain.h"
#include "support/SettingsFile.h"

#include <QElapsedTimer>
#include <QLocale>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/wait.h>
#include <unistd.h>

using Gain = std::optional<qint16>;
using Ms = std::optional<qint64>;
Q_DECLARE_METATYPE(Gain)
Q_DECLARE_METATYPE(Ms)

namespace {

const auto put = &TestSupport::writeFile; // a file that cannot be written ends the run

Scene scene(const QString &name, QList<ChannelGain> gains, qint16 type = 1, qint16 out = 0) {
    return {name, type, out, gains.size() > 4, gains};
}

// A scene file around one scene's JSON text.
QByteArray sceneFile(const QByteArray &scene, const QByteArray &version = "1") {
    return R"({"format": "dual-slider-scenes", "version": )" + version + R"(, "scenes": [)" +
           scene + "]}";
}

} // namespace

class SafetyNetTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }

  private slots:
    void ceilingText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Gain>("gain");
        const Gain none;
        for (const auto &[text, gain] : std::initializer_list<std::pair<const char *, Gain>>{
                 {"-6", 964},    {" -6.5 ", 959},  {"+3", 1054},    {"0", 1024},     {"-0", 1024},
                 {"off", 24},    {"OFF", 24},      {"-100", 24},    {"+24", 1264},   {"24.0", 1264},
                 {"-6.50", 959}, {"-6 dB", 964},   {"-6db", 964},   {"6.", 1084},    {"", none},
                 {"+30", none},  {"-100.1", none}, {"+24.1", none}, {"-6.05", none}, {"loud", none},
                 {"1e1", none},  {"6,5", none},    {"--6", none},   {"-", none},     {".5", none},
                 {"1000", none}})
            QTest::newRow(text) << QString::fromLatin1(text) << gain;
    }
    void ceilingText() {
        QFETCH(QString, text);
        QFETCH(Gain, gain);
        QCOMPARE(DiskWork::CeilingOfText(text), gain);
    }

    // Every gain of the scale is written as a text that reads back as that gain.
    void ceilingTextRoundTrip() {
        QCOMPARE(DiskWork::CeilingText(959), QStringLiteral("-6.5"));
        QCOMPARE(DiskWork::CeilingText(1054), QStringLiteral("+3"));
        QCOMPARE(DiskWork::CeilingText(1024), QStringLiteral("0"));
        for (int gain = 24; gain <= 1264; ++gain)
            QCOMPARE(DiskWork::CeilingOfText(DiskWork::CeilingText(qint16(gain))), Gain(gain));
    }

    void readLimits_data() {
        QTest::addColumn<QByteArray>("file"); // empty: no file at all
        QTest::addColumn<Gain>("first");
        QTest::addColumn<Gain>("second");
        QTest::addColumn<QString>("problems");
        const Gain none;
        QTest::newRow("no file") << QByteArray() << none << none << "";
        QTest::newRow("no section")
            << QByteArray("[CONFIGURATION]\nType=1\n") << none << none << "";
        QTest::newRow("both") << QByteArray("[LIMITS]\nCeiling 1=-6\nCeiling 2=+3.5\n") << Gain(964)
                              << Gain(1059) << "";
        QTest::newRow("any case, empty")
            << QByteArray("[limits]\nceiling 1=\nCEILING 2=off\n") << none << Gain(24) << "";
        QTest::newRow("bad value ignored")
            << QByteArray("[LIMITS]\nCeiling 1=+30\nCeiling 2=-3\n") << none << Gain(994)
            << "[LIMITS] Ceiling 1=+30 is not a gain from -100 dB to +24 dB in steps of 0.1 dB; "
               "fader 1 has no ceiling.";
        QTest::newRow("binary") << QByteArray("[LIMITS]\nCeiling 1=-6\n\x01") << none << none
                                << path("limits.ini") +
                                       " is not a settings file (binary or too large); no "
                                       "ceilings apply.";
    }
    void readLimits() {
        QFETCH(QByteArray, file);
        const QString ini = path("limits.ini");
        QFile::remove(ini);
        if (!file.isEmpty())
            put(ini, file);
        QFETCH(Gain, first);
        QFETCH(Gain, second);
        const DiskWork::LimitsRead read = DiskWork::ReadLimits(ini);
        QCOMPARE(read.limits.ceiling[0], first);
        QCOMPARE(read.limits.ceiling[1], second);
        QTEST(read.problems.join(u'\n'), "problems");
    }

    // The other sections, keys and comments stay; a ceiling removed leaves an empty key; a
    // file that is not a settings file is left alone.
    void writeLimits() {
        const QString ini = path("write.ini");
        put(ini, "; panel\n[CONFIGURATION]\nType=3\n\n; the net\n[LIMITS]\nCeiling 2=-6\nNote=x\n");
        QVERIFY(DiskWork::WriteLimits(ini, Limits{{Gain(959), Gain()}}));
        // The INI writer puts blank lines after the file's opening comment, as for every save.
        QCOMPARE(TestSupport::FileBytes(ini),
                 QByteArray("; panel\n\n\n[CONFIGURATION]\nType=3\n\n\n; the net\n[LIMITS]\n"
                            "Ceiling 2=\nNote=x\nCeiling 1=-6.5\n"));
        QCOMPARE(DiskWork::ReadLimits(ini).limits, (Limits{{Gain(959), Gain()}}));
        const QByteArray kept = TestSupport::FileBytes(ini);
        QVERIFY(!DiskWork::WriteLimits(ini, Limits{{Gain(2000), Gain()}}));
        QCOMPARE(TestSupport::FileBytes(ini), kept);
        const QByteArray binary("\x7F"
                                "ELF\x01\x02");
        put(ini, binary);
        QVERIFY(!DiskWork::WriteLimits(ini, Limits{{Gain(959), Gain()}}));
        QCOMPARE(TestSupport::FileBytes(ini), binary);
    }

    void hold_data() {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<Gain>("ceiling");
        QTest::addColumn<Gain>("sent");
        const Gain none;
        QTest::newRow("no ceiling") << 1000 << 1264 << none << Gain(1264);
        QTest::newRow("below") << 900 << 950 << Gain(964) << Gain(950);
        QTest::newRow("at") << 900 << 964 << Gain(964) << Gain(964);
        QTest::newRow("held") << 900 << 1100 << Gain(964) << Gain(964);
        QTest::newRow("above, down past it") << 1100 << 900 << Gain(964) << Gain(900);
        QTest::newRow("above, down within") << 1100 << 1090 << Gain(964) << Gain(964);
        QTest::newRow("above, up: nothing") << 1100 << 1110 << Gain(964) << none;
        QTest::newRow("above, same: nothing") << 1100 << 1100 << Gain(964) << none;
        QTest::newRow("ceiling Off, from Off") << 24 << 600 << Gain(24) << Gain(24);
        QTest::newRow("ceiling Off, above it") << 500 << 600 << Gain(24) << none;
    }
    void hold() {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(Gain, ceiling);
        QFETCH(Gain, sent);
        QCOMPARE(Ceiling::HeldMove(qint16(from), qint16(to), ceiling), sent);
    }

    void sceneFileFormat() {
        // (The file beside the settings file: panelsOnDifferentFilesKeepTheirScenes, e2e.)
        QCOMPARE(SceneFile::Encode({scene("A", {{2, 964}}, 10, 4)}),
                 QByteArray("{\n    \"format\": \"dual-slider-scenes\",\n    \"scenes\": [\n"
                            "        {\n            \"gains\": [\n                {\n"
                            "                    \"channel\": 3,\n                    \"gain\": "
                            "964\n                }\n            ],\n            \"name\": \"A\",\n"
                            "            \"outChan\": 5,\n            \"type\": 10,\n"
                            "            \"wholeSwitcher\": false\n        }\n    ],\n"
                            "    \"version\": 1\n}\n"));
        QList<ChannelGain> all;
        for (qint16 c = 0; c < 1025; ++c)
            all.append({c, qint16(c * 16 % 16384)});
        const QList<Scene> scenes{scene("Whole", all),
                                  scene("Vox \u00e9 \U0001F3A4", {{0, 24}, {1, 1264}}),
                                  scene("Bus", {}, 3, 1024)};
        const QString file = path("round.scenes.json");
        QVERIFY(SceneFile::Write(file, scenes).ok);
        const SceneFile::ReadResult read = SceneFile::Read(file);
        QVERIFY2(read.ok(), qPrintable(read.reason));
        QCOMPARE(read.scenes, scenes);
        QVERIFY(SceneFile::Read(path("missing.json")).ok());
    }

    void sceneFileRefused_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<SceneFile::Failure>("failure");
        QTest::addColumn<QString>("reason");
        using F = SceneFile::Failure;
        const auto row = [](const char *name, const QByteArray &bytes, F failure,
                            const QString &reason = {}) {
            QTest::newRow(name) << bytes << failure << reason;
        };
        const QByteArray good =
            R"({"name": "S", "type": 1, "outChan": 1, "wholeSwitcher": false, )";
        row("empty", QByteArray(), F::NotJson,
            "not a scene file: the JSON is broken at byte 0 (illegal value)");
        row("cut", sceneFile(good).chopped(3), F::NotJson,
            "not a scene file: the JSON is broken at byte 120 (unterminated object)");
        row("array", QByteArray("[]"), F::Foreign, "not a scene file of this program");
        row("other tag", QByteArray(R"({"format": "x", "version": 1, "scenes": []})"), F::Foreign);
        row("no version", QByteArray(R"({"format": "dual-slider-scenes", "scenes": []})"),
            F::Foreign);
        row("newer", sceneFile("", "2"), F::Newer,
            "the scenes were saved by a later version of this program (scene "
            "format 2; this version reads format 1)");
        row("no list", QByteArray(R"({"format": "dual-slider-scenes", "version": 1})"), F::BadEntry,
            "the file has no list of scenes");
        row("not object", sceneFile("3"), F::BadEntry, "scene 1 is not an object");
        row("no name", sceneFile(R"({"type": 1})"), F::BadEntry, "scene 1: a scene needs a name");
        row("padded name", sceneFile(R"({"name": " S"})"), F::BadEntry,
            "scene 1: a scene name cannot begin or end with a blank");
        row("line break", sceneFile(R"({"name": "a\nb"})"), F::BadEntry,
            "scene 1: a scene name cannot hold control characters or line breaks");
        row("type 2", sceneFile(R"({"name": "S", "type": 2})"), F::BadEntry,
            "scene 1 (\"S\"): the gain type is not 1, 3 or 10");
        row("out 0", sceneFile(R"({"name": "S", "type": 10, "outChan": 0})"), F::BadEntry,
            "scene 1 (\"S\"): the output channel is not from 1 to 1025");
        row("whole \"yes\"", sceneFile(good.chopped(7) + "\"yes\"}"), F::BadEntry,
            "scene 1 (\"S\"): \"wholeSwitcher\" is not true or false");
        row("no gains", sceneFile(good + "\"gains\": {}}"), F::BadEntry,
            "scene 1 (\"S\"): \"gains\" is not a list of at most 1025 gains");
        const QString gain2 =
            "scene 1 (\"S\"): gain 2 is not a channel from 1 to 1025 with a gain from 0 to 16383";
        for (const char *entry :
             {R"({"channel": 0, "gain": 1})", R"({"channel": 1026, "gain": 1})",
              R"({"channel": 2, "gain": 16384})", R"({"channel": 2, "gain": -1})",
              R"({"channel": 2.5, "gain": 1})", R"({"channel": 2})", "[2, 1]"})
            row(entry, sceneFile(good + R"("gains": [{"channel": 1, "gain": 1}, )" + entry + "]}"),
                F::BadEntry, gain2);
        row("channel twice",
            sceneFile(good + R"("gains": [{"channel": 7, "gain": 1}, {"channel": 7, "gain": 2}]})"),
            F::BadEntry, "scene 1 (\"S\"): channel 7 appears twice");
        row("name twice", sceneFile(good + R"("gains": []}, )" + good + R"("gains": []})"),
            F::BadEntry, "scene 2 (\"S\"): the name is taken twice");
    }
    // A refused file is never written over by the store, which says why.
    void sceneFileRefused() {
        QFETCH(QByteArray, bytes);
        QFETCH(SceneFile::Failure, failure);
        QFETCH(QString, reason);
        const QString file = path("bad.scenes.json");
        put(file, bytes);
        SceneStore store(file);
        const SceneFile::ReadResult read = store.load();
        QCOMPARE(read.failure, failure);
        QVERIFY(read.scenes.isEmpty());
        if (!reason.isEmpty())
            QCOMPARE(read.reason, QDir::toNativeSeparators(file) + ": " + reason + '.');
        const SceneFile::WriteResult stored = store.store(scene("New", {{0, 1024}}));
        QVERIFY(!stored.ok);
        QCOMPARE(stored.reason,
                 read.reason + " The scenes are not saved until the file is repaired or moved.");
        QCOMPARE(TestSupport::FileBytes(file), bytes);
    }

    void readOnlyFolder() {
        // Root writes into any folder whatever its mode: there, a folder of the kernel's.
        const QString folder = ::geteuid() == 0 ? QStringLiteral("/proc") : path("ro");
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        SceneStore store(folder + "/x.scenes.json");
        QVERIFY(store.load().ok());
        const SceneFile::WriteResult stored = store.store(scene("S", {}));
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(!stored.ok);
        QVERIFY2(stored.reason.startsWith(folder + "/x.scenes.json: "), qPrintable(stored.reason));
        QVERIFY(store.scenes().isEmpty());
    }

    void sceneStoreEdits() {
        const QString file = path("edit.scenes.json");
        SceneStore store(file);
        QVERIFY(store.load().ok());
        QVERIFY(store.store(scene("Show", {{0, 1}})).ok);
        QCOMPARE(store.store(scene("Show", {{0, 2}})).reason, "a scene named \"Show\" exists");
        QVERIFY(store.store(scene("Show", {{0, 2}}), true).ok);
        QVERIFY(store.store(scene("Rehearsal", {})).ok);
        QCOMPARE(store.rename("Rehearsal", "Show").reason, "a scene named \"Show\" exists");
        QCOMPARE(store.rename("Rehearsal", "").reason, "a scene needs a name");
        QCOMPARE(store.rename("Gone", "X").reason, "there is no scene named \"Gone\"");
        QVERIFY(store.rename("Rehearsal", "Sound check").ok);
        const QString exported = path("show.json");
        QVERIFY(store.exportTo("Show", exported).ok);
        QCOMPARE(SceneFile::Read(exported).scenes, QList<Scene>{scene("Show", {{0, 2}})});
        QVERIFY(store.importFrom(exported).ok);
        QVERIFY(store.remove("Sound check").ok);
        const QList<Scene> expected{scene("Show", {{0, 2}}), scene("Show (2)", {{0, 2}})};
        QCOMPARE(store.scenes(), expected);
        // An output channel no file takes (from a hand-edited settings file) is not saved.
        const QByteArray kept = TestSupport::FileBytes(file);
        QCOMPARE(store.store(scene("Bus", {}, 10, -5)).reason,
                 file +
                     ": not saved, scene 3 (\"Bus\"): the output channel is not from 1 to 1025.");
        QCOMPARE(TestSupport::FileBytes(file), kept);
        put(exported, "{");
        QVERIFY(!store.importFrom(exported).ok);
        SceneStore again(file);
        QCOMPARE(again.load().scenes, expected);
        QCOMPARE(SceneFile::UniqueName(expected, "Show"), "Show (3)");
        QCOMPARE(SceneFile::UniqueName({scene(QString(100, u'x'), {})}, QString(100, u'x')),
                 QString(96, u'x') + " (2)");
    }

    void recallPlan() {
        const Scene dsp = scene("D", {{9, 500}, {2, 964}, {5, 1024}, {7, 24}}, 10, 3);
        QList<std::tuple<int, int, int>> asked;
        const auto reported = [&](qint16 type, qint16 channel, qint16 out) -> Gain {
            asked.append({type, channel, out});
            if (channel == 7)
                return std::nullopt; // never reported: sent
            return channel == 5 ? qint16(1024) : qint16(channel * 100);
        };
        QCOMPARE(RecallPlan::Differences(dsp, reported),
                 (QList<ChannelGain>{{2, 964}, {7, 24}, {9, 500}}));
        QCOMPARE(asked.first(), std::make_tuple(10, 9, 3));
    }

    // A recall is held at the ceilings like any move; channel 4, reported above its ceiling,
    // is not pulled down by a scene that asks for more.
    void recallHeld() {
        const Scene input = scene("I", {{1, 1100}, {2, 1100}, {3, 1000}, {4, 1264}, {5, 1264}});
        const auto reported = [](qint16, qint16 channel, qint16) -> Gain {
            return channel == 1 ? Gain() : Gain(channel == 4 ? 1200 : 900);
        };
        const auto ceilingOf = [](qint16 channel) { return channel == 5 ? Gain() : Gain(964); };
        QCOMPARE(RecallPlan::Differences(input, reported, ceilingOf),
                 (QList<ChannelGain>{{1, 964}, {2, 964}, {3, 964}, {5, 1264}}));
    }

    void reportedAndCaptured() {
        SwitcherTables tables;
        tables.udtInGain[3].iSource = 964;
        tables.udtInGain[4].iSource = 1024;
        tables.udtInGain[1024].iSource = 24;
        tables.udtOutGain[3].iSource = 500;
        tables.udtXpt[2].bCount = 1;
        tables.udtXpt[2].iSources[0] = 8; // source channel 8 on output 3
        tables.udtXpt[2].iGains[0] = 700;
        const auto reported = [&](qint16 type, qint16 channel, qint16 out) {
            return ReportedGain::OfChannel(tables, type, channel, out);
        };
        QCOMPARE(reported(kTypeInput, 3, 0), Gain(964));
        QCOMPARE(reported(kTypeInput, 5, 0), Gain()); // never reported
        QCOMPARE(reported(kTypeOutput, 3, 0), Gain(500));
        QCOMPARE(reported(kTypeDsp, 7, 2), Gain(700));
        QCOMPARE(reported(kTypeDsp, 7, 1025), Gain());
        QCOMPARE(reported(kTypeInput, 1025, 0), Gain());
        QCOMPARE(reported(2, 3, 0), Gain());
        Settings settings{kTypeInput, {3, 1024}, -9, {}, 1};
        QCOMPARE(SceneCapture::Capture("S", settings, {true, true}, false, reported),
                 scene("S", {{3, 964}, {4, 1024}, {1024, 24}})); // 1025 lies beyond the tables
        QCOMPARE(SceneCapture::Capture("W", settings, {false, false}, true, reported).gains,
                 (QList<ChannelGain>{{3, 964}, {4, 1024}, {1024, 24}}));
        settings = {kTypeDsp, {7, 7}, 2, {}, 1};
        QCOMPARE(SceneCapture::Capture("D", settings, {true, false}, false, reported),
                 scene("D", {{7, 700}}, kTypeDsp, 2));
    }

    // The pace: items i and i + 4 never leave within 10 ms of each other, as a real timer runs.
    void pacerBound() {
        QList<qint64> sentAt;
        QElapsedTimer clock;
        Pacer pacer([&](const ChannelGain &) { sentAt.append(clock.nsecsElapsed()); });
        QSignalSpy progress(&pacer, &Pacer::progress);
        QSignalSpy finished(&pacer, &Pacer::finished);
        QList<ChannelGain> items(201, {0, 0});
        clock.start();
        pacer.start(items);
        QCOMPARE(sentAt.size(), 4);
        QVERIFY(finished.wait(3000));
        QCOMPARE(sentAt.size(), 201);
        for (qsizetype i = 0; i + 4 < sentAt.size(); ++i)
            QVERIFY2(sentAt[i + 4] - sentAt[i] >= 9'500'000, qPrintable(QString::number(i)));
        QCOMPARE(progress.size(), 51);
        QCOMPARE(progress.last(), (QList<QVariant>{201, 201}));
        QCOMPARE(finished.takeFirst(), QList<QVariant>{false});
        QVERIFY(!pacer.isRunning());
    }

    void pacerCancel() {
        int sent = 0;
        Pacer *self = nullptr;
        Pacer pacer([&](const ChannelGain &item) {
            ++sent;
            if (item.first == 9) // the link is lost while sending
                self->cancel();
        });
        self = &pacer;
        QSignalSpy finished(&pacer, &Pacer::finished);
        pacer.start(QList<ChannelGain>(20, {0, 0}) << ChannelGain{9, 0} << ChannelGain{0, 0});
        QVERIFY(finished.wait(1000));
        QCOMPARE(sent, 21);
        QCOMPARE(finished.takeFirst(), QList<QVariant>{true});
        pacer.start(QList<ChannelGain>(40, {0, 0}));
        pacer.start(QList<ChannelGain>(2, {0, 0})); // replaces the first
        QCOMPARE(finished.takeFirst(), QList<QVariant>{true});
        QCOMPARE(finished.takeFirst(), QList<QVariant>{false});
        pacer.cancel(); // idle: nothing
        QTest::qWait(30);
        QCOMPARE(sent, 21 + 4 + 2);
        QVERIFY(finished.isEmpty());
        pacer.start({});
        QCOMPARE(finished.takeFirst(), QList<QVariant>{false});
    }

    void fadePlan_data() {
        QTest::addColumn<qint64>("duration");
        QTest::addColumn<qint64>("late"); // how late each step comes, at most
        QTest::addColumn<int>("steps");
        QTest::newRow("0 s") << qint64(0) << qint64(0) << 1;
        QTest::newRow("1 s") << qint64(1000) << qint64(0) << 50;
        QTest::newRow("1.01 s") << qint64(1010) << qint64(0) << 51;
        // Less than a step late: the next one is due within two steps.
        QTest::newRow("10 s, late steps") << qint64(10000) << qint64(15) << 250; // at least
        QTest::newRow("60 s") << qint64(60000) << qint64(0) << 3000;
    }
    // Steps as a timer would take them, each up to `late` ms after it was due.
    void fadePlan() {
        QFETCH(qint64, duration);
        QFETCH(qint64, late);
        QFETCH(int, steps);
        const FadePlan plan{1264, 24, duration, 5000};
        QCOMPARE(plan.gainAt(4000), duration ? qint16(1264) : qint16(24));
        qint64 t = plan.startMs;
        qint16 last = plan.from;
        int taken = 0;
        do {
            t = plan.nextStepAt(t) + (late ? (taken * 7) % (late + 1) : 0);
            QVERIFY(plan.gainAt(t) <= last);
            last = plan.gainAt(t);
            ++taken;
            if (taken == 1 && !late)
                QCOMPARE(t, plan.startMs + std::min<qint64>(20, duration));
        } while (!plan.doneAt(t));
        QCOMPARE(last, qint16(24));
        QVERIFY(late ? taken >= steps && taken <= duration / 20 : taken == steps);
        QCOMPARE(plan.gainAt(plan.endMs() + 1), qint16(24));
        // Linear, a half away from the start: 1240 units over 1 s.
        QCOMPARE((FadePlan{24, 1264, 1000, 0}.gainAt(500)), qint16(644));
        QCOMPARE((FadePlan{24, 1264, 1000, 0}.gainAt(1)), qint16(25));
        QCOMPARE((FadePlan{1, 0, 2, 0}.gainAt(1)), qint16(0));
        QCOMPARE((FadePlan{0, 1, 2, 0}.gainAt(1)), qint16(1));
    }

    void typedFade_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<Gain>("gain");
        QTest::addColumn<Ms>("ms");
        const Gain no;
        const Ms at;
        const auto row = [](const char *text, const char *locale, Gain gain, Ms ms) {
            QTest::addRow("%s %s", text, locale) << QString::fromUtf8(text) << locale << gain << ms;
        };
        row("-6 3s", "C", 964, 3000);
        row("off 10s", "C", 24, 10000);
        row("-6 2.5 s", "C", 964, 2500);
        row("+3", "C", 1054, at);
        row("+3dB 0.5S", "C", 1054, 500);
        row("-6 0s", "C", 964, 0);
        row("-6 60s", "C", 964, 60000);
        row("-6 007s", "C", 964, 7000);
        row("-6 0.0005s", "C", 964, 1);
        row("-6,5 2,5s", "de_DE", 959, 2500);
        row("-6.5 2.5s", "de_DE", 959, 2500);
        for (const char *bad : {"-6 60.001s", "-6 61s", "-6 100s", "-6 3", "-6s", "3s", "-6 -3s",
                                "-6 3ms", "-6 1e1s", "-6 3s 2s", "loud 3s", "-6 2,5s", " s"})
            row(bad, "C", no, at);
    }
    void typedFade() {
        QFETCH(QString, text);
        QFETCH(QString, locale);
        QFETCH(Gain, gain);
        QFETCH(Ms, ms);
        const std::optional<TypedFade> typed = FadeEntry::ParseTypedFade(text, QLocale(locale));
        QCOMPARE(typed.has_value(), gain.has_value());
        if (typed)
            QCOMPARE(*typed, (TypedFade{*gain, ms}));
    }

    void undoHistory() {
        UndoHistory history;
        const auto step = [](int n) {
            return UndoStep{QString::number(n), {{0, qint16(n), qint16(n + 1)}}};
        };
        history.push(UndoStep{"nothing", {{0, 5, 5}}});
        QVERIFY(!history.canUndo());
        for (int n = 1; n <= 3; ++n)
            history.push(step(n));
        QCOMPARE(history.undo(), step(3));
        QCOMPARE(history.undo(), step(2));
        QCOMPARE(history.redo(), step(2));
        QCOMPARE(history.redoLabel(), "3");
        history.push(step(9)); // drops 3
        QVERIFY(!history.canRedo());
        QCOMPARE(history.undoLabel(), "9");
        for (int n = 10; n < 160; ++n)
            history.push(step(n));
        QCOMPARE(history.size(), 100);
        for (int n = 159; n >= 60; --n)
            QCOMPARE(history.undo(), step(n));
        QVERIFY(!history.undo());
        QCOMPARE(history.redoLabel(), "60");
        history.clear();
        QVERIFY(!history.canRedo() && !history.canUndo() && history.undoLabel().isEmpty());
    }

    void singleInstance() {
        QTemporaryDir runtime;
        const QString ini = path("one.ini");
        SingleInstance first(ini, runtime.path());
        QSignalSpy raised(&first, &SingleInstance::raiseRequested);
        QCOMPARE(first.claim(), SingleInstance::Claim::First);
        // Another name for the same file, not yet created.
        QDir(m_dir.path()).mkpath("sub");
        SingleInstance second(m_dir.path() + "/./sub/../one.ini", runtime.path());
        QCOMPARE(second.lockPath(), first.lockPath());
        QCOMPARE(second.claim(2000), SingleInstance::Claim::Running);
        QCOMPARE(raised.size(), 1);
        SingleInstance other(path("two.ini"), runtime.path());
        QCOMPARE(other.claim(), SingleInstance::Claim::First);
        QCOMPARE(raised.size(), 1);

        // A stale lock, then one held by a live process that does not listen.
        const QString stale = path("stale.ini");
        const QString lock = SingleInstance(stale, runtime.path()).lockPath();
        // A process that has ended: its PID is free.
        const pid_t dead = ::fork();
        if (dead == 0)
            ::_exit(0);
        ::waitpid(dead, nullptr, 0);
        put(lock, QByteArray::number(dead) + "\ndual-slider\n" +
                      QSysInfo::machineHostName().toUtf8() + '\n');
        {
            SingleInstance panel(stale, runtime.path());
            QCOMPARE(panel.claim(), SingleInstance::Claim::First);
        }
        // Held by a live process (this one) that does not listen: no answer, lock kept.
        put(lock, QByteArray::number(QCoreApplication::applicationPid()) + "\ntest_safetynet\n" +
                      QSysInfo::machineHostName().toUtf8() + '\n');
        SingleInstance late(stale, runtime.path());
        QCOMPARE(late.claim(300), SingleInstance::Claim::NoAnswer);
        QVERIFY(QFile::exists(lock));
    }
};

QTEST_MAIN(SafetyNetTest)
#include "test_safetynet.moc"
