// The TCP link against a real peer: a QTcpServer on 127.0.0.1 plays the switcher, and a real
// main window provides the menu caption, the decode timer and the message box. Floods,
// dribbled bytes and resets from a hostile switcher are in test_hostile.cpp.

#include "app/Variables.h"
#include "app/frmMain.h"
#include "protocol/Failure.h"
#include "protocol/Seams.h"
#include "support/EventLoop.h"
#include "support/ProtocolFakes.h"
#include "support/SettingsFile.h"
#include "transport/LinkInput.h"
#include "transport/TcpLink.h"

#include <QAbstractButton>
#include <QAction>
#include <QMessageBox>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>
#include <memory>

using ProtocolFakes::Hex;
using TestSupport::spinUntil;
using namespace Variables;

namespace {

// Input gain of channel 6 (5 counting from 0) reported as 1000; and channel 7 as 900.
const QByteArray kReport5 = Hex("E3 00 01 01 00 05 00 68 07 76 FF");
const QByteArray kReport6 = Hex("E3 00 01 01 00 06 00 04 07 13 FF");

} // namespace

class TcpLinkTest : public QObject {
    Q_OBJECT

    QTcpServer m_switcher;
    std::unique_ptr<frmMain> m_form;
    QPointer<QTcpSocket> m_peer;
    int m_failureReports = 0;

    QString caption() const { return m_form->mnuConnect->text(); }
    bool shownClosed() const { return caption() == "&Connect" && !bConnected; }
    bool shownOpen() const { return caption() == "&Disconnect" && bConnected; }

    // Waits for the panel's connection at the switcher, which becomes m_peer, and for the
    // panel's connected event.
    bool acceptPeer() {
        if (!QTest::qWaitFor([this] { return m_switcher.hasPendingConnections(); }, 2000))
            return false;
        m_peer = m_switcher.nextPendingConnection();
        return QTest::qWaitFor([] { return bConnected; }, 2000);
    }

    bool connectPanel() {
        TCPComm::ConnectSwitcher();
        return acceptPeer();
    }

    // Writes from the switcher's end and waits until the panel has taken the bytes in.
    bool peerSends(const QByteArray &bytes) {
        const qint64 expected = TCPComm::BytesReceived() + bytes.size();
        m_peer->write(bytes);
        m_peer->flush();
        return QTest::qWaitFor([expected] { return TCPComm::BytesReceived() == expected; }, 2000);
    }

    QByteArray peerReceives(qsizetype count) {
        QByteArray got;
        spinUntil([&] { return (got += m_peer->readAll()).size() >= count; }, 2000);
        return got;
    }

  private slots:
    void initTestCase() { QVERIFY(m_switcher.listen(QHostAddress::LocalHost)); }

    void init() {
        ResetAll();
        TCPComm::seams() = TCPComm::Seams{};
        TCPComm::ClearLastFailure();
        m_form = std::make_unique<frmMain>();
        sIPAddress = QStringLiteral("127.0.0.1");
        lIPPort = m_switcher.serverPort();
        m_failureReports = 0;
        auto &hooks = TCPComm::seams();
        hooks.reportConnectFailure = [this, report = hooks.reportConnectFailure] {
            ++m_failureReports;
            report();
        };
    }

    void cleanup() {
        m_form.reset();
        delete m_peer;
        while (m_switcher.hasPendingConnections())
            delete m_switcher.nextPendingConnection();
    }

    // The link's life: closed, connecting at start-up, open, and closed by shutdown before
    // the settings are written. Sends go out whole and at once while it is open, and are
    // dropped (not held back) otherwise.
    void startUpConnectsAndShutdownDisconnects() {
        QVERIFY(shownClosed());
        TCPComm::SendToSwitcher(Hex("F4"));
        QCOMPARE(TCPComm::LastFailure(), QString(TCPComm::kErrSend));
        TestSupport::writeSettingsFile("[CONFIGURATION]\nIP Address=127.0.0.1\nIP Port=" +
                                       QByteArray::number(m_switcher.serverPort()) + "\n");
        m_form->Form_Load();
        TestSupport::removeSettingsFile();
        TCPComm::SendToSwitcher(Hex("F1")); // still connecting
        QVERIFY(acceptPeer());
        QVERIFY(shownOpen());
        QCOMPARE(m_form->scktServer->state(), QAbstractSocket::ConnectedState);
        QVERIFY(peerSends(Hex("F5")));
        QCOMPARE(peerReceives(1), Hex("F4"));
        const QByteArray command = Hex("E3 02 01 01 00 00 00 4C 08 58 FF");
        TCPComm::SendToSwitcher(command);
        QCOMPARE(m_form->scktServer->bytesToWrite(), 0); // handed to the operating system
        QCOMPARE(peerReceives(command.size()), command);
        QTest::qWait(20);
        QCOMPARE(m_peer->readAll(), QByteArray());

        m_form->close();
        QVERIFY(shownClosed());
        QTRY_COMPARE(m_peer->state(), QAbstractSocket::UnconnectedState);
        TestSupport::removeSettingsFile(); // written by the shutdown
        // Closing what is already closed changes nothing and shows nothing.
        TCPComm::DisconnectSwitcher();
        TCPComm::DisconnectSwitcher();
        QVERIFY(shownClosed());
        QCOMPARE(m_failureReports, 0);
    }

    // Each data event takes in what waits and runs one dispatcher step; the decode timer
    // (held here, counting its starts) is started only when bytes remain.
    void receive_data() {
        QTest::addColumn<QList<QByteArray>>("batches");
        QTest::addColumn<QByteArray>("left"); // sBuffer after the data events
        QTest::addColumn<int>("starts");
        QTest::addColumn<qint16>("gain6"); // once the timer has drained sBuffer
        QTest::newRow("one batch") << QList<QByteArray>{kReport5} << QByteArray() << 0 << qint16(0);
        QTest::newRow("split") << QList<QByteArray>{Hex("E3 00 01"), Hex("01 00 05 00 68"),
                                                    Hex("07 76 FF")}
                               << QByteArray() << 2 << qint16(0);
        QTest::newRow("junk before")
            << QList<QByteArray>{Hex("05 7F") + kReport5} << Hex("7F") + kReport5 << 1 << qint16(0);
        QTest::newRow("two messages")
            << QList<QByteArray>{kReport5 + kReport6} << kReport6 << 1 << qint16(900);
    }
    void receive() {
        QFETCH(QList<QByteArray>, batches);
        QFETCH(QByteArray, left);
        QFETCH(int, starts);
        QFETCH(qint16, gain6);
        QVERIFY(connectPanel());
        m_form->tmrDecode->stop();
        int started = 0;
        TCPComm::seams().startDecodeTimer = [&started] { ++started; };
        for (const QByteArray &batch : batches)
            QVERIFY(peerSends(batch));
        QCOMPARE(sBuffer.bytes().toHex(' '), left.toHex(' '));
        QCOMPARE(started, starts);
        for (int tick = 0; tick < 3 && !sBuffer.isEmpty(); ++tick)
            m_form->tmrDecode_Timer();
        QVERIFY(sBuffer.isEmpty());
        QCOMPARE(udtInGain[5].iSource, qint16(1000));
        QCOMPARE(udtInGain[6].iSource, gain6);
    }

    void dataDoesNotHoldBackARunningDecodeTimer() {
        // A stream of data events faster than the tick must not keep restarting the timer.
        m_form->tmrDecode->start();
        const int running = m_form->tmrDecode->timerId();
        TCPComm::seams().startDecodeTimer();
        QCOMPARE(m_form->tmrDecode->timerId(), running);
    }

    void switcherThatStopsReadingCannotGrowTheSendQueue() {
        QVERIFY(connectPanel());
        // The peer reads only when the event loop runs; until then everything piles up in
        // the kernel and then in the panel's socket.
        const QByteArray message(64 * 1024, 0x22);
        int accepted = 0;
        for (int i = 0, dropped = 0; i < 1000 && dropped < 3; ++i) {
            TCPComm::ClearLastFailure();
            TCPComm::SendToSwitcher(message);
            ++(TCPComm::LastFailure().isEmpty() ? accepted : dropped);
        }
        QCOMPARE(TCPComm::LastFailure(), QString(TCPComm::kErrSend));
        QVERIFY(m_form->scktServer->bytesToWrite() <= TCPComm::kMaxQueuedSendBytes);

        // Once the switcher reads again, every accepted message arrives, and nothing else.
        const qint64 expected = accepted * message.size();
        qint64 received = 0;
        QVERIFY(
            spinUntil([&] { return (received += m_peer->readAll().size()) >= expected; }, 4000));
        QTest::qWait(20);
        QCOMPARE(received + m_peer->readAll().size(), expected);
    }

    void switcherClosesMidMessage() {
        QVERIFY(connectPanel());
        m_peer->write(kReport5 + Hex("E3 00 01"));
        m_peer->close();
        QTRY_VERIFY(!m_form->scktServer->isOpen()); // once everything sent was read
        // What came before the close is kept: the report decoded, the fragment waiting.
        QCOMPARE(udtInGain[5].iSource, qint16(1000));
        QCOMPARE(sBuffer.bytes(), Hex("E3 00 01"));
        QVERIFY(shownOpen());               // until the user disconnects
        TCPComm::SendToSwitcher(Hex("F4")); // nowhere to go: dropped
        QCOMPARE(TCPComm::LastFailure(), QString(TCPComm::kErrSend));

        m_form->mnuConnect_Click();
        QVERIFY(shownClosed());
        delete m_peer;
        m_form->mnuConnect_Click();
        QVERIFY(acceptPeer());
        QVERIFY(shownOpen());
        QCOMPARE(sBuffer.bytes(), QByteArray()); // the fragment went with the old connection
        QCOMPARE(m_failureReports, 0);
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
            QTest::newRow(text) << QString(text) << qint32(m_switcher.serverPort()) << 0;
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
            auto *box = m_form->findChild<QMessageBox *>("connectFailure");
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
        QTRY_COMPARE(m_form->scktServer->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(TCPComm::LastFailure(), QString(TCPComm::kErrConnect));
        QCOMPARE(m_failureReports, boxes);
        QTest::qWait(20);
        QVERIFY(!m_switcher.hasPendingConnections());
        QVERIFY(shownClosed());

        sIPAddress = QStringLiteral("127.0.0.1");
        lIPPort = m_switcher.serverPort();
        QVERIFY(connectPanel());
    }

    // More than the buffer may hold, then a report, then the switcher closes: the report only
    // decodes if every byte before it came through the throttled path, and the link reads all
    // that waits before it closes.
    void floodBeyondTheBoundThenClose() {
        QVERIFY(connectPanel());
        const QByteArray flood(2 * LinkInput::kMaxBufferedBytes, 0x11);
        qsizetype maxBuffered = 0;
        qint64 maxInSocket = 0;
        int retries = 0; // reads put off because sBuffer was full
        QObject scope;
        connect(m_form->scktServer->findChild<QTimer *>("readRetry"), &QTimer::timeout, &scope,
                [&] { ++retries; });

        m_peer->write(flood + kReport5);
        m_peer->disconnectFromHost(); // once everything has been written
        QVERIFY(spinUntil([] { return udtInGain[5].iSource == 1000; }, 15000,
                          [&] {
                              maxBuffered = std::max(maxBuffered, sBuffer.size());
                              if (m_form->scktServer->isOpen())
                                  maxInSocket =
                                      std::max(maxInSocket, m_form->scktServer->bytesAvailable());
                          }));
        QCOMPARE(TCPComm::BytesReceived(), flood.size() + kReport5.size());
        QVERIFY(retries > 0);
        QVERIFY2(maxBuffered <= LinkInput::kMaxBufferedBytes, QByteArray::number(maxBuffered));
        QVERIFY(maxInSocket <= LinkInput::kDeviceReadBufferBytes);
        QTRY_VERIFY(!m_form->scktServer->isOpen());
        QVERIFY(shownOpen());
    }
};

QTEST_MAIN(TcpLinkTest)
#include "test_tcplink.moc"
