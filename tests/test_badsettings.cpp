// Bad settings files and environments: whatever stands at Slider.ini beside the executable,
// the panel starts with the start-up values, runs, and exits cleanly.

#include "app/Variables.h"
#include "app/frmMain.h"
#include "config/DiskWork.h"
#include "config/IniDocument.h"
#include "protocol/Seams.h"
#include "support/SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QtTest>
#include <fcntl.h>
#include <linux/fs.h>
#include <memory>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace Variables;

namespace {

QString settingsDir() {
    return QFileInfo(DiskWork::SettingsPath()).absolutePath();
}

// Makes a folder immutable while it lives: nothing can be created in it or renamed into it,
// even by root, for whom permission bits change nothing. Needs CAP_LINUX_IMMUTABLE and a file
// system that supports the flag; ok() tells whether it took.
class ImmutableFolder {
  public:
    explicit ImmutableFolder(const QString &path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY)) {
        int flags = 0;
        if (m_fd < 0 || ::ioctl(m_fd, FS_IOC_GETFLAGS, &flags) != 0)
            return;
        flags |= FS_IMMUTABLE_FL;
        m_ok = ::ioctl(m_fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ~ImmutableFolder() {
        int flags = 0;
        if (m_ok && ::ioctl(m_fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ::ioctl(m_fd, FS_IOC_SETFLAGS, &flags);
        }
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ImmutableFolder(const ImmutableFolder &) = delete;
    ImmutableFolder &operator=(const ImmutableFolder &) = delete;
    bool ok() const { return m_ok; }

  private:
    int m_fd;
    bool m_ok = false;
};

void removeWhateverIsThere() {
    const QString path = DiskWork::SettingsPath();
    const QFileInfo info(path);
    if (info.isSymLink() || info.isFile())
        QFile::remove(path);
    else if (info.isDir())
        QDir(path).removeRecursively();
}

} // namespace

class BadSettingsTest : public QObject {
    Q_OBJECT

    // Start-up connects to the configured switcher: with the start-up values that is
    // 127.0.0.1:1250. Listening there keeps the attempt inside this test when the port is
    // free (when it is not, the attempt goes to whoever listens and is closed at exit).
    QTcpServer m_defaultSwitcher;

    void verifyStartupValues(const frmMain &window) {
        QCOMPARE(iType, kDefaultType);
        QCOMPARE(iChan, kDefaultChan);
        QCOMPARE(iOutChan, qint16(0));
        QCOMPARE(sIPAddress, kDefaultIPAddress);
        QCOMPARE(lIPPort, kDefaultIPPort);
        QCOMPARE(window.lblChan[0]->text(), QString("Ch. 1"));
        QCOMPARE(window.lblChan[1]->text(), QString("Ch. 2"));
    }

  private slots:
    void initTestCase() {
        static_cast<void>(m_defaultSwitcher.listen(QHostAddress::LocalHost, kDefaultIPPort));
    }

    void init() {
        ResetAll();
        TCPComm::seams() = TCPComm::Seams{};
        removeWhateverIsThere();
    }
    void cleanup() { removeWhateverIsThere(); }

    void startsWithStartupValues_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("binary") << "binary";
        QTest::newRow("huge") << "huge";
        QTest::newRow("directory") << "directory";
        QTest::newRow("unreadable") << "unreadable";
    }

    // The file cannot be used: the read fails before any key, the start-up values stay, the
    // window runs and closes. Saving at exit replaces binary and oversized content with a
    // fresh file and leaves what cannot be written to as it was.
    void startsWithStartupValues() {
        QFETCH(QString, kind);
        const QString path = DiskWork::SettingsPath();
        if (kind == "binary") {
            QByteArray noise(4096, Qt::Uninitialized);
            QRandomGenerator random(7);
            random.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
            TestSupport::writeSettingsFile("[CONFIGURATION]\nType=3\nChan 1=9\n" + noise);
        } else if (kind == "huge") {
            // A real section, followed by 20 MB of what would be valid lines.
            QByteArray huge = "[CONFIGURATION]\nType=3\nChan 1=9\n";
            const QByteArray line = "; padding padding padding padding padding padding\n";
            while (huge.size() < 20 * 1024 * 1024)
                huge += line;
            TestSupport::writeSettingsFile(huge);
        } else if (kind == "directory") {
            QVERIFY(QDir().mkpath(path));
        } else if (kind == "unreadable") {
            // Permission bits do not stop root, so the file is one whose reads fail: this
            // process's memory file fails with an I/O error at offset 0.
            QFile mem("/proc/self/mem");
            if (!mem.open(QIODevice::ReadOnly) || !mem.read(1).isEmpty())
                QSKIP("no file here that fails to read");
            QVERIFY(QFile::link("/proc/self/mem", path));
        }

        {
            frmMain window;
            window.Form_Load();
            QCOMPARE(DiskWork::LastFailure(), QString("Bad File"));
            verifyStartupValues(window);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QVERIFY(window.close());
        }

        const QFileInfo after(path);
        if (kind == "binary" || kind == "huge") {
            // Replaced by a fresh file that reads back as the start-up values.
            QVERIFY(after.isFile() && after.size() < 1024);
            ResetAll();
            iType = 7;
            DiskWork::ReadSettings();
            QVERIFY(DiskWork::LastFailure().isEmpty());
            QCOMPARE(iType, kDefaultType);
        } else if (kind == "directory") {
            QVERIFY(after.isDir());
        } else {
            QVERIFY(after.isSymLink());
        }
    }

    // No file, and a folder in which no file can be created: start-up values, and the save at
    // exit fails silently without leaving anything behind.
    void readOnlyFolder() {
        const ImmutableFolder folder(settingsDir());
        if (!folder.ok())
            QSKIP("cannot make the folder read-only here (needs CAP_LINUX_IMMUTABLE)");
        {
            frmMain window;
            window.Form_Load();
            verifyStartupValues(window);
            iChan[0] = 4;
            QVERIFY(window.close());
            QCOMPARE(DiskWork::LastFailure(), QString("Bad File"));
        }
        QVERIFY(!QFileInfo::exists(DiskWork::SettingsPath()));
        QCOMPARE(QDir(settingsDir()).entryList(QStringList{"Slider.ini*"}, QDir::AllEntries),
                 QStringList{});
    }

    void savingTwiceChangesNothing_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<qint16>("type");
        QTest::addColumn<qint16>("chan1");
        // A section line without its closing bracket is dropped; the keys below it belong to
        // the section above. It used to make the section name run on over the next lines.
        QTest::newRow("unclosed section") << QByteArray("[CONFIGURATION]\r\nType=3\r\n[Broken\r\n"
                                                        "# note\r\nChan 1=5\r\n[Other]\r\nx=1\r\n")
                                          << qint16(3) << qint16(4);
        // Lines ended by a lone CR (the fuzzer's input): the INI reader takes ";b; x=0" behind
        // the CR and vertical tab as an entry; it used to be kept as part of a trailing comment
        // as well, and written back once more at every save.
        QTest::newRow("entry behind a lone CR")
            << QByteArray(" ]\r\nx=1\r\n\r\n; x=0\r\v;b; x=0\r\v;c") << qint16(1) << qint16(0);
    }

    // Hand-edited files that the INI reader parses in its own way: the values come through and
    // the file settles after the first save instead of growing at every exit.
    void savingTwiceChangesNothing() {
        QFETCH(QByteArray, file);
        QFETCH(qint16, type);
        QFETCH(qint16, chan1);
        TestSupport::writeSettingsFile(file);
        QByteArray saved[3];
        for (QByteArray &text : saved) {
            ResetAll();
            DiskWork::ReadSettings();
            QVERIFY(DiskWork::LastFailure().isEmpty());
            QCOMPARE(iType, type);
            QCOMPARE(iChan[0], chan1);
            DiskWork::WriteSettings();
            QVERIFY(DiskWork::LastFailure().isEmpty());
            text = TestSupport::readSettingsFile();
        }
        QVERIFY(!saved[0].contains("[Broken"));
        QCOMPARE(saved[2], saved[1]);
        QCOMPARE(saved[1], saved[0]);
    }
};

QTEST_MAIN(BadSettingsTest)
#include "test_badsettings.moc"
