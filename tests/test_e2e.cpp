// End to end over real loopback TCP: the panel's own window, link and protocol code in this
// process against the switcher simulator as a separate process, both as they ship. Each case
// waits on what the user would see (fader positions and gain captions) with a deadline; the
// last one reboots the switcher under the panel.

#include "support/SimPanel.h"

#include <QAction>
#include <QLineEdit>
#include <QSignalSpy>
#include <csignal>

using TestSupport::Find;
using TestSupport::spinUntil;

namespace {

// The simulator's documented start-up state: input gains repeat this pattern from input 1,
// output gains from output 1 three places further on (-10 dB); second gains are all 0 dB.
constexpr int kPattern[] = {1024, 964, 1054, 924, 1124, 824, 24, 1000};
constexpr int kPatternSize = int(std::size(kPattern));
constexpr int kOutputOffset = 3;

int inputGain(int c) {
    return kPattern[c % kPatternSize];
}
int outputGain(int c) {
    return kPattern[(c + kOutputOffset) % kPatternSize];
}

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

    TestSupport::SimPanel m_panel;
    Settings m_settings; // what the panel is set to when it connects

    QSlider *fader(int i) const { return m_panel.fader(i); }
    const SwitcherTables &tables() const { return m_panel.tables(); }
    bool shows(int gain0, int gain1) const { return m_panel.shows(gain0, gain1); }
    bool traced(const QString &text) { return m_panel.traced(text); }

    // Starts the simulator and connects the panel to it, the way the Connect menu does.
    bool connectTo(const QStringList &options = {}) {
        if (!m_panel.startSim(options))
            return false;
        m_settings.sIPAddress = QStringLiteral("127.0.0.1");
        m_settings.lIPPort = m_panel.sim->port();
        m_panel.form->ApplySetup(m_settings); // a new address: connects there
        return m_panel.connected();
    }

    // Connects and waits for the default state (input gains, channels 1 and 2) on screen.
    bool connectAndSettle(const QStringList &options = {}) {
        // The answer ends with the crosspoint reports: the four of outputs 1 and 2 go to the
        // last counter, and those of outputs 65 and 66, where the switcher has them, follow.
        return connectTo(options) && spinUntil([this] {
                   return tables().iMsgCount[9] == 4 &&
                          (tables().udtXpt[64].sMap.isEmpty() || tables().iMsgCount[7] > 0) &&
                          shows(1024, 964);
               });
    }

  private slots:
    void init() {
        m_settings = Settings{};
        m_panel.form = std::make_unique<frmMain>();
        m_panel.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_panel.form.get()));
    }

    void cleanup() {
        m_panel.form.reset();
        TestSupport::removeSettingsFile();
        // The simulator must have survived the panel and must end cleanly when told to.
        if (m_panel.sim && m_panel.sim->port() != 0) {
            const bool wasRunning = m_panel.sim->running();
            const bool stoppedCleanly = m_panel.sim->stop();
            m_panel.reset();
            QVERIFY(wasRunning);
            QVERIFY(stoppedCleanly);
        }
        m_panel.reset();
    }

    // The switcher greets, the panel answers and asks, and the whole state arrives: in the
    // tables (output gains included), on the faders of an input and a DSP panel, and in the
    // counters panel. Which table an output panel's faders show is updateGainShowsReports'.
    void stateArrives_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("outChan");
        QTest::addColumn<int>("gain0");
        QTest::addColumn<int>("gain1");
        QTest::newRow("input gain") << 1 << 0 << 1024 << 964;
        QTest::newRow("DSP output 2") << 10 << 1 << 964 << 1024;
    }
    void stateArrives() {
        QFETCH(int, type);
        QFETCH(int, outChan);
        QFETCH(int, gain0);
        QFETCH(int, gain1);
        m_settings.iType = qint16(type);
        m_settings.iOutChan = qint16(outChan);
        QVERIFY(connectTo());
        // The last crosspoint report of the answer is for output 66.
        QVERIFY(spinUntil([&] { return tables().iMsgCount[7] > 0 && shows(gain0, gain1); }));

        QVERIFY(traced("rx greeting reply | 81 96 16 FF"));
        QVERIFY(traced("rx information request"));
        QCOMPARE(m_panel.sim->trace().count("rx information request"), 1);
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
            QCOMPARE(Find<QLineEdit>(m_panel.form.get(), "txtCount", k)->text(),
                     QString::number(counts[k]));
        }
    }

    // A key on the fader sends the command; the switcher confirms it and the fader stays at
    // the new value through the refresh, now as the switcher's own value.
    void movementConfirmed() {
        QVERIFY(connectAndSettle());
        QTest::keyClick(fader(0), Qt::Key_PageUp);
        QCOMPARE(fader(0)->value(), -1029);
        QCOMPARE(m_panel.caption(0), QString("Gain (+0.5db)"));
        QVERIFY(Find<QTimer>(m_panel.form.get(), "tmrGain")->isActive());
        QCOMPARE(tables().udtInGain[0].iSource, qint16(1024)); // not until the switcher says so

        QVERIFY(spinUntil(
            [this] { return tables().udtInGain[0].iSource == 1029 && shows(1029, 964); }));
        QVERIFY(traced("rx set input 1 gain +0.5 dB | E3 02 01 01 00 00 00 05 08 11 FF"));
        QVERIFY(traced("tx input 1 gain +0.5 dB | E3 00 01 01 00 00 00 05 08 0F FF"));
    }

    // The switcher reboots (down for a second): the panel comes back by itself, is greeted,
    // asks once more, and its tables are filled again from the new answer.
    void panelRidesOutAReboot() {
        QVERIFY(connectAndSettle({"--down-for", "1000", "--inputs", "4", "--outputs", "2"}));
        SwitcherLink &link = m_panel.form->link();
        link.tables().udtInGain[1].iSource = 0; // only the switcher's next answer restores it
        QSignalSpy lost(&link, &SwitcherLink::connectionLost);
        QVERIFY(m_panel.sim->signal(SIGUSR1));
        QVERIFY(spinUntil([&] { return lost.size() == 1; }, 2000));
        QVERIFY(spinUntil([&] { return tables().udtInGain[1].iSource == 964; }, 8000));
        QCOMPARE(link.state(), LinkState::Live);
        QCOMPARE(Find<QAction>(m_panel.form.get(), "mnuConnect")->text(), QString("&Disconnect"));
        QCOMPARE(m_panel.sim->trace().count("rx greeting reply"), 2);
        QCOMPARE(m_panel.sim->trace().count("rx information request"), 2);
    }
};

QTEST_MAIN(EndToEndTest)
#include "test_e2e.moc"
