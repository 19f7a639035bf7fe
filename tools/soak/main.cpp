// panel-soak: the panel (its real window, link and protocol code, offscreen) against the
// switcher simulator as a separate process that delivers in pieces, adds junk, loses commands
// on purpose, closes connections and reboots, while the faders keep moving. At the end it
// checks that the panel is connected, that its tables equal the switcher's state, that every
// command sent while the link stayed up was answered but for the injected losses, and that
// resident memory stopped growing after the first minute. Prints the figures and PASS or FAIL.
//
//   panel-soak --sim PATH [--seconds N]

#include "app/frmMain.h"
#include "faders/FaderController.h"
#include "tools/switcher-sim/SimCodec.h"
#include "tools/switcher-sim/SimFramer.h"
#include "transport/SwitcherLink.h"

#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSlider>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <map>

namespace {

constexpr int kInputs = 16;
constexpr int kOutputs = 4;
constexpr int kDropEvery = 7;
constexpr int kMoveMs = 50;
constexpr qint64 kMaxGrowthKb = 2048;
// A command whose connection ended within this time after it was sent may have gone with it.
constexpr qint64 kAnswerWindowMs = 1000;

long ResidentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1; // not on this platform: the memory check is left out
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

void Spin(const std::function<bool()> &done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
}

// What the switcher holds, as its answer to an information request tells it.
struct Truth {
    std::map<int, int> inputs, inputsSecond, outputs, outputsSecond; // channel -> gain
    std::map<int, QList<SimCodec::Crosspoint>> maps;                 // output -> sources

    void apply(const SimCodec::Message &m) {
        using Type = SimCodec::Message::Type;
        if (m.type == Type::CrosspointMap) {
            for (int j = 0; j < m.blocks.size(); ++j)
                maps[m.first + j] = m.blocks[j].sources;
        } else if (m.type == Type::Gain && m.kind == 10) {
            for (const SimCodec::Crosspoint &x : m.crosspoints)
                for (SimCodec::Crosspoint &listed : maps[m.first])
                    if (listed.source == x.source)
                        listed.gain = x.gain;
        } else if (m.type == Type::Gain && m.kind >= 0 && m.kind <= 3) {
            std::map<int, int> *tables[] = {&inputsSecond, &inputs, &outputsSecond, &outputs};
            for (int k = 0; k < m.values.size(); ++k)
                (*tables[m.kind])[m.first + k] = m.values[k];
        }
    }
};

// Asks the switcher for its whole state as a second panel would.
bool AskTheSwitcher(quint16 port, Truth &truth) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return false;
    socket.write(SimCodec::encode(SimCodec::infoRequest(0x8080)));
    SimFramer framer;
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < 1500) {
        if (!socket.waitForReadyRead(100))
            continue;
        quiet.restart();
        for (const SimFramer::Frame &frame : framer.push(socket.readAll()))
            if (frame.kind == SimFramer::Frame::Kind::Message)
                truth.apply(SimCodec::decode(frame.bytes));
    }
    return !truth.inputs.empty();
}

QStringList Differences(const SwitcherTables &tables, const Truth &truth) {
    QStringList out;
    const auto compare = [&out](const char *what, int channel, int panel, int switcher) {
        if (panel != switcher)
            out << QStringLiteral("%1 %2: panel %3, switcher %4")
                       .arg(what)
                       .arg(channel + 1)
                       .arg(panel)
                       .arg(switcher);
    };
    for (const auto &[c, g] : truth.inputs)
        compare("input", c, tables.udtInGain[c].iSource, g);
    for (const auto &[c, g] : truth.inputsSecond)
        compare("input second", c, tables.udtInGain[c].iChannel, g);
    for (const auto &[c, g] : truth.outputs)
        compare("output", c, tables.udtOutGain[c].iSource, g);
    for (const auto &[c, g] : truth.outputsSecond)
        compare("output second", c, tables.udtOutGain[c].iChannel, g);
    for (const auto &[o, sources] : truth.maps) {
        const CrosspointMap &record = tables.udtXpt[o];
        compare("sources of output", o, record.bCount, int(sources.size()));
        for (int e = 0; e < std::min<int>(int(sources.size()), kMapSlots); ++e) {
            compare("source listed on output", o, record.iSources[e], sources[e].source + 1);
            compare("crosspoint gain on output", o, record.iGains[e], sources[e].gain);
        }
    }
    return out;
}

} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption simOption(QStringLiteral("sim"), QStringLiteral("switcher-sim"),
                                       QStringLiteral("path"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("Run time"),
                                           QStringLiteral("seconds"), QStringLiteral("600"));
    parser.addOptions({simOption, secondsOption});
    parser.process(app);
    const int seconds = std::max(10, parser.value(secondsOption).toInt());
    // Closes and reboots scale with the run, so that a short run still sees several of each.
    const int closeAfter = std::max(4, seconds / 15);
    const int rebootEvery = std::max(7, seconds / 6);
    const qint64 baselineMs = std::min<qint64>(60000, seconds * 1000 / 3);

    QProcess sim;
    sim.setProgram(parser.value(simOption));
    sim.setArguments({"--port", "0", "--inputs", QString::number(kInputs), "--outputs",
                      QString::number(kOutputs), "--split", "--junk", "--drop-every",
                      QString::number(kDropEvery), "--close-after", QString::number(closeAfter),
                      "--reboot-every", QString::number(rebootEvery), "--down-for", "1500",
                      "--seed", "7"});
    int simDrops = 0;
    quint16 port = 0;
    QByteArray simOut;
    QObject::connect(&sim, &QProcess::readyReadStandardOutput, [&] {
        simOut += sim.readAllStandardOutput();
        const qsizetype end = simOut.lastIndexOf('\n') + 1;
        for (const QByteArray &line : simOut.left(end).split('\n')) {
            simDrops += line.contains("command lost on purpose");
            if (port == 0 && line.startsWith("listening on "))
                port = line.mid(line.lastIndexOf(':') + 1).toUShort();
        }
        simOut.remove(0, end);
    });
    sim.start();
    Spin([&] { return port != 0; }, 5000);
    if (port == 0) {
        std::fprintf(stderr, "panel-soak: the simulator did not start\n");
        return 2;
    }

    QTemporaryDir scratch; // a settings file of the run's own
    frmMain window(scratch.filePath(QStringLiteral("Slider.ini")));
    window.show();
    SwitcherLink &link = window.link();
    FaderController *faders = window.findChild<FaderController *>();
    window.findChild<QCheckBox *>(QStringLiteral("chkStereo_1"))->setChecked(true);
    Settings settings;
    settings.lIPPort = port;
    window.ApplySetup(settings);

    // Every set-gain command sent, by the report that confirms it, with when it was sent.
    std::multimap<QByteArray, qint64> pending;
    QElapsedTimer clock;
    clock.start();
    int sent = 0, answered = 0, losses = 0, goneWithLink = 0;
    QObject::connect(&link, &SwitcherLink::messageSent, [&](const QByteArray &m) {
        if (m.size() < 3 || quint8(m[0]) != 0xE3)
            return;
        // The switcher's confirmation: the same layout with a second byte of 00, so a checksum
        // two less (mod 128) than the command's.
        QByteArray report = m;
        report[1] = 0;
        report[report.size() - 2] = char((quint8(m[m.size() - 2]) + 128 - 2) & 0x7F);
        pending.emplace(report, clock.elapsed());
        ++sent;
    });
    QObject::connect(&link, &SwitcherLink::messageReceived, [&](const QByteArray &m) {
        if (auto it = pending.find(m); it != pending.end()) {
            pending.erase(it);
            ++answered;
        }
    });
    QObject::connect(&link, &SwitcherLink::connectionLost, [&] {
        ++losses;
        // What was still waiting when the connection ended went with it.
        for (auto it = pending.begin(); it != pending.end();) {
            if (clock.elapsed() - it->second < kAnswerWindowMs) {
                it = pending.erase(it);
                ++goneWithLink;
            } else {
                ++it;
            }
        }
    });

    QRandomGenerator random(11);
    QTimer mover;
    QObject::connect(&mover, &QTimer::timeout, [&] {
        if (link.state() != LinkState::Live)
            return;
        auto *slider =
            window.findChild<QSlider *>(QStringLiteral("sliGain_%1").arg(random.bounded(2)));
        const auto actions = {
            QAbstractSlider::SliderSingleStepAdd, QAbstractSlider::SliderSingleStepSub,
            QAbstractSlider::SliderPageStepAdd, QAbstractSlider::SliderPageStepSub};
        slider->triggerAction(*(actions.begin() + random.bounded(4)));
    });
    mover.start(kMoveMs);

    long baselineKb = -1;
    Spin(
        [&] {
            if (baselineKb < 0 && clock.elapsed() >= baselineMs)
                baselineKb = ResidentKb();
            return clock.elapsed() >= seconds * 1000LL;
        },
        seconds * 1000 + 1000);
    mover.stop();
    const long endKb = ResidentKb();

    // Settle: connected again after the last close or reboot, and every answer in.
    Spin([&] { return link.state() == LinkState::Live; }, 15000);
    QElapsedTimer settle;
    settle.start();
    Spin([&] { return settle.elapsed() > 2500; }, 3000);
    faders->UpdateGain();
    Truth truth;
    const bool asked = AskTheSwitcher(port, truth);
    const QStringList differences = Differences(link.tables(), truth);

    // Commands sent while the link stayed up for the answer and never answered.
    const int unanswered = int(pending.size());
    const bool connected = link.state() == LinkState::Live;
    const bool memoryOk = baselineKb < 0 || endKb < 0 || endKb - baselineKb <= kMaxGrowthKb;
    const bool tablesOk = asked && differences.isEmpty();
    const bool commandsOk = unanswered <= simDrops;

    std::printf("run: %d s, closes every %d s, reboots every %d s (down 1.5 s), "
                "every %dth command lost on purpose\n",
                seconds, closeAfter, rebootEvery, kDropEvery);
    std::printf("link: %d losses, ends %s\n", losses, connected ? "connected" : "NOT connected");
    std::printf("commands: %d sent, %d answered, %d went with a closing link, %d unanswered while "
                "the link stayed up (the switcher lost %d on purpose)\n",
                sent, answered, goneWithLink, unanswered, simDrops);
    std::printf("tables: %s\n", !asked ? "switcher did not answer"
                                : tablesOk
                                    ? "equal to the switcher's state"
                                    : qPrintable(QString::number(differences.size()) +
                                                 " differences, first: " + differences.first()));
    std::printf("memory: %ld kB after %lld s, %ld kB at the end (growth %ld kB, limit %lld kB)\n",
                baselineKb, baselineMs / 1000, endKb, endKb - baselineKb, kMaxGrowthKb);
    const bool pass = connected && tablesOk && commandsOk && memoryOk && sent > 0;
    std::printf("%s\n", pass ? "PASS" : "FAIL");
    window.close();
    sim.terminate();
    sim.waitForFinished(3000);
    return pass ? 0 : 1;
}
