// A link that heals itself: lost connections and refused attempts are retried after a growing
// delay until the switcher is back or the user says stop; settings faults are not retried;
// keep-alive finds a dead peer; the link indicator tells the state. Real loopback sockets (a
// switcher that reboots is in test_e2e.cpp).

#include "app/LinkIndicator.h"
#include "app/frmMain.h"
#include "support/Controls.h"
#include "support/PanelPeer.h"
#include "support/ProtocolFakes.h"
#include "transport/Backoff.h"
#include "transport/KeepAlive.h"

#include <QElapsedTimer>
#include <QMenuBar>
#include <QtTest>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using TestSupport::Find;
using TestSupport::spinUntil;

namespace {

// A loopback port nobody listens on (for as long as the test does not listen there itself).
quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

int SocketOption(const QTcpSocket &socket, int level, int option) {
    int value = -1;
    socklen_t size = sizeof value;
    getsockopt(int(socket.socketDescriptor()), level, option, &value, &size);
    return value;
}

} // namespace

class ReconnectTest : public QObject {
    Q_OBJECT

    TestSupport::PanelPeer m_link;

    frmMain &form() { return *m_link.window; }
    SwitcherLink &link() { return m_link.link(); }
    QString caption() { return Find<QAction>(&form(), "mnuConnect")->text(); }
    QString indicator() { return Find<QMenu>(&form(), "mnuLink")->title(); }

    // Waits for the panel's next connection at the listener; how long it took.
    qint64 nextConnectionMs() {
        QElapsedTimer clock;
        clock.start();
        if (!m_link.accept())
            return -1;
        return clock.elapsed();
    }

  private slots:
    void init() {
        QVERIFY(m_link.open());
        QVERIFY(m_link.connectPanel());
    }
    void cleanup() { m_link.reset(); }

    // 0.5 s, doubling to 5 s, within the jitter either way.
    void backoffSchedule_data() {
        QTest::addColumn<int>("retry");
        QTest::addColumn<double>("spread");
        QTest::addColumn<int>("ms");
        const int plain[] = {500, 1000, 2000, 4000, 5000, 5000};
        for (int retry = 0; retry < 6; ++retry)
            QTest::addRow("retry %d", retry) << retry << 0.0 << plain[retry];
        QTest::newRow("earliest first") << 0 << -1.0 << 450;
        QTest::newRow("latest longest") << 9 << 1.0 << 5500;
        QTest::newRow("spread clamped") << 1 << 7.0 << 1100;
        QTest::newRow("many retries") << 100000 << 0.0 << 5000;
    }
    void backoffSchedule() {
        QFETCH(int, retry);
        QFETCH(double, spread);
        QFETCH(int, ms);
        QCOMPARE(int(Backoff::RetryDelay(retry, spread).count()), ms);
    }

    // The switcher goes with a close or a reset after a report and half the next message: what
    // came before is kept, a send while it is away is dropped, the menu keeps "&Disconnect",
    // the indicator says connecting, and about half a second later the panel is back on its
    // own. The fragment goes with the old connection instead of swallowing the first message
    // of the new one.
    void lostConnectionComesBack_data() {
        QTest::addColumn<bool>("reset");
        QTest::newRow("close") << false;
        QTest::newRow("reset") << true;
    }
    void lostConnectionComesBack() {
        QFETCH(bool, reset);
        QCOMPARE(indicator(), LinkIndicator::Title(LinkState::Live));
        const QByteArray fragment = QByteArray::fromHex("E30001");
        QVERIFY(m_link.send(ProtocolFakes::kReport5 + fragment));
        const linger hard{1, 0};
        if (reset)
            setsockopt(int(m_link.peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                       sizeof hard);
        reset ? m_link.peer->abort() : m_link.peer->close();
        QVERIFY(spinUntil([this] { return link().state() == LinkState::Connecting; }, 2000));
        QCOMPARE(link().tables().udtInGain[5].iSource, qint16(1000));
        QCOMPARE(link().sBuffer().bytes(), fragment);
        link().SendToSwitcher(QByteArray::fromHex("F4")); // nowhere to go: dropped
        QCOMPARE(link().lastFailure(), QString(SwitcherLink::kErrSend));
        QCOMPARE(caption(), QString("&Disconnect"));
        QVERIFY(link().bConnected());
        QCOMPARE(indicator(), LinkIndicator::Title(LinkState::Connecting));
        const qint64 ms = nextConnectionMs();
        QVERIFY2(ms >= 400 && ms < 1500, qPrintable(QString::number(ms)));
        QCOMPARE(caption(), QString("&Disconnect"));
        QCOMPARE(indicator(), LinkIndicator::Title(LinkState::Live));
        QCOMPARE(link().sBuffer().bytes(), QByteArray());
    }

    // Started before its switcher: attempts are refused, the caption stays "&Connect", and the
    // panel connects by itself once the switcher listens. Connect while retrying tries at once.
    void panelWaitsForItsSwitcher() {
        const quint16 port = FreePort();
        link().DisconnectSwitcher();
        link().setTarget("127.0.0.1", port);
        link().ConnectSwitcher();
        QVERIFY(spinUntil([this] { return link().status().failedAttempts >= 2; }, 3000));
        QCOMPARE(caption(), QString("&Connect"));
        QCOMPARE(link().state(), LinkState::Connecting);
        QCOMPARE(link().lastFailure(), QString(SwitcherLink::kErrConnect));
        QVERIFY(link().status().nextAttemptInMs > 0);

        QTcpServer late;
        QVERIFY(late.listen(QHostAddress::LocalHost, port));
        QElapsedTimer clock;
        clock.start();
        Find<QAction>(&form(), "mnuConnect")->trigger(); // at once, not at the next retry
        QVERIFY(late.waitForNewConnection(1000));
        QVERIFY(clock.elapsed() < 500);
        QVERIFY(spinUntil([this] { return caption() == "&Disconnect"; }, 2000));
    }

    // Disconnect stops the retries at once; Stop Retrying in the indicator likewise.
    void userStopsTheRetries_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("File > Disconnect") << "mnuConnect";
        QTest::newRow("Stop Retrying") << "mnuStopRetrying";
    }
    void userStopsTheRetries() {
        QFETCH(QString, how);
        m_link.peer->close();
        QVERIFY(spinUntil([this] { return link().state() == LinkState::Connecting; }, 2000));
        QAction *stop = Find<QAction>(&form(), how);
        QVERIFY(stop->isEnabled());
        stop->trigger();
        QCOMPARE(caption(), QString("&Connect"));
        QVERIFY(!link().bConnected());
        QCOMPARE(indicator(), LinkIndicator::Title(LinkState::Offline));
        QVERIFY(!Find<QAction>(&form(), "mnuStopRetrying")->isEnabled());
        QVERIFY(!m_link.server.waitForNewConnection(1500));
    }

    // Short keep-alive timings on every connection, read back from the socket.
    void keepAliveOnTheSocket() {
        const QTcpSocket &socket = *Find<QTcpSocket>(&link(), "scktServer");
        QCOMPARE(SocketOption(socket, SOL_SOCKET, SO_KEEPALIVE), 1);
        QCOMPARE(SocketOption(socket, IPPROTO_TCP, TCP_KEEPIDLE), int(KeepAlive::kIdle.count()));
        QCOMPARE(SocketOption(socket, IPPROTO_TCP, TCP_KEEPINTVL),
                 int(KeepAlive::kInterval.count()));
        QCOMPARE(SocketOption(socket, IPPROTO_TCP, TCP_KEEPCNT), KeepAlive::kProbes);
        QCOMPARE(SocketOption(socket, IPPROTO_TCP, TCP_USER_TIMEOUT),
                 int(KeepAlive::kUserTimeout.count()));
    }

    // The indicator's facts for each state (its name for screen readers is test_accessibility's).
    void indicatorFacts() {
        const QString where =
            QStringLiteral("Switcher 127.0.0.1, port %1").arg(m_link.server.serverPort());
        QVERIFY(m_link.send(ProtocolFakes::kReport5));
        link().SendToSwitcher(QByteArray::fromHex("F4"));
        QStringList facts = LinkIndicator::Facts(link().status());
        QCOMPARE(facts.value(0), where);
        QVERIFY2(facts.value(1).startsWith("Up for "), qPrintable(facts.join('|')));
        QCOMPARE(facts.value(2), QString("Bytes in 11, out 1"));
        QCOMPARE(facts.size(), 3);

        m_link.peer->close();
        QVERIFY(spinUntil([this] { return link().state() == LinkState::Connecting; }, 2000));
        facts = LinkIndicator::Facts(link().status());
        QCOMPARE(facts.value(1), QString("0 failed attempt(s)"));
        QVERIFY2(facts.value(2).startsWith("Next attempt in "), qPrintable(facts.join('|')));

        link().DisconnectSwitcher();
        facts = LinkIndicator::Facts(link().status());
        QCOMPARE(facts.value(1), QString("Not connecting"));
    }
};

QTEST_MAIN(ReconnectTest)
#include "test_reconnect.moc"
