// The simulator over real loopback TCP, as only a raw client sees it: the exact dump, what it
// ignores, panels leaving, its timers, the faults it injects on purpose and its reboots. Also
// its command line. How a panel fares against it (state on the faders, split, junk, lost
// commands) is covered end to end in test_e2e.

#include "tools/switcher-sim/SimCodec.h"
#include "tools/switcher-sim/SimDelivery.h"
#include "tools/switcher-sim/SimFramer.h"
#include "tools/switcher-sim/SimOptions.h"
#include "tools/switcher-sim/SimServer.h"
#include "tools/switcher-sim/SimWire.h"

#include <QCommandLineParser>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <arpa/inet.h>
#include <cerrno>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using SimCodec::Message;

namespace {

const QByteArray kInfoRequest = QByteArray::fromHex("F2 00 01 02 00 00 00 00 00 00 00 03 FF");

// A panel's end of the link, reduced to what the tests look at.
struct Client {
    QTcpSocket socket;
    SimFramer framer;
    QList<QByteArray> messages; // stray bytes and broken messages left out

    explicit Client(quint16 port) {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] {
            for (const auto &f : framer.push(socket.readAll()))
                if (f.kind == SimFramer::Frame::Kind::Message)
                    messages << f.bytes;
        });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    // Waits for n messages, then a moment more to show that no others follow.
    bool getsExactly(qsizetype n) {
        const bool got = QTest::qWaitFor([&] { return messages.size() >= n; }, 3000);
        QTest::qWait(50);
        return got && messages.size() == n;
    }
    void send(const QByteArray &bytes) {
        socket.write(bytes);
        socket.flush();
    }
};

// A plain socket, because Qt reports a reset and an orderly close alike.
struct RawClient {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int connectError = 0;

    explicit RawClient(quint16 port) {
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0)
            connectError = errno;
    }
    ~RawClient() { ::close(fd); }
    // The bytes the next read brings, or how the connection ended: "closed" or "reset".
    QByteArray read() {
        QByteArray got;
        const bool done = QTest::qWaitFor(
            [&] {
                char buf[64];
                const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
                if (n >= 0)
                    got = n ? QByteArray(buf, n) : QByteArray("closed");
                else if (errno != EAGAIN)
                    got = errno == ECONNRESET ? "reset" : "failed";
                return !got.isEmpty();
            },
            2000);
        return done ? got : QByteArray("nothing");
    }
};

void row(const char *name, const char *args, const char *expected) {
    QTest::newRow(name) << QString(args) << QString(expected);
}

} // namespace

class TestSimServer : public QObject {
    Q_OBJECT

    std::unique_ptr<SimServer> server;
    std::unique_ptr<Client> panel;
    QStringList trace;

    // A quiet simulator on a free port, with the options the test changes, and a panel on it.
    void start(const std::function<void(SimOptions &)> &change = {}) {
        SimOptions o;
        o.port = 0;
        o.pingIntervalMs = 0;
        if (change)
            change(o);
        server = std::make_unique<SimServer>(o);
        server->trace = [this](const QString &line) { trace << line; };
        QString error;
        QVERIFY2(server->listen(error), qPrintable(error));
        panel = std::make_unique<Client>(server->port());
        QTRY_VERIFY(!panel->messages.isEmpty()); // the greeting
    }
    bool traced(const QString &text, int ms = 0) {
        return QTest::qWaitFor([&] { return trace.join(u'\n').contains(text); }, ms);
    }

  private slots:
    void init() { trace.clear(); }
    void cleanup() {
        panel.reset();
        server.reset();
    }

    // The greeting, then exactly the state's dump, each report held back by the latency.
    void dumpAfterLatency() {
        start([](SimOptions &o) { o.faults.latencyMs = 50; });
        QElapsedTimer clock;
        clock.start();
        panel->send(kInfoRequest);
        QTRY_VERIFY(panel->messages.size() >= 2);
        QVERIFY(clock.elapsed() >= 50);
        QVERIFY(traced(QStringLiteral("tx input 1..32 gain 0 dB, -6 dB, +3 dB"), 3000));
    }

    // A panel that left is no longer sent to, one that stays is sent every confirmation too;
    // of the commands only the valid one is confirmed, and each ignored one is in the trace
    // under the panel that sent it.
    void badCommandsAndAPanelThatLeft() {
        start();
        auto gone = std::make_unique<Client>(server->port());
        QTRY_VERIFY(!gone->messages.isEmpty());
        QCOMPARE(server->panelCount(), 2);
        gone.reset();
        QTRY_COMPARE_WITH_TIMEOUT(server->panelCount(), 1, 2000);
        Client other(server->port());
        QTRY_VERIFY(!other.messages.isEmpty());
        panel->send(SimWire::frame(
            0xE3, QByteArray::fromHex("02 01 02 00 00 00 1A 08"))); // one entry short
        panel->send(QByteArray::fromHex(
            "E3 02 0A 01 00 00 00 1C 07 02 00 32 FF"));        // input 3 not on output 1
        panel->send(QByteArray::fromHex("E3 02 01 01 12 34")); // lost its end
        panel->send(QByteArray::fromHex("E3 02 01 01 00 00 00 70 09 7E FF")); // checksum 7D
        panel->send(QByteArray::fromHex("E3 02 01 01 00 00 00 24 08 30 FF")); // input 1 to +3.6 dB
        QVERIFY(panel->getsExactly(2));
        QCOMPARE(panel->messages[1], QByteArray::fromHex("E3 00 01 01 00 00 00 24 08 2E FF"));
        QVERIFY(other.getsExactly(2));
        QCOMPARE(other.messages[1], panel->messages[1]);
        QCOMPARE(server->state().gain(1, 0), 1060);
        QVERIFY(!traced(QStringLiteral("[2] tx input 1")));
        for (const char *line :
             {"[1] tx input 1 gain +3.6 dB | E3 00 01", "2 entries of kind 1 need 13",
              "[1] -- rejected: input 3 does not feed output 1",
              "ignored a message that lost its end byte | E3 02 01 01 12 34",
              "[1] rx ignored, bad checksum 7E, expected 7D"})
            QVERIFY2(traced(line), line);
    }

    // Every Nth command, not every one after the Nth, is lost and never applied.
    void dropEveryLosesThatCommand() {
        start([](SimOptions &o) { o.dropEvery = 2; });
        for (int c = 0; c < 3; ++c)
            panel->send(SimCodec::encode(SimCodec::setGain(1, c, {1050 + 10 * c})));
        QVERIFY(panel->getsExactly(3));
        QCOMPARE(SimCodec::decode(panel->messages[1]).first, 0);
        QCOMPARE(SimCodec::decode(panel->messages[2]).first, 2);
        QCOMPARE(server->state().gain(1, 1), 964);
    }

    // Pings go out and a missing answer is noted; --close-after then hangs up.
    void pingThenCloseAfter() {
        start([](SimOptions &o) {
            o.pingIntervalMs = 100;
            o.closeAfterS = 1;
        });
        QTRY_VERIFY_WITH_TIMEOUT(panel->messages.contains("\xF5"), 900);
        QVERIFY(traced(QStringLiteral("no ping answer (F4) to the last ping"), 900));
        panel->send(QByteArray("\xF4"));
        QVERIFY(traced(QStringLiteral("rx ping answer | F4"), 900));
        QTRY_COMPARE_WITH_TIMEOUT(panel->socket.state(), QAbstractSocket::UnconnectedState, 3000);
        QVERIFY(traced(QStringLiteral("closing the connection (--close-after)")));
    }

    // A panel that asks and asks but never reads is cut off instead of buffered for.
    void panelThatDoesNotReadIsCutOff() {
        start();
        panel->socket.setReadBufferSize(1);
        QVERIFY(panel->socket.waitForConnected(2000));
        panel->send(kInfoRequest.repeated(2000));
        QVERIFY(traced(QStringLiteral("panel does not read what it is sent"), 5000));
        QTRY_COMPARE_WITH_TIMEOUT(server->panelCount(), 0, 2000);
    }

    // Per step: input 1, output 1 and two crosspoints of output 65, input 1 a step further.
    void animateSweepsInSteps() {
        start([](SimOptions &o) { o.animate = true; });
        QTRY_VERIFY_WITH_TIMEOUT(panel->messages.size() >= 9, 2000);
        const Message first = SimCodec::decode(panel->messages[1]);
        const Message next = SimCodec::decode(panel->messages[5]);
        QCOMPARE((QList<int>{first.kind, first.first, next.kind, next.first}),
                 (QList<int>{1, 0, 1, 0}));
        QCOMPARE(qAbs(next.values[0] - first.values[0]), SimServer::kAnimateStep);
        QCOMPARE(SimCodec::decode(panel->messages[4]).crosspoints.first().source, 64);
    }

    // A reboot resets every connection and refuses connects while down, retries while the
    // port is taken, then greets on the same port and reports the state as it was. Up again,
    // --reboot-every counts afresh and takes --down-for.
    void rebootKeepsPortAndState() {
        start([](SimOptions &o) {
            o.inputs = o.outputs = 2;
            o.rebootEveryS = 1;
            o.downForMs = 100;
        });
        const quint16 port = server->port();
        panel->send(SimCodec::encode(SimCodec::setGain(1, 0, {1060})));
        panel->send(kInfoRequest);
        QVERIFY(panel->getsExactly(9)); // greeting, confirmation, 7 dump messages
        RawClient raw(port);
        QCOMPARE(raw.read(), QByteArray::fromHex("81 64 64 FF"));
        server->reboot(std::chrono::milliseconds(300));
        QCOMPARE(raw.read(), QByteArray("reset"));
        QCOMPARE(RawClient(port).connectError, ECONNREFUSED);
        {
            QTcpServer squatter;
            QVERIFY(squatter.listen(QHostAddress::LocalHost, port));
            QVERIFY(traced(QStringLiteral("cannot listen on 127.0.0.1:%1 again").arg(port), 1000));
        }
        QVERIFY(traced(QStringLiteral("[-] -- back up, listening on 127.0.0.1:%1").arg(port),
                       SimServer::kRelistenRetryMs + 500));
        Client after(port);
        QVERIFY(after.getsExactly(1));
        after.send(kInfoRequest);
        QVERIFY(after.getsExactly(8));
        QCOMPARE(after.messages[0], QByteArray::fromHex("81 64 64 FF"));
        QCOMPARE(after.messages.mid(1), panel->messages.mid(2));
        QVERIFY(traced(QStringLiteral("[-] -- rebooting, not listening for 100 ms"), 1500));
        QTRY_COMPARE(after.socket.state(), QAbstractSocket::UnconnectedState);
    }

    // Whatever the random choices, the pieces put the message back together, junk is only
    // data bytes in front of it, and the latency delays only reports.
    void deliveryPlan() {
        const QByteArray message = QByteArray::fromHex("E3 00 0A 01 00 40 00 68 07 41 00 7B FF");
        QRandomGenerator rng(1);
        for (int round = 0; round < 200; ++round) {
            const bool report = round % 2 == 0;
            const auto pieces = SimDelivery::plan(message, report, {30, true, true}, rng);
            QVERIFY(pieces.first().junk);
            QCOMPARE(pieces.first().delayMs, report ? 30 : 0);
            for (char c : pieces.first().bytes)
                QVERIFY(!SimWire::isStatus(quint8(c)));
            QByteArray joined;
            for (qsizetype i = 1; i < pieces.size(); ++i) {
                QVERIFY(!pieces[i].junk);
                QVERIFY(pieces[i].bytes.size() >= 1 &&
                        pieces[i].bytes.size() <= SimDelivery::kMaxPieceBytes);
                QVERIFY(pieces[i].delayMs <= SimDelivery::kMaxPieceGapMs);
                QCOMPARE(pieces[i].endsMessage, i == pieces.size() - 1);
                joined += pieces[i].bytes;
            }
            QCOMPARE(joined, message);
        }
    }

    void commandLine_data() {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("expected"); // the options taken, or why they were refused
        row("defaults", "",
            "127.0.0.1:1250 128x128 ping 3000 latency 0 drop 0 close 0 reboot 0 down 2000 seed "
            "none");
        row("everything",
            "--port 0 --bind 0.0.0.0 --inputs 1025 --outputs 1 --quiet --latency 250 --split "
            "--junk --drop-every 3 --close-after 10 --animate --ping-interval 0 --seed 42 "
            "--reboot-every 60 --down-for 3600000",
            "0.0.0.0:0 1025x1 ping 0 latency 250 drop 3 close 10 reboot 60 down 3600000 quiet "
            "split "
            "junk animate seed 42");
        row("port too big", "--port 65536", "refused: --port: \"65536\"");
        row("no inputs", "--inputs 0", "refused: --inputs");
        row("too many outputs", "--outputs 1026", "refused: --outputs");
        row("bad address", "--bind localhost:1", "refused: --bind");
        row("down too long", "--down-for 3600001", "refused: --down-for: \"3600001\"");
        row("reboot every fraction", "--reboot-every 0.5", "refused: --reboot-every");
        row("unknown option", "--fast", "refused: Unknown option 'fast'");
        row("stray argument", "now", "refused: unexpected argument \"now\"");
    }

    void commandLine() {
        QFETCH(QString, args);
        QFETCH(QString, expected);
        QCommandLineParser parser;
        addSimOptions(parser);
        QString why;
        const auto o = parseSimOptions(
            parser, QStringList{"switcher-sim"} + args.split(' ', Qt::SkipEmptyParts), why);
        const QString got =
            !o ? QStringLiteral("refused: ") + why
               : QString::asprintf(
                     "%s:%d %dx%d ping %d latency %d drop %d close %d reboot %d down %d%s%s%s%s "
                     "seed %s",
                     qPrintable(o->bind.toString()), o->port, o->inputs, o->outputs,
                     o->pingIntervalMs, o->faults.latencyMs, o->dropEvery, o->closeAfterS,
                     o->rebootEveryS, o->downForMs, o->quiet ? " quiet" : "",
                     o->faults.split ? " split" : "", o->faults.junk ? " junk" : "",
                     o->animate ? " animate" : "",
                     o->seed ? qPrintable(QString::number(*o->seed)) : "none");
        // A refusal need only start with the row's text.
        QCOMPARE(o ? got : got.left(expected.size()), expected);
    }
};

QTEST_MAIN(TestSimServer)
#include "test_sim_server.moc"
