// The serial link on a pseudo-terminal pair: the link's port is opened on the slave side (the
// program itself never opens it), and the test plays the far end on the master.

#include "support/Controls.h"
#include "support/ProtocolFakes.h"
#include "transport/SwitcherLink.h"

#include <QSerialPort>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <stdlib.h>
#include <unistd.h>

using ProtocolFakes::Hex;
using ProtocolFakes::kReport5;
using TestSupport::Find;

class SerialLinkTest : public QObject {
    Q_OBJECT

    std::unique_ptr<SwitcherLink> m_link;
    QSerialPort *m_port = nullptr;
    QTimer *m_tmrDecode = nullptr;
    int m_master = -1;

    bool openPort() {
        m_port->setPortName(QString::fromLocal8Bit(::ptsname(m_master)));
        return m_port->open(QIODevice::ReadWrite);
    }

    // Whether the receive event started the decode timer since the last look.
    bool decodeStarted() {
        const bool started = m_tmrDecode->isActive();
        m_tmrDecode->stop();
        return started;
    }

    void farEndWrites(const QByteArray &bytes) {
        QCOMPARE(::write(m_master, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    }

    // Whatever the port sent, collected for a short while.
    QByteArray farEndReads() {
        QTest::qWait(100);
        QByteArray got(4096, Qt::Uninitialized);
        return got.left(std::max<ssize_t>(::read(m_master, got.data(), size_t(got.size())), 0));
    }

  private slots:
    void init() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(m_master >= 0);
        QCOMPARE(::grantpt(m_master), 0);
        QCOMPARE(::unlockpt(m_master), 0);

        m_link = std::make_unique<SwitcherLink>();
        m_port = Find<QSerialPort>(m_link.get(), "MSComm1");
        // A timer that never ticks, so that what one receive event did stays visible.
        m_tmrDecode = Find<QTimer>(m_link.get(), "tmrDecode");
        m_tmrDecode->stop();
        m_tmrDecode->setInterval(1000000);
    }

    void cleanup() {
        m_link.reset();
        ::close(m_master);
    }

    // One receive event appends what arrived and decodes once: a gain report at the front
    // applies at once, and the decode timer starts only when bytes remain.
    void receiveDecodesOnceAndLeavesTheRestToTheTimer() {
        QVERIFY(openPort());
        farEndWrites(Hex("05 06") + kReport5);
        QTRY_COMPARE(m_link->tables().udtInGain[5].iSource, qint16(1000));
        QVERIFY(m_link->sBuffer().isEmpty());
        QVERIFY(!decodeStarted());

        farEndWrites(Hex("F5") + kReport5);
        // The ping dropped unanswered (not even tried on the closed TCP link), the rest waits.
        QTRY_COMPARE(m_link->sBuffer().bytes(), kReport5);
        QVERIFY(decodeStarted());
        QCOMPARE(m_link->lastFailure(), QString());
    }

    // The program never opens the port itself; TcptoSerial writes only while it is open, and
    // closing is harmless when it is closed already.
    void tcptoSerialWritesOnlyWhenOpen() {
        QCOMPARE(m_port->baudRate(), 57600);
        QVERIFY(!m_port->isOpen());
        m_link->CloseSerialIfOpen();
        m_link->TcptoSerial(Hex("F1"));
        QVERIFY(openPort());
        const QByteArray reply = Hex("81 96 16 FF");
        m_link->TcptoSerial(reply);
        QCOMPARE(farEndReads(), reply); // byte-exact, and nothing of the earlier call

        m_link->CloseSerialIfOpen();
        QVERIFY(!m_port->isOpen());
        m_link->TcptoSerial(Hex("F3"));
        QCOMPARE(farEndReads(), QByteArray());
    }

    void farEndGoneClosesThePortSilently() {
        QVERIFY(openPort());
        ::close(m_master);
        m_master = -1;
        QTRY_VERIFY(!m_port->isOpen());
        QCOMPARE(m_link->lastFailure(), QString(SwitcherLink::kErrSerial));
    }
};

QTEST_MAIN(SerialLinkTest)
#include "test_seriallink.moc"
