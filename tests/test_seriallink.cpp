// The serial link on a pseudo-terminal pair: the main window's port is opened on the slave
// side (the program itself never opens it), and the test plays the far end on the master.

#include "app/Variables.h"
#include "app/frmMain.h"
#include "protocol/Failure.h"
#include "protocol/Seams.h"
#include "support/ProtocolFakes.h"
#include "transport/SerialLink.h"

#include <QSerialPort>
#include <QtTest>
#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <stdlib.h>
#include <unistd.h>

using ProtocolFakes::Hex;
using ProtocolFakes::kReport5;
using namespace Variables;

class SerialLinkTest : public QObject {
    Q_OBJECT

    std::unique_ptr<frmMain> m_form;
    int m_master = -1;
    int m_decodeStarts = 0;
    int m_sends = 0;

    bool openPort() {
        m_form->MSComm1->setPortName(QString::fromLocal8Bit(::ptsname(m_master)));
        return m_form->MSComm1->open(QIODevice::ReadWrite);
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
        ResetAll();
        TCPComm::seams() = TCPComm::Seams{};
        TCPComm::ClearLastFailure();
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(m_master >= 0);
        QCOMPARE(::grantpt(m_master), 0);
        QCOMPARE(::unlockpt(m_master), 0);

        m_form = std::make_unique<frmMain>();
        m_decodeStarts = 0;
        m_sends = 0;
        // Count instead of ticking, so that what one receive event did stays visible.
        m_form->tmrDecode->stop();
        TCPComm::seams().startDecodeTimer = [this] { ++m_decodeStarts; };
        TCPComm::seams().send = [this](const QByteArray &) { ++m_sends; };
    }

    void cleanup() {
        m_form.reset();
        ::close(m_master);
    }

    // One receive event appends what arrived and decodes once: a gain report at the front
    // applies at once, and the decode timer starts only when bytes remain.
    void receiveDecodesOnceAndLeavesTheRestToTheTimer() {
        QVERIFY(openPort());
        farEndWrites(Hex("05 06") + kReport5);
        QTRY_COMPARE(udtInGain[5].iSource, qint16(1000));
        QVERIFY(sBuffer.isEmpty());
        QCOMPARE(m_decodeStarts, 0);

        farEndWrites(Hex("F5") + kReport5);
        QTRY_COMPARE(sBuffer.bytes(), kReport5); // the ping dropped unanswered, the rest waits
        QCOMPARE(m_decodeStarts, 1);
        QCOMPARE(m_sends, 0);
    }

    // The program never opens the port itself; TcptoSerial writes only while it is open, and
    // closing is harmless when it is closed already.
    void tcptoSerialWritesOnlyWhenOpen() {
        QCOMPARE(m_form->MSComm1->baudRate(), 57600);
        QVERIFY(!m_form->MSComm1->isOpen());
        SerialLink::CloseIfOpen();
        m_form->TcptoSerial(Hex("F1"));
        QVERIFY(openPort());
        const QByteArray reply = Hex("81 96 16 FF");
        m_form->TcptoSerial(reply);
        QCOMPARE(farEndReads(), reply); // byte-exact, and nothing of the earlier call

        SerialLink::CloseIfOpen();
        QVERIFY(!m_form->MSComm1->isOpen());
        m_form->TcptoSerial(Hex("F3"));
        QCOMPARE(farEndReads(), QByteArray());
    }

    void farEndGoneClosesThePortSilently() {
        QVERIFY(openPort());
        ::close(m_master);
        m_master = -1;
        QTRY_VERIFY(!m_form->MSComm1->isOpen());
        QCOMPARE(TCPComm::LastFailure(), QString(SerialLink::kErrSerial));
    }
};

QTEST_MAIN(SerialLinkTest)
#include "test_seriallink.moc"
