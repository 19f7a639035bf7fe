// The switcher simulator. First its model: its own encoder, decoder and stream framer against
// the protocol's worked byte examples and broken input, and its state: its defaults, how it
// takes set-gain commands (clamping, all-or-nothing rejection) and the dump that answers an
// information request. Then the simulator over real loopback TCP, as only a raw client sees
// it: the exact dump, what it ignores, panels leaving, its timers, the faults it injects on
// purpose and its reboots. Last, its command line. How a panel fares against it (state on the
// faders, split, junk, lost commands) is covered end to end in test_e2e.

#include "support/Rows.h"
#include "tools/switcher-sim/SimCodec.h"
#include "tools/switcher-sim/SimDelivery.h"
#include "tools/switcher-sim/SimFramer.h"
#include "tools/switcher-sim/SimOptions.h"
#include "tools/switcher-sim/SimServer.h"
#include "tools/switcher-sim/SimState.h"
#include "tools/switcher-sim/SimTrace.h"
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

using SimCodec::Crosspoint;
using SimCodec::Message;
using TestSupport::Row;

Q_DECLARE_METATYPE(SimCodec::Message)

namespace {

QByteArray hexBytes(const char *text) {
    return QByteArray::fromHex(QByteArray(text));
}

Message greetingWithExtra(int extra) {
    Message m = SimCodec::greeting();
    m.greetingExtra = extra;
    return m;
}

void example(const char *name, const char *hex, const Message &built, const char *meaning) {
    QTest::newRow(name) << hexBytes(hex) << built << QString(meaning);
}

// "M:81 96 16 FF|S:12 34" for a list of frames, neighbouring stray runs joined when asked.
QString frames(const QList<SimFramer::Frame> &list, bool joinStray = false) {
    QStringList out;
    for (const auto &f : list) {
        const char *tag = f.kind == SimFramer::Frame::Kind::Message ? "M:"
                          : f.kind == SimFramer::Frame::Kind::Stray ? "S:"
                                                                    : "B:";
        if (joinStray && *tag == 'S' && !out.isEmpty() && out.last().startsWith(QLatin1Char('S')))
            out.last() += QLatin1Char(' ') + SimWire::hex(f.bytes);
        else
            out << QLatin1String(tag) + SimWire::hex(f.bytes);
    }
    return out.join(QLatin1Char('|'));
}

void stream(const char *name, const char *hex, const char *expected) {
    QTest::newRow(name) << hexBytes(hex) << QString(expected);
}

QByteArray dumpBytes(const SimState &s) {
    QByteArray all;
    for (const Message &m : s.dump())
        all += SimCodec::encode(m);
    return all;
}

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

} // namespace

class TestSim : public QObject {
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
    void workedExamples_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Message>("built");
        QTest::addColumn<QString>("meaning");
        using namespace SimCodec;
        example("set output 5 stereo +3 dB", "E3 02 03 02 00 04 00 1E 08 1E 08 57 FF",
                setGain(3, 4, {1054, 1054}), "set output 5..6 gain +3 dB, +3 dB");
        example("set DSP input 3 on output 1 to -10 dB", "E3 02 0A 01 00 00 00 1C 07 02 00 32 FF",
                setCrosspointGain(0, {{2, 924}}), "set input 3 on output 1 gain -10 dB");
        // A 14-bit field at its top.
        example("set input 1 to the 14-bit top", "E3 02 01 01 00 00 00 7F 7F 02 FF",
                setGain(1, 0, {16383}), "set input 1 gain +1535.9 dB");
        example("report crosspoint", "E3 00 0A 01 00 40 00 68 07 41 00 7B FF",
                crosspointReport(64, {{65, 1000}}), "input 66 on output 65 gain -2.4 dB");
        example("report second gains", "E3 00 02 02 00 00 00 06 08 10 08 2A FF",
                gainReport(2, 0, {1030, 1040}), "output 1..2 second gain +0.6 dB, +1.6 dB");
        example("crosspoint map", "F6 00 01 00 40 00 02 00 00 40 00 68 07 41 00 74 03 2A FF",
                crosspointMap(64, {{0, {{64, 1000}, {65, 500}}}}),
                "crosspoint map output 65: output 65 <- input 65 -2.4 dB, input 66 -52.4 dB");
        example("greeting, long form", "81 64 05 69 FF", greetingWithExtra(5), "greeting");
    }

    // Both directions: building the message gives the bytes, and decoding the bytes gives
    // the meaning and encodes back to the same bytes. The plain set-gain command, gain report,
    // greeting and information request are read and traced end to end in test_e2e.
    void workedExamples() {
        QFETCH(QByteArray, bytes);
        QFETCH(Message, built);
        QFETCH(QString, meaning);
        QCOMPARE(SimWire::hex(SimCodec::encode(built)), SimWire::hex(bytes));
        const Message decoded = SimCodec::decode(bytes);
        QCOMPARE(SimTrace::describe(decoded), meaning);
        QCOMPARE(SimWire::hex(SimCodec::encode(decoded)), SimWire::hex(bytes));
    }

    void rejected_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("why");
        using SimWire::frame;
        Row("one byte too many", frame(0xE3, hexBytes("02 0A 01 00 00 00 1C 07 02 00 00")),
            "1 entries of kind 10 need 13");
        Row("no entries", frame(0xE3, hexBytes("02 01 00 00 00 00")),
            "gain message with no entries");
        Row("header cut short", frame(0xE3, hexBytes("02 01 01")), "too short");
        Row("status byte inside", hexBytes("E3 02 01 01 00 00 00 80 08 0C FF"), "80 at position 8");
        Row("no end byte", hexBytes("E3 02 01 01"), "without its end byte");
        Row("greeting 81 65 65 FF", hexBytes("81 65 65 FF"), "unknown form");
        Row("short information request", frame(0xF2, hexBytes("00 01 02")),
            "information request of 6 bytes");
        Row("map with no outputs", frame(0xF6, hexBytes("00 00 00 40 00")), "no outputs");
        Row("map block cut short", frame(0xF6, hexBytes("00 01 00 40 00 02 00 00 40 00 68 07")),
            "ends inside block 0");
        Row("map with bytes left over", frame(0xF6, hexBytes("00 01 00 40 00 00 00 00 11")),
            "1 bytes after its blocks");
        Row("stray data byte", hexBytes("12"), "stray data byte");
        Row("lone end byte", hexBytes("FF"), "stray end byte");
        Row("empty", hexBytes(""), "empty");
    }

    void rejected() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, why);
        const Message m = SimCodec::decode(bytes);
        QCOMPARE(m.type, Message::Type::Invalid);
        QVERIFY2(m.error.contains(why), qPrintable(m.error));
        QVERIFY(SimCodec::encode(m).isEmpty());
    }

    void unknownStatusIsFramedButNotUnderstood() {
        const Message m = SimCodec::decode(SimWire::frame(0xA0, hexBytes("05")));
        QCOMPARE(m.type, Message::Type::Unknown);
        QCOMPARE(SimTrace::describe(m), QStringLiteral("unknown message A0"));
    }

    void framer_data() {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QString>("expected");
        stream("what a panel sends",
               "81 96 16 FF F2 00 01 02 00 00 00 00 00 00 00 03 FF F4 E3 02 01 01 00 00 00 00 08 "
               "0C FF",
               "M:81 96 16 FF|M:F2 00 01 02 00 00 00 00 00 00 00 03 FF|M:F4|"
               "M:E3 02 01 01 00 00 00 00 08 0C FF");
        stream("junk around messages", "12 34 FF E3 02 01 01 00 00 00 00 08 0C FF 7F",
               "S:12 34 FF|M:E3 02 01 01 00 00 00 00 08 0C FF|S:7F");
        stream("lost end byte, next message intact",
               "E3 02 01 01 F4 E3 02 01 01 00 00 00 00 08 0C FF",
               "B:E3 02 01 01|M:F4|M:E3 02 01 01 00 00 00 00 08 0C FF");
        stream("one-byte messages", "F1 F3 F5", "M:F1|M:F3|M:F5");
        stream("0x96 starts a message except right after 0x81", "E3 96 05 FF", "B:E3|M:96 05 FF");
        // A message that grows past the limit is handed out broken, and what follows is stray.
        const QByteArray endless = hexBytes("E3") + QByteArray(SimFramer::kMaxMessage + 10, 1);
        QTest::newRow("message that never ends")
            << endless
            << "B:" + SimWire::hex(endless.left(SimFramer::kMaxMessage)) +
                   "|S:" + SimWire::hex(endless.mid(SimFramer::kMaxMessage));
    }

    // The same stream gives the same frames whether it arrives whole or byte by byte.
    void framer() {
        QFETCH(QByteArray, stream);
        QFETCH(QString, expected);
        SimFramer whole;
        QCOMPARE(frames(whole.push(stream)), expected);
        QCOMPARE(whole.pending(), 0);
        // Stray runs come out as they arrive, so byte by byte they come in pieces.
        SimFramer bytewise;
        QList<SimFramer::Frame> got;
        for (char c : stream)
            got += bytewise.push(QByteArray(1, c));
        QCOMPARE(frames(got, true), expected);
    }

    // Small switchers keep what of the demo routing fits. The defaults of 128 and of 4 inputs
    // reach the panel's faders and counters in test_e2e.
    void defaultsFitSmallSwitchers() {
        QCOMPARE(SimState(1, 1).crosspoints(0), (QList<Crosspoint>{{0, 1024}}));
    }

    void apply_data() {
        QTest::addColumn<Message>("command");
        // The hex of the confirming report, marked when a value was clamped, or the refusal.
        QTest::addColumn<QString>("outcome");
        using namespace SimCodec;
        Row("input 2 second gain", setGain(0, 1, {1000}), "E3 00 00 01 00 01 00 68 07 71 FF");
        Row("exactly +24 dB", setGain(1, 0, {1264}), "E3 00 01 01 00 00 00 70 09 7B FF");
        Row("above +24 dB", setGain(1, 0, {16383}), "E3 00 01 01 00 00 00 70 09 7B FF clamped");
        Row("below Off", setGain(3, 127, {0}), "E3 00 03 01 00 7F 00 18 00 1B FF clamped");
        Row("crosspoint below Off", setCrosspointGain(0, {{0, 23}}),
            "E3 00 0A 01 00 00 00 18 00 00 00 23 FF clamped");
        Row("stereo crosspoint", setCrosspointGain(64, {{65, 1100}, {65, 1100}}),
            "E3 00 0A 02 00 40 00 4C 08 41 00 4C 08 41 00 76 FF");
        Row("stereo past the last input", setGain(1, 127, {1024, 1024}),
            "input 129 does not exist (128 inputs)");
        Row("output beyond the switcher", setGain(3, 200, {1024}),
            "output 201 does not exist (128 outputs)");
        Row("second entry not routed", setCrosspointGain(64, {{64, 1000}, {70, 1000}}),
            "input 71 does not feed output 65");
        Row("crosspoint output beyond the switcher", setCrosspointGain(1000, {{0, 1024}}),
            "output 1001 does not exist (128 outputs)");
        Row("unknown kind", setGain(5, 0, {1024}), "unknown gain kind 5");
        Row("no entries", setGain(1, 0, {}), "no entries");
    }

    // Applied commands confirm with the report the panel decodes, carrying the value the
    // switcher now really holds, and say whether they were clamped; refused ones change
    // nothing at all.
    void apply() {
        QFETCH(Message, command);
        QFETCH(QString, outcome);
        SimState s;
        const QByteArray before = dumpBytes(s);
        const SimState::Result r = s.apply(command);
        const QString clamped = r.clamped ? QStringLiteral(" clamped") : QString();
        QCOMPARE(r.applied ? SimWire::hex(SimCodec::encode(r.report)) + clamped : r.reason,
                 outcome);
        if (!r.applied)
            QCOMPARE(dumpBytes(s), before);
        for (const Crosspoint &c : r.report.crosspoints)
            QVERIFY(s.crosspoints(r.report.first).contains(c));
        for (qsizetype k = 0; k < r.report.values.size(); ++k)
            QCOMPARE(s.gain(r.report.kind, r.report.first + int(k)), r.report.values[k]);
    }

    // The largest switcher still dumps in messages the panel takes whole: at most 32 gains
    // per report, every map block within the 64 sources a panel keeps, every message valid,
    // and together they carry every value of the state.
    void dumpOfTheLargestSwitcher() {
        constexpr int n = SimState::kMaxChannels, perMap = SimState::kOutputsPerMap;
        SimState s(n, n);
        QList<int> seen[4];
        int maps = 0, crosspointReports = 0;
        for (const Message &m : s.dump()) {
            const QByteArray bytes = SimCodec::encode(m);
            const Message back = SimCodec::decode(bytes);
            QVERIFY2(back.type != Message::Type::Invalid, qPrintable(back.error));
            QVERIFY(bytes.size() <= 1100);
            if (back.type == Message::Type::CrosspointMap) {
                ++maps;
                QVERIFY(back.blocks.size() <= perMap);
                for (qsizetype j = 0; j < back.blocks.size(); ++j) {
                    QVERIFY(back.blocks[j].sources.size() <= SimState::kMaxSourcesPerOutput);
                    QCOMPARE(back.blocks[j].sources, s.crosspoints(back.first + int(j)));
                }
            } else if (back.kind == SimWire::kKindCrosspoint) {
                ++crosspointReports;
                QCOMPARE(back.crosspoints, s.crosspoints(back.first));
            } else {
                QVERIFY(back.values.size() <= SimState::kGainsPerReport);
                QCOMPARE(back.first, int(seen[back.kind].size()));
                seen[back.kind] += back.values;
            }
        }
        for (int kind = 0; kind < 4; ++kind) {
            QCOMPARE(seen[kind].size(), n);
            for (int c = 0; c < n; ++c)
                QCOMPARE(seen[kind][c], s.gain(kind, c));
        }
        QCOMPARE(maps, (n + perMap - 1) / perMap);
        QCOMPARE(crosspointReports, 4); // outputs 1, 2, 65 and 66
    }

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
        Row("defaults", "",
            "127.0.0.1:1250 128x128 ping 3000 latency 0 drop 0 close 0 reboot 0 down 2000 seed "
            "none");
        Row("everything",
            "--port 0 --bind 0.0.0.0 --inputs 1025 --outputs 1 --quiet --latency 250 --split "
            "--junk --drop-every 3 --close-after 10 --animate --ping-interval 0 --seed 42 "
            "--reboot-every 60 --down-for 3600000",
            "0.0.0.0:0 1025x1 ping 0 latency 250 drop 3 close 10 reboot 60 down 3600000 quiet "
            "split "
            "junk animate seed 42");
        Row("port too big", "--port 65536", "refused: --port: \"65536\"");
        Row("no inputs", "--inputs 0", "refused: --inputs");
        Row("too many outputs", "--outputs 1026", "refused: --outputs");
        Row("bad address", "--bind localhost:1", "refused: --bind");
        Row("down too long", "--down-for 3600001", "refused: --down-for: \"3600001\"");
        Row("reboot every fraction", "--reboot-every 0.5", "refused: --reboot-every");
        Row("unknown option", "--fast", "refused: Unknown option 'fast'");
        Row("stray argument", "now", "refused: unexpected argument \"now\"");
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

QTEST_MAIN(TestSim)
#include "test_sim.moc"
