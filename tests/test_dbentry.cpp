// Typing a fader's gain: what a text stands for.

#include "faders/DbEntry.h"

#include <QLocale>
#include <QtTest>
#include <cmath>
#include <limits>

namespace {

const QLocale kGerman(QLocale::German, QLocale::Germany);

} // namespace

class DbEntryTest : public QObject {
    Q_OBJECT

  private slots:
    // Texts and the gain value they stand for (0: no gain). Ties go to the quieter step.
    void gainOfText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("german");
        QTest::addColumn<int>("gain");
        const auto row = [](const char *text, bool german, int gain) {
            QTest::addRow("%s%s", text, german ? " (de)" : "")
                << QString::fromUtf8(text) << german << gain;
        };
        row("-6", false, 964);
        row("  +2.5 dB ", false, 1049);
        row("-6,5", true, 959);
        row("-6.5", true, 959);
        row("\u22126", false, 964);
        row(".5", false, 1029);
        row("5.", false, 1074);
        row("-0", false, 1024);
        row("-0.15", false, 1022);
        row("0.15", false, 1025);
        row("-0.150001", false, 1022);
        row("0.1500001", false, 1026);
        row("-99.95", false, 24);
        row("-99.94", false, 25);
        row("24.05", false, 1264);
        row("99999999999999999999.9", false, 1264);
        row("-99999999999999999999", false, 24);
        row("OFF", false, 24);
        row("1,5", false, 0); // a group separator in C
        row("1.000,5", true, 0);
        row("", false, 0);
        row("-", false, 0);
        row(".", false, 0);
        row("+,", true, 0);
        row("db", false, 0);
        row("--1", false, 0);
        row("- 6", false, 0);
        row("1.2.3", false, 0);
        row("1e3", false, 0);
        row("nan", false, 0);
        row("inf", false, 0);
        row("off db", false, 0);
        row("six", false, 0);
    }
    void gainOfText() {
        QFETCH(QString, text);
        QFETCH(bool, german);
        QFETCH(int, gain);
        QCOMPARE(DbEntry::GainOfText(text, german ? kGerman : QLocale::c()).value_or(0), gain);
    }

    void gainOfDb() {
        QCOMPARE(DbEntry::GainOfDb(-0.05), std::optional<qint16>(1023));
        QCOMPARE(DbEntry::GainOfDb(-6.5), std::optional<qint16>(959));
        QCOMPARE(DbEntry::GainOfDb(1e300), std::optional<qint16>(1264));
        QVERIFY(!DbEntry::GainOfDb(std::nan("")));
        QVERIFY(!DbEntry::GainOfDb(-std::numeric_limits<double>::infinity()));
    }
};

QTEST_MAIN(DbEntryTest)
#include "test_dbentry.moc"
