// MIDI end to end: a controller made with python3-rtmidi on a private JACK server (dummy back
// end), the panel's own window in this process with a settings file naming the ports, and the
// switcher simulator as a separate process. What the switcher receives is checked byte for byte
// in its trace; what the controller's motors receive, message for message.

#include "support/JackServer.h"
#include "support/MidiController.h"
#include "support/SimPanel.h"
#include "surfaces/MidiSurface.h"

#include <QProcess>

using TestSupport::spinUntil;

class MidiEndToEndTest : public QObject {
    Q_OBJECT

    QProcess m_jack;
    QProcess m_controller;
    QStringList m_feedback; // every message the controller's input received, as hex
    TestSupport::SimPanel m_panel;

    MidiSurface &midi() { return m_panel.form->midi(); }
    QSlider *fader(int i) { return m_panel.fader(i); }

    bool startController() { return TestSupport::StartMidiController(m_controller); }
    void stopController() {
        m_controller.kill();
        m_controller.waitForFinished(2000);
    }
    const QStringList &feedback() {
        while (m_controller.canReadLine())
            m_feedback << QString::fromLatin1(m_controller.readLine().trimmed());
        return m_feedback;
    }
    void send(const char *messages) { m_controller.write(QByteArray(messages) + '\n'); }
    bool traced(const QString &text) { return m_panel.traced(text); }
    int setGainCount() { return int(m_panel.sim->trace().count(QStringLiteral("rx set input"))); }

    // The simulator, and the panel started from a settings file that binds the controller;
    // true once its ports are open.
    bool start(const QByteArray &bindings, const QStringList &simOptions = {}) {
        if (!m_panel.start("[SURFACES]\nMIDI Input=ctl:out\nMIDI Output=ctlfb:in\n" + bindings,
                           simOptions))
            return false;
        if (midi().inputOpen() && midi().outputOpen())
            return true;
        qWarning("MIDI: %s", qPrintable(midi().availability()));
        return false;
    }
    // The switcher's answer has been taken in: both faders reported on this connection.
    bool reported() {
        return spinUntil([&] { return m_panel.tables().iMsgCount[9] == 4; });
    }

  private slots:
    void initTestCase() {
        if (const QString why = TestSupport::JackMidiUnavailable(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QVERIFY(TestSupport::StartJackServer(m_jack, "ds-test-midi-e2e"));
        // The controller's ports come up once the server answers.
        QVERIFY(QTest::qWaitFor([&] { return startController(); }, 5000));
    }
    void cleanupTestCase() {
        stopController();
        TestSupport::StopJackServer(m_jack);
    }
    void cleanup() {
        m_panel.reset();
        TestSupport::removeSettingsFile();
        feedback();
        m_feedback.clear();
    }

    // Each kind of fader control moves the panel's fader 1, and the switcher receives the
    // command for exactly the gain the control's position means.
    void controlsMoveTheFader_data() {
        QTest::addColumn<QByteArray>("binding");
        QTest::addColumn<QByteArray>("messages");
        QTest::addColumn<QStringList>("commands");
        QTest::newRow("cc 100 of 127: -2.4 dB") << QByteArray("cc 1 7 jump") << QByteArray("b00764")
                                                << QStringList{"E3 02 01 01 00 00 00 68 07 73 FF"};
        // The MSB alone is 7-bit resolution (+7.5 dB); the LSB refines it to +8 dB.
        QTest::newRow("cc14 14269 of 16383: +8 dB")
            << QByteArray("cc14 1 0 jump") << QByteArray("b0006f b0203d")
            << QStringList{"E3 02 01 01 00 00 00 4B 08 57 FF", "E3 02 01 01 00 00 00 50 08 5C FF"};
        QTest::newRow("pitch bend centre: -38 dB")
            << QByteArray("pitchbend 3 jump") << QByteArray("e20040")
            << QStringList{"E3 02 01 01 00 00 00 04 05 0D FF"};
    }
    void controlsMoveTheFader() {
        QFETCH(QByteArray, binding);
        QFETCH(QByteArray, messages);
        QFETCH(QStringList, commands);
        QVERIFY(start("MIDI Fader 1=" + binding + "\n"));
        QVERIFY(reported());
        send(messages);
        for (const QString &command : commands)
            QVERIFY2(traced("| " + command), qPrintable(m_panel.sim->trace().right(600)));
        QCOMPARE(setGainCount(), commands.size());
    }

    // A control far from the panel's fader moves nothing until it crosses it; resting at the
    // bottom before that never switches the channel Off. Once picked up, it follows.
    void farControlPicksUp() {
        QVERIFY(start("MIDI Fader 1=cc 1 7\n"));
        QVERIFY(reported());
        send("b00700 b00714 b00740");
        QVERIFY(spinUntil([&] { return midi().lastArrived() == "cc 1 7 = 64"; }));
        QCOMPARE(midi().lastOutcome(),
                 QStringLiteral("Fader 1 waiting for pickup: the control is at %1, the panel at %2")
                     .arg(GainScale::GainCaption(649), GainScale::GainCaption(1024)));
        QTest::qWait(100);
        QCOMPARE(setGainCount(), 0);
        QCOMPARE(fader(0)->value(), -1024);
        send("b0076e"); // 110 crosses the panel's 0 dB (102.4 of 127)
        QVERIFY(traced("| E3 02 01 01 00 00 00 4A 08 56 FF"));
        QVERIFY(midi().pickedUp(0));
        send("b00700"); // picked up: the bottom is Off like any other position
        QVERIFY(traced("| E3 02 01 01 00 00 00 18 00 1C FF"));
        QCOMPARE(setGainCount(), 2);
    }

    // The switcher's gain goes to the motor; not while the control moves, but once the hand
    // has been off it for 300 ms; and again when the panel's fader moves by its own keys.
    void motorFeedback() {
        QVERIFY(start("MIDI Fader 1=cc 1 7 motor\n"));
        QVERIFY(reported());
        QVERIFY(spinUntil([&] { return feedback().contains("b00766"); })); // 0 dB: 102
        send("b0075a");
        QVERIFY(traced("rx set input 1 gain -12.1 dB"));
        QVERIFY(traced("tx input 1 gain -12.1 dB"));
        QElapsedTimer sinceInput;
        sinceInput.start();
        QVERIFY(spinUntil([&] { return feedback().size() == 2; }));
        QVERIFY2(sinceInput.elapsed() >= 250, qPrintable(QString::number(sinceInput.elapsed())));
        QCOMPARE(feedback().last(), QStringLiteral("b0075a"));
        QTest::keyClick(fader(0), Qt::Key_PageUp);
        QVERIFY(spinUntil([&] { return feedback().size() == 3; }));
        QCOMPARE(feedback().last(), QStringLiteral("b0075b"));
    }

    // The controller goes away and comes back: the panel says so and the binding works again.
    void controllerReplugged() {
        QVERIFY(start("MIDI Fader 1=cc 1 7 jump\n"));
        QVERIFY(reported());
        stopController();
        QVERIFY(spinUntil([&] { return midi().portState().contains("lost"); }, 2500));
        QVERIFY(!midi().inputOpen());
        QVERIFY(startController());
        QVERIFY(spinUntil([&] { return midi().inputOpen() && midi().outputOpen(); }, 2500));
        QVERIFY2(midi().portState().contains("found again"), qPrintable(midi().portState()));
        send("b00764");
        QVERIFY(traced("| E3 02 01 01 00 00 00 68 07 73 FF"));
    }

    // Until the switcher has reported the fader on this connection, no control moves it.
    void nothingBeforeTheReport() {
        QVERIFY(start("MIDI Fader 1=cc 1 7 jump\nMIDI Zero 1=note 1 60\n", {"--latency", "400"}));
        QVERIFY(spinUntil([&] { return m_panel.form->link().bConnected(); }));
        send("b00764 903c7f");
        QVERIFY(spinUntil([&] { return midi().lastArrived() == "note on 1 60"; }));
        QCOMPARE(midi().lastOutcome(), QStringLiteral("0db 1 held: the switcher has not "
                                                      "reported the fader on this connection "
                                                      "yet"));
        QVERIFY(reported());
        QTest::qWait(100);
        QCOMPARE(setGainCount(), 0);
        send("b00764");
        QVERIFY(traced("| E3 02 01 01 00 00 00 68 07 73 FF"));
    }

    // A button learned for a scene takes the first free scene key, is written to the file and
    // recalls that scene by name when pressed.
    void sceneButtonLearned() {
        QVERIFY(start("MIDI Fader 1=cc 1 7 jump\n"));
        QVERIFY(reported());
        QStringList recalled;
        connect(&midi(), &MidiSurface::sceneRecallRequested, this,
                [&](const QString &name, std::optional<double>) { recalled << name; });
        midi().learnScene(QStringLiteral("  Second  half "));
        send("903d7f");
        QVERIFY(spinUntil([&] { return !midi().learning(); }));
        QCOMPARE(midi().lastOutcome(), QStringLiteral("learned for scene \"Second half\""));
        QVERIFY(TestSupport::readSettingsFile().contains("MIDI Scene 1=note 1 61 Second half"));
        send("903d7f");
        QVERIFY(spinUntil([&] { return !recalled.isEmpty(); }));
        QCOMPARE(recalled, QStringList{"Second half"});
    }
};

QTEST_MAIN(MidiEndToEndTest)
#include "test_midi_e2e.moc"
