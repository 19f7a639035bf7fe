// The traffic log: what each message reads as, the log's bounds (10,000 lines, a batch at a
// time, pause), and the window against a local switcher: its lines, Copy, Save, and a closed
// window that costs nothing (a flood with the window open is measured in bench/). Then
// dual-slider --trace as the user runs it: the real program, offscreen, against a local
// QTcpServer that greets it; the trace holds every message from start-up on, flushed as it
// happens, and a trace that cannot be written stops the start, or ends with one message.

#include "app/ProgramInfo.h"
#include "app/TrafficEvent.h"
#include "app/TrafficLog.h"
#include "app/frmMain.h"
#include "app/frmTraffic.h"
#include "protocol/MessageMeaning.h"
#include "support/Controls.h"
#include "support/EventLoop.h"
#include "support/PanelPeer.h"
#include "support/ProtocolFakes.h"
#include "support/Rows.h"
#include "support/SettingsFile.h"

#include <QAction>
#include <QClipboard>
#include <QDate>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <functional>
#include <sys/prctl.h>
#include <sys/resource.h>

using MessageMeaning::Direction;
using ProtocolFakes::Hex;
using ProtocolFakes::kReport5;
using TestSupport::Find;
using TestSupport::Row;
using TestSupport::spinUntil;

namespace {

// 08:25:35.876 local time.
const qint64 kAt = QDateTime(QDate(2026, 12, 6), QTime(8, 25, 35, 876)).toMSecsSinceEpoch();

// The lines without their time, which must be there in its fixed form.
QStringList Untimed(const QStringList &lines) {
    static const QRegularExpression time(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d "));
    QStringList rest;
    for (const QString &line : lines)
        rest << (time.match(line).hasMatch() ? line.mid(13) : QStringLiteral("NO TIME: ") + line);
    return rest;
}

const QByteArray kGreeting = Hex("81 64 64 FF");
const QByteArray kAnswer = Hex("81 96 16 FF F2 00 01 02 00 00 00 00 00 00 00 03 FF");

// The program and the switcher it talks to.
struct Panel {
    QTemporaryDir dir;
    QTcpServer server;
    QProcess process;
    QPointer<QTcpSocket> peer;

    QString path(const char *name) const { return dir.filePath(QString::fromLatin1(name)); }

    void start(
        const QString &trace, std::function<void()> limit = [] {}) {
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QFile settings(path("panel.ini"));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("[CONFIGURATION]\nIP Address=127.0.0.1\nIP Port=" +
                       QByteArray::number(server.serverPort()) + "\n");
        settings.close();
        process.setProgram(QStringLiteral(DS_PANEL_PATH));
        process.setArguments(
            {"-platform", "offscreen", "--settings", path("panel.ini"), "--trace", trace});
        process.setChildProcessModifier([limit] {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            limit();
        });
        process.start();
    }

    // Accepts the panel, greets it and takes its answer.
    void greet() {
        QVERIFY(spinUntil([&] { return server.hasPendingConnections(); }, 5000));
        peer = server.nextPendingConnection();
        peer->write(kGreeting);
        QCOMPARE(read(kAnswer.size()), kAnswer);
    }

    QByteArray read(qsizetype count) { return TestSupport::ReadAtLeast(*peer, count, 5000); }

    // Ends the program as a user's session does; true when it closed down cleanly.
    bool stop() {
        process.terminate();
        return process.waitForFinished(5000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }

    ~Panel() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

} // namespace

class TrafficTest : public QObject {
    Q_OBJECT

    TestSupport::PanelPeer m_link;

    QWidget *window() { return Find<QWidget>(m_link.window.get(), "frmTraffic"); }
    const TrafficLog &log() { return *Find<TrafficLog>(window(), "trafficLog"); }
    QStringList shown() {
        const QString text = Find<QPlainTextEdit>(window(), "txtTraffic")->toPlainText();
        return text.isEmpty() ? QStringList() : text.split(u'\n');
    }
    QString status() { return Find<QLabel>(window(), "lblTrafficStatus")->text(); }
    void click(const char *name) { Find<QPushButton>(window(), name)->click(); }
    void openLog() { Find<QAction>(m_link.window.get(), "mnuTrafficLog")->trigger(); }
    // Waits until the log's last line (without its time) is last.
    bool logged(const QString &last) {
        return spinUntil([&] { return Untimed(shown()).value(shown().size() - 1) == last; }, 2000);
    }

  private slots:
    void init() {
        QVERIFY(m_link.open());
        QVERIFY(m_link.connectPanel());
    }
    void cleanup() { m_link.reset(); }

    // Each kind of message in both directions: its line after the time, meaning and bytes.
    // The greeting, its reply, the information request, a plain gain report, ping, pong and
    // junk are read in full, with their bytes, from the trace of a real run (trace below).
    void lines_data() {
        QTest::addColumn<bool>("sent");
        QTest::addColumn<QString>("bytes");
        QTest::addColumn<QString>("meaning");
        // Set-gain commands: input, stereo, output, DSP, DSP stereo, a kind without a table.
        Row("set input", true, "E3 02 01 01 00 00 00 1E 08 2A FF", "set input 1 gain 1054 (+3db)");
        Row("set stereo", true, "E3 02 01 02 00 04 00 4C 08 4C 08 31 FF",
            "set inputs 5-6 gain 1100 (+7.6db)");
        Row("set dsp", true, "E3 02 0A 01 00 00 00 1C 07 02 00 32 FF",
            "set input 3 on output 1 gain 924 (-10db)");
        Row("set dsp stereo", true, "E3 02 0A 02 00 00 00 1C 07 02 00 1C 07 02 00 58 FF",
            "set output 1 crosspoint gains: input 3 924 (-10db), input 3 924 (-10db)");
        Row("set kind 5", true, "E3 02 05 01 00 00 00 00 08 10 FF",
            "set kind 5 channel 1 value 1024");
        // Gain reports of every kind; values listed when few.
        Row("report two", false, "E3 00 01 02 00 00 00 00 08 44 07 56 FF",
            "gain report: inputs 1-2 gains 1024 (0db), 964 (-6db)");
        Row("second gain off", false, "E3 00 00 01 00 00 00 18 00 19 FF",
            "gain report: input 1 second gain 24 (Off)");
        Row("many outputs", false, "E3 00 03 05 00 00 00 00 08 0A 08 14 08 1E 08 28 08 14 FF",
            "gain report: outputs 1-5");
        Row("crosspoint", false, "E3 00 0A 01 00 40 00 68 07 41 00 7B FF",
            "gain report: input 66 on output 65 gain 1000 (-2.4db)");
        Row("many crosspoints", false,
            "E3 00 0A 05 00 40 00 68 07 40 00 68 07 41 00 68 07 42 00 68 07 43 00 68 07 44 00 44 "
            "FF",
            "gain report: output 65 crosspoint gains, 5 entries");
        // Greetings and information requests that are refused.
        Row("greeting magic", false, "81 65 65 FF", "greeting, second byte 65, expected 64");
        Row("greeting length", false, "81 64 01 02 03 6A FF",
            "greeting, wrong length: 7 bytes, expected 4 or 5");
        Row("info from switcher", false, "F2 01 02 03 FF",
            "information request, wrong length: 5 bytes, expected 13, ignored");
        // Crosspoint maps.
        Row("map", false, "F6 00 01 00 40 00 02 00 00 40 00 68 07 41 00 74 03 2A FF",
            "crosspoint map: output 65: input 65 1000 (-2.4db), input 66 500 (-52.4db)");
        Row("map of 16", false,
            "F6 00 10 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
            "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 10 FF",
            "crosspoint map: outputs 1-16");
        Row("map, no sources", false, "F6 00 01 00 00 00 00 00 00 01 FF",
            "crosspoint map: output 1, no sources");
        Row("map, 256 sources", false, "F6 00 01 00 00 00 00 02 00 03 FF",
            "crosspoint map, output 1 lists 256 sources, at most 255");
        Row("map length", false, "F6 00 01 00 40 00 02 00 00 40 00 68 07 72 FF",
            "crosspoint map, wrong length: 15 bytes, expected 19");
        // One-byte messages, strays and faults.
        Row("F1", false, "F1", "system byte F1");
        Row("lone EOM", false, "FF", "lone EOM");
        Row("unknown", false, "A0 05 FF", "unknown message A0, 3 bytes");
        Row("bad checksum", false, "E3 00 01 01 00 05 00 68 07 77 FF",
            "gain report, bad checksum 77, expected 76");
        Row("bad command checksum", true, "E3 02 01 01 00 00 00 1E 08 2B FF",
            "set-gain command, bad checksum 2B, expected 2A");
        Row("wrong length", false, "E3 00 01 02 00 05 00 68 07 77 FF",
            "gain report, wrong length: 11 bytes, expected 13");
        Row("no entries", false, "E3 00 01 00 00 00 00 01 FF", "gain report, no entries");
        Row("no EOM", false, "E3 00 01", "gain report, no EOM");
    }
    void lines() {
        QFETCH(bool, sent);
        QFETCH(QString, bytes);
        QFETCH(QString, meaning);
        const TrafficEvent event{sent ? TrafficEvent::Kind::Sent : TrafficEvent::Kind::Received,
                                 kAt,
                                 QByteArray::fromHex(bytes.toLatin1()),
                                 0,
                                 {}};
        QCOMPARE(FormatLine(event),
                 QString("08:25:35.876 ") + (sent ? "tx " : "rx ") + meaning + " | " + bytes);
    }

    // Messages the decoders refuse, or store only in part, read as the decoders' own verdict:
    // never as an ordinary report or map.
    void decodersVerdicts_data() {
        using ProtocolFakes::Fields;
        using ProtocolFakes::Frame;
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("meaning");
        QByteArray sources;
        for (int s = 0; s < 65; ++s)
            sources += Fields({s, 1024});
        QTest::newRow("map block with 65 sources in range")
            << Frame("F6", Hex("00") + Fields({1, 64, 65}) + '\0' + sources)
            << "crosspoint map, output 65 lists a source past its 64 slots";
        QTest::newRow("crosspoint report for output 1025")
            << Frame("E3", Hex("00 0A") + Fields({1, 1024, 1024, 0}))
            << "gain report: input 1 on output 1025 gain 1024 (0db)";
        QTest::newRow("crosspoint report for output 1026")
            << Frame("E3", Hex("00 0A") + Fields({1, 1025, 1024, 0}))
            << "gain report, output 1026 is beyond the tables; nothing stored";
        QTest::newRow("input report across the end of the tables")
            << Frame("E3", Hex("00 01") + Fields({3, 1023, 1000, 1001, 1002}))
            << "gain report, input 1026 is beyond the tables; stored inputs 1024-1025";
        QTest::newRow("map across the end of the tables")
            << Frame("F6", Hex("00") + Fields({3, 1023, 0}) + '\0' + Fields({0}) + '\0' +
                               Fields({0}) + '\0')
            << "crosspoint map, output 1026 is beyond the tables; stored outputs 1024-1025";
    }
    void decodersVerdicts() {
        QFETCH(QByteArray, message);
        QFETCH(QString, meaning);
        QCOMPARE(MessageMeaning::Describe(message, Direction::FromSwitcher), meaning);
    }

    // Runs of junk, and messages too long to show whole.
    void longBytes() {
        using Kind = TrafficEvent::Kind;
        QCOMPARE(FormatLine({Kind::Junk, kAt, Hex("7F"), 1, {}}),
                 "08:25:35.876 rx junk, 1 byte | 7F");
        QCOMPARE(FormatLine({Kind::Junk, kAt, Hex("01 02"), 12345, {}}),
                 "08:25:35.876 rx junk, 12,345 bytes | 01 02 ... (12,345 bytes)");
        const QByteArray map(600, '\x11');
        const QString hex = MessageMeaning::Hex(map);
        QCOMPARE(hex.size(), 512 * 3 - 1 + QString(" ... (600 bytes)").size());
        QVERIFY(hex.endsWith("11 11 ... (600 bytes)"));
    }

    // 10,000 lines at most; the oldest go and are counted. A flood keeps only the latest
    // batch waiting and says how many it skipped; a pause counts what it did not show.
    void bounds() {
        TrafficLog log;
        const auto note = [](int i) { return TrafficEvent::Note(QString::number(i), kAt); };
        for (int i = 0; i < 10100; ++i) {
            log.add(note(i));
            if ((i + 1) % TrafficLog::kBatchLines == 0)
                log.showWaiting();
        }
        log.showWaiting();
        QCOMPARE(log.lines().size(), 10000);
        QCOMPARE(log.droppedLines(), 100);
        QCOMPARE(log.lines().front(), "08:25:35.876 -- 100");
        QCOMPARE(log.lines().back(), "08:25:35.876 -- 10099");

        log.clear();
        QCOMPARE(log.lines().size() + log.droppedLines(), 0);
        for (int i = 0; i < 600; ++i)
            log.add(TrafficEvent::Note(QString::number(i), kAt + i));
        log.showWaiting();
        QCOMPARE(log.lines().size(), 251);
        QCOMPARE(log.lines().at(0), "08:25:36.225 -- 350 messages not shown (too many to show)");
        QCOMPARE(log.lines().at(1), "08:25:36.226 -- 350");

        log.setPaused(true);
        log.add(note(1));
        log.add(note(2));
        log.showWaiting();
        QCOMPARE(log.lines().size(), 251);
        QCOMPARE(log.skippedWhilePaused(), 2);
        log.setPaused(false);
        QCOMPARE(Untimed({log.lines().back()}),
                 QStringList{"-- 2 messages not shown while paused"});
        QCOMPARE(log.formattedLines(), 10100 + 251 + 1);
    }

    // The window as the user drives it: the traffic as it happens, Pause, Copy, Save (and a
    // save that fails), Clear.
    void windowButtons() {
        openLog();
        QVERIFY(m_link.send(kReport5 + Hex("01 02 03 F5")));
        QVERIFY(logged("tx pong | F4"));
        const QStringList expected{"rx gain report: input 6 gain 1000 (-2.4db) | " +
                                       kReport5.toHex(' ').toUpper(),
                                   "rx junk, 3 bytes | 01 02 03", "rx ping | F5", "tx pong | F4"};
        QCOMPARE(Untimed(shown()), expected);
        QCOMPARE(shown(), log().lines());
        QCOMPARE(status(), "4 lines");

        click("cmdPause");
        QVERIFY(m_link.send(Hex("F5")));
        QVERIFY(
            spinUntil([&] { return status() == "4 lines; paused, 2 messages not shown"; }, 2000));
        QCOMPARE(Find<QPushButton>(window(), "cmdPause")->text(), "&Resume");
        click("cmdPause");
        QCOMPARE(Untimed(shown()).back(), "-- 2 messages not shown while paused");

        click("cmdCopy");
        const QString text = log().lines().join('\n') + '\n';
        QCOMPARE(QGuiApplication::clipboard()->text(), text);

        QTemporaryDir dir;
        const QString saved = dir.filePath("traffic.txt");
        TestSupport::Answering<QFileDialog>(
            "dlgSaveTraffic",
            [&](QFileDialog *dialog) {
                // The dialog selects its own suggestion again once its folder has loaded: the
                // file is chosen after that.
                dialog->selectFile(saved);
                QTest::qWait(100);
                dialog->selectFile(saved);
                static_cast<QDialog *>(dialog)->accept(); // as its Save button does
            },
            [this] { click("cmdSave"); });
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()), text);
        // A folder that went away (a stick pulled out) between choosing and writing.
        const QString pulled = dir.filePath("stick/traffic.txt");
        TestSupport::BoxDismisser failure("saveFailure");
        static_cast<frmTraffic *>(window())->saveTo(pulled);
        QCOMPARE(failure.shown(),
                 QStringList(ProgramInfo::kDisplayName + "|The traffic log could not be saved to " +
                             pulled + ": No such file or directory|1"));
        QVERIFY(!QFileInfo::exists(pulled));

        click("cmdTrafficClear");
        QVERIFY(shown().isEmpty() && log().lines().isEmpty());
        QCOMPARE(status(), "0 lines");
    }

    // While the window is closed nothing is formatted; reopened, it says what it missed.
    void closedCostsNothing() {
        openLog();
        QVERIFY(m_link.send(Hex("F5")));
        QVERIFY(logged("tx pong | F4"));
        window()->close();
        const qint64 formatted = log().formattedLines();
        QVERIFY(m_link.send(kReport5 + Hex("01 02 F5")));
        QCOMPARE(m_link.receive(2), Hex("F4 F4"));
        QTest::qWait(2 * int(TrafficLog::kBatchInterval.count()));
        QCOMPARE(log().formattedLines(), formatted);
        QCOMPARE(shown().size(), 2);

        openLog();
        QVERIFY(m_link.send(Hex("F5")));
        QVERIFY(spinUntil([&] { return shown().size() == 5; }, 2000));
        QCOMPARE(Untimed(shown()).back(), "tx pong | F4");
        QVERIFY2(Untimed(shown()).at(2).startsWith("-- messages since ") &&
                     Untimed(shown()).at(2).endsWith(" not shown (the log was closed)"),
                 qPrintable(shown().at(2)));
    }

    // To a file (appended to, so an earlier run's trace stays) and to the standard error
    // stream: the same lines, each there as soon as it happened.
    void trace_data() {
        QTest::addColumn<bool>("toFile");
        QTest::newRow("file") << true;
        QTest::newRow("stderr") << false;
    }
    void trace() {
        QFETCH(bool, toFile);
        Panel panel;
        QFile earlier(panel.path("trace.log"));
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("earlier run\n");
        earlier.close();
        panel.start(toFile ? panel.path("trace.log") : "-");
        panel.greet();
        panel.peer->write(kReport5 + Hex("01 02 03 F5"));
        QCOMPARE(panel.read(1), Hex("F4"));

        QString text;
        const auto traced = [&] {
            text +=
                toFile ? QString() : QString::fromLocal8Bit(panel.process.readAllStandardError());
            const QString all =
                toFile ? QString::fromUtf8(TestSupport::FileBytes(panel.path("trace.log"))) : text;
            return all.endsWith("tx pong | F4\n");
        };
        // Still running: every line is on its way out already.
        QVERIFY(spinUntil(traced, 5000));
        QVERIFY(panel.stop());
        traced();
        if (toFile)
            text = QString::fromUtf8(TestSupport::FileBytes(panel.path("trace.log")));

        const quint16 port = panel.server.serverPort();
        const QStringList expected{
            "-- dual-slider " + ProgramInfo::kVersion + ", trace started " +
                QDate::currentDate().toString(Qt::ISODate),
            "-- connected to 127.0.0.1:" + QString::number(port),
            "rx greeting | 81 64 64 FF",
            "tx greeting reply | 81 96 16 FF",
            "tx information request, selector 0x8080 | F2 00 01 02 00 00 00 00 00 00 00 03 FF",
            "rx gain report: input 6 gain 1000 (-2.4db) | E3 00 01 01 00 05 00 68 07 76 FF",
            "rx junk, 3 bytes | 01 02 03",
            "rx ping | F5",
            "tx pong | F4",
            "-- disconnected"};
        QStringList lines = text.split(u'\n', Qt::SkipEmptyParts);
        if (toFile) // appended to what was there
            QCOMPARE(lines.takeFirst(), "earlier run");
        else // the program's other words on the same stream
            lines = lines.filter(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:")));
        QCOMPARE(Untimed(lines), expected);
    }

    // A trace that cannot be written at start: one clear message, and no panel.
    void cannotWrite_data() {
        QTest::addColumn<QString>("trace");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no such folder") << "/nonexistent/trace.log"
                                        << "No such file or directory";
        QTest::newRow("device full") << "/dev/full"
                                     << "No space left on device";
    }
    void cannotWrite() {
        QFETCH(QString, trace);
        QFETCH(QString, reason);
        Panel panel;
        panel.start(trace);
        QVERIFY(panel.process.waitForFinished(5000));
        QCOMPARE(panel.process.exitCode(), 1);
        QCOMPARE(QString::fromLocal8Bit(panel.process.readAllStandardError()),
                 "dual-slider: cannot write the trace to " + trace + ": " + reason + "\n");
        QVERIFY(!panel.server.hasPendingConnections());
    }

    // A write that fails later (here at the file size limit, as on a full disk) ends the trace
    // with one message, however much traffic follows; the panel goes on.
    void failsLater() {
        Panel panel;
        panel.start(panel.path("trace.log"), [] {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit size{300, 300};
            ::setrlimit(RLIMIT_FSIZE, &size);
        });
        panel.greet();
        panel.peer->write(kReport5 + Hex("F5"));
        QCOMPARE(panel.read(1), Hex("F4"));
        panel.peer->write(Hex("F5"));
        QCOMPARE(panel.read(1), Hex("F4"));
        QVERIFY(panel.stop());
        const QStringList said = QString::fromLocal8Bit(panel.process.readAllStandardError())
                                     .split('\n')
                                     .filter(QRegularExpression("^dual-slider: "));
        QCOMPARE(said, QStringList{"dual-slider: the trace to " + panel.path("trace.log") +
                                   " stopped: File too large"});
    }
};

QTEST_MAIN(TrafficTest)
#include "test_traffic.moc"
