// Byte classes, 14-bit fields, checksum and framing of outgoing messages.

#include "protocol/ByteManipulation.h"
#include "support/ProtocolFakes.h"

#include <QtTest>

using namespace ByteManipulation;
using ProtocolFakes::Hex;

class TestByteManipulation : public QObject {
    Q_OBJECT

  private slots:
    // Set-gain commands below and the gain report tests check checksums of whole messages.
    void checksum() {
        QCOMPARE(CalcChecksum(QByteArray()), 0);
        QCOMPARE(CalcChecksum(Hex("E3")), 0);          // the status byte is not summed
        QCOMPARE(CalcChecksum(Hex("E3 7F 02")), 0x01); // kept to 7 bits
        QCOMPARE(CalcChecksum(Hex("81 96")), 0x16);    // data bytes above 7F are summed whole
    }

    void statusByte() {
        QVERIFY(IsStatusByte(0x80) && IsStatusByte(0xFF));
        QVERIFY(!IsStatusByte(0x00) && !IsStatusByte(0x7F));
    }

    void join7Bit() {
        QCOMPARE(Join7Bit(0x68, 0x07).value_or(-1), 1000);
        QCOMPARE(Join7Bit(0x7F, 0x7F).value_or(-1), 16383);
        QCOMPARE(Join7Bit(0x7F, 0xFF).value_or(-1), 32767);
        QVERIFY(!Join7Bit(0x80, 0xFF)); // 32768 does not fit the 16-bit result
        QVERIFY(!Join7Bit(0xFF, 0xFF));
    }

    void read14OutsideMessage() {
        const QByteArray m = Hex("E3 68 07");
        QCOMPARE(Read14(m, 2).value_or(-1), 1000);
        QVERIFY(!Read14(m, 3)); // only the low byte is there
        QVERIFY(!Read14(m, 0));
    }

    void groups_data() {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<int>("groups");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("1000") << qint64{1000} << 2 << Hex("68 07");
        QTest::newRow("largest 32-bit") << qint64{0x7FFFFFFF} << 6 << Hex("7F 7F 7F 7F 07 00");
        QTest::newRow("above 14 bits is masked") << qint64{16384 + 5} << 2 << Hex("05 00");
        // Division truncates toward zero before the mask.
        QTest::newRow("minus one") << qint64{-1} << 2 << Hex("7F 00");
        QTest::newRow("minus 129") << qint64{-129} << 2 << Hex("7F 7F");
    }
    void groups() {
        QFETCH(qint64, value);
        QFETCH(int, groups);
        QFETCH(QByteArray, expected);
        QByteArray data;
        Append7BitGroups(data, value, groups);
        QCOMPARE(data.toHex(' '), expected.toHex(' '));
    }

    // Set-gain commands: header bytes, then 14-bit fields (count, first channel, entries).
    void buildMessage_data() {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QList<int>>("fields");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("input 0 dB")
            << Hex("02 01") << QList<int>{1, 0, 1024} << Hex("E3 02 01 01 00 00 00 00 08 0C FF");
        QTest::newRow("output stereo +3 dB") << Hex("02 03") << QList<int>{2, 4, 1054, 1054}
                                             << Hex("E3 02 03 02 00 04 00 1E 08 1E 08 57 FF");
        QTest::newRow("dsp -10 dB") << Hex("02 0A") << QList<int>{1, 0, 924, 2}
                                    << Hex("E3 02 0A 01 00 00 00 1C 07 02 00 32 FF");
        QTest::newRow("output top")
            << Hex("02 03") << QList<int>{1, 1, 1264} << Hex("E3 02 03 01 00 01 00 70 09 00 FF");
        QTest::newRow("input top")
            << Hex("02 01") << QList<int>{1, 0, 1264} << Hex("E3 02 01 01 00 00 00 70 09 7D FF");
        QTest::newRow("input stereo ch 5") << Hex("02 01") << QList<int>{2, 5, 1100, 1100}
                                           << Hex("E3 02 01 02 00 05 00 4C 08 4C 08 32 FF");
    }
    void buildMessage() {
        QFETCH(QByteArray, header);
        QFETCH(QList<int>, fields);
        QFETCH(QByteArray, expected);
        QByteArray data = header;
        for (int field : fields)
            Append14(data, field);
        QCOMPARE(BuildMessage(0xE3, data).toHex(' '), expected.toHex(' '));
    }

    void buildMessageKeepsDataBytesSevenBit() {
        QCOMPARE(BuildMessage(0xE3, Hex("82 FF")).toHex(' '), Hex("E3 02 7F 01 FF").toHex(' '));
        QCOMPARE(BuildMessage(0xF2, QByteArray()).toHex(' '), Hex("F2 00 FF").toHex(' '));
    }
};

QTEST_MAIN(TestByteManipulation)
#include "test_bytemanipulation.moc"
