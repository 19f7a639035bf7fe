// The greeting reply, the hold and the information request.

#include "protocol/Greeting.h"
#include "support/ProtocolFakes.h"

#include <QtTest>

using ProtocolFakes::Hex;

namespace {
const QByteArray kReply = Hex("81 96 16 FF");
const QByteArray kRequest = Hex("F2 00 01 02 00 00 00 00 00 00 00 03 FF");
} // namespace

class TestGreeting : public QObject {
    Q_OBJECT
    ProtocolFakes::Recorder rec;

  private slots:
    void init() { rec.reset(); }

    void greetings_data() {
        QTest::addColumn<QByteArray>("greeting");
        QTest::addColumn<bool>("answered");
        QTest::newRow("4 bytes") << Hex("81 64 64 FF") << true;
        QTest::newRow("5 bytes") << Hex("81 64 05 69 FF") << true;
        QTest::newRow("second byte 101") << Hex("81 65 65 FF") << false;
        QTest::newRow("6 bytes") << Hex("81 64 01 01 66 FF") << false;
        QTest::newRow("3 bytes") << Hex("81 00 FF") << false;
        QTest::newRow("wrong checksum") << Hex("81 64 63 FF") << false;
        QTest::newRow("EOM only") << Hex("FF") << false;
    }
    void greetings() {
        QFETCH(QByteArray, greeting);
        QFETCH(bool, answered);
        TCPComm::AnswerGreeting(greeting, rec);
        QCOMPARE(rec.sent, answered ? (QList<QByteArray>{kReply, kRequest}) : QList<QByteArray>{});
    }

    // Reply first, the request after the hold; the hold must not run far over.
    void requestFollowsAfterHold() {
        rec.sBuffer.append(Hex("81 64 64 FF F5"));
        rec.step();
        QCOMPARE(rec.sent, (QList<QByteArray>{kReply, kRequest}));
        const qint64 gap = rec.sentAtMs[1] - rec.sentAtMs[0];
        QVERIFY2(gap >= 100 && gap < 1000, qPrintable(QString::number(gap)));
        QCOMPARE(rec.sBuffer.bytes(), Hex("F5"));
    }

    // The selector goes out as six 7-bit groups, negative values truncated toward zero.
    void infoRequestCarriesItsSelector() {
        TCPComm::SendInfoRequest(-1, rec);
        QCOMPARE(rec.sent.join().toHex(' '),
                 Hex("F2 7F 00 00 00 00 00 00 00 00 00 7F FF").toHex(' '));
    }
};

QTEST_MAIN(TestGreeting)
#include "test_greeting.moc"
