// End to end over real loopback TCP: the panel's own window, link and protocol code in this
// process against the switcher simulator as a separate process, both as they ship. Each case
// waits on what the user would see (fader positions and gain captions) with a deadline; the
// last one reboots the switcher under the panel.

#include "app/frmMain.h"
#include "faders/GainScale.h"
#include "support/Controls.h"
#include "support/EventLoop.h"
#include "support/SettingsFile.h"
#include "support/SimProcess.h"
#include "transport/SwitcherLink.h"

#include <QAction>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSlider>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <functional>
#include <memory>

using TestSupport::Find;

namespace {

// Bounded waits, generous enough for a sanitizer build on a busy machine.
constexpr int kWaitMs = 5000;

// The simulator's documented start-up state: input gains repeat this pattern from input 1,
// output gains from output 1 three places further on (-10 dB); second gains are all 0 dB.
constexpr int kPattern[] = {1024, 964, 1054, 924, 1124, 824, 24, 1000};
constexpr int kPatternSize = int(std::size(kPattern));
constexpr int kOutputOffset = 3;
constexpr int kZeroDb = 1024;

int inputGain(int c) {
    return kPattern[c % kPatternSize];
}
int outputGain(int c) {
    return kPattern[(c + kOutputOffset) % kPatternSize];
}

bool spinUntil(const std::function<bool()> &done, int timeoutMs = kWaitMs,
               const std::function<void()> &watch = {}) {
    return TestSupport::spinUntil(done, timeoutMs, watch);
}

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TestSupport::SimProcess> m_sim;
    std::unique_ptr<frmMain> m_form;
    const SwitcherTables *m_tables = nullptr;
    Settings m_settings; // what the panel is set to when it connects

    QSlider *fader(int i) const { return Find<QSlider>(m_form.get(), "sliGain", i); }
    QString caption(int i) const { return Find<QLabel>(m_form.get(), "lblGain", i)->text(); }
    const SwitcherTables &tables() const { return *m_tables; }
    const ReceiveBuffer &sBuffer() const { return m_form->link().sBuffer(); }

    // No refresh pending and nothing left to decode: what the faders show is final.
    bool settled() const {
        return !Find<QTimer>(m_form.get(), "tmrGain")->isActive() && sBuffer().isEmpty();
    }

    // Both faders at these gains, with their captions, and nothing pending. (The captions'
    // words for each gain are the fader tests' to check.)
    bool shows(int gain0, int gain1) const {
        return settled() && fader(0)->value() == -gain0 && fader(1)->value() == -gain1 &&
               caption(0) == GainScale::GainCaption(qint16(gain0)) &&
               caption(1) == GainScale::GainCaption(qint16(gain1));
    }

    void startSim(const QStringList &options = {}) {
        m_sim = std::make_unique<TestSupport::SimProcess>();
        QVERIFY2(m_sim->start(options), qPrintable(m_sim->error()));
    }

    // Starts the simulator and connects the panel to it, the way the Connect menu does.
    void connectTo(const QStringList &options = {}) {
        startSim(options);
        if (QTest::currentTestFailed())
            return;
        m_settings.sIPAddress = QStringLiteral("127.0.0.1");
        m_settings.lIPPort = m_sim->port();
        m_form->ApplySetup(m_settings); // a new address: connects there
        QVERIFY(spinUntil([this] { return m_form->link().bConnected(); }));
    }

    // Connects and waits for the default state (input gains, channels 1 and 2) on screen.
    void connectAndSettle(const QStringList &options = {}) {
        connectTo(options);
        if (QTest::currentTestFailed())
            return;
        // The answer ends with the crosspoint reports: the four of outputs 1 and 2 go to the
        // last counter, and those of outputs 65 and 66, where the switcher has them, follow.
        QVERIFY(spinUntil([this] {
            return tables().iMsgCount[9] == 4 &&
                   (tables().udtXpt[64].sMap.isEmpty() || tables().iMsgCount[7] > 0) &&
                   shows(1024, 964);
        }));
    }

    bool traced(const QString &text, int timeoutMs = kWaitMs) {
        return spinUntil([&] { return m_sim->trace().contains(text); }, timeoutMs);
    }

  private slots:
    void init() {
        m_settings = Settings{};
        m_form = std::make_unique<frmMain>();
        m_tables = &m_form->link().tables();
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }

    void cleanup() {
        m_form.reset();
        TestSupport::removeSettingsFile();
        if (!m_sim || m_sim->port() == 0) { // never got going: start() has said why
            m_sim.reset();
            return;
        }
        const bool wasRunning = m_sim->running();
        const bool stoppedCleanly = m_sim->stop();
        if (QTest::currentTestFailed())
            qInfo().noquote() << "switcher-sim trace:\n" << m_sim->trace();
        m_sim.reset();
        // The simulator must have survived the panel and must end cleanly when told to.
        QVERIFY(wasRunning);
        QVERIFY(stoppedCleanly);
    }

    // The switcher greets, the panel answers and asks, and the whole state arrives: in the
    // tables, on the faders for each gain type, and in the counters panel.
    void stateArrives_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("outChan");
        QTest::addColumn<int>("gain0");
        QTest::addColumn<int>("gain1");
        QTest::newRow("input gain") << 1 << 0 << 1024 << 964;
        QTest::newRow("output gain") << 3 << 0 << 924 << 1124;
        QTest::newRow("DSP output 2") << 10 << 1 << 964 << 1024;
    }
    void stateArrives() {
        QFETCH(int, type);
        QFETCH(int, outChan);
        QFETCH(int, gain0);
        QFETCH(int, gain1);
        m_settings.iType = qint16(type);
        m_settings.iOutChan = qint16(outChan);
        connectTo();
        QVERIFY(!QTest::currentTestFailed());
        // The last crosspoint report of the answer is for output 66.
        QVERIFY(spinUntil([&] { return tables().iMsgCount[7] > 0 && shows(gain0, gain1); }));

        QVERIFY(traced("rx greeting reply | 81 96 16 FF"));
        QVERIFY(traced("rx information request"));
        QCOMPARE(m_sim->trace().count("rx information request"), 1);
        // Every value of the switcher's state reaching the tables is the soak's check; here the
        // ends of the ranges.
        for (int c : {0, 127}) {
            QCOMPARE(tables().udtInGain[c].iSource, qint16(inputGain(c)));
            QCOMPARE(tables().udtOutGain[c].iSource, qint16(outputGain(c)));
        }
        QCOMPARE(tables().udtInGain[128].iSource, qint16(0)); // beyond the switcher's 128 inputs
        QCOMPARE(tables().udtXpt[64].bCount, quint8(4));
        QCOMPARE(tables().udtXpt[65].iSources[3], qint16(68));
        QCOMPARE(tables().udtXpt[65].iGains[3], qint16(1024));
        QCOMPARE(tables().udtXpt[2].bCount, quint8(0));

        // One report for each watched crosspoint of outputs 65 and 66; the four crosspoints
        // of outputs 1 and 2 go to the last counter.
        const QList<int> counts{1, 1, 1, 1, 1, 1, 1, 1, 0, 4};
        for (int k = 0; k < kCounterCount; ++k) {
            QCOMPARE(int(tables().iMsgCount[k]), counts[k]);
            QCOMPARE(Find<QLineEdit>(m_form.get(), "txtCount", k)->text(),
                     QString::number(counts[k]));
        }
    }

    // A key on the fader sends the command; the switcher confirms it and the fader stays at
    // the new value through the refresh, now as the switcher's own value.
    void movementConfirmed() {
        connectAndSettle();
        QVERIFY(!QTest::currentTestFailed());
        QTest::keyClick(fader(0), Qt::Key_PageUp);
        QCOMPARE(fader(0)->value(), -1029);
        QCOMPARE(caption(0), QString("Gain (+0.5db)"));
        QVERIFY(Find<QTimer>(m_form.get(), "tmrGain")->isActive());
        QCOMPARE(tables().udtInGain[0].iSource, qint16(1024)); // not until the switcher says so

        QVERIFY(spinUntil(
            [this] { return tables().udtInGain[0].iSource == 1029 && shows(1029, 964); }));
        QVERIFY(traced("rx set input 1 gain +0.5 dB | E3 02 01 01 00 00 00 05 08 11 FF"));
        QVERIFY(traced("tx input 1 gain +0.5 dB | E3 00 01 01 00 00 00 05 08 0F FF"));
    }

    // The switcher reboots (down for a second): the panel comes back by itself, is greeted,
    // asks once more, and its tables are filled again from the new answer.
    void panelRidesOutAReboot() {
        connectAndSettle({"--down-for", "1000", "--inputs", "4", "--outputs", "2"});
        QVERIFY(!QTest::currentTestFailed());
        SwitcherLink &link = m_form->link();
        link.tables().udtInGain[1].iSource = 0; // only the switcher's next answer restores it
        QSignalSpy lost(&link, &SwitcherLink::connectionLost);
        QVERIFY(m_sim->signal(SIGUSR1));
        QVERIFY(spinUntil([&] { return lost.size() == 1; }, 2000));
        QVERIFY(spinUntil([&] { return tables().udtInGain[1].iSource == 964; }, 8000));
        QCOMPARE(link.state(), LinkState::Live);
        QCOMPARE(Find<QAction>(m_form.get(), "mnuConnect")->text(), QString("&Disconnect"));
        QCOMPARE(m_sim->trace().count("rx greeting reply"), 2);
        QCOMPARE(m_sim->trace().count("rx information request"), 2);
    }
};

QTEST_MAIN(EndToEndTest)
#include "test_e2e.moc"
