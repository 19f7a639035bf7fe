#include "faders/GainScale.h"

#include <QLocale>
#include <QtTest>

// Integer reference for the dB text of gains whose tenths are exact: sign, whole dB, and a
// tenth only when it is not zero.
static QString referenceDbText(int g) {
    if (g <= 24)
        return QStringLiteral("Off");
    const int tenths = g - 1024;
    const int magnitude = std::abs(tenths);
    QString number = QString::number(magnitude / 10);
    if (magnitude % 10 != 0)
        number += QLatin1Char('.') + QString::number(magnitude % 10);
    const QString sign = tenths > 0 ? QStringLiteral("+") : tenths < 0 ? QStringLiteral("-") : "";
    return sign + number + QStringLiteral("db");
}

class GainScaleTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { QLocale::setDefault(QLocale::c()); }
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void gainCaption_data() {
        QTest::addColumn<int>("gain");
        QTest::addColumn<QString>("caption");
        QTest::newRow("top") << 1264 << "Gain (+24db)";
        QTest::newRow("+1") << 1034 << "Gain (+1db)";
        QTest::newRow("+2.5") << 1049 << "Gain (+2.5db)";
        QTest::newRow("+0.1") << 1025 << "Gain (+0.1db)";
        QTest::newRow("zero") << 1024 << "Gain (0db)";
        QTest::newRow("-0.1") << 1023 << "Gain (-0.1db)";
        QTest::newRow("-10") << 924 << "Gain (-10db)";
        QTest::newRow("-99.9") << 25 << "Gain (-99.9db)";
        QTest::newRow("bottom") << 24 << "Gain (Off)";
        QTest::newRow("never reported") << 0 << "Gain (Off)";
        QTest::newRow("negative") << -32768 << "Gain (Off)";
        QTest::newRow("beyond the fader") << 2024 << "Gain (+100db)";
        QTest::newRow("largest field") << 16383 << "Gain (+1535.9db)";
        QTest::newRow("largest 16-bit") << 32767 << "Gain (+3174.3db)";
    }
    void gainCaption() {
        QFETCH(int, gain);
        QFETCH(QString, caption);
        QCOMPARE(GainScale::GainCaption(static_cast<qint16>(gain)), caption);
    }

    // Every 16-bit gain against the integer reference: this also rules out "+0db", "-0db",
    // exponents and stray digits from single-precision rounding.
    void everyGainFollowsTheRule() {
        for (int g = -32768; g <= 32767; ++g) {
            const QString text = GainText::DbText(static_cast<qint16>(g));
            if (text != referenceDbText(g))
                QFAIL(qPrintable(QStringLiteral("g=%1 gave %2").arg(g).arg(text)));
        }
    }

    void localeDecimalSeparatorWithoutGrouping() {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(GainText::DbText(1025), QStringLiteral("+0,1db"));
        QCOMPARE(GainText::DbText(25), QStringLiteral("-99,9db"));
        QCOMPARE(GainText::DbText(16383), QStringLiteral("+1535,9db"));
        QCOMPARE(GainText::DbText(1264), QStringLiteral("+24db"));
    }

    void positionsAndChannels() {
        QCOMPARE(GainScale::GainOfPosition(-1264), qint16(1264));
        QCOMPARE(GainScale::GainOfPosition(-24), qint16(24));
        QCOMPARE(GainScale::GainOfPosition(-100000), qint16(32767));
        QCOMPARE(GainScale::ChanCaption(0), QStringLiteral("Ch. 1"));
        QCOMPARE(GainScale::ChanCaption(1023), QStringLiteral("Ch. 1024"));
        QCOMPARE(GainScale::ChanCaption(32767), QStringLiteral("Ch. 32768"));
    }
};

QTEST_MAIN(GainScaleTest)
#include "test_gainscale.moc"
