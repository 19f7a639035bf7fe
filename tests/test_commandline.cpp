// The command line as a table: what each form of it makes the program do.

#include "app/CommandLine.h"
#include "app/ProgramInfo.h"

#include <QDir>
#include <QtTest>

Q_DECLARE_METATYPE(CommandLine::Action)

class CommandLineTest : public QObject {
    Q_OBJECT

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
};

QTEST_GUILESS_MAIN(CommandLineTest)
#include "test_commandline.moc"
