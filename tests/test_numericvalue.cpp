#include "config/NumericValue.h"

#include <QtTest>

// A missing value in the tables below means "does not fit the holder".
using Expected = std::optional<qint64>;
Q_DECLARE_METATYPE(Expected)

class TestNumericValue : public QObject {
    Q_OBJECT

  private slots:

    void value_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Expected>("as16");
        QTest::addColumn<Expected>("as32");
        const Expected fail;

        // Blanks, tabs and line feeds anywhere; everything else stops the reading.
        QTest::newRow("empty") << "" << Expected(0) << Expected(0);
        QTest::newRow("letters") << "abc" << Expected(0) << Expected(0);
        QTest::newRow("12abc") << "12abc" << Expected(12) << Expected(12);
        QTest::newRow("tab lf") << "\t1\n2 " << Expected(12) << Expected(12);
        QTest::newRow("cr stops") << "1\r2" << Expected(1) << Expected(1);
        QTest::newRow("spaced sign") << " - 3" << Expected(-3) << Expected(-3);
        QTest::newRow("plus") << "+7" << Expected(7) << Expected(7);
        QTest::newRow("two signs") << "--3" << Expected(0) << Expected(0);
        QTest::newRow("lone point") << "." << Expected(0) << Expected(0);
        QTest::newRow("second point stops") << "1.2.9" << Expected(1) << Expected(1);
        QTest::newRow("comma stops") << "1,9" << Expected(1) << Expected(1);
        QTest::newRow("non-ascii digit")
            << QString::fromUtf8("\u0663") << Expected(0) << Expected(0);

        // Round half to even, on the exact decimal digits.
        QTest::newRow("2.5") << "2.5" << Expected(2) << Expected(2);
        QTest::newRow("3.5") << "3.5" << Expected(4) << Expected(4);
        QTest::newRow("-2.5") << "-2.5" << Expected(-2) << Expected(-2);
        QTest::newRow("2.5000001") << "2.5000001" << Expected(3) << Expected(3);
        QTest::newRow("2.4999") << "2.4999" << Expected(2) << Expected(2);
        QTest::newRow(".5") << ".5" << Expected(0) << Expected(0);
        QTest::newRow("-0.4") << "-0.4" << Expected(0) << Expected(0);

        // Exponents.
        QTest::newRow("1E3") << "1E3" << Expected(1000) << Expected(1000);
        QTest::newRow("1.5e1") << "1.5e1" << Expected(15) << Expected(15);
        QTest::newRow("25e-1") << "25e-1" << Expected(2) << Expected(2);
        QTest::newRow("1e+") << "1e+" << Expected(1) << Expected(1);
        QTest::newRow("D is no exponent") << "12D3" << Expected(12) << Expected(12);
        QTest::newRow("1e400") << "1e400" << fail << fail;
        QTest::newRow("1e-400") << "1e-400" << Expected(0) << Expected(0);
        QTest::newRow("0e999999999999") << "0e999999999999" << Expected(0) << Expected(0);
        QTest::newRow("exponent of many digits") << "1e99999999999999999999999" << fail << fail;

        // Hexadecimal and octal: unsigned magnitudes.
        QTest::newRow("&H1F") << "&H1F" << Expected(31) << Expected(31);
        QTest::newRow("&hff lower") << "&hff" << Expected(255) << Expected(255);
        QTest::newRow("&O17") << "&O17" << Expected(15) << Expected(15);
        QTest::newRow("&o8 no octal digit") << "&o8" << Expected(0) << Expected(0);
        QTest::newRow("&H7FFF") << "&H7FFF" << Expected(32767) << Expected(32767);
        QTest::newRow("&HFFFF") << "&HFFFF" << fail << Expected(65535);
        QTest::newRow("&H80000000") << "&H80000000" << fail << fail;
        QTest::newRow("&H blank") << "& H 1 0" << Expected(16) << Expected(16);
        QTest::newRow("sign before &H") << "-&H10" << Expected(0) << Expected(0);
        QTest::newRow("&H1G") << "&H1G" << Expected(1) << Expected(1);

        // Holder limits.
        QTest::newRow("32767") << "32767" << Expected(32767) << Expected(32767);
        QTest::newRow("-32768") << "-32768" << Expected(-32768) << Expected(-32768);
        QTest::newRow("32767.5") << "32767.5" << fail << Expected(32768);
        QTest::newRow("40000") << "40000" << fail << Expected(40000);
        QTest::newRow("2147483647") << "2147483647" << fail << Expected(2147483647);
        QTest::newRow("-2147483648") << "-2147483648" << fail << Expected(-2147483648LL);
        QTest::newRow("2147483648") << "2147483648" << fail << fail;
        QTest::newRow("40 digits") << QString(40, u'9') << fail << fail;
        QTest::newRow("leading zeros")
            << "0000000000000000000000000042" << Expected(42) << Expected(42);
    }

    void value() {
        QFETCH(QString, text);
        QFETCH(Expected, as16);
        QFETCH(Expected, as32);

        const std::optional<qint16> v16 = DiskWork::NumericValue16(text);
        QCOMPARE(v16.has_value(), as16.has_value());
        if (as16)
            QCOMPARE(qint64(*v16), *as16);

        const std::optional<qint32> v32 = DiskWork::NumericValue32(text);
        QCOMPARE(v32.has_value(), as32.has_value());
        if (as32)
            QCOMPARE(qint64(*v32), *as32);
    }
};

QTEST_MAIN(TestNumericValue)
#include "test_numericvalue.moc"
