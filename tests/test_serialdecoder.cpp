// The serial port's quick pass over the receive buffer.

#include "protocol/SerialDecoder.h"
#include "support/ProtocolFakes.h"

#include <QtTest>

using namespace ProtocolFakes;

class TestSerialDecoder : public QObject {
    Q_OBJECT
    ProtocolFakes::Recorder rec;

    void decode() { TCPComm::DecodeMessage(rec.sBuffer, rec.tables, rec); }

  private slots:
    void init() { rec.reset(); }

    void oneCall_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("left");
        QTest::addColumn<int>("gain5"); // udtInGain(5).iSource afterwards
        QTest::newRow("junk then report") << Hex("05 06") + kReport5 << QByteArray() << 1000;
        QTest::newRow("report then more") << kReport5 + Hex("05 F5") << Hex("05 F5") << 1000;
        QTest::newRow("incomplete report") << Hex("E3 00 01") << Hex("E3 00 01") << 0;
        QTest::newRow("F5 not answered") << Hex("F5 E3 00 01") << Hex("E3 00 01") << 0;
        QTest::newRow("F4") << Hex("F4 01") << Hex("01") << 0;
        QTest::newRow("lone EOM") << Hex("FF 12") << Hex("12") << 0;
        QTest::newRow("map loses its status byte") << kMapExample << kMapExample.mid(1) << 0;
        QTest::newRow("greeting loses its status byte")
            << Hex("81 64 64 FF") << Hex("64 64 FF") << 0;
        QTest::newRow("incomplete greeting waits") << Hex("81 64") << Hex("81 64") << 0;
        QTest::newRow("F1 waits for an EOM") << Hex("F1 01") << Hex("F1 01") << 0;
        QTest::newRow("F1 then alone") << Hex("F1 01 FF") << Hex("01 FF") << 0;
        QTest::newRow("only junk") << Hex("01 02 03") << QByteArray() << 0;
    }
    void oneCall() {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, left);
        QFETCH(int, gain5);
        rec.sBuffer.append(input);
        decode();
        QCOMPARE(rec.sBuffer.bytes().toHex(' '), left.toHex(' '));
        QCOMPARE(rec.tables.udtInGain[5].iSource, gain5);
        QVERIFY(rec.sent.isEmpty());
    }

    // The rest of a stripped map drains as junk and is never decoded.
    void strippedMapIsLost() {
        rec.sBuffer.append(kMapExample);
        for (int i = 0; i < 3 && !rec.sBuffer.isEmpty(); ++i)
            decode();
        QVERIFY(rec.sBuffer.isEmpty());
        QCOMPARE(rec.tables.udtXpt[64].bCount, 0);
        QVERIFY(rec.mapsStored.isEmpty());
    }
};

QTEST_MAIN(TestSerialDecoder)
#include "test_serialdecoder.moc"
