// The simulator over real loopback TCP: greeting, state dump, confirmations to every panel,
// what it ignores, and the faults it injects on purpose. Also its command line.

#include "tools/switcher-sim/SimCodec.h"
#include "tools/switcher-sim/SimDelivery.h"
#include "tools/switcher-sim/SimFramer.h"
#include "tools/switcher-sim/SimOptions.h"
#include "tools/switcher-sim/SimServer.h"
#include "tools/switcher-sim/SimWire.h"

#include <QCommandLineParser>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QtTest>
#include <memory>

using SimCodec::Message;

namespace {

QByteArray hexBytes(const char *text) {
    return QByteArray::fromHex(QByteArray(text));
}

const QByteArray kGreeting = hexBytes("81 64 64 FF");
const QByteArray kInfoRequest = hexBytes("F2 00 01 02 00 00 00 00 00 00 00 03 FF");

// A panel's end of the link, reduced to what the tests look at.
struct Client {
    QTcpSocket socket;
    SimFramer framer;
    QList<QByteArray> messages;
    QByteArray stray;
    int broken = 0;

    explicit Client(quint16 port) {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] {
            for (const auto &f : framer.push(socket.readAll())) {
                if (f.kind == SimFramer::Frame::Kind::Message)
                    messages << f.bytes;
                else if (f.kind == SimFramer::Frame::Kind::Stray)
                    stray += f.bytes;
                else
                    ++broken;
            }
        });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    bool waitFor(qsizetype n, int ms = 3000) {
        return QTest::qWaitFor([&] { return messages.size() >= n; }, ms);
    }
    void send(const QByteArray &bytes) {
        socket.write(bytes);
        socket.flush();
    }
};

SimOptions quietOptions() {
    SimOptions o;
    o.port = 0;
    o.pingIntervalMs = 0;
    return o;
}

} // namespace

class TestSimServer : public QObject {
    Q_OBJECT

    std::unique_ptr<SimServer> server;
    QStringList trace;

    void start(const SimOptions &o) {
        server = std::make_unique<SimServer>(o);
        server->trace = [this](const QString &line) { trace << line; };
        QString error;
        QVERIFY2(server->listen(error), qPrintable(error));
        QCOMPARE(server->address(), QHostAddress(QHostAddress::LocalHost));
        QVERIFY(server->port() != 0);
    }
    bool traced(const QString &text, int ms = 0) {
        return QTest::qWaitFor(
            [&] {
                return std::any_of(trace.cbegin(), trace.cend(),
                                   [&](const QString &l) { return l.contains(text); });
            },
            ms);
    }

  private slots:
    void init() { trace.clear(); }
    void cleanup() { server.reset(); }

    void greetingThenWholeState() {
        start(quietOptions());
        Client panel(server->port());
        QVERIFY(panel.waitFor(1));
        QCOMPARE(panel.messages.first(), kGreeting);
        panel.send(hexBytes("81 96 16 FF"));
        panel.send(kInfoRequest);
        const QList<Message> dump = server->state().dump();
        QVERIFY(panel.waitFor(1 + dump.size()));
        QTest::qWait(50);
        QCOMPARE(panel.messages.size(), 1 + dump.size());
        for (qsizetype i = 0; i < dump.size(); ++i)
            QCOMPARE(SimWire::hex(panel.messages[1 + i]), SimWire::hex(SimCodec::encode(dump[i])));
        // Kinds 0 to 3 first, then maps, then crosspoint gains.
        const Message firstInputs = SimCodec::decode(panel.messages[5]);
        QCOMPARE(firstInputs.kind, 1);
        QCOMPARE(firstInputs.values.mid(0, 2), (QList<int>{1024, 964}));
        QCOMPARE(SimCodec::decode(panel.messages.last()).kind, SimWire::kKindCrosspoint);
        QVERIFY(panel.stray.isEmpty());
        QVERIFY(traced(QStringLiteral("rx greeting reply | 81 96 16 FF")));
        QVERIFY(traced(QStringLiteral("rx information request, selector 0x8080")));
        QVERIFY(traced(QStringLiteral("tx input 1..32 gain 0 dB, -6 dB, +3 dB")));
    }

    // A second panel follows the first; a panel that left is simply no longer sent to.
    void confirmationReachesEveryPanel() {
        start(quietOptions());
        auto a = std::make_unique<Client>(server->port());
        auto b = std::make_unique<Client>(server->port());
        QVERIFY(a->waitFor(1) && b->waitFor(1));
        QCOMPARE(server->panelCount(), 2);
        a->send(hexBytes("E3 02 01 01 00 00 00 1A 08 26 FF")); // input 1 to +2.6 dB
        const QByteArray report = hexBytes("E3 00 01 01 00 00 00 1A 08 24 FF");
        QVERIFY(a->waitFor(2) && b->waitFor(2));
        QCOMPARE(a->messages[1], report);
        QCOMPARE(b->messages[1], report);
        QVERIFY(traced(QStringLiteral("[1] rx set input 1 gain +2.6 dB | E3 02 01")));
        QVERIFY(traced(QStringLiteral("[2] tx input 1 gain +2.6 dB | E3 00 01")));

        b.reset();
        QVERIFY(QTest::qWaitFor([&] { return server->panelCount() == 1; }, 2000));
        a->send(hexBytes("E3 02 01 01 00 00 00 24 08 30 FF"));
        QVERIFY(a->waitFor(3));
        QCOMPARE(a->messages[2], hexBytes("E3 00 01 01 00 00 00 24 08 2E FF"));
    }

    // Nothing but the valid command is confirmed, and each ignored one is in the trace.
    void badCommandsAreIgnoredAndLogged() {
        start(quietOptions());
        Client panel(server->port());
        QVERIFY(panel.waitFor(1));
        panel.send(hexBytes("E3 02 01 01 00 00 00 1A 08 27 FF"));              // bad checksum
        panel.send(SimWire::frame(0xE3, hexBytes("02 01 02 00 00 00 1A 08"))); // one entry short
        panel.send(hexBytes("E3 02 0A 01 00 00 00 1C 07 02 00 32 FF")); // input 3 not on output 1
        panel.send(hexBytes("E3 02 01 01 12 34"));                      // lost its end
        panel.send(hexBytes("E3 02 01 01 00 00 00 24 08 30 FF"));       // input 1 to +3.6 dB
        QVERIFY(panel.waitFor(2));
        QTest::qWait(50);
        QCOMPARE(panel.messages.size(), 2);
        QCOMPARE(panel.messages[1], hexBytes("E3 00 01 01 00 00 00 24 08 2E FF"));
        QCOMPARE(server->state().gain(1, 0), 1060);
        QVERIFY(traced(QStringLiteral("ignored, bad checksum 27, expected 26")));
        QVERIFY(traced(QStringLiteral("2 entries of kind 1 need 13")));
        QVERIFY(traced(QStringLiteral("rejected: input 3 does not feed output 1")));
        QVERIFY(
            traced(QStringLiteral("ignored a message that lost its end byte | E3 02 01 01 12 34")));
    }

    void dropEveryLosesThatCommand() {
        SimOptions o = quietOptions();
        o.dropEvery = 2;
        start(o);
        Client panel(server->port());
        QVERIFY(panel.waitFor(1));
        panel.send(SimCodec::encode(SimCodec::setGain(1, 0, {1050})));
        panel.send(SimCodec::encode(SimCodec::setGain(1, 1, {1060})));
        panel.send(SimCodec::encode(SimCodec::setGain(1, 2, {1070})));
        QVERIFY(panel.waitFor(3));
        QTest::qWait(50);
        QCOMPARE(panel.messages.size(), 3);
        QCOMPARE(SimCodec::decode(panel.messages[1]).first, 0);
        QCOMPARE(SimCodec::decode(panel.messages[2]).first, 2);
        QCOMPARE(server->state().gain(1, 1), 964); // lost, so never applied
        QVERIFY(traced(QStringLiteral("command lost on purpose (--drop-every 2)")));
    }

    // Split, junk and latency garble the timing and the spaces between messages, never the
    // messages themselves.
    void faultsKeepEveryMessageWhole() {
        SimOptions o = quietOptions();
        o.inputs = 8;
        o.outputs = 8;
        o.faults = {50, true, true};
        o.seed = 7;
        start(o);
        Client panel(server->port());
        QVERIFY(panel.waitFor(1));
        QCOMPARE(panel.messages.first(), kGreeting);
        QElapsedTimer clock;
        clock.start();
        panel.send(kInfoRequest);
        QVERIFY(QTest::qWaitFor([&] { return panel.messages.size() > 1; }, 3000));
        QVERIFY(clock.elapsed() >= 50);
        const QList<Message> dump = server->state().dump();
        QVERIFY(panel.waitFor(1 + dump.size(), 5000));
        for (qsizetype i = 0; i < dump.size(); ++i)
            QCOMPARE(SimWire::hex(panel.messages[1 + i]), SimWire::hex(SimCodec::encode(dump[i])));
        QCOMPARE(panel.broken, 0);
        QVERIFY(!panel.stray.isEmpty());
        for (char c : panel.stray)
            QVERIFY(!SimWire::isStatus(quint8(c)));
        QVERIFY(traced(QStringLiteral("tx junk |")));
    }

    void pingAndMissingAnswer() {
        SimOptions o = quietOptions();
        o.pingIntervalMs = 100;
        start(o);
        Client panel(server->port());
        QVERIFY(QTest::qWaitFor([&] { return panel.messages.contains(QByteArray("\xF5")); }, 2000));
        QVERIFY(traced(QStringLiteral("no ping answer (F4) to the last ping"), 2000));
        panel.send(QByteArray("\xF4"));
        QVERIFY(traced(QStringLiteral("rx ping answer | F4"), 2000));
    }

    // A panel that asks and asks but never reads is cut off instead of buffered for.
    void panelThatDoesNotReadIsCutOff() {
        start(quietOptions());
        Client panel(server->port());
        panel.socket.setReadBufferSize(1);
        QVERIFY(QTest::qWaitFor([&] { return server->panelCount() == 1; }, 2000));
        QByteArray requests;
        for (int i = 0; i < 2000; ++i)
            requests += kInfoRequest;
        panel.send(requests);
        QVERIFY(traced(QStringLiteral("panel does not read what it is sent"), 5000));
        QVERIFY(QTest::qWaitFor([&] { return server->panelCount() == 0; }, 2000));
    }

    void closeAfterHangsUp() {
        SimOptions o = quietOptions();
        o.closeAfterS = 1;
        start(o);
        Client panel(server->port());
        QVERIFY(panel.waitFor(1));
        QVERIFY(QTest::qWaitFor(
            [&] { return panel.socket.state() == QAbstractSocket::UnconnectedState; }, 3000));
        QVERIFY(QTest::qWaitFor([&] { return server->panelCount() == 0; }, 1000));
        QVERIFY(traced(QStringLiteral("closing the connection (--close-after)")));
    }

    void animateSweepsInSteps() {
        SimOptions o = quietOptions();
        o.animate = true;
        start(o);
        Client panel(server->port());
        // greeting, then per step input 1, output 1, two crosspoints
        QVERIFY(panel.waitFor(9, 2000));
        const Message first = SimCodec::decode(panel.messages[1]);
        const Message next = SimCodec::decode(panel.messages[5]);
        QCOMPARE(first.kind, 1);
        QCOMPARE(first.first, 0);
        QCOMPARE(next.kind, 1);
        QCOMPARE(qAbs(next.values[0] - first.values[0]), SimServer::kAnimateStep);
        QCOMPARE(SimCodec::decode(panel.messages[4]).crosspoints.first().source, 64);
    }

    // Whatever the random choices, the pieces put the message back together, junk is only
    // data bytes in front of it, and the latency delays only reports.
    void deliveryPlan() {
        const QByteArray message = hexBytes("E3 00 0A 01 00 40 00 68 07 41 00 7B FF");
        QRandomGenerator rng(1);
        for (int round = 0; round < 200; ++round) {
            const bool report = round % 2 == 0;
            const auto pieces = SimDelivery::plan(message, report, {30, true, true}, rng);
            QVERIFY(pieces.first().junk);
            QCOMPARE(pieces.first().delayMs, report ? 30 : 0);
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
            for (char c : pieces.first().bytes)
                QVERIFY(!SimWire::isStatus(quint8(c)));
        }
        const auto whole = SimDelivery::plan(message, true, {}, rng);
        QCOMPARE(whole.size(), 1);
        QCOMPARE(whole.first().bytes, message);
        QCOMPARE(whole.first().delayMs, 0);
    }

    void commandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("error"); // empty when accepted
        QTest::newRow("defaults") << QStringList{} << "";
        QTest::newRow("everything") << QStringList{"--port",
                                                   "0",
                                                   "--bind",
                                                   "0.0.0.0",
                                                   "--inputs",
                                                   "1025",
                                                   "--outputs",
                                                   "1",
                                                   "--quiet",
                                                   "--latency",
                                                   "250",
                                                   "--split",
                                                   "--junk",
                                                   "--drop-every",
                                                   "3",
                                                   "--close-after",
                                                   "10",
                                                   "--animate",
                                                   "--ping-interval",
                                                   "0",
                                                   "--seed",
                                                   "42"}
                                    << "";
        QTest::newRow("port too big") << QStringList{"--port", "65536"} << "--port";
        QTest::newRow("port not a number") << QStringList{"--port", "12ab"} << "--port";
        QTest::newRow("no inputs") << QStringList{"--inputs", "0"} << "--inputs";
        QTest::newRow("too many outputs") << QStringList{"--outputs", "1026"} << "--outputs";
        QTest::newRow("negative latency") << QStringList{"--latency", "-1"} << "--latency";
        QTest::newRow("bad address") << QStringList{"--bind", "localhost:1"} << "--bind";
        QTest::newRow("unknown option") << QStringList{"--fast"} << "fast";
        QTest::newRow("stray argument") << QStringList{"now"} << "unexpected argument";
    }

    void commandLine() {
        QFETCH(QStringList, args);
        QFETCH(QString, error);
        QCommandLineParser parser;
        addSimOptions(parser);
        QString why;
        const auto o = parseSimOptions(parser, QStringList{"switcher-sim"} + args, why);
        if (!error.isEmpty()) {
            QVERIFY(!o);
            QVERIFY2(why.contains(error), qPrintable(why));
            return;
        }
        QVERIFY2(o, qPrintable(why));
        if (args.isEmpty()) {
            QCOMPARE(o->port, quint16(1250));
            QCOMPARE(o->bind, QHostAddress(QHostAddress::LocalHost));
            QCOMPARE(o->inputs, 128);
            QCOMPARE(o->pingIntervalMs, 3000);
            QVERIFY(!o->faults.split && !o->faults.junk && !o->quiet && !o->seed);
        } else {
            QCOMPARE(o->port, quint16(0));
            QCOMPARE(o->bind, QHostAddress(QStringLiteral("0.0.0.0")));
            QCOMPARE(o->inputs, 1025);
            QCOMPARE(o->outputs, 1);
            QCOMPARE(o->faults.latencyMs, 250);
            QVERIFY(o->faults.split && o->faults.junk && o->quiet && o->animate);
            QCOMPARE(o->dropEvery, 3);
            QCOMPARE(o->closeAfterS, 10);
            QCOMPARE(o->pingIntervalMs, 0);
            QCOMPARE(o->seed, std::optional<quint32>(42));
        }
    }
};

QTEST_MAIN(TestSimServer)
#include "test_sim_server.moc"
