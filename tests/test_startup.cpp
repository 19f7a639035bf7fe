// How a run starts: what each form of the command line makes the program do, and which
// settings file it uses: beside a program whose folder takes files (portable use), otherwise
// the user's own, started from a file beside the program or in a system folder. Whether a
// folder takes files is given by each row, as it cannot be arranged for root.
// Then bad settings files and environments: whatever stands at Slider.ini beside the
// executable, the panel starts with the start-up values, runs, and exits cleanly. (Hand-edited
// files that used to grow at every save are in the settings fuzzer's corpus, replayed by
// fuzz_settings_regression, which checks that repeated saves settle.)

#include "app/CommandLine.h"
#include "app/ProgramInfo.h"
#include "app/frmAbout.h"
#include "app/frmMain.h"
#include "config/DiskWork.h"
#include "config/SettingsLocation.h"
#include "support/Controls.h"
#include "support/SettingsFile.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <linux/fs.h>
#include <map>
#include <sys/ioctl.h>
#include <unistd.h>

Q_DECLARE_METATYPE(CommandLine::Action)

namespace {

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

class StartupTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;

    QString dir(const QString &name) const { return m_root.filePath(name); }

    // Start-up connects to the configured switcher: with the start-up values that is
    // 127.0.0.1:1250. Listening there keeps the attempt inside this test when the port is
    // free (when it is not, the attempt goes to whoever listens and is closed at exit).
    QTcpServer m_defaultSwitcher;

  private slots:
    void parse_data() {
        QTest::addColumn<QStringList>("args"); // after the program name
        QTest::addColumn<int>("exitCode");     // -1: the program runs
        QTest::addColumn<QString>("output");   // what the standard output begins with
        QTest::addColumn<QString>("error");    // what the standard error stream begins with
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("trace");
        QTest::addColumn<QString>("caption");
        const QString cwd = QDir::currentPath() + u'/';
        const auto runs = [](const char *name, const QStringList &args, const QString &settings,
                             const QString &trace, const QString &caption) {
            QTest::newRow(name) << args << -1 << QString() << QString() << settings << trace
                                << caption;
        };
        const auto exits = [](const char *name, const QStringList &args, int code,
                              const QString &output, const QString &error) {
            QTest::newRow(name) << args << code << output << error << QString() << QString()
                                << QString();
        };
        runs("no arguments", {}, {}, {}, "Gain Change");
        runs("settings file", {"--settings", "studio-a.ini"}, cwd + "studio-a.ini", {},
             "Gain Change - studio-a");
        runs("settings, absolute, two dots", {"--settings=/etc/panel/hall.b.ini"},
             "/etc/panel/hall.b.ini", {}, "Gain Change - hall.b");
        runs("trace to stderr", {"--trace", "-"}, {}, "-", "Gain Change");
        runs("Qt's own options", {"-platform", "offscreen", "-style", "fusion", "-reverse"}, {}, {},
             "Gain Change");
        exits("help", {"--help"}, 0, "Usage: ", {});
        exits("version", {"--version"}, 0, "dual-slider " + ProgramInfo::kVersion + "\n", {});
        exits("unknown option", {"--bogus"}, 2, {}, "Unknown option 'bogus'.\nUsage: ");
        exits("stray argument", {"Slider.ini"}, 2, {}, "Unexpected argument: Slider.ini\nUsage: ");
        exits("settings without a file", {"--settings"}, 2, {}, "Missing value after '--settings'");
        exits("empty settings", {"--settings="}, 2, {}, "--settings needs a file name");
        exits("empty trace", {"--trace", ""}, 2, {}, "--trace needs a file name");
    }
    void parse() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QFETCH(QString, error);
        QFETCH(QString, settings);
        QFETCH(QString, trace);
        QFETCH(QString, caption);
        const CommandLine cli = CommandLine::Parse(QStringList{"dual-slider"} + args);
        QCOMPARE(cli.action, exitCode < 0 ? CommandLine::Action::Run : CommandLine::Action::Exit);
        if (exitCode >= 0)
            QCOMPARE(cli.exitCode, exitCode);
        QVERIFY2(cli.output.startsWith(output) && output.isEmpty() == cli.output.isEmpty(),
                 qPrintable(cli.output));
        QVERIFY2(cli.error.startsWith(error) && error.isEmpty() == cli.error.isEmpty(),
                 qPrintable(cli.error));
        QCOMPARE(cli.settingsFile, settings);
        QCOMPARE(cli.traceFile, trace);
        if (exitCode < 0)
            QCOMPARE(cli.windowCaption(), caption);
    }

    // files: which Slider.ini exist, as folder names; path and readFrom: the folders of the
    // chosen files ("-": none).
    void choose_data() {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<bool>("folderTakesFiles");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("readFrom");
        const auto row = [](const char *name, bool installed, bool writable,
                            const QStringList &files, const char *path, const char *readFrom) {
            QTest::newRow(name) << installed << writable << files << QString(path)
                                << QString(readFrom);
        };
        row("portable, no file yet", false, true, {}, "bin", "bin");
        row("portable, with its file", false, true, {"bin", "user"}, "bin", "bin");
        row("read-only folder: own file", false, false, {"bin", "user"}, "user", "user");
        row("read-only folder: start from the file beside", false, false, {"bin", "etc1"}, "user",
            "bin");
        row("read-only folder: start from the system", false, false, {"etc2"}, "user", "etc2");
        row("read-only folder: first system folder first", false, false, {"etc1", "etc2"}, "user",
            "etc1");
        row("read-only folder: start-up values", false, false, {}, "user", "-");
        row("installed, writable (root): never beside", true, true, {}, "user", "-");
        row("installed: start from the file beside", true, true, {"bin", "etc1"}, "user", "bin");
        row("installed: own file", true, false, {"user", "bin", "etc1"}, "user", "user");
    }
    void choose() {
        QFETCH(bool, installed);
        QFETCH(bool, folderTakesFiles);
        QFETCH(QStringList, files);
        QFETCH(QString, path);
        QFETCH(QString, readFrom);
        for (const char *name : {"bin", "user", "etc1", "etc2"})
            QVERIFY(QDir(dir(name)).removeRecursively() && QDir().mkpath(dir(name)));
        for (const QString &folder : files) {
            QFile file(dir(folder) + "/Slider.ini");
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        SettingsLocation::Search search;
        search.programDir = dir("bin");
        search.installed = installed;
        search.userDir = dir("user");
        search.systemDirs = {dir("etc1"), dir("etc2")};
        QStringList asked;
        search.canWrite = [&](const QString &folder) {
            asked << folder;
            return folderTakesFiles;
        };
        const SettingsLocation::Place place = SettingsLocation::Choose(search);
        const auto where = [this](const QString &folder) {
            return folder == "-" ? QString() : dir(folder) + "/Slider.ini";
        };
        QCOMPARE(place.path, where(path));
        QCOMPARE(place.readFrom, where(readFrom));
        // Only the program's own folder is ever tried, and never for an installed copy.
        QCOMPARE(asked, installed ? QStringList() : QStringList{dir("bin")});
    }

    // The real test of a folder: by creating a file in it, which leaves nothing behind.
    void folderTakesFiles() {
        QVERIFY(SettingsLocation::FolderTakesFiles(m_root.path()));
        QCOMPARE(QDir(m_root.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        QVERIFY(!SettingsLocation::FolderTakesFiles(dir("missing")));
        QVERIFY(!SettingsLocation::FolderTakesFiles("/proc/self")); // no files can be made here
    }

    void installedCopy() {
        QVERIFY(QDir().mkpath(dir("prefix/bin")) &&
                QDir().mkpath(dir("prefix/share/applications")));
        QVERIFY(!SettingsLocation::IsInstalledCopy(dir("prefix/bin"), "org.example.Id"));
        QFile entry(dir("prefix/share/applications/org.example.Id.desktop"));
        QVERIFY(entry.open(QIODevice::WriteOnly));
        QVERIFY(SettingsLocation::IsInstalledCopy(dir("prefix/bin"), "org.example.Id"));
        QVERIFY(!SettingsLocation::IsInstalledCopy(dir("prefix"), "org.example.Id"));
    }

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
            // The About box says when the file could not be read, and why.
            const std::map<QString, QString> readProblem{
                {"binary", "it is not a text file of settings"},
                {"huge", "it is not a text file of settings"},
                {"directory", "it is a folder"},
                {"unreadable", "it cannot be read"}};
            TestSupport::Answering<frmAbout>(
                QStringLiteral("frmAbout"),
                [&](frmAbout *about) {
                    const QString line =
                        TestSupport::Find<QLabel>(about, "lblSettingsFile")->text();
                    const auto problem = readProblem.find(tag);
                    QCOMPARE(line.endsWith(problem == readProblem.end()
                                               ? QStringLiteral("Slider.ini")
                                               : " (could not be read: " + problem->second +
                                                     "; the start-up values are in use)"),
                             true);
                    about->close();
                },
                [&] { TestSupport::Find<QAction>(&window, "mnuAbout")->trigger(); });
            QCOMPARE(TestSupport::SettingsText(window.settings()) + ' ' +
                         TestSupport::Find<QLabel>(&window, "lblChan", 0)->text() + ' ' +
                         TestSupport::Find<QLabel>(&window, "lblChan", 1)->text(),
                     QString("1 0 1 0 127.0.0.1 1250 Ch. 1 Ch. 2"));
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            // A file that cannot be written at exit is named in one message box, with why.
            TestSupport::BoxDismisser boxes(QStringLiteral("settingsSaveFailure"));
            QVERIFY(window.close());
            QCOMPARE(window.settingsFailure(), file.isEmpty() ? "Bad File" : QString());
            QCOMPARE(boxes.shown().size(), file.isEmpty() ? 1 : 0);
            if (file.isEmpty())
                QVERIFY2(boxes.shown().front().startsWith(
                             "Dual Slider|The settings could not be saved to " +
                             frmMain::DefaultSettingsPath() + ": "),
                         qPrintable(boxes.shown().front()));
        }
        QStringList found;
        const QDir folder(QCoreApplication::applicationDirPath());
        for (const QFileInfo &e :
             folder.entryInfoList({"Slider.ini*"}, QDir::AllEntries | QDir::System))
            found << e.fileName() + (e.isSymLink() ? " link" : e.isDir() ? " folder" : " file");
        QCOMPARE(found, after);
        if (!file.isEmpty())
            QCOMPARE(TestSupport::readSettingsFile(), TestSupport::kFreshFile);
    }
};

QTEST_MAIN(StartupTest)
#include "test_startup.moc"
