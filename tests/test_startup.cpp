// How a run starts: what each form of the command line makes the program do, and which
// settings file it uses: beside a program whose folder takes files (portable use), otherwise
// the user's own, started from a file beside the program or in a system folder. Whether a
// folder takes files is given by each row, as it cannot be arranged for root.

#include "app/CommandLine.h"
#include "app/ProgramInfo.h"
#include "config/SettingsLocation.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(CommandLine::Action)

class StartupTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;

    QString dir(const QString &name) const { return m_root.filePath(name); }

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
        exits("short help", {"-h"}, 0, "Usage: ", {});
        exits("version", {"--version"}, 0, "dual-slider " + ProgramInfo::kVersion + "\n", {});
        exits("short version", {"-v"}, 0, "dual-slider ", {});
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
};

QTEST_GUILESS_MAIN(StartupTest)
#include "test_startup.moc"
