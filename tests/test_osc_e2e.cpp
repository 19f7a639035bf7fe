// The OSC surface end to end: the panel's own window (frmMain, in this process) started from a
// settings file with a [SURFACES] section, the switcher simulator as a separate process over
// loopback TCP, and liblo's oscsend and oscdump as the surface. What reaches the switcher is
// read from its trace: the exact set-gain bytes.

#include "app/LinkIndicator.h"
#include "app/frmMain.h"
#include "faders/FaderController.h"
#include "faders/GainScale.h"
#include "support/Controls.h"
#include "support/EventLoop.h"
#include "support/SimProcess.h"
#include "surfaces/OscSurface.h"
#include "transport/SwitcherLink.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>
#include <QtTest>
#include <csignal>
#include <functional>
#include <memory>

using TestSupport::Find;

namespace {

constexpr int kWaitMs = 5000;

bool spinUntil(const std::function<bool()> &done, int timeoutMs = kWaitMs,
               const std::function<void()> &watch = {}) {
    return TestSupport::spinUntil(done, timeoutMs, watch);
}

// A port nothing listens on now (UDP), for the panel or for oscdump.
quint16 FreePort() {
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

// The set-gain command for inputs from `input` on, as the switcher receives it, in the trace's
// hex: status, command marker, kind (input), count, a zero, the first channel and each gain in
// two 7-bit groups (low first), the checksum (the sum of the bytes between status and
// checksum, 7 bits) and the end byte.
QString SetInputBytes(int input, std::initializer_list<int> gains) {
    std::vector<int> bytes{0x02, 0x01, int(gains.size()), 0x00, input - 1, 0x00};
    for (int gain : gains) {
        bytes.push_back(gain & 0x7F);
        bytes.push_back(gain >> 7);
    }
    int sum = 0;
    QStringList hex{QStringLiteral("E3")};
    for (int b : bytes) {
        sum += b;
        hex << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    }
    hex << QStringLiteral("%1").arg(sum & 0x7F, 2, 16, QLatin1Char('0')).toUpper()
        << QStringLiteral("FF");
    return hex.join(u' ');
}
QString SetInputBytes(int input, int gain) {
    return SetInputBytes(input, {gain});
}

} // namespace

class OscEndToEndTest : public QObject {
    Q_OBJECT

    QString m_oscsend, m_oscdump;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TestSupport::SimProcess> m_sim;
    std::unique_ptr<frmMain> m_form;
    quint16 m_oscPort = 0;

    QString settingsPath() const { return m_dir->filePath(QStringLiteral("Slider.ini")); }
    QSlider *fader(int i) const { return Find<QSlider>(m_form.get(), "sliGain", i); }
    const SwitcherTables &tables() const { return m_form->link().tables(); }
    bool settled() const {
        return !Find<QTimer>(m_form.get(), "tmrGain")->isActive() &&
               m_form->link().sBuffer().isEmpty();
    }
    bool shows(int gain0, int gain1) const {
        return settled() && fader(0)->value() == -gain0 && fader(1)->value() == -gain1;
    }
    bool traced(const QString &text, int timeoutMs = kWaitMs) {
        return spinUntil([&] { return m_sim->trace().contains(text); }, timeoutMs);
    }
    int setCommands() { return int(m_sim->trace().count(QStringLiteral("rx set "))); }

    // The simulator, then the panel from a settings file that points it there, with the
    // [SURFACES] lines given (OSC Port is the free port chosen here unless they name one).
    void start(const QByteArray &surfaces, const QStringList &simOptions = {}) {
        m_sim = std::make_unique<TestSupport::SimProcess>();
        QVERIFY2(m_sim->start(simOptions), qPrintable(m_sim->error()));
        m_oscPort = FreePort();
        QByteArray file = "; an operator's note\n[CONFIGURATION]\nType=1\nChan 1=1\nChan 2=2\n"
                          "Out Chan=1\nIP Address=127.0.0.1\nIP Port=" +
                          QByteArray::number(m_sim->port()) + "\n[SURFACES]\n" + surfaces;
        if (!surfaces.contains("OSC Port="))
            file += "OSC Port=" + QByteArray::number(m_oscPort) + "\n";
        QFile out(settingsPath());
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
        out.close();
        m_form = std::make_unique<frmMain>(settingsPath());
        m_form->show();
        m_form->Form_Load();
        QVERIFY(spinUntil([this] { return m_form->link().bConnected(); }));
    }

    void startAndSettle(const QByteArray &surfaces = "OSC Enabled=1\n") {
        start(surfaces);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(spinUntil([this] { return shows(1024, 964); }));
        QVERIFY(m_form->osc().isListening());
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
        QVERIFY2(traced(QStringLiteral("rx set ") + line), qPrintable(m_sim->trace()));
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
        m_form.reset();
        if (m_sim && QTest::currentTestFailed())
            qInfo().noquote() << "switcher-sim trace:\n" << m_sim->trace();
        m_sim.reset();
        m_dir.reset();
    }

    // Every command reaches the switcher as the exact bytes a hand on the panel would send.
    void commandsReachSwitcher() {
        startAndSettle();
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(m_form->osc().stateText(),
                 QStringLiteral("Listening on 127.0.0.1:%1").arg(m_oscPort));

        sendAndTrace({"/dual-slider/fader/1/gain", "f", "-6"},
                     "input 1 gain -6 dB | " + SetInputBytes(1, 964));
        QVERIFY(spinUntil([this] { return shows(964, 964); }));
        sendAndTrace({"/dual-slider/fader/2/gain", "s", "off"},
                     "input 2 gain Off | " + SetInputBytes(2, 24));
        QVERIFY(spinUntil([this] { return shows(964, 24); }));
        sendAndTrace({"/dual-slider/fader/2/position", "f", "1"},
                     "input 2 gain +24 dB | " + SetInputBytes(2, 1264));
        QVERIFY(spinUntil([this] { return shows(964, 1264); }));
        sendAndTrace({"/dual-slider/fader/1/zero"},
                     "input 1 gain 0 dB | " + SetInputBytes(1, 1024));
        QVERIFY(spinUntil([this] { return shows(1024, 1264); }));

        // Stereo on fader 1: a move sends its channel and the next one, in one command.
        send({"/dual-slider/fader/1/stereo", "i", "1"});
        QVERIFY(spinUntil(
            [this] { return Find<QCheckBox>(m_form.get(), "chkStereo", 0)->isChecked(); }));
        sendAndTrace({"/dual-slider/fader/1/gain", "f", "-3"},
                     "input 1..2 gain -3 dB, -3 dB | " + SetInputBytes(1, {994, 994}));
        QVERIFY(spinUntil([this] { return shows(994, 994); }));
        send({"/dual-slider/fader/1/stereo", "i", "0"});
        QVERIFY(spinUntil(
            [this] { return !Find<QCheckBox>(m_form.get(), "chkStereo", 0)->isChecked(); }));

        // Lock Faders: fader 1 carries fader 2 along by the same step.
        send({"/dual-slider/lock", "i", "1"});
        QVERIFY(
            spinUntil([this] { return Find<QCheckBox>(m_form.get(), "chkLock")->isChecked(); }));
        sendAndTrace({"/dual-slider/fader/1/gain", "f", "-1"},
                     "input 1 gain -1 dB | " + SetInputBytes(1, 1014));
        QVERIFY(traced("rx set input 2 gain -1 dB | " + SetInputBytes(2, 1014)));
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
        start("OSC Enabled=1\n", {QStringLiteral("--latency"), QStringLiteral("1500"),
                                  QStringLiteral("--down-for"), QStringLiteral("200")});
        QVERIFY(!QTest::currentTestFailed());
        send({"/dual-slider/fader/1/gain", "f", "-6"});
        const auto &osc = m_form->osc();
        QVERIFY(spinUntil(
            [&] { return osc.surfaceDropCount(OscSurface::SurfaceDrop::NotYetReported) == 1; }));
        QVERIFY2(osc.lastArrival().endsWith(
                     QStringLiteral("(dropped, not yet reported on this connection)")),
                 qPrintable(osc.lastArrival()));
        // Stereo is no gain move: it passes.
        send({"/dual-slider/fader/2/stereo", "i", "1"});
        QVERIFY(spinUntil(
            [this] { return Find<QCheckBox>(m_form.get(), "chkStereo", 1)->isChecked(); }));
        QVERIFY(spinUntil([this] { return shows(1024, 964); }));
        QCOMPARE(setCommands(), 0);
        send({"/dual-slider/fader/1/gain", "f", "-6"});
        QVERIFY(traced("rx set input 1 gain -6 dB | " + SetInputBytes(1, 964)));
        QCOMPARE(osc.surfaceDropCount(OscSurface::SurfaceDrop::NotYetReported), quint64(1));

        // The switcher reboots: on the new connection the same holds until it reports again.
        QSignalSpy connected(&m_form->link(), &SwitcherLink::connected);
        QVERIFY(m_sim->signal(SIGUSR1));
        QVERIFY(spinUntil([&] { return connected.count() > 0; }, 10000));
        send({"/dual-slider/fader/1/gain", "f", "-12"});
        QVERIFY(spinUntil(
            [&] { return osc.surfaceDropCount(OscSurface::SurfaceDrop::NotYetReported) == 2; }));
        QVERIFY(!m_sim->trace().contains(QStringLiteral("rx set input 1 gain -12 dB")));
        auto *faders = m_form->findChild<FaderController *>();
        QVERIFY(spinUntil([&] { return faders->reportedSinceConnect(0) && settled(); }));
        send({"/dual-slider/fader/1/gain", "f", "-12"});
        QVERIFY(traced("rx set input 1 gain -12 dB | " + SetInputBytes(1, 904)));
    }

    // oscdump, subscribed by oscsend, gets the state at once and then each change: exact lines.
    void feedbackAfterSubscribe() {
        startAndSettle();
        QVERIFY(!QTest::currentTestFailed());
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
        startAndSettle("OSC Enabled=1\nOSC Allowed=10.0.0.1\n");
        QVERIFY(!QTest::currentTestFailed());
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
        start("OSC Enabled=1\nOSC Port=" + QByteArray::number(taken) + "\n");
        QVERIFY(!QTest::currentTestFailed());
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
        QVERIFY(traced("rx set input 1 gain +0.5 dB | " + SetInputBytes(1, 1029)));

        // The page, through the File menu: it shows the error, then Apply on a free port.
        Find<QAction>(m_form.get(), "mnuSurfaces")->trigger();
        auto *state = Find<QLineEdit>(m_form.get(), "txtOscState");
        QVERIFY(state->text().contains(QString::number(taken)));
        QVERIFY(state->accessibleName().contains(QStringLiteral("State")));
        auto *port = Find<QLineEdit>(m_form.get(), "txtOscPort");
        QVERIFY(port->accessibleName().contains(QStringLiteral("Port")));
        port->setText(QString::number(m_oscPort));
        Find<QPushButton>(m_form.get(), "cmdOscApply")->click();
        QCOMPARE(state->text(), QStringLiteral("Listening on 127.0.0.1:%1").arg(m_oscPort));
        QCOMPARE(m_form->osc().problem(), QString());
        QFile file(settingsPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray written = file.readAll();
        QVERIFY2(written.startsWith("; an operator's note\n") &&
                     written.contains("IP Port=" + QByteArray::number(m_sim->port())) &&
                     written.contains("OSC Port=" + QByteArray::number(m_oscPort)) &&
                     written.contains("OSC Enabled=1"),
                 written.constData());
        send({"/dual-slider/fader/2/gain", "f", "-12"});
        QVERIFY(traced("rx set input 2 gain -12 dB | " + SetInputBytes(2, 904)));
    }
};

QTEST_MAIN(OscEndToEndTest)
#include "test_osc_e2e.moc"
