// Bad settings files and environments: whatever stands at Slider.ini beside the executable,
// the panel starts with the start-up values, runs, and exits cleanly. (Hand-edited files that
// used to grow at every save are in the settings fuzzer's corpus, replayed by
// fuzz_settings_regression, which checks that repeated saves settle.)

#include "app/frmMain.h"
#include "config/DiskWork.h"
#include "support/Controls.h"
#include "support/SettingsFile.h"

#include <QLabel>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QtTest>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// What a save of the start-up values puts into a fresh file.
const QByteArray kFreshFile = "[CONFIGURATION]\nType=1\nChan 1=1\nChan 2=2\nOut Chan=1\n"
                              "IP Address=127.0.0.1\nIP Port=1250\n";

// The six settings as "type chan0 chan1 outChan address port", so a mismatch shows them all.
QString Text(const Settings &settings) {
    const auto &[iType, iChan, iOutChan, sIPAddress, lIPPort] = settings;
    return QStringLiteral("%1 %2 %3 %4 %5 %6")
        .arg(QString::number(iType), QString::number(iChan[0]), QString::number(iChan[1]),
             QString::number(iOutChan), sIPAddress, QString::number(lIPPort));
}

// Sets or clears the immutable flag of a folder: nothing can then be created in it or renamed
// into it, even by root, for whom permission bits change nothing. Needs CAP_LINUX_IMMUTABLE
// and a file system that supports the flag; returns whether it took.
bool setImmutable(const QString &folder, bool on) {
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

} // namespace

class BadSettingsTest : public QObject {
    Q_OBJECT

    // Start-up connects to the configured switcher: with the start-up values that is
    // 127.0.0.1:1250. Listening there keeps the attempt inside this test when the port is
    // free (when it is not, the attempt goes to whoever listens and is closed at exit).
    QTcpServer m_defaultSwitcher;

  private slots:
    void initTestCase() {
        static_cast<void>(
            m_defaultSwitcher.listen(QHostAddress::LocalHost, Settings::kDefaultIPPort));
    }

    void init() { TestSupport::removeSettingsFile(); }
    void cleanup() { // also after a check that failed half-way
        setImmutable(QCoreApplication::applicationDirPath(), false);
        TestSupport::removeSettingsFile();
    }

    void startsWithStartupValues_data() {
        QTest::addColumn<QByteArray>("file");   // written as Slider.ini; none: see the row name
        QTest::addColumn<QStringList>("after"); // what stands at Slider.ini* after the exit
        const QByteArray head = "[CONFIGURATION]\nType=3\nChan 1=9\n";
        QByteArray noise(4096, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        QTest::newRow("binary") << head + noise << QStringList{"Slider.ini file"};
        // A real section, followed by 20 MB of what would be valid lines.
        QTest::newRow("huge")
            << head + QByteArray("; padding padding padding padding\n").repeated(600000)
            << QStringList{"Slider.ini file"};
        QTest::newRow("directory") << QByteArray() << QStringList{"Slider.ini folder"};
        QTest::newRow("unreadable") << QByteArray() << QStringList{"Slider.ini link"};
        // No file, and a folder in which none can be created.
        QTest::newRow("read-only folder") << QByteArray() << QStringList();
    }

    // Start-up reads no usable settings (the read fails before any key, or finds no file),
    // the start-up values and captions show, and the window runs and closes. Saving at exit
    // replaces binary and oversized content with a fresh file, and leaves what cannot be
    // written to as it was, failing silently with nothing left behind.
    void startsWithStartupValues() {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, after);
        const QString tag = QTest::currentDataTag();
        if (!file.isEmpty()) {
            TestSupport::writeSettingsFile(file);
        } else if (tag == "directory") {
            QVERIFY(QDir().mkpath(frmMain::DefaultSettingsPath()));
        } else if (tag == "unreadable") {
            // Permission bits do not stop root, so the file is one whose reads fail: this
            // process's memory file fails with an I/O error at offset 0.
            QFile mem("/proc/self/mem");
            if (!mem.open(QIODevice::ReadOnly) || !mem.read(1).isEmpty())
                QSKIP("no file here that fails to read");
            QVERIFY(QFile::link("/proc/self/mem", frmMain::DefaultSettingsPath()));
        } else if (!setImmutable(QCoreApplication::applicationDirPath(), true)) {
            QSKIP("cannot make the folder read-only here (needs CAP_LINUX_IMMUTABLE)");
        }
        {
            frmMain window;
            window.Form_Load();
            QCOMPARE(window.settingsFailure(), after.isEmpty() ? QString() : "Bad File");
            QCOMPARE(Text(window.settings()) + ' ' +
                         TestSupport::Find<QLabel>(&window, "lblChan", 0)->text() + ' ' +
                         TestSupport::Find<QLabel>(&window, "lblChan", 1)->text(),
                     QString("1 0 1 0 127.0.0.1 1250 Ch. 1 Ch. 2"));
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QVERIFY(window.close());
            QCOMPARE(window.settingsFailure(), file.isEmpty() ? "Bad File" : QString());
        }
        QStringList found;
        const QDir folder(QCoreApplication::applicationDirPath());
        for (const QFileInfo &e :
             folder.entryInfoList({"Slider.ini*"}, QDir::AllEntries | QDir::System))
            found << e.fileName() + (e.isSymLink() ? " link" : e.isDir() ? " folder" : " file");
        QCOMPARE(found, after);
        if (!file.isEmpty())
            QCOMPARE(TestSupport::readSettingsFile(), kFreshFile);
    }
};

QTEST_MAIN(BadSettingsTest)
#include "test_badsettings.moc"
