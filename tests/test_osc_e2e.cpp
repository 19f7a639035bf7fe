// The OSC surface end to end: the panel's own window (frmMain, in this process) started from a
// settings file with a [SURFACES] section, the switcher simulator as a separate process over
// loopback TCP, and liblo's oscsend and oscdump as the surface. What reaches the switcher is
// read from its trace: the exact set-gain bytes.

#include "app/LinkIndicator.h"
#include "faders/FaderController.h"
#include "support/SimPanel.h"
#include "surfaces/OscSurface.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <csignal>

using TestSupport::Find;
using TestSupport::kWaitMs;
using TestSupport::spinUntil;

namespace {

// A port nothing listens on now (UDP), for the panel or for oscdump.
quint16 FreePort() {
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

} // namespace

class OscEndToEndTest : public QObject {
    Q_OBJECT

    QString m_oscsend, m_oscdump;
    std::unique_ptr<QTemporaryDir> m_dir;
    TestSupport::SimPanel m_panel;
    frmMain *m_form = nullptr;
    quint16 m_oscPort = 0;

    QString settingsPath() const { return m_dir->filePath(QStringLiteral("Slider.ini")); }
    QSlider *fader(int i) const { return m_panel.fader(i); }
    bool shows(int gain0, int gain1) const { return m_panel.shows(gain0, gain1); }
    bool traced(const QString &text) { return m_panel.traced(text); }
    int setCommands() { return int(m_panel.sim->trace().count(QStringLiteral("rx set "))); }

    // The simulator, then the panel from a settings file that points it there, with the
    // [SURFACES] lines given (OSC Port is the free port chosen here unless they name one).
    bool start(const QByteArray &surfaces, const QStringList &simOptions = {}) {
        m_oscPort = FreePort();
        QByteArray section = "; an operator's note\n[SURFACES]\n" + surfaces;
        if (!surfaces.contains("OSC Port="))
            section += "OSC Port=" + QByteArray::number(m_oscPort) + "\n";
        const bool started = m_panel.start(section, simOptions, settingsPath());
        m_form = m_panel.form.get();
        return started && m_panel.connected();
    }

    bool startAndSettle(const QByteArray &surfaces = "OSC Enabled=1\n") {
        return start(surfaces) && spinUntil([this] { return shows(1024, 964); }) &&
               m_form->osc().isListening();
    }

    void send(const QStringList &message) {
        QProcess p;
        p.start(m_oscsend,
                QStringList{QStringLiteral("127.0.0.1"), QString::number(m_oscPort)} + message);
        QVERIFY(p.waitForFinished(kWaitMs));
        QCOMPARE(p.exitCode(), 0);
    }

    // A gain, fader 1 or 2, and what the switcher must get: "input N gain X dB | bytes".
    void sendAndTrace(const QStringList &message, const QString &line) {
        send(message);
        QVERIFY2(traced(QStringLiteral("rx set ") + line), qPrintable(m_panel.sim->trace()));
    }

  private slots:
    void initTestCase() {
        m_oscsend = QStandardPaths::findExecutable(QStringLiteral("oscsend"));
        m_oscdump = QStandardPaths::findExecutable(QStringLiteral("oscdump"));
        if (m_oscsend.isEmpty() || m_oscdump.isEmpty())
            QSKIP("oscsend/oscdump (liblo-tools) are not installed");
    }

    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void cleanup() {
        m_panel.reset();
        m_dir.reset();
    }

    // Every command reaches the switcher as the exact bytes a hand on the panel would send.
    void commandsReachSwitcher() {
        QVERIFY(startAndSettle()); // (the state text once listening: portTaken)

        sendAndTrace({"/dual-slider/fader/1/gain", "f", "-6"},
                     "input 1 gain -6 dB | E3 02 01 01 00 00 00 44 07 4F FF");
        QVERIFY(spinUntil([this] { return shows(964, 964); }));
        sendAndTrace({"/dual-slider/fader/2/gain", "s", "off"},
                     "input 2 gain Off | E3 02 01 01 00 01 00 18 00 1D FF");
        QVERIFY(spinUntil([this] { return shows(964, 24); }));
        sendAndTrace({"/dual-slider/fader/2/position", "f", "1"},
                     "input 2 gain +24 dB | E3 02 01 01 00 01 00 70 09 7E FF");
        QVERIFY(spinUntil([this] { return shows(964, 1264); }));
        sendAndTrace({"/dual-slider/fader/1/zero"},
                     "input 1 gain 0 dB | E3 02 01 01 00 00 00 00 08 0C FF");
        QVERIFY(spinUntil([this] { return shows(1024, 1264); }));

        // Stereo on fader 1: a move sends its channel and the next one, in one command.
        send({"/dual-slider/fader/1/stereo", "i", "1"});
        QVERIFY(spinUntil([this] { return Find<QCheckBox>(m_form, "chkStereo", 0)->isChecked(); }));
        sendAndTrace({"/dual-slider/fader/1/gain", "f", "-3"},
                     "input 1..2 gain -3 dB, -3 dB | E3 02 01 02 00 00 00 62 07 62 07 57 FF");
        QVERIFY(spinUntil([this] { return shows(994, 994); }));
        send({"/dual-slider/fader/1/stereo", "i", "0"});
        QVERIFY(
            spinUntil([this] { return !Find<QCheckBox>(m_form, "chkStereo", 0)->isChecked(); }));

        // Lock Faders: fader 1 carries fader 2 along by the same step.
        send({"/dual-slider/lock", "i", "1"});
        QVERIFY(spinUntil([this] { return Find<QCheckBox>(m_form, "chkLock")->isChecked(); }));
        sendAndTrace({"/dual-slider/fader/1/gain", "f", "-1"},
                     "input 1 gain -1 dB | E3 02 01 01 00 00 00 76 07 01 FF");
        QVERIFY(traced("rx set input 2 gain -1 dB | E3 02 01 01 00 01 00 76 07 02 FF"));
        QVERIFY(spinUntil([this] { return shows(1014, 1014); }));
        for (int r = 0; r < OscSurface::kSurfaceDropCount; ++r)
            QCOMPARE(m_form->osc().surfaceDropCount(OscSurface::SurfaceDrop(r)), quint64(0));

        // A scene recall is handed to the scenes code with its name and time.
        auto &osc = m_form->osc();
        QStringList recalled;
        connect(&osc, &OscSurface::sceneRecallRequested, this,
                [&](const QString &name, std::optional<double> seconds) {
                    recalled << name + u' ' + QString::number(seconds.value_or(-1));
                });
        send({"/dual-slider/scene/recall", "sf", "Show", "2.5"});
        QVERIFY(spinUntil([&] { return !recalled.isEmpty(); }));
        QCOMPARE(recalled, QStringList{QStringLiteral("Show 2.5")});
    }

    // Before the switcher has reported a fader on this connection, a gain for it moves
    // nothing: it is dropped and counted. Once reported, the same command goes through.
    void notYetReportedDropped() {
        QVERIFY(start("OSC Enabled=1\n", {"--latency", "1500", "--down-for", "200"}));
        send({"/dual-slider/fader/1/gain", "f", "-6"});
        const auto &osc = m_form->osc();
        QVERIFY(spinUntil(
            [&] { return osc.surfaceDropCount(OscSurface::SurfaceDrop::NotYetReported) == 1; }));
        QVERIFY2(osc.lastArrival().endsWith(
                     QStringLiteral("(dropped, not yet reported on this connection)")),
                 qPrintable(osc.lastArrival()));
        // Stereo is no gain move: it passes.
        send({"/dual-slider/fader/2/stereo", "i", "1"});
        QVERIFY(spinUntil([this] { return Find<QCheckBox>(m_form, "chkStereo", 1)->isChecked(); }));
        QVERIFY(spinUntil([this] { return shows(1024, 964); }));
        QCOMPARE(setCommands(), 0);
        send({"/dual-slider/fader/1/gain", "f", "-6"});
        QVERIFY(traced("rx set input 1 gain -6 dB | E3 02 01 01 00 00 00 44 07 4F FF"));
        QCOMPARE(osc.surfaceDropCount(OscSurface::SurfaceDrop::NotYetReported), quint64(1));

        // The switcher reboots: on the new connection the same holds until it reports again.
        QSignalSpy connected(&m_form->link(), &SwitcherLink::connected);
        QVERIFY(m_panel.sim->signal(SIGUSR1));
        QVERIFY(spinUntil([&] { return connected.count() > 0; }, 10000));
        send({"/dual-slider/fader/1/gain", "f", "-12"});
        QVERIFY(spinUntil(
            [&] { return osc.surfaceDropCount(OscSurface::SurfaceDrop::NotYetReported) == 2; }));
        QVERIFY(!m_panel.sim->trace().contains(QStringLiteral("rx set input 1 gain -12 dB")));
        auto *faders = m_form->findChild<FaderController *>();
        QVERIFY(spinUntil([&] { return faders->reportedSinceConnect(0) && m_panel.settled(); }));
        send({"/dual-slider/fader/1/gain", "f", "-12"});
        QVERIFY(traced("rx set input 1 gain -12 dB | E3 02 01 01 00 00 00 08 07 13 FF"));
    }

    // oscdump, subscribed by oscsend, gets the state at once and then each change: exact lines.
    void feedbackAfterSubscribe() {
        QVERIFY(startAndSettle());
        const QString dumpPort = QString::number(FreePort());
        QProcess dump;
        dump.start(m_oscdump, {QStringLiteral("-L"), dumpPort});
        QVERIFY(dump.waitForStarted(kWaitMs));
        QByteArray out;
        QProcess subscribe;
        // oscdump may not listen yet when the first subscription arrives: renew until it shows.
        QVERIFY(spinUntil(
            [&] { return (out += dump.readAllStandardOutput()).contains("/dual-slider/link"); },
            kWaitMs,
            [&] {
                if (subscribe.state() == QProcess::NotRunning)
                    subscribe.start(m_oscsend,
                                    {QStringLiteral("127.0.0.1"), QString::number(m_oscPort),
                                     QStringLiteral("/dual-slider/subscribe"), QStringLiteral("i"),
                                     dumpPort});
            }));
        subscribe.waitForFinished(kWaitMs);
        QVERIFY(spinUntil([&] {
            out += dump.readAllStandardOutput();
            return out.contains("/dual-slider/fader/2/caption");
        }));
        for (const char *line :
             {"/dual-slider/fader/1/gain f 0.000000\n", "/dual-slider/fader/2/gain f -6.000000\n",
              "/dual-slider/link s \"Live\"\n", "/dual-slider/fader/1/caption s \"Gain (0db)\"\n",
              "/dual-slider/fader/2/caption s \"Gain (-6db)\"\n"})
            QVERIFY2(out.contains(line), out.constData());
        QCOMPARE(m_form->osc().server().subscribers().size(), std::size_t(1));

        // A change: the reported gain once the switcher confirmed it.
        out.clear();
        send({"/dual-slider/fader/1/gain", "f", "-10"});
        QVERIFY(spinUntil([&] {
            return (out += dump.readAllStandardOutput())
                .contains("/dual-slider/fader/1/gain f -10.000000\n");
        }));
        QVERIFY2(out.contains("/dual-slider/fader/1/caption s \"Gain (-10db)\"\n"),
                 out.constData());
        // Off reads -100.
        out.clear();
        send({"/dual-slider/fader/2/gain", "s", "off"});
        QVERIFY(spinUntil([&] {
            return (out += dump.readAllStandardOutput())
                .contains("/dual-slider/fader/2/gain f -100.000000\n");
        }));
        dump.kill();
        dump.waitForFinished(kWaitMs);
    }

    // Only 10.0.0.1 may send: the panel's own machine is refused and moves nothing.
    void senderNotAllowed() {
        QVERIFY(startAndSettle("OSC Enabled=1\nOSC Allowed=10.0.0.1\n"));
        send({"/dual-slider/fader/1/gain", "f", "-6"});
        const auto &server = m_form->osc().server();
        QVERIFY(spinUntil([&] { return server.dropCount(Osc::DropReason::NotAllowed) == 1; }));
        QVERIFY2(server.lastArrival().contains(QStringLiteral("dropped, sender not allowed")),
                 qPrintable(server.lastArrival()));
        QTest::qWait(200);
        QCOMPARE(setCommands(), 0);
        QVERIFY(shows(1024, 964));
    }

    // A port another program holds: the state and the link indicator say so, the panel runs on
    // without OSC, and the page rebinds to another port and saves it.
    void portTaken() {
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::LocalHost, 0));
        const quint16 taken = holder.localPort();
        QVERIFY(start("OSC Enabled=1\nOSC Port=" + QByteArray::number(taken) + "\n"));
        QVERIFY(!m_form->osc().isListening());
        QVERIFY2(m_form->osc().stateText().contains(QString::number(taken)),
                 qPrintable(m_form->osc().stateText()));
        QCOMPARE(m_form->osc().problem(), QStringLiteral("OSC: port %1 is in use").arg(taken));
        auto *indicator = m_form->findChild<LinkIndicator *>(QStringLiteral("mnuLink"));
        QVERIFY(indicator);
        emit indicator->aboutToShow();
        QStringList facts;
        for (QAction *a : indicator->actions())
            facts << a->text();
        QVERIFY2(facts.contains(QStringLiteral("OSC: port %1 is in use").arg(taken)),
                 qPrintable(facts.join(u'|')));

        // The panel still works: the switcher's state arrives and a key on a fader sends.
        QVERIFY(spinUntil([this] { return shows(1024, 964); }));
        QTest::keyClick(fader(0), Qt::Key_PageUp);
        QVERIFY(traced("rx set input 1 gain +0.5 dB | E3 02 01 01 00 00 00 05 08 11 FF"));

        // The page, through the File menu: it shows the error, then Apply on a free port. (Its
        // fields' accessible names: test_accessibility.)
        Find<QAction>(m_form, "mnuSurfaces")->trigger();
        auto *state = Find<QLineEdit>(m_form, "txtOscState");
        QVERIFY(state->text().contains(QString::number(taken)));
        auto *port = Find<QLineEdit>(m_form, "txtOscPort");
        port->setText(QString::number(m_oscPort));
        Find<QPushButton>(m_form, "cmdOscApply")->click();
        QCOMPARE(state->text(), QStringLiteral("Listening on 127.0.0.1:%1").arg(m_oscPort));
        QCOMPARE(m_form->osc().problem(), QString());
        const QByteArray written = TestSupport::FileBytes(settingsPath());
        QVERIFY2(written.contains("; an operator's note\n[SURFACES]\n") &&
                     written.contains("IP Port=" + QByteArray::number(m_panel.sim->port())) &&
                     written.contains("OSC Port=" + QByteArray::number(m_oscPort)) &&
                     written.contains("OSC Enabled=1"),
                 written.constData());
        send({"/dual-slider/fader/2/gain", "f", "-12"});
        QVERIFY(traced("rx set input 2 gain -12 dB | E3 02 01 01 00 01 00 08 07 14 FF"));
    }
};

QTEST_MAIN(OscEndToEndTest)
#include "test_osc_e2e.moc"
