// Byte classes, 14-bit fields, checksum and framing of outgoing messages.

#include "protocol/ByteManipulation.h"
#include "support/ProtocolFakes.h"

#include <QtTest>

using namespace ByteManipulation;
using ProtocolFakes::Hex;

class TestByteManipulation : public QObject {
    Q_OBJECT

  private slots:
    void checksum_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<int>("expected");
        QTest::newRow("gain report body") << Hex("E3 00 01 01 00 05 00 68 07") << 0x76;
        QTest::newRow("set-gain body") << Hex("E3 02 01 01 00 00 00 70 09") << 0x7D;
        QTest::newRow("status byte only") << Hex("E3") << 0;
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("sum wraps") << Hex("E3 7F 02") << 0x01;
        QTest::newRow("status byte not summed") << Hex("FE 01") << 0x01;
        QTest::newRow("bytes above 7F") << Hex("81 96") << 0x16;
    }
    void checksum() {
        QFETCH(QByteArray, message);
        QFETCH(int, expected);
        QCOMPARE(CalcChecksum(message), expected);
    }

    void statusByte_data() {
        QTest::addColumn<int>("byte");
        QTest::addColumn<bool>("status");
        QTest::newRow("80") << 0x80 << true;
        QTest::newRow("E3") << 0xE3 << true;
        QTest::newRow("FF") << 0xFF << true;
        QTest::newRow("00") << 0x00 << false;
        QTest::newRow("7F") << 0x7F << false;
    }
    void statusByte() {
        QFETCH(int, byte);
        QFETCH(bool, status);
        QCOMPARE(IsStatusByte(static_cast<quint8>(byte)), status);
    }

    // -1 stands for an overflow of the 16-bit result.
    void join7Bit_data() {
        QTest::addColumn<int>("lo");
        QTest::addColumn<int>("hi");
        QTest::addColumn<int>("expected");
        QTest::newRow("1000") << 0x68 << 0x07 << 1000;
        QTest::newRow("largest 14-bit") << 0x7F << 0x7F << 16383;
        QTest::newRow("hi FF") << 0x00 << 0xFF << 32640;
        QTest::newRow("exactly 32767") << 0x7F << 0xFF << 32767;
        QTest::newRow("32768 overflows") << 0x80 << 0xFF << -1;
        QTest::newRow("largest overflow") << 0xFF << 0xFF << -1;
    }
    void join7Bit() {
        QFETCH(int, lo);
        QFETCH(int, hi);
        QFETCH(int, expected);
        const auto value = Join7Bit(static_cast<quint8>(lo), static_cast<quint8>(hi));
        if (expected < 0) {
            QVERIFY(!value.has_value());
        } else {
            QVERIFY(value.has_value());
            QCOMPARE(int{*value}, expected);
        }
    }

    void read14OutsideMessage() {
        const QByteArray m = Hex("E3 68 07");
        QCOMPARE(*Read14(m, 2), 1000);
        QVERIFY(!Read14(m, 3)); // only the low byte is there
        QVERIFY(!Read14(m, 0));
    }

    void groups_data() {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<int>("groups");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("1000") << qint64{1000} << 2 << Hex("68 07");
        QTest::newRow("info selector") << qint64{0x8080} << 6 << Hex("00 01 02 00 00 00");
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
