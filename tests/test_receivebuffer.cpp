// The receive buffer: front consumption, the EOM search and compaction.

#include "protocol/ReceiveBuffer.h"
#include "support/ProtocolFakes.h"

#include <QtTest>

using ProtocolFakes::Hex;

class TestReceiveBuffer : public QObject {
    Q_OBJECT

  private slots:
    void eomFoundAcrossAppends() {
        ReceiveBuffer b;
        QCOMPARE(b.firstEom(), 0);
        b.append(Hex("E3 00 01"));
        QCOMPARE(b.firstEom(), 0);
        b.append(Hex("02 FF 81 FF"));
        QCOMPARE(b.firstEom(), 5);
        QCOMPARE(b.take(5).toHex(' '), Hex("E3 00 01 02 FF").toHex(' '));
        QCOMPARE(b.firstEom(), 2);
        QCOMPARE(b.front(), 0x81);
        b.drop(1);
        QCOMPARE(b.firstEom(), 1);
        b.drop(1);
        QVERIFY(b.isEmpty());
        QCOMPARE(b.firstEom(), 0);
    }

    void takeAndDropClampToSize() {
        ReceiveBuffer b;
        b.append(Hex("01 02"));
        QCOMPARE(b.take(5).toHex(' '), Hex("01 02").toHex(' '));
        QVERIFY(b.isEmpty());
        b.drop(3);
        QCOMPARE(b.size(), 0);
        b.append(Hex("03 FF"));
        QCOMPARE(b.firstEom(), 2);
    }

    // Positions beyond 16 bits, and content kept intact when consumed storage is reclaimed.
    void longBufferAndCompaction() {
        ReceiveBuffer b;
        QByteArray data(200 * 1024, '\x01');
        data[40000] = '\xFF';
        data[150000] = '\xFF';
        b.append(data);
        QCOMPARE(b.firstEom(), 40001);
        QCOMPARE(b.take(40001).size(), 40001);
        QCOMPARE(b.firstEom(), 150000 - 40001 + 1);
        b.drop(100000); // past half: the consumed front is reclaimed
        QCOMPARE(b.size(), data.size() - 140001);
        QCOMPARE(b.firstEom(), 150000 - 140001 + 1);
        QCOMPARE(b.bytes(), data.mid(140001));
        b.append(Hex("7E"));
        QCOMPARE(b.at(b.size() - 1), 0x7E);
        b.clear();
        QVERIFY(b.isEmpty());
        QCOMPARE(b.firstEom(), 0);
    }
};

QTEST_MAIN(TestReceiveBuffer)
#include "test_receivebuffer.moc"
