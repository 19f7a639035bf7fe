#include "app/Variables.h"
#include "config/DiskWork.h"

#include <QtTest>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <memory>
#include <sys/resource.h>

namespace {

const QString kBadFile = QStringLiteral("Bad File");

// What a write of the start-up values puts into a fresh file.
const QByteArray kFreshFile = "[CONFIGURATION]\nType=1\nChan 1=1\nChan 2=2\nOut Chan=1\n"
                              "IP Address=127.0.0.1\nIP Port=1250\n";

// The six settings as "type chan0 chan1 outChan address port", so a mismatch shows them all.
QString Current() {
    using namespace Variables;
    return QStringLiteral("%1 %2 %3 %4 %5 %6")
        .arg(QString::number(iType), QString::number(iChan[0]), QString::number(iChan[1]),
             QString::number(iOutChan), sIPAddress, QString::number(lIPPort));
}

const QString kStartUp = QStringLiteral("1 0 1 0 127.0.0.1 1250");

} // namespace

class TestDiskWork : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;

    void put(const QByteArray &bytes) {
        QFile f(m_path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(bytes), bytes.size());
    }
    QByteArray stored() const {
        QFile f(m_path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }

  private slots:
    void init() {
        Variables::ResetAll();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_path = m_dir->filePath(QStringLiteral("Slider.ini"));
    }

    void pathBesideExecutable() {
        QCOMPARE(DiskWork::SettingsPathIn("/opt/ds"), QStringLiteral("/opt/ds/Slider.ini"));
        QCOMPARE(DiskWork::SettingsPathIn("/"), QStringLiteral("/Slider.ini"));
        QCOMPARE(DiskWork::SettingsPath(),
                 QCoreApplication::applicationDirPath() + QStringLiteral("/Slider.ini"));
    }

    void missingFileGivesStartUpValuesAndWriteCreatesIt() {
        Variables::iType = 10;
        Variables::iChan = {7, 8};
        Variables::iOutChan = 9;
        Variables::lIPPort = 1;
        DiskWork::ReadSettings(m_path);
        QCOMPARE(DiskWork::LastFailure(), QString());
        QCOMPARE(Current(), kStartUp);

        DiskWork::WriteSettings(m_path);
        QCOMPARE(DiskWork::LastFailure(), QString());
        QCOMPARE(stored(), kFreshFile);
    }

    void readRules_data() {
        QTest::addColumn<QByteArray>("keys");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("failed");
        QTest::newRow("all keys") << QByteArray("Type=3\nChan 1=5\nChan 2=6\nOut Chan=7\n"
                                                "IP Address=10.1.2.3\nIP Port=4000")
                                  << "3 4 5 6 10.1.2.3 4000" << false;
        QTest::newRow("zeros") << QByteArray("Type=0\nChan 1=0\nChan 2=0\nOut Chan=0\n"
                                             "IP Address=\nIP Port=0")
                               << kStartUp << false;
        QTest::newRow("negative channels")
            << QByteArray("Chan 1=-3\nOut Chan=-3") << "1 -4 1 -3 127.0.0.1 1250" << false;
        QTest::newRow("chan 2 12abc")
            << QByteArray("Chan 2=12abc") << "1 0 11 0 127.0.0.1 1250" << false;
        QTest::newRow("chan 2 1 2")
            << QByteArray("Chan 2=1 2") << "1 0 11 0 127.0.0.1 1250" << false;
        QTest::newRow("chan 2 2.5") << QByteArray("Chan 2=2.5") << kStartUp << false;
        QTest::newRow("port letters") << QByteArray("IP Port=abc") << kStartUp << false;
        QTest::newRow("port 70000")
            << QByteArray("IP Port=70000") << "1 0 1 0 127.0.0.1 70000" << false;
        QTest::newRow("address blanks")
            << QByteArray("IP Address =  host.lan  ") << "1 0 1 0 host.lan 1250" << false;

        // The read stops at the first failing key; it and every later key keep their values.
        QTest::newRow("type 40000 stops")
            << QByteArray("Type=40000\nChan 1=5\nChan 2=6\nIP Address=10.0.0.1\nIP Port=9")
            << kStartUp << true;
        QTest::newRow("chan 1 -32768 stops at the adjustment")
            << QByteArray("Type=3\nChan 1=-32768\nChan 2=6\nIP Port=9") << "3 0 1 0 127.0.0.1 1250"
            << true;
        QTest::newRow("out chan 1e9 stops")
            << QByteArray("Type=10\nChan 1=5\nChan 2=6\nOut Chan=1e9\nIP Address=10.0.0.1")
            << "10 4 5 0 127.0.0.1 1250" << true;
        QTest::newRow("port 2147483648 fails last")
            << QByteArray("IP Address=10.0.0.1\nIP Port=2147483648") << "1 0 1 0 10.0.0.1 1250"
            << true;
    }
    void readRules() {
        QFETCH(QByteArray, keys);
        QFETCH(QString, expected);
        QFETCH(bool, failed);
        put("[CONFIGURATION]\n" + keys + "\n");
        DiskWork::ReadSettings(m_path);
        QCOMPARE(Current(), expected);
        QCOMPARE(DiskWork::LastFailure(), failed ? kBadFile : QString());
    }

    void negativeChannelsWriteBack() {
        put("[CONFIGURATION]\nChan 1=-3\nOut Chan=-3\n");
        DiskWork::ReadSettings(m_path);
        DiskWork::WriteSettings(m_path);
        QCOMPARE(stored(), QByteArray("[CONFIGURATION]\nChan 1=-3\nOut Chan=-2\nType=1\n"
                                      "Chan 2=2\nIP Address=127.0.0.1\nIP Port=1250\n"));
    }

    void writeStopsAtChannelOverflow() {
        put(kFreshFile);
        Variables::iType = 3;
        Variables::iChan = {32767, 4};
        Variables::lIPPort = 99;
        DiskWork::WriteSettings(m_path);
        QCOMPARE(DiskWork::LastFailure(), kBadFile);
        QCOMPARE(stored(), QByteArray(kFreshFile).replace("Type=1", "Type=3"));
    }

    void handEditedFileRoundTrips() {
        put("; Panel settings\r\n\r\n[Other]\r\nfoo = bar\r\n\r\n; the switcher\r\n"
            "[configuration]\r\n  type = 10 \r\nCHAN 1=4\r\n; keep me\r\nchan 2 = 6\r\n"
            "extra=keep\r\n\r\n; trailing note\r\n# and another\r\n");
        DiskWork::ReadSettings(m_path);
        QCOMPARE(Current(), QStringLiteral("10 3 5 0 127.0.0.1 1250"));

        Variables::lIPPort = 4000;
        DiskWork::WriteSettings(m_path);
        QCOMPARE(DiskWork::LastFailure(), QString());
        const QByteArray once = stored();
        QCOMPARE(once, QByteArray("; Panel settings\r\n\r\n\r\n[Other]\r\nfoo=bar\r\n\r\n\r\n"
                                  "; the switcher\r\n[configuration]\r\ntype=10\r\nCHAN 1=4\r\n"
                                  "\r\n; keep me\r\nchan 2=6\r\nextra=keep\r\nOut Chan=1\r\n"
                                  "IP Address=127.0.0.1\r\nIP Port=4000\r\n\r\n"
                                  "; trailing note\r\n# and another\r\n"));
        // A second save changes nothing: the file does not grow or drift.
        DiskWork::WriteSettings(m_path);
        QCOMPARE(stored(), once);
    }

    void addressCannotBreakTheFile() {
        Variables::sIPAddress = QString::fromLatin1("10.0.0.1\r\n[Other]\nType=9\0x", 26);
        DiskWork::WriteSettings(m_path);
        QCOMPARE(stored(),
                 QByteArray(kFreshFile)
                     .replace("IP Address=127.0.0.1", "IP Address=10.0.0.1[Other]Type=9x"));
    }

    void failedWriteKeepsOldFileWhole() {
        // A disk that fills up half-way: the process may write only a few bytes per file,
        // which hits root too. Plain truncate-and-write would leave a stub behind.
        put(kFreshFile);
        Variables::sIPAddress = QStringLiteral("192.168.100.200");
        rlimit old{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit tiny = old;
        tiny.rlim_cur = 16;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tiny), 0);
        DiskWork::WriteSettings(m_path);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        QCOMPARE(DiskWork::LastFailure(), kBadFile);
        QCOMPARE(stored(), kFreshFile);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"Slider.ini"});
    }

    // Binary, oversized and directory settings at start-up are the panel-level tests' part;
    // here only the write's report of places it cannot write to.
    void unwritablePlacesFail() {
        put("not a directory");
        DiskWork::WriteSettings(m_path + QStringLiteral("/Slider.ini"));
        QCOMPARE(DiskWork::LastFailure(), kBadFile);

        QVERIFY(QFile::remove(m_path) && QDir().mkpath(m_path));
        DiskWork::WriteSettings(m_path);
        QCOMPARE(DiskWork::LastFailure(), kBadFile);
        QVERIFY(QFileInfo(m_path).isDir());
    }
};

QTEST_MAIN(TestDiskWork)
#include "test_diskwork.moc"
