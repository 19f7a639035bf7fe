// The TCP link against a real peer: a QTcpServer on 127.0.0.1 plays the switcher, and a real
// main window provides the menu caption, the decode timer and the message box.

#include "app/Variables.h"
#include "app/frmMain.h"
#include "protocol/Failure.h"
#include "protocol/Seams.h"
#include "support/ProtocolFakes.h"
#include "support/SettingsFile.h"
#include "transport/LinkInput.h"
#include "transport/TcpLink.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>
#include <sys/socket.h>

using ProtocolFakes::Hex;
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
    int m_decodeStarts = 0;
    int m_failureReports = 0;

    QString caption() const { return m_form->mnuConnect->text(); }

    // Connects the panel and waits for both ends; the switcher's end becomes m_peer.
    bool connectPanel() {
        TCPComm::ConnectSwitcher();
        if (!QTest::qWaitFor([this] { return m_switcher.hasPendingConnections(); }, 2000))
            return false;
        m_peer = m_switcher.nextPendingConnection();
        return QTest::qWaitFor([] { return bConnected; }, 2000);
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
        static_cast<void>(QTest::qWaitFor(
            [&] {
                got += m_peer->readAll();
                return got.size() >= count;
            },
            2000));
        return got;
    }

    // Runs a real event loop (QTRY's waits sleep between rounds, which would starve the
    // decode timer) until done() holds, calling watch() every millisecond.
    static bool spinUntil(const std::function<bool()> &done, int timeoutMs,
                          const std::function<void()> &watch = {}) {
        QEventLoop loop;
        QElapsedTimer clock;
        clock.start();
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (watch)
                watch();
            if (done() || clock.hasExpired(timeoutMs))
                loop.quit();
        });
        poll.start(1);
        loop.exec();
        return done();
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
        m_decodeStarts = 0;
        m_failureReports = 0;
        auto &hooks = TCPComm::seams();
        hooks.startDecodeTimer = [this, start = hooks.startDecodeTimer] {
            ++m_decodeStarts;
            start();
        };
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

    void connectAndDisconnect() {
        QCOMPARE(caption(), QString("&Connect"));
        QVERIFY(connectPanel());
        QCOMPARE(caption(), QString("&Disconnect"));
        QCOMPARE(m_form->scktServer->state(), QAbstractSocket::ConnectedState);

        TCPComm::DisconnectSwitcher();
        QCOMPARE(caption(), QString("&Connect"));
        QVERIFY(!bConnected);
        QTRY_COMPARE(m_peer->state(), QAbstractSocket::UnconnectedState);

        // Closing what is already closed changes nothing and shows nothing.
        TCPComm::DisconnectSwitcher();
        TCPComm::DisconnectSwitcher();
        QCOMPARE(caption(), QString("&Connect"));
        QCOMPARE(m_failureReports, 0);
    }

    void receive_data() {
        QTest::addColumn<QList<QByteArray>>("batches");
        QTest::addColumn<bool>("leftBytes"); // a batch ended inside the message
        QTest::newRow("one batch") << QList<QByteArray>{kReport5} << false;
        QTest::newRow("split") << QList<QByteArray>{Hex("E3 00 01"), Hex("01 00 05 00 68"),
                                                    Hex("07 76 FF")}
                               << true;
        QList<QByteArray> single;
        for (const char byte : kReport5)
            single.append(QByteArray(1, byte));
        QTest::newRow("single bytes") << single << true;
        QTest::newRow("junk before") << QList<QByteArray>{Hex("05 7F") + kReport5} << true;
    }
    void receive() {
        QFETCH(QList<QByteArray>, batches);
        QFETCH(bool, leftBytes);
        QVERIFY(connectPanel());
        m_decodeStarts = 0;
        for (const QByteArray &batch : batches)
            QVERIFY(peerSends(batch));
        QTRY_COMPARE(udtInGain[5].iSource, qint16(1000));
        QTRY_VERIFY(sBuffer.isEmpty());
        QCOMPARE(m_decodeStarts > 0, leftBytes);
    }

    void twoMessagesInOneBatch() {
        QVERIFY(connectPanel());
        // Count the timer starts without letting the timer run, to see the one step.
        m_form->tmrDecode->stop();
        TCPComm::seams().startDecodeTimer = [this] { ++m_decodeStarts; };
        QVERIFY(peerSends(kReport5 + kReport6));
        QCOMPARE(udtInGain[5].iSource, qint16(1000));
        QCOMPARE(udtInGain[6].iSource, qint16(0));
        QCOMPARE(sBuffer.bytes(), kReport6);
        QCOMPARE(m_decodeStarts, 1);

        m_form->tmrDecode_Timer();
        QCOMPARE(udtInGain[6].iSource, qint16(900));
        QVERIFY(sBuffer.isEmpty());
    }

    void dataDoesNotHoldBackARunningDecodeTimer() {
        // A stream of data events faster than the tick must not keep restarting the timer.
        m_form->tmrDecode->start();
        const int running = m_form->tmrDecode->timerId();
        TCPComm::seams().startDecodeTimer();
        QCOMPARE(m_form->tmrDecode->timerId(), running);
    }

    void pingAnsweredAndSendWritesThrough() {
        QVERIFY(connectPanel());
        QVERIFY(peerSends(Hex("F5")));
        QCOMPARE(peerReceives(1), Hex("F4"));

        // The message has left the socket for the operating system before the call returns.
        const QByteArray command = Hex("E3 02 01 01 00 00 00 4C 08 58 FF");
        TCPComm::SendToSwitcher(command);
        QCOMPARE(m_form->scktServer->bytesToWrite(), 0);
        QCOMPARE(peerReceives(command.size()), command);
    }

    void switcherThatStopsReadingCannotGrowTheSendQueue() {
        QVERIFY(connectPanel());
        // The peer reads only when the event loop runs; until then everything piles up in
        // the kernel and then in the panel's socket.
        const QByteArray message(64 * 1024, 0x22);
        qint64 accepted = 0;
        int dropped = 0;
        for (int i = 0; i < 1000 && dropped < 3; ++i) {
            TCPComm::ClearLastFailure();
            TCPComm::SendToSwitcher(message);
            if (TCPComm::LastFailure().isEmpty())
                ++accepted;
            else
                ++dropped;
        }
        QCOMPARE(TCPComm::LastFailure(), QString(TCPComm::kErrSend));
        QVERIFY(m_form->scktServer->bytesToWrite() <= TCPComm::kMaxQueuedSendBytes);

        // Once the switcher reads again, every accepted message arrives, and nothing else.
        qint64 received = 0;
        QVERIFY(spinUntil(
            [&] {
                received += m_peer->readAll().size();
                return received >= accepted * message.size();
            },
            4000));
        QTest::qWait(20);
        received += m_peer->readAll().size();
        QCOMPARE(received, accepted * message.size());
    }

    void startUpConnectsAndShutdownDisconnects() {
        TestSupport::writeSettingsFile("[CONFIGURATION]\nIP Address=127.0.0.1\nIP Port=" +
                                       QByteArray::number(m_switcher.serverPort()) + "\n");
        m_form->Form_Load();
        TestSupport::removeSettingsFile();
        QTRY_VERIFY(m_switcher.hasPendingConnections());
        m_peer = m_switcher.nextPendingConnection();
        QTRY_COMPARE(caption(), QString("&Disconnect"));

        m_form->close();
        QCOMPARE(caption(), QString("&Connect"));
        QVERIFY(!bConnected);
        QTRY_COMPARE(m_peer->state(), QAbstractSocket::UnconnectedState);
        QVERIFY(TestSupport::readSettingsFile().contains(
            "IP Port=" + QByteArray::number(m_switcher.serverPort())));
        TestSupport::removeSettingsFile();
    }

    void sendWhileClosedIsDropped() {
        TCPComm::SendToSwitcher(Hex("F4"));
        QCOMPARE(TCPComm::LastFailure(), QString(TCPComm::kErrSend));

        // Still connecting: dropped as well, not held back for later.
        TCPComm::ConnectSwitcher();
        TCPComm::SendToSwitcher(Hex("F1"));
        QTRY_VERIFY(m_switcher.hasPendingConnections());
        m_peer = m_switcher.nextPendingConnection();
        QTRY_VERIFY(bConnected);
        TCPComm::SendToSwitcher(Hex("F3"));
        QCOMPARE(peerReceives(1), Hex("F3"));
        QTest::qWait(20);
        QCOMPARE(m_peer->readAll(), QByteArray());
        QCOMPARE(m_failureReports, 0);
    }

    void switcherCloses_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("close") << "close";
        QTest::newRow("reset") << "reset";
        QTest::newRow("close mid-message") << "mid-message";
    }
    void switcherCloses() {
        QFETCH(QString, how);
        QVERIFY(connectPanel());
        if (how == "reset") {
            const linger hard{1, 0}; // closing with linger 0 resets the connection
            QCOMPARE(::setsockopt(int(m_peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                                  sizeof hard),
                     0);
            m_peer->abort();
        } else {
            if (how == "mid-message")
                m_peer->write(kReport5 + Hex("E3 00 01"));
            m_peer->close();
        }
        QTRY_VERIFY(!m_form->scktServer->isOpen());
        QCOMPARE(m_form->scktServer->state(), QAbstractSocket::UnconnectedState);
        if (how == "mid-message") {
            // What came before the close is kept: the report decoded, the fragment waiting.
            QCOMPARE(udtInGain[5].iSource, qint16(1000));
            QCOMPARE(sBuffer.bytes(), Hex("E3 00 01"));
        }
        QCOMPARE(caption(), QString("&Disconnect"));
        QVERIFY(bConnected);
        TCPComm::SendToSwitcher(Hex("F4")); // nowhere to go: dropped
        QCOMPARE(TCPComm::LastFailure(), QString(TCPComm::kErrSend));

        m_form->mnuConnect_Click();
        QCOMPARE(caption(), QString("&Connect"));
        QVERIFY(!bConnected);
        delete m_peer;
        m_form->mnuConnect_Click();
        QTRY_VERIFY(m_switcher.hasPendingConnections());
        m_peer = m_switcher.nextPendingConnection();
        QTRY_COMPARE(caption(), QString("&Disconnect"));
        QVERIFY(peerSends(kReport6));
        // The fragment the old connection left is gone and does not swallow the new report.
        QTRY_COMPARE(udtInGain[6].iSource, qint16(900));
        QCOMPARE(sBuffer.bytes(), QByteArray());
        QCOMPARE(m_failureReports, 0);
    }

    void badAddressFailsSilently_data() {
        QTest::addColumn<QString>("address");
        for (const char *text :
             {"", "localhost", "256.0.0.1", "127.0.0", "127.0.0.1.1", "127.0.0.-1", "127.0..1",
              " 127.0.0.1", "0x7f.0.0.1", "1270.0.0.1"})
            QTest::newRow(text) << QString(text);
    }
    void badAddressFailsSilently() {
        QFETCH(QString, address);
        sIPAddress = address;
        TCPComm::ConnectSwitcher();
        QCOMPARE(TCPComm::LastFailure(), QString(TCPComm::kErrConnect));
        QCOMPARE(m_form->scktServer->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(m_failureReports, 0);
        QTest::qWait(20);
        QVERIFY(!m_switcher.hasPendingConnections());
        QCOMPARE(caption(), QString("&Connect"));
        QVERIFY(!bConnected);
    }

    void badPortShowsTheMessageBoxOnce_data() {
        QTest::addColumn<qint32>("port");
        QTest::newRow("0") << 0;
        QTest::newRow("70000") << 70000;
        QTest::newRow("65536") << 65536;
        QTest::newRow("-1") << -1;
    }
    void badPortShowsTheMessageBoxOnce() {
        QFETCH(qint32, port);
        lIPPort = port;
        int boxes = 0;
        QString title, text;
        int buttons = 0;
        QTimer dismiss;
        connect(&dismiss, &QTimer::timeout, this, [&] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                if (!box || !box->isVisible() || box->objectName() != "connectFailure")
                    continue;
                ++boxes;
                title = box->windowTitle();
                text = box->text();
                buttons = int(box->buttons().size());
                box->button(QMessageBox::Ok)->click();
            }
        });
        dismiss.start(10);
        TCPComm::ConnectSwitcher();
        dismiss.stop();
        QCOMPARE(boxes, 1);
        QCOMPARE(text, QString("Unable to connect to remote host"));
        QCOMPARE(title, QCoreApplication::applicationName());
        QCOMPARE(buttons, 1);
        QCOMPARE(m_form->scktServer->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(caption(), QString("&Connect"));
        QVERIFY(!bConnected);
    }

    void refusedAttemptFailsSilently() {
        QTcpServer gone;
        QVERIFY(gone.listen(QHostAddress::LocalHost));
        lIPPort = gone.serverPort();
        gone.close();
        TCPComm::ConnectSwitcher();
        QTRY_COMPARE(m_form->scktServer->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(TCPComm::LastFailure(), QString(TCPComm::kErrConnect));
        QCOMPARE(m_failureReports, 0);
        QCOMPARE(caption(), QString("&Connect"));
        QVERIFY(!bConnected);

        // The next attempt, to a listening port, goes through.
        lIPPort = m_switcher.serverPort();
        QVERIFY(connectPanel());
    }

    void floodStaysBoundedAndLosesNothing_data() {
        QTest::addColumn<bool>("closeAfter");
        QTest::newRow("switcher stays") << false;
        QTest::newRow("switcher closes at once") << true;
    }
    void floodStaysBoundedAndLosesNothing() {
        QFETCH(bool, closeAfter);
        QVERIFY(connectPanel());
        // More junk than the buffer may hold, then a report: it only decodes if every byte
        // before it came through and the buffer drained.
        const QByteArray flood = QByteArray(LinkInput::kMaxBufferedBytes + 1024 * 1024, 0x11);
        const qint64 total = flood.size() + kReport5.size();

        qsizetype maxBuffered = 0;
        qint64 maxInSocket = 0;
        const auto watch = [&] {
            maxBuffered = std::max(maxBuffered, sBuffer.size());
            if (m_form->scktServer->isOpen())
                maxInSocket = std::max(maxInSocket, m_form->scktServer->bytesAvailable());
        };
        m_peer->write(flood + kReport5);
        if (closeAfter)
            m_peer->disconnectFromHost(); // once everything has been written
        QVERIFY(spinUntil([] { return udtInGain[5].iSource == 1000; }, 15000, watch));
        QCOMPARE(TCPComm::BytesReceived(), total);

        QVERIFY2(maxBuffered <= LinkInput::kMaxBufferedBytes, QByteArray::number(maxBuffered));
        // The bound was reached, so the throttled path ran.
        QVERIFY2(maxBuffered > LinkInput::kMaxBufferedBytes - LinkInput::kDeviceReadBufferBytes,
                 QByteArray::number(maxBuffered));
        QVERIFY(maxInSocket <= LinkInput::kDeviceReadBufferBytes);

        if (closeAfter) {
            QTRY_VERIFY(!m_form->scktServer->isOpen());
            QCOMPARE(caption(), QString("&Disconnect"));
        } else {
            QVERIFY(peerSends(Hex("F5")));
            QCOMPARE(peerReceives(1), Hex("F4"));
        }
    }
};

QTEST_MAIN(TcpLinkTest)
#include "test_tcplink.moc"
