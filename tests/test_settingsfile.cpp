// The settings file: the read rules of each key, writes that keep a hand-edited file and never
// leave a truncated one, and the numeric value of a text that every number goes through.

#include "config/DiskWork.h"
#include "config/NumericValue.h"
#include "support/SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>
#include <sys/resource.h>

namespace {

const QString kBadFile = QStringLiteral("Bad File");

// The six settings, and " | Bad File" after a failed read.
QString Text(const DiskWork::ReadResult &read) {
    return TestSupport::SettingsText(read.settings) +
           (read.ok ? QString() : QStringLiteral(" | ") + kBadFile);
}

const QString kStartUp = QStringLiteral("1 0 1 0 127.0.0.1 1250");
const QString kBefore = QStringLiteral("10 6 7 8 9.9.9.9 2"); // what each read starts from

void row(const char *name, const char *keys, const QString &expected) {
    QTest::newRow(name) << QByteArray(keys) << expected;
}

} // namespace
// A missing value in the tables below means "does not fit the holder".
using Expected = std::optional<qint64>;
Q_DECLARE_METATYPE(Expected)

class TestSettingsFile : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;

    void put(const QByteArray &bytes) {
        QFile f(m_path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    }
    QByteArray stored() const { return TestSupport::FileBytes(m_path); }

  private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_path = m_dir->filePath(QStringLiteral("Slider.ini"));
    }

    void pathInAFolder() {
        QCOMPARE(DiskWork::SettingsPathIn("/"), QStringLiteral("/Slider.ini"));
        QCOMPARE(DiskWork::SettingsPathIn("/opt/panel"), QStringLiteral("/opt/panel/Slider.ini"));
    }

    // Each read starts from other values than the start-up ones, so a key that is read is
    // told apart from one that keeps its value.
    void readRules_data() {
        QTest::addColumn<QByteArray>("keys"); // none: no file at all
        QTest::addColumn<QString>("expected");
        row("no file", {}, kStartUp);
        row("all keys", "Type=3\nChan 1=5\nChan 2=6\nOut Chan=7\nIP Address=10.1.2.3\nIP Port=4000",
            "3 4 5 6 10.1.2.3 4000");
        row("zeros and blanks", "Type=0\nChan 1=0\nChan 2=0\nOut Chan=0\nIP Address=\nIP Port=0",
            kStartUp);
        row("negative channels, 12abc, port 70000, address blanks",
            "Chan 1=-3\nChan 2=12abc\nOut Chan=-3\nIP Address =  host.lan  \nIP Port=70000",
            "1 -4 11 -3 host.lan 70000");
        row("2.5, 1 2, port letters", "Chan 1=2.5\nChan 2=1 2\nIP Port=abc",
            "1 1 11 0 127.0.0.1 1250");
        // The read stops at the first failing key; it and every later key keep their values.
        row("type 40000 stops", "Type=40000\nChan 1=5\nChan 2=6\nIP Address=10.0.0.1\nIP Port=9",
            kBefore + " | Bad File");
        row("chan 1 -32768 stops at the adjustment", "Type=3\nChan 1=-32768\nChan 2=6\nIP Port=9",
            "3 6 7 8 9.9.9.9 2 | Bad File");
        row("out chan 1e9 stops", "Chan 1=5\nChan 2=6\nOut Chan=1e9\nIP Address=10.0.0.1",
            "1 4 5 8 9.9.9.9 2 | Bad File");
        row("port 2147483648 fails last", "IP Address=10.0.0.1\nIP Port=2147483648",
            "1 0 1 0 10.0.0.1 2 | Bad File");
    }
    void readRules() {
        QFETCH(QByteArray, keys);
        QFETCH(QString, expected);
        if (!keys.isNull())
            put("[CONFIGURATION]\n" + keys + "\n");
        const Settings before{10, {6, 7}, 8, QStringLiteral("9.9.9.9"), 2};
        QCOMPARE(Text(DiskWork::ReadSettings(m_path, before)), expected);
    }

    // Negative channels are stored 1-based as they are; an address cannot break the file.
    void writeOddValues() {
        Settings odd;
        odd.iChan[0] = -4;
        odd.iOutChan = -3;
        odd.sIPAddress = QString::fromLatin1("10.0.0.1\r\n[Other]\nType=9\0x", 26);
        QVERIFY(DiskWork::WriteSettings(m_path, odd));
        QCOMPARE(stored(),
                 QByteArray(TestSupport::kFreshFile)
                     .replace("Chan 1=1", "Chan 1=-3")
                     .replace("Out Chan=1", "Out Chan=-2")
                     .replace("IP Address=127.0.0.1", "IP Address=10.0.0.1[Other]Type=9x"));
    }

    void writeStopsAtChannelOverflow() {
        put(TestSupport::kFreshFile);
        const Settings overflow{3, {32767, 4}, 0, QStringLiteral("127.0.0.1"), 99};
        QVERIFY(!DiskWork::WriteSettings(m_path, overflow));
        QCOMPARE(stored(), QByteArray(TestSupport::kFreshFile).replace("Type=1", "Type=3"));
    }

    void handEditedFileRoundTrips() {
        put("; Panel settings\r\n\r\n[Other]\r\nfoo = bar\r\n\r\n; the switcher\r\n"
            "[configuration]\r\n  type = 10 \r\nCHAN 1=4\r\n; keep me\r\nchan 2 = 6\r\n"
            "extra=keep\r\n\r\n; trailing note\r\n# and another\r\n");
        DiskWork::ReadResult read = DiskWork::ReadSettings(m_path);
        QCOMPARE(Text(read), QStringLiteral("10 3 5 0 127.0.0.1 1250"));

        read.settings.lIPPort = 4000;
        QVERIFY(DiskWork::WriteSettings(m_path, read.settings));
        const QByteArray once = stored();
        QCOMPARE(once, QByteArray("; Panel settings\r\n\r\n\r\n[Other]\r\nfoo=bar\r\n\r\n\r\n"
                                  "; the switcher\r\n[configuration]\r\ntype=10\r\nCHAN 1=4\r\n"
                                  "\r\n; keep me\r\nchan 2=6\r\nextra=keep\r\nOut Chan=1\r\n"
                                  "IP Address=127.0.0.1\r\nIP Port=4000\r\n\r\n"
                                  "; trailing note\r\n# and another\r\n"));
        // A second save changes nothing: the file does not grow or drift.
        QVERIFY(DiskWork::WriteSettings(m_path, read.settings));
        QCOMPARE(stored(), once);
    }

    void failedWriteKeepsOldFileWhole() {
        // A disk that fills up half-way: the process may write only a few bytes per file,
        // which hits root too. Plain truncate-and-write would leave a stub behind.
        put(TestSupport::kFreshFile);
        Settings settings;
        settings.sIPAddress = QStringLiteral("192.168.100.200");
        rlimit old{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit tiny{16, old.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tiny), 0);
        const bool written = DiskWork::WriteSettings(m_path, settings);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(!written);
        QCOMPARE(stored(), TestSupport::kFreshFile);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"Slider.ini"});
    }

    // Binary, oversized and directory settings at start-up are the panel-level tests' part;
    // here only the write's report of places it cannot write to.
    void unwritablePlacesFail() {
        put("not a directory");
        QVERIFY(!DiskWork::WriteSettings(m_path + QStringLiteral("/Slider.ini"), Settings{}));

        QVERIFY(QFile::remove(m_path) && QDir().mkpath(m_path));
        QVERIFY(!DiskWork::WriteSettings(m_path, Settings{}));
        QVERIFY(QFileInfo(m_path).isDir());
    }

    // What the plain reference of fuzz_numeric cannot tell: texts that are more than a decimal
    // or "&H" number. Plain numbers (rounding half to even, the holders' limits) are checked
    // against that reference, and the 16-bit holder against the 32-bit one, on every text of
    // its corpus, which holds these rows too.
    void value_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Expected>("value");
        const Expected fail;

        // Blanks, tabs and line feeds anywhere; everything else stops the reading.
        QTest::newRow("empty") << "" << Expected(0);
        QTest::newRow("letters") << "abc" << Expected(0);
        QTest::newRow("12abc") << "12abc" << Expected(12);
        QTest::newRow("cr stops") << "1\r2" << Expected(1);
        QTest::newRow("two signs") << "--3" << Expected(0);
        QTest::newRow("lone point") << "." << Expected(0);
        QTest::newRow("second point stops") << "1.2.9" << Expected(1);
        QTest::newRow("comma stops") << "1,9" << Expected(1);
        QTest::newRow("non-ascii digit") << QString::fromUtf8("\u0663") << Expected(0);

        // Exponents.
        QTest::newRow("1E3") << "1E3" << Expected(1000);
        QTest::newRow("1.5e1") << "1.5e1" << Expected(15);
        QTest::newRow("25e-1") << "25e-1" << Expected(2);
        QTest::newRow("1e+") << "1e+" << Expected(1);
        QTest::newRow("D is no exponent") << "12D3" << Expected(12);
        QTest::newRow("1e400") << "1e400" << fail;
        QTest::newRow("1e-400") << "1e-400" << Expected(0);
        QTest::newRow("0e999999999999") << "0e999999999999" << Expected(0);
        QTest::newRow("exponent of many digits") << "1e99999999999999999999999" << fail;

        // Octal, and what ends a hexadecimal number.
        QTest::newRow("&O17") << "&O17" << Expected(15);
        QTest::newRow("&o8 no octal digit") << "&o8" << Expected(0);
        QTest::newRow("sign before &H") << "-&H10" << Expected(0);
        QTest::newRow("&H1G") << "&H1G" << Expected(1);
    }

    void value() {
        QFETCH(QString, text);
        QFETCH(Expected, value);
        const std::optional<qint32> v32 = DiskWork::NumericValue32(text);
        QCOMPARE(v32.has_value(), value.has_value());
        if (value)
            QCOMPARE(qint64(*v32), *value);
    }
};

QTEST_MAIN(TestSettingsFile)
#include "test_settingsfile.moc"
