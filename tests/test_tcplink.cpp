// The TCP link against a real peer: a QTcpServer on 127.0.0.1 plays the switcher, and a real
// main window shows the menu caption and the message box. Shutdown is in test_mainwindow.cpp;
// a switcher that goes mid-message, and losing the link and getting it back, in
// test_reconnect.cpp. Hostile switchers: a flood of random bytes and one that floods
// greetings; through both the panel must stay alive, keep sBuffer within its bound and keep
// serving events. Then the quietest peer of all: a settled panel is woken by nothing, even
// while half a message waits for the rest. Last, the serial port on a pseudo-terminal pair:
// the link's port is opened on the slave side (the program itself never opens it), and the
// test plays the far end on the master.

#include "app/ProgramInfo.h"
#include "app/frmMain.h"
#include "faders/FaderController.h"
#include "support/Controls.h"
#include "support/PanelPeer.h"
#include "support/ProtocolFakes.h"
#include "transport/LinkInput.h"
#include "transport/SwitcherLink.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QSignalSpy>
#include <QSlider>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#include <utility>

using ProtocolFakes::Hex;
using ProtocolFakes::kReport5;
using TestSupport::Find;
using TestSupport::spinUntil;

namespace {

// The far end of a pseudo-terminal pair, for the serial port.
struct FarEnd {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    FarEnd() { QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0); }
    ~FarEnd() { hangUp(); }
    void hangUp() {
        if (master >= 0)
            ::close(std::exchange(master, -1));
    }
    bool open(QSerialPort &port) {
        port.setPortName(QString::fromLocal8Bit(::ptsname(master)));
        return port.open(QIODevice::ReadWrite);
    }
    void write(const QByteArray &bytes) {
        QCOMPARE(::write(master, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    }
    // Whatever the port sent, collected for a short while.
    QByteArray read() {
        QTest::qWait(100);
        QByteArray got(4096, Qt::Uninitialized);
        return got.left(std::max<ssize_t>(::read(master, got.data(), size_t(got.size())), 0));
    }
};

const QByteArray kGreeting = Hex("81 64 64 FF");
const QByteArray kGreetingReply = Hex("81 96 16 FF");

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
    explicit Heartbeat(const ReceiveBuffer &sBuffer) {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this, &sBuffer] {
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

void spinFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

constexpr int kIdleMs = 1000;
// A 1 ms timer left running would wake the loop about 1000 times in kIdleMs; a settled panel
// is woken by nothing but the timer that ends the measurement. (Its CPU time while idle is
// measured by scripts/bench, on the real process.)
constexpr int kMaxWakeUps = 5;

} // namespace

static const QByteArray kReport6 = Hex("E3 00 01 01 00 06 00 04 07 13 FF"); // input 7 := 900

class TcpLinkTest : public QObject {
    Q_OBJECT

    TestSupport::PanelPeer m_link;

    frmMain &form() { return *m_link.window; }
    SwitcherLink &link() { return m_link.link(); }
    QTimer *tmrDecode() { return Find<QTimer>(&link(), "tmrDecode"); }
    QTcpSocket *socket() { return Find<QTcpSocket>(&link(), "scktServer"); }
    QSerialPort *port() { return Find<QSerialPort>(&link(), "MSComm1"); }
    QString caption() { return Find<QAction>(&form(), "mnuConnect")->text(); }
    bool shownClosed() { return caption() == "&Connect" && !link().bConnected(); }
    bool shownOpen() { return caption() == "&Disconnect" && link().bConnected(); }
    bool failedWith(const char *reason) { return link().lastFailure() == QString(reason); }

  private slots:
    void initTestCase() { QVERIFY(m_link.listen()); } // the port is needed by the _data rows

    void init() { QVERIFY(m_link.open()); }
    void cleanup() { m_link.reset(); }

    // Sends are dropped, not held back, while the link is closed or still connecting (start-up
    // connects once the settings are read), and go out byte-exact once it is open. Closing
    // what is closed changes nothing and shows nothing.
    void sendsOnlyWhileOpen() {
        TestSupport::BoxDismisser boxes;
        QSignalSpy written(&link(), &SwitcherLink::messageSent);
        link().DisconnectSwitcher();
        link().DisconnectSwitcher();
        QVERIFY(shownClosed());
        link().SendToSwitcher(Hex("F4"));
        QVERIFY(failedWith(SwitcherLink::kErrSend));
        TestSupport::writeSettingsFile(
            "[CONFIGURATION]\nIP Port=" + QByteArray::number(m_link.server.serverPort()) + "\n");
        form().Form_Load(); // back to the start-up values, then this port from the file
        link().SendToSwitcher(Hex("F1"));
        QVERIFY(failedWith(SwitcherLink::kErrSend));
        QVERIFY(m_link.accept());
        QVERIFY(shownOpen());
        const QByteArray command = Hex("E3 02 01 01 00 00 00 4C 08 58 FF");
        link().SendToSwitcher(command);
        QCOMPARE(m_link.receive(command.size()).toHex(' '), command.toHex(' '));
        QCOMPARE(written.size(), 1); // only what went out is told as written
        QCOMPARE(written.front().front().toByteArray(), command);
        QVERIFY(boxes.shown().isEmpty());
    }

    // Each data event takes in what waits and runs one dispatcher step; the decode timer
    // (held here, counting its starts) is started only when bytes remain.
    void receive_data() {
        QTest::addColumn<QList<QByteArray>>("batches");
        QTest::addColumn<QByteArray>("left"); // sBuffer after the data events
        QTest::addColumn<int>("starts");
        QTest::addColumn<qint16>("gain6"); // once the timer has drained sBuffer
        QTest::newRow("one batch") << QList{kReport5} << QByteArray() << 0 << qint16(0);
        QTest::newRow("split") << QList{kReport5.left(3), kReport5.mid(3, 5), kReport5.mid(8)}
                               << QByteArray() << 2 << qint16(0);
        QTest::newRow("two messages") << QList{kReport5 + kReport6} << kReport6 << 1 << qint16(900);
    }
    void receive() {
        QFETCH(QList<QByteArray>, batches);
        QFETCH(QByteArray, left);
        QFETCH(int, starts);
        QFETCH(qint16, gain6);
        QVERIFY(m_link.connectPanel());
        // A timer that never ticks during the test: each data event's start shows as active.
        tmrDecode()->stop();
        tmrDecode()->setInterval(1000000);
        int started = 0;
        for (const QByteArray &batch : batches) {
            QVERIFY(m_link.send(batch));
            started += tmrDecode()->isActive();
            tmrDecode()->stop();
        }
        QCOMPARE(link().sBuffer().bytes().toHex(' '), left.toHex(' '));
        QCOMPARE(started, starts);
        tmrDecode()->start(1);
        QVERIFY(spinUntil([this] { return !tmrDecode()->isActive(); }, 1000));
        QVERIFY(link().sBuffer().isEmpty());
        QCOMPARE(link().tables().udtInGain[5].iSource, qint16(1000));
        QCOMPARE(link().tables().udtInGain[6].iSource, gain6);
    }

    // A stream of data events faster than the tick must not keep restarting the timer.
    void dataDoesNotHoldBackARunningDecodeTimer() {
        QVERIFY(m_link.connectPanel());
        tmrDecode()->start(1000000);
        const int running = tmrDecode()->timerId();
        QVERIFY(m_link.send(kReport5 + kReport6));
        QCOMPARE(link().sBuffer().bytes(), kReport6);
        QCOMPARE(tmrDecode()->timerId(), running);
    }

    void switcherThatStopsReadingCannotGrowTheSendQueue() {
        QVERIFY(m_link.connectPanel());
        // The peer reads only when the event loop runs; until then everything piles up in
        // the kernel and then in the panel's socket.
        const QByteArray message(64 * 1024, 0x22);
        QSignalSpy written(&link(), &SwitcherLink::messageSent);
        for (int i = 0; i < 1000 && written.size() + 3 > i; ++i)
            link().SendToSwitcher(message);
        const qsizetype accepted = written.size();
        QVERIFY(failedWith(SwitcherLink::kErrSend));
        QVERIFY(socket()->bytesToWrite() <= SwitcherLink::kMaxQueuedSendBytes);

        // Once the switcher reads again, every accepted message arrives, and nothing else.
        const qint64 expected = accepted * message.size();
        QCOMPARE(m_link.receive(expected).size(), expected);
        QTest::qWait(20);
        QCOMPARE(m_link.peer->readAll(), QByteArray());
    }

    // A bad address (only a hand-edited file has one) fails silently; a port outside 1..65535
    // shows the one message box of the program; neither is retried, as no retry could
    // succeed. A refused attempt fails silently and is retried. The next attempt to a
    // listening switcher goes through.
    void connectThatFails_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<qint32>("port");
        QTest::addColumn<int>("boxes");
        for (const char *text :
             {"", "localhost", "256.0.0.1", "127.0.0", "127.0.0.1.1", "127.0.0.-1", "127.0..1",
              " 127.0.0.1", "0x7f.0.0.1", "1270.0.0.1"})
            QTest::newRow(text) << QString(text) << qint32(m_link.server.serverPort()) << 0;
        for (const qint32 port : {0, -1, 65536, 70000})
            QTest::newRow(qPrintable(QString::number(port))) << "127.0.0.1" << port << 1;
        QTcpServer gone;
        QVERIFY(gone.listen(QHostAddress::LocalHost));
        QTest::newRow("refused") << "127.0.0.1" << qint32(gone.serverPort()) << 0;
    }
    void connectThatFails() {
        QFETCH(QString, address);
        QFETCH(qint32, port);
        QFETCH(int, boxes);
        TestSupport::BoxDismisser dismiss;
        link().setTarget(address, port);
        link().ConnectSwitcher();
        QCOMPARE(dismiss.shown(), QStringList(boxes, ProgramInfo::kDisplayName +
                                                         "|Unable to connect to remote host|1"));
        QTRY_VERIFY(failedWith(SwitcherLink::kErrConnect));
        const bool refused = QTest::currentDataTag() == QLatin1String("refused");
        QTRY_COMPARE(Find<QTimer>(&link(), "reconnect")->isActive(), refused);
        QCOMPARE(socket()->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(link().state(), refused ? LinkState::Connecting : LinkState::Offline);
        QTest::qWait(20);
        QVERIFY(!m_link.server.hasPendingConnections());
        QVERIFY(shownClosed());

        link().setTarget(QStringLiteral("127.0.0.1"), m_link.server.serverPort());
        QVERIFY(m_link.connectPanel());
    }

    // More than the buffer may hold, then a report, then the switcher closes: the report only
    // decodes if every byte before it came through the throttled path, and the link reads all
    // that waits before it ends the connection.
    void floodBeyondTheBoundThenClose() {
        QVERIFY(m_link.connectPanel());
        const QByteArray flood(2 * LinkInput::kMaxBufferedBytes, 0x11);
        qsizetype maxBuffered = 0;
        qint64 maxInSocket = 0;
        int retries = 0; // reads put off because sBuffer was full
        QObject scope;
        connect(Find<QTimer>(&link(), "readRetry"), &QTimer::timeout, &scope, [&] { ++retries; });

        // The link ends (and comes back by itself) only once everything sent before the close
        // has been taken in.
        qint64 receivedAtLoss = -1;
        connect(&link(), &SwitcherLink::connectionLost, &scope,
                [&] { receivedAtLoss = link().bytesReceived(); });
        m_link.peer->write(flood + kReport5);
        m_link.peer->disconnectFromHost(); // once everything has been written
        const auto watch = [&] {
            maxBuffered = std::max(maxBuffered, link().sBuffer().size());
            maxInSocket = std::max(maxInSocket, socket()->bytesAvailable());
        };
        QVERIFY(spinUntil([this] { return link().tables().udtInGain[5].iSource == 1000; }, 15000,
                          watch));
        QCOMPARE(link().bytesReceived(), flood.size() + kReport5.size());
        QVERIFY(retries > 0);
        QVERIFY2(maxBuffered <= LinkInput::kMaxBufferedBytes, QByteArray::number(maxBuffered));
        QVERIFY(maxInSocket <= LinkInput::kDeviceReadBufferBytes);
        QTRY_COMPARE(receivedAtLoss, flood.size() + kReport5.size());
        QVERIFY(shownOpen());
    }

    // A fader movement's command is on the wire by the time the handler returns: the
    // switcher's end can read it without the panel's event loop running again.
    void commandLeavesBeforeHandlerReturns() {
        QVERIFY(m_link.connectPanel());
        QTRY_VERIFY(!Find<QTimer>(&form(), "tmrGain")->isActive());
        // Input gain, channel 1, moved to +7.6 dB (1100) while 0 dB is reported.
        link().tables().udtInGain[0].iSource = 1024;
        Find<QSlider>(&form(), "sliGain", 0)->setValue(-1100);
        form().findChild<FaderController *>()->sliGain_Scroll(0, 1100);
        // waitForReadyRead polls only the peer's socket; the panel's events stay unprocessed,
        // so whatever arrives was written inside the handler.
        QVERIFY(m_link.peer->waitForReadyRead(500));
        QByteArray received = m_link.peer->readAll();
        while (received.size() < 11 && m_link.peer->waitForReadyRead(100))
            received += m_link.peer->readAll();
        QCOMPARE(received.toHex(' '), QByteArray("e3 02 01 01 00 00 00 4c 08 58 ff"));
    }

    // Random bytes at full speed: the buffer stays bounded, the thread keeps serving events
    // and, once the flood has drained, a ping is still answered on the wire.
    void floodOfRandomBytes() {
        QVERIFY(m_link.connectPanel());
        const qsizetype size = qsizetype{floodMegabytes()} * 1024 * 1024;
        QByteArray flood(size, Qt::Uninitialized);
        QRandomGenerator random(20240607); // fixed: the same bytes on every run
        random.fillRange(reinterpret_cast<quint32 *>(flood.data()), size / 4);
        flood.append(char(0xFF)); // ends whatever message the noise left open

        QElapsedTimer wall;
        wall.start();
        const Heartbeat heartbeat(link().sBuffer());
        QVERIFY(m_link.send(flood, 60000));
        QVERIFY(spinUntil([this] { return link().sBuffer().isEmpty(); }, 60000));
        qInfo() << "flood of" << flood.size() << "bytes taken in and drained in" << wall.elapsed()
                << "ms; longest gap" << heartbeat.longestGapMs() << "ms, largest sBuffer"
                << heartbeat.largestBuffer() << "bytes";
        QVERIFY(heartbeat.largestBuffer() <= LinkInput::kMaxBufferedBytes);
        // Nothing in the noise may hold the thread for long: a valid greeting (100 ms) is the
        // longest single step there is.
        QVERIFY2(heartbeat.longestGapMs() < 200,
                 qPrintable(QString::number(heartbeat.longestGapMs())));
        // The next tick finds the buffer empty and stops the decode timer.
        QVERIFY(
            spinUntil([this] { return !Find<QTimer>(&link(), "tmrDecode")->isActive(); }, 1000));

        // Let the answers to pings in the noise arrive, then ping once more.
        spinFor(100);
        m_link.peer->readAll();
        QVERIFY(m_link.send(Hex("F5")));
        QCOMPARE(m_link.receive(1).toHex(' '), QByteArray("f4"));
        QVERIFY(link().bConnected());
    }

    // A switcher that greets without end. Each answer holds the thread for 100 ms; between
    // two answers the panel serves other events (here a user's fader move), and however many
    // greetings wait, sBuffer takes no more than its bound.
    void greetingFlood() {
        QVERIFY(m_link.connectPanel());
        QByteArray greetings;
        const qsizetype total = LinkInput::kMaxBufferedBytes * 2;
        greetings.reserve(total);
        while (greetings.size() < total)
            greetings += kGreeting;
        Heartbeat heartbeat(link().sBuffer());
        m_link.peer->write(greetings);

        // A fader move in the middle of the greetings.
        QTimer::singleShot(450, &form(), [this] {
            Find<QSlider>(&form(), "sliGain", 0)
                ->triggerAction(QAbstractSlider::SliderSingleStepSub);
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
        const QByteArray received = m_link.peer->readAll();
        const qsizetype answers = received.count(kGreetingReply);
        QVERIFY2(answers >= 5 && answers <= 11, qPrintable(QString::number(answers)));
        QVERIFY(received.count(request) >= answers - 1);
        const qsizetype command = received.indexOf('\xE3');
        QVERIFY(command > 0);
        QVERIFY(received.indexOf(kGreetingReply, command) > command);

        link().DisconnectSwitcher();
        QVERIFY(!link().bConnected());
    }

    // Half a gain report waits for the rest: the panel as the program starts it settles (the
    // start-up refresh has run, and the decode timer stopped at the incomplete message instead
    // of retrying it), and then nothing wakes it.
    void settledPanelSleeps() {
        m_link.reset();
        QVERIFY2(m_link.start(), "the panel did not connect to the local switcher");
        m_link.peer->write(Hex("E3 00 01"));
        QVERIFY(m_link.peer->waitForBytesWritten(1000));
        auto *tmrGain = Find<QTimer>(&form(), "tmrGain");
        auto *tmrDecode = Find<QTimer>(&link(), "tmrDecode");
        QTRY_VERIFY(!tmrGain->isActive());
        QTRY_COMPARE(link().sBuffer().size(), 3);
        QTRY_VERIFY(!tmrDecode->isActive());

        int wakeUps = 0;
        const auto counting = connect(QAbstractEventDispatcher::instance(),
                                      &QAbstractEventDispatcher::awake, this, [&] { ++wakeUps; });
        spinFor(kIdleMs);
        disconnect(counting);
        QVERIFY2(wakeUps <= kMaxWakeUps, qPrintable(QString::number(wakeUps)));
        QVERIFY(!tmrGain->isActive() && !tmrDecode->isActive());
        QCOMPARE(link().sBuffer().size(), 3);
    }
    // One receive event of the serial port appends what arrived and decodes once: a gain
    // report at the front applies at once, and the decode timer starts only when bytes remain.
    void serialReceiveDecodesOnceAndLeavesTheRestToTheTimer() {
        FarEnd far;
        QVERIFY(far.open(*port()));
        // A timer that never ticks, so that what one receive event did stays visible.
        tmrDecode()->stop();
        tmrDecode()->setInterval(1000000);
        far.write(Hex("05 06") + kReport5);
        QTRY_COMPARE(link().tables().udtInGain[5].iSource, qint16(1000));
        QVERIFY(link().sBuffer().isEmpty());
        QVERIFY(!tmrDecode()->isActive());

        far.write(Hex("F5") + kReport5);
        // The ping dropped unanswered (not even tried on the closed TCP link), the rest waits.
        QTRY_COMPARE(link().sBuffer().bytes(), kReport5);
        QVERIFY(tmrDecode()->isActive());
        QCOMPARE(link().lastFailure(), QString());
    }

    // The program never opens the port itself; TcptoSerial writes only while it is open, and
    // closing is harmless when it is closed already. A port whose far end hangs up is closed,
    // silently.
    void tcptoSerialWritesOnlyWhenOpen() {
        FarEnd far;
        QCOMPARE(port()->baudRate(), 57600);
        QVERIFY(!port()->isOpen());
        link().CloseSerialIfOpen();
        form().TcptoSerial(Hex("F1"));
        QVERIFY(far.open(*port()));
        const QByteArray reply = Hex("81 96 16 FF");
        form().TcptoSerial(reply);
        QCOMPARE(far.read(), reply); // byte-exact, and nothing of the earlier call

        link().CloseSerialIfOpen();
        QVERIFY(!port()->isOpen());
        form().TcptoSerial(Hex("F3"));
        QCOMPARE(far.read(), QByteArray());

        QVERIFY(far.open(*port()));
        far.hangUp();
        QTRY_VERIFY(!port()->isOpen());
        QCOMPARE(link().lastFailure(), QString(SwitcherLink::kErrSerial));
    }
};

QTEST_MAIN(TcpLinkTest)
#include "test_tcplink.moc"
