// dual-slider --trace as the user runs it: the real program, offscreen, against a local
// QTcpServer that greets it. The trace holds every message from start-up on, flushed as it
// happens; a trace that cannot be written stops the start, or ends with one message.

#include "app/ProgramInfo.h"
#include "support/EventLoop.h"
#include "support/ProtocolFakes.h"

#include <QDate>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <functional>
#include <sys/prctl.h>
#include <sys/resource.h>

using ProtocolFakes::Hex;
using ProtocolFakes::kReport5;
using TestSupport::spinUntil;

namespace {

const QByteArray kGreeting = Hex("81 64 64 FF");
const QByteArray kAnswer = Hex("81 96 16 FF F2 00 01 02 00 00 00 00 00 00 00 03 FF");

// The trace's lines, each without its time, which must be there in its fixed form.
QStringList Untimed(const QString &text) {
    static const QRegularExpression line(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d (.*)$"),
                                         QRegularExpression::MultilineOption);
    QStringList lines;
    for (auto it = line.globalMatch(text); it.hasNext();)
        lines << it.next().captured(1);
    return lines;
}

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

    QByteArray read(qsizetype count) {
        QByteArray got;
        spinUntil([&] { return (got += peer->readAll()).size() >= count; }, 5000);
        return got;
    }

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

QString FileText(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class TraceTest : public QObject {
    Q_OBJECT

  private slots:
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
            const QString all = toFile ? FileText(panel.path("trace.log")) : text;
            return all.endsWith("tx pong | F4\n");
        };
        // Still running: every line is on its way out already.
        QVERIFY(spinUntil(traced, 5000));
        QVERIFY(panel.stop());
        traced();
        if (toFile)
            text = FileText(panel.path("trace.log"));

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
        QCOMPARE(Untimed(text), expected);
        if (toFile)
            QVERIFY(text.startsWith("earlier run\n"));
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

QTEST_MAIN(TraceTest)
#include "test_trace.moc"
