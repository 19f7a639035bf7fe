// The TCP link against a real peer: a QTcpServer on 127.0.0.1 plays the switcher, and a real
// main window provides the menu caption, the decode timer and the message box. Shutdown is in
// test_mainwindow.cpp, the send latency in test_latency.cpp; floods, dribbled bytes and a
// switcher that goes mid-message (then disconnect and reconnect) in test_hostile.cpp.

#include "app/Variables.h"
#include "app/frmMain.h"
#include "protocol/Failure.h"
#include "protocol/Seams.h"
#include "support/PanelPeer.h"
#include "support/ProtocolFakes.h"
#include "transport/LinkInput.h"
#include "transport/TcpLink.h"

#include <QAbstractButton>
#include <QAction>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

using ProtocolFakes::Hex;
using ProtocolFakes::kReport5;
using TestSupport::spinUntil;
using namespace Variables;

static const QByteArray kReport6 = Hex("E3 00 01 01 00 06 00 04 07 13 FF"); // input 7 := 900

class TcpLinkTest : public QObject {
    Q_OBJECT

    TestSupport::PanelPeer m_link;
    int m_failureReports = 0;

    frmMain &form() { return *m_link.window; }
    QString caption() { return form().mnuConnect->text(); }
    bool shownClosed() { return caption() == "&Connect" && !bConnected; }
    bool shownOpen() { return caption() == "&Disconnect" && bConnected; }
    bool failedWith(const char *reason) { return TCPComm::LastFailure() == QString(reason); }

  private slots:
    void initTestCase() { QVERIFY(m_link.listen()); } // the port is needed by the _data rows

    void init() {
        ResetAll();
        TCPComm::seams() = TCPComm::Seams{};
        TCPComm::ClearLastFailure();
        QVERIFY(m_link.open());
        m_failureReports = 0;
        auto &hooks = TCPComm::seams();
        hooks.reportConnectFailure = [this, report = hooks.reportConnectFailure] {
            ++m_failureReports;
            report();
        };
    }
    void cleanup() { m_link.reset(); }

    // Sends are dropped, not held back, while the link is closed or still connecting (start-up
    // connects once the settings are read), and go out byte-exact once it is open. Closing
    // what is closed changes nothing and shows nothing.
    void sendsOnlyWhileOpen() {
        TCPComm::DisconnectSwitcher();
        TCPComm::DisconnectSwitcher();
        QVERIFY(shownClosed());
        TCPComm::SendToSwitcher(Hex("F4"));
        QVERIFY(failedWith(TCPComm::kErrSend));
        TCPComm::ClearLastFailure();
        TestSupport::writeSettingsFile(
            "[CONFIGURATION]\nIP Port=" + QByteArray::number(m_link.server.serverPort()) + "\n");
        form().Form_Load(); // back to the start-up values, then this port from the file
        TCPComm::SendToSwitcher(Hex("F1"));
        QVERIFY(failedWith(TCPComm::kErrSend));
        QVERIFY(m_link.accept());
        QVERIFY(shownOpen());
        const QByteArray command = Hex("E3 02 01 01 00 00 00 4C 08 58 FF");
        TCPComm::SendToSwitcher(command);
        QCOMPARE(m_link.receive(command.size()).toHex(' '), command.toHex(' '));
        QCOMPARE(m_failureReports, 0);
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
        form().tmrDecode->stop();
        int started = 0;
        TCPComm::seams().startDecodeTimer = [&started] { ++started; };
        for (const QByteArray &batch : batches)
            QVERIFY(m_link.send(batch));
        QCOMPARE(sBuffer.bytes().toHex(' '), left.toHex(' '));
        QCOMPARE(started, starts);
        for (int tick = 0; tick < 3 && !sBuffer.isEmpty(); ++tick)
            form().tmrDecode_Timer();
        QVERIFY(sBuffer.isEmpty());
        QCOMPARE(udtInGain[5].iSource, qint16(1000));
        QCOMPARE(udtInGain[6].iSource, gain6);
    }

    void dataDoesNotHoldBackARunningDecodeTimer() {
        // A stream of data events faster than the tick must not keep restarting the timer.
        form().tmrDecode->start();
        const int running = form().tmrDecode->timerId();
        TCPComm::seams().startDecodeTimer();
        QCOMPARE(form().tmrDecode->timerId(), running);
    }

    void switcherThatStopsReadingCannotGrowTheSendQueue() {
        QVERIFY(m_link.connectPanel());
        // The peer reads only when the event loop runs; until then everything piles up in
        // the kernel and then in the panel's socket.
        const QByteArray message(64 * 1024, 0x22);
        int accepted = 0;
        for (int i = 0, dropped = 0; i < 1000 && dropped < 3; ++i) {
            TCPComm::ClearLastFailure();
            TCPComm::SendToSwitcher(message);
            ++(TCPComm::LastFailure().isEmpty() ? accepted : dropped);
        }
        QVERIFY(failedWith(TCPComm::kErrSend));
        QVERIFY(form().scktServer->bytesToWrite() <= TCPComm::kMaxQueuedSendBytes);

        // Once the switcher reads again, every accepted message arrives, and nothing else.
        const qint64 expected = accepted * message.size();
        QCOMPARE(m_link.receive(expected).size(), expected);
        QTest::qWait(20);
        QCOMPARE(m_link.peer->readAll(), QByteArray());
    }

    // A bad address (only a hand-edited file has one) fails silently; a port outside 1..65535
    // shows the one message box of the program; a refused attempt fails silently. The next
    // attempt to a listening switcher goes through.
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
        sIPAddress = address;
        lIPPort = port;
        QStringList shown; // title, text and button count of each box, dismissed at once
        QTimer dismiss;
        connect(&dismiss, &QTimer::timeout, this, [&] {
            auto *box = form().findChild<QMessageBox *>("connectFailure");
            if (!box || !box->isVisible())
                return;
            shown << box->windowTitle() + '|' + box->text() + '|' +
                         QString::number(box->buttons().size());
            box->button(QMessageBox::Ok)->click();
        });
        dismiss.start(10);
        TCPComm::ConnectSwitcher();
        dismiss.stop();
        QCOMPARE(shown, QStringList(boxes, QCoreApplication::applicationName() +
                                               "|Unable to connect to remote host|1"));
        QTRY_COMPARE(form().scktServer->state(), QAbstractSocket::UnconnectedState);
        QVERIFY(failedWith(TCPComm::kErrConnect));
        QCOMPARE(m_failureReports, boxes);
        QTest::qWait(20);
        QVERIFY(!m_link.server.hasPendingConnections());
        QVERIFY(shownClosed());

        sIPAddress = QStringLiteral("127.0.0.1");
        lIPPort = m_link.server.serverPort();
        QVERIFY(m_link.connectPanel());
    }

    // More than the buffer may hold, then a report, then the switcher closes: the report only
    // decodes if every byte before it came through the throttled path, and the link reads all
    // that waits before it closes.
    void floodBeyondTheBoundThenClose() {
        QVERIFY(m_link.connectPanel());
        const QByteArray flood(2 * LinkInput::kMaxBufferedBytes, 0x11);
        qsizetype maxBuffered = 0;
        qint64 maxInSocket = 0;
        int retries = 0; // reads put off because sBuffer was full
        QObject scope;
        connect(form().scktServer->findChild<QTimer *>("readRetry"), &QTimer::timeout, &scope,
                [&] { ++retries; });

        m_link.peer->write(flood + kReport5);
        m_link.peer->disconnectFromHost(); // once everything has been written
        const auto watch = [&] {
            maxBuffered = std::max(maxBuffered, sBuffer.size());
            maxInSocket = std::max(maxInSocket, form().scktServer->bytesAvailable());
        };
        QVERIFY(spinUntil([] { return udtInGain[5].iSource == 1000; }, 15000, watch));
        QCOMPARE(TCPComm::BytesReceived(), flood.size() + kReport5.size());
        QVERIFY(retries > 0);
        QVERIFY2(maxBuffered <= LinkInput::kMaxBufferedBytes, QByteArray::number(maxBuffered));
        QVERIFY(maxInSocket <= LinkInput::kDeviceReadBufferBytes);
        QTRY_VERIFY(!form().scktServer->isOpen());
        QVERIFY(shownOpen());
    }
};

QTEST_MAIN(TcpLinkTest)
#include "test_tcplink.moc"
