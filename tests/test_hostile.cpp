// Hostile and faulty switchers over real loopback TCP: a flood of random bytes, messages
// dribbled a byte at a time, a message cut off by a close, a connection reset, a peer that
// never sends, and a peer that floods greetings. Through all of them the panel must stay
// alive, keep sBuffer within its bound and keep serving events.

#include "app/Variables.h"
#include "app/frmMain.h"
#include "protocol/Seams.h"
#include "support/EventLoop.h"
#include "support/ProtocolFakes.h"
#include "support/SettingsFile.h"
#include "transport/LinkInput.h"
#include "transport/TcpLink.h"

#include <QAction>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QRandomGenerator>
#include <QSlider>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <functional>
#include <memory>
#include <sys/socket.h>

using ProtocolFakes::Hex;
using namespace Variables;

namespace {

const QByteArray kReport5 = Hex("E3 00 01 01 00 05 00 68 07 76 FF"); // input 5 := 1000
const QByteArray kGreeting = Hex("81 64 64 FF");
const QByteArray kGreetingReply = Hex("81 96 16 FF");
const QByteArray kPing = Hex("F5");
const QByteArray kPong = Hex("F4");

// The flood: 50 MB as a switcher on a fast link could send it. Under the sanitizers every
// dispatcher step costs several times as much, so the sanitizer build floods with less (the
// bound and the responsiveness are what is tested, not the throughput). DS_FLOOD_MB
// overrides both.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kDefaultFloodMB = 8;
#else
constexpr int kDefaultFloodMB = 50;
#endif

int floodMegabytes() {
    bool ok = false;
    const int mb = qEnvironmentVariableIntValue("DS_FLOOD_MB", &ok);
    return ok && mb > 0 ? mb : kDefaultFloodMB;
}

// Ticks every 5 ms on the GUI thread while it lives, and records the longest gap between two
// ticks (how long the panel kept the thread from serving events) and the largest sBuffer seen.
class Heartbeat {
  public:
    Heartbeat() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_longestGapMs = std::max(m_longestGapMs, m_clock.restart());
            m_largestBuffer = std::max(m_largestBuffer, sBuffer.size());
        });
        m_clock.start();
        m_timer.start();
    }
    qint64 longestGapMs() const { return m_longestGapMs; }
    qsizetype largestBuffer() const { return m_largestBuffer; }

  private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longestGapMs = 0;
    qsizetype m_largestBuffer = 0;
};

using TestSupport::spinUntil;

void spinFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

class HostileSwitcherTest : public QObject {
    Q_OBJECT

    QTcpServer m_switcher;
    std::unique_ptr<frmMain> m_form;
    QPointer<QTcpSocket> m_peer;
    QByteArray m_received; // everything the panel sent to the switcher

    // Connects the panel to the test's switcher and waits for both ends.
    bool connectPanel() {
        m_received.clear();
        TCPComm::ConnectSwitcher();
        if (!spinUntil([this] { return m_switcher.hasPendingConnections(); }, 2000))
            return false;
        m_peer = m_switcher.nextPendingConnection();
        connect(m_peer, &QTcpSocket::readyRead, this, [this] { m_received += m_peer->readAll(); });
        return spinUntil([] { return bConnected; }, 2000);
    }

    // Writes from the switcher's end and waits until the panel has taken the bytes in.
    bool peerSends(const QByteArray &bytes, int timeoutMs = 2000) {
        const qint64 expected = TCPComm::BytesReceived() + bytes.size();
        m_peer->write(bytes);
        return spinUntil([expected] { return TCPComm::BytesReceived() == expected; }, timeoutMs);
    }

    // Waits until the panel has sent count more bytes than `from`; returns those bytes.
    QByteArray receivedAfter(qsizetype from, qsizetype count, int timeoutMs = 2000) {
        spinUntil([&] { return m_received.size() >= from + count; }, timeoutMs);
        return m_received.mid(from);
    }

    // The user's Connect menu command, which after a close by the switcher first disconnects
    // and then connects afresh.
    bool reconnect() {
        m_form->mnuConnect->trigger();
        if (bConnected || m_form->mnuConnect->text() != TCPComm::kCaptionConnect)
            return false;
        return connectPanel();
    }

  private slots:
    void initTestCase() { QVERIFY(m_switcher.listen(QHostAddress::LocalHost)); }

    void init() {
        ResetAll();
        TCPComm::seams() = TCPComm::Seams{};
        m_form = std::make_unique<frmMain>();
        sIPAddress = QStringLiteral("127.0.0.1");
        lIPPort = m_switcher.serverPort();
        QVERIFY(connectPanel());
    }

    void cleanup() {
        m_form.reset();
        delete m_peer;
        while (QTcpSocket *stale = m_switcher.nextPendingConnection())
            delete stale;
        TestSupport::removeSettingsFile(); // closing the window saves the settings
    }

    // Random bytes at full speed: the buffer stays bounded, the thread keeps serving events
    // and, once the flood has drained, a ping is still answered on the wire.
    void floodOfRandomBytes() {
        const qsizetype size = qsizetype{floodMegabytes()} * 1024 * 1024;
        QByteArray flood(size, Qt::Uninitialized);
        QRandomGenerator random(20240607); // fixed: the same bytes on every run
        random.fillRange(reinterpret_cast<quint32 *>(flood.data()), size / 4);
        flood.append(char(0xFF)); // ends whatever message the noise left open

        QElapsedTimer wall;
        wall.start();
        std::unique_ptr<Heartbeat> heartbeat = std::make_unique<Heartbeat>();
        QVERIFY(peerSends(flood, 60000));
        QVERIFY(spinUntil([] { return sBuffer.isEmpty(); }, 60000));
        qInfo("flood of %lld bytes taken in and drained in %lld ms; longest gap %lld ms, "
              "largest sBuffer %lld bytes",
              static_cast<long long>(flood.size()), static_cast<long long>(wall.elapsed()),
              static_cast<long long>(heartbeat->longestGapMs()),
              static_cast<long long>(heartbeat->largestBuffer()));
        QVERIFY(heartbeat->largestBuffer() <= LinkInput::kMaxBufferedBytes);
        // Nothing in the noise may hold the thread for long: a valid greeting (100 ms) is the
        // longest single step there is.
        QVERIFY2(heartbeat->longestGapMs() < 200,
                 qPrintable(QString::number(heartbeat->longestGapMs())));
        // The next tick finds the buffer empty and stops the decode timer.
        QVERIFY(spinUntil([this] { return !m_form->tmrDecode->isActive(); }, 1000));

        // Let the answers to pings in the noise arrive, then ping once more.
        spinFor(100);
        const qsizetype before = m_received.size();
        QVERIFY(peerSends(kPing));
        QCOMPARE(receivedAfter(before, 1).toHex(' '), kPong.toHex(' '));
        QVERIFY(bConnected);
    }

    // Every byte in its own segment: the report still applies, the ping is still answered.
    void messageDribbledByteByByte() {
        for (const char byte : kReport5)
            QVERIFY(peerSends(QByteArray(1, byte)));
        QVERIFY(spinUntil([] { return udtInGain[5].iSource == 1000; }, 1000));
        QVERIFY(sBuffer.isEmpty());
        for (const char byte : kGreeting)
            QVERIFY(peerSends(QByteArray(1, byte)));
        QCOMPARE(receivedAfter(0, 4).left(4).toHex(' '), kGreetingReply.toHex(' '));
    }

    // A close in the middle of a message: nothing is decoded from the fragment, the panel
    // keeps regarding the link as open until the user reconnects, and the fragment does not
    // swallow the first message of the next connection.
    void messageCutOffByClose() {
        QVERIFY(peerSends(kReport5.left(6)));
        m_peer->disconnectFromHost();
        QVERIFY(spinUntil(
            [this] { return m_form->scktServer->state() == QAbstractSocket::UnconnectedState; },
            2000));
        QVERIFY(bConnected);
        QCOMPARE(m_form->mnuConnect->text(), TCPComm::kCaptionDisconnect);
        QCOMPARE(udtInGain[5].iSource, qint16(0));

        delete m_peer;
        QVERIFY(reconnect());
        QVERIFY(peerSends(kReport5));
        QVERIFY(spinUntil([] { return udtInGain[5].iSource == 1000; }, 1000));
    }

    // A reset (RST, not FIN) right after a complete message: the message applies, the panel
    // stays up and can connect again.
    void connectionReset() {
        QVERIFY(peerSends(kReport5 + kReport5.left(3)));
        const linger hard{1, 0}; // close with RST
        QVERIFY(::setsockopt(static_cast<int>(m_peer->socketDescriptor()), SOL_SOCKET, SO_LINGER,
                             &hard, sizeof hard) == 0);
        m_peer->abort();
        QVERIFY(spinUntil(
            [this] { return m_form->scktServer->state() == QAbstractSocket::UnconnectedState; },
            2000));
        QCOMPARE(udtInGain[5].iSource, qint16(1000));

        delete m_peer;
        udtInGain[5].iSource = 0;
        QVERIFY(reconnect());
        QVERIFY(peerSends(kReport5));
        QVERIFY(spinUntil([] { return udtInGain[5].iSource == 1000; }, 1000));
    }

    // A peer that accepts and never sends: the panel idles (decode timer stopped), a fader
    // move still goes out, and closing the window ends the link at once.
    void silentPeer() {
        spinFor(200);
        QVERIFY(bConnected);
        QVERIFY(sBuffer.isEmpty());
        QVERIFY(!m_form->tmrDecode->isActive());
        m_form->sliGain[0]->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(receivedAfter(0, 1).left(1).toHex(), QByteArray("e3"));

        QElapsedTimer clock;
        clock.start();
        m_form->close();
        QVERIFY(clock.elapsed() < 500);
        QVERIFY(!bConnected);
        QVERIFY(
            spinUntil([this] { return m_peer->state() != QAbstractSocket::ConnectedState; }, 2000));
    }

    // A switcher that greets without end. Each answer holds the thread for 100 ms; between
    // two answers the panel serves other events (here a user's fader move), and however many
    // greetings wait, sBuffer takes no more than its bound.
    void greetingFlood() {
        QByteArray greetings;
        const qsizetype total = LinkInput::kMaxBufferedBytes * 2;
        greetings.reserve(total);
        while (greetings.size() < total)
            greetings += kGreeting;
        Heartbeat heartbeat;
        m_peer->write(greetings);

        // A fader move in the middle of the greetings.
        QTimer::singleShot(450, m_form.get(), [this] {
            m_form->sliGain[0]->triggerAction(QAbstractSlider::SliderSingleStepSub);
        });
        spinFor(1000);

        QVERIFY(heartbeat.largestBuffer() <= LinkInput::kMaxBufferedBytes);
        // The event loop gets its turn between answers. A timer can still wait through a few
        // holds in a row: after each hold the overdue decode tick is due before it, and the
        // event loop serves window-system input between timer passes, not between single
        // timers. A longer gap would mean the panel worked through the backlog without
        // returning.
        QVERIFY2(heartbeat.longestGapMs() < 450,
                 qPrintable(QString::number(heartbeat.longestGapMs())));
        // Answers came, each a reply and then the request, and the set-gain command went out
        // between two of them rather than after the whole backlog.
        const QByteArray request = Hex("F2 00 01 02 00 00 00 00 00 00 00 03 FF");
        const qsizetype answers = m_received.count(kGreetingReply);
        QVERIFY2(answers >= 5 && answers <= 11, qPrintable(QString::number(answers)));
        QVERIFY(m_received.count(request) >= answers - 1);
        const qsizetype command = m_received.indexOf('\xE3');
        QVERIFY(command > 0);
        QVERIFY(m_received.indexOf(kGreetingReply, command) > command);

        TCPComm::DisconnectSwitcher();
        QVERIFY(!bConnected);
    }
};

QTEST_MAIN(HostileSwitcherTest)
#include "test_hostile.moc"
