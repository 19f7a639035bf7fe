#include "tools/switcher-sim/SimOptions.h"

#include "tools/switcher-sim/SimState.h"

#include <QCommandLineParser>
#include <limits>

namespace {

// value of an integer option within lo..hi, or an error naming the option.
bool readInt(const QCommandLineParser &parser, const QString &name, qint64 lo, qint64 hi,
             qint64 &out, QString &error) {
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const qint64 v = parser.value(name).trimmed().toLongLong(&ok);
    if (!ok || v < lo || v > hi) {
        error = QStringLiteral("--%1: \"%2\" is not a whole number from %3 to %4")
                    .arg(name, parser.value(name))
                    .arg(lo)
                    .arg(hi);
        return false;
    }
    out = v;
    return true;
}

} // namespace

void addSimOptions(QCommandLineParser &parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Plays the audio switcher over TCP for the Dual Slider panel: greets every panel, "
        "answers its information request with the whole state, confirms set-gain commands to "
        "every connected panel and traces each message on stdout."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("port"),
         QStringLiteral("TCP port to listen on (default 1250; 0 picks a free port, printed at "
                        "start)."),
         QStringLiteral("N")},
        {QStringLiteral("bind"),
         QStringLiteral("Address to listen on (default 127.0.0.1; use 0.0.0.0 to accept other "
                        "machines)."),
         QStringLiteral("ADDRESS")},
        {QStringLiteral("inputs"), QStringLiteral("Number of inputs, 1 to 1025 (default 128)."),
         QStringLiteral("N")},
        {QStringLiteral("outputs"), QStringLiteral("Number of outputs, 1 to 1025 (default 128)."),
         QStringLiteral("N")},
        {QStringLiteral("quiet"), QStringLiteral("No message trace on stdout.")},
        {QStringLiteral("ping-interval"),
         QStringLiteral("Send the keep-alive byte F5 every MS milliseconds and note a panel "
                        "that did not answer the last one (default 3000; 0 never)."),
         QStringLiteral("MS")},
        {QStringLiteral("latency"),
         QStringLiteral("Wait MS milliseconds (0 to 60000) before sending each gain report or "
                        "crosspoint map."),
         QStringLiteral("MS")},
        {QStringLiteral("split"),
         QStringLiteral("Deliver every message in random pieces of 1 to 4 bytes, 0 to 15 ms "
                        "apart.")},
        {QStringLiteral("junk"),
         QStringLiteral("Put 1 to 4 random data bytes (00..7F) in front of every message, as a "
                        "noisy line would.")},
        {QStringLiteral("drop-every"),
         QStringLiteral("Lose every Nth set-gain command: neither applied nor confirmed "
                        "(default 0, none)."),
         QStringLiteral("N")},
        {QStringLiteral("close-after"),
         QStringLiteral("Close each panel's connection S seconds after it was accepted; the "
                        "panel may connect again (default 0, never)."),
         QStringLiteral("S")},
        {QStringLiteral("reboot-every"),
         QStringLiteral("Reboot after every S seconds of being up: reset every connection, "
                        "stop listening for --down-for, then listen again on the same address "
                        "and port with the state kept (default 0, never). SIGUSR1 reboots at "
                        "once."),
         QStringLiteral("S")},
        {QStringLiteral("down-for"),
         QStringLiteral("How long a reboot keeps the port closed, 0 to 3600000 milliseconds "
                        "(default 2000)."),
         QStringLiteral("MS")},
        {QStringLiteral("animate"),
         QStringLiteral("Sweep input 1's gain, output 1's gain and the crosspoints input 1 -> "
                        "output 1 and input 65 -> output 65 between -20 dB and +6 dB, "
                        "reporting each 0.5 dB step.")},
        {QStringLiteral("seed"),
         QStringLiteral("Seed of the random faults (--split, --junk), to repeat a run."),
         QStringLiteral("N")},
    });
}

std::optional<SimOptions> parseSimOptions(QCommandLineParser &parser, const QStringList &args,
                                          QString &error) {
    if (!parser.parse(args)) {
        error = parser.errorText();
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty()) {
        error =
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first());
        return std::nullopt;
    }
    SimOptions o;
    qint64 port = o.port, inputs = o.inputs, outputs = o.outputs, ping = o.pingIntervalMs,
           latency = 0, drop = 0, close = 0, rebootEvery = 0, downFor = o.downForMs, seed = -1;
    constexpr qint64 kMaxInt = std::numeric_limits<int>::max();
    constexpr qint64 kMaxSeconds = kMaxInt / 1000;
    if (!readInt(parser, QStringLiteral("port"), 0, 65535, port, error) ||
        !readInt(parser, QStringLiteral("inputs"), 1, SimState::kMaxChannels, inputs, error) ||
        !readInt(parser, QStringLiteral("outputs"), 1, SimState::kMaxChannels, outputs, error) ||
        !readInt(parser, QStringLiteral("ping-interval"), 0, kMaxInt, ping, error) ||
        !readInt(parser, QStringLiteral("latency"), 0, SimOptions::kMaxLatencyMs, latency, error) ||
        !readInt(parser, QStringLiteral("drop-every"), 0, kMaxInt, drop, error) ||
        !readInt(parser, QStringLiteral("close-after"), 0, kMaxSeconds, close, error) ||
        !readInt(parser, QStringLiteral("reboot-every"), 0, kMaxSeconds, rebootEvery, error) ||
        !readInt(parser, QStringLiteral("down-for"), 0, SimOptions::kMaxDownMs, downFor, error) ||
        !readInt(parser, QStringLiteral("seed"), 0, std::numeric_limits<quint32>::max(), seed,
                 error))
        return std::nullopt;
    if (parser.isSet(QStringLiteral("bind"))) {
        const QString text = parser.value(QStringLiteral("bind")).trimmed();
        if (!o.bind.setAddress(text)) {
            error = QStringLiteral("--bind: \"%1\" is not an IP address").arg(text);
            return std::nullopt;
        }
    }
    o.port = quint16(port);
    o.inputs = int(inputs);
    o.outputs = int(outputs);
    o.pingIntervalMs = int(ping);
    o.faults.latencyMs = int(latency);
    o.faults.split = parser.isSet(QStringLiteral("split"));
    o.faults.junk = parser.isSet(QStringLiteral("junk"));
    o.dropEvery = int(drop);
    o.closeAfterS = int(close);
    o.rebootEveryS = int(rebootEvery);
    o.downForMs = int(downFor);
    o.quiet = parser.isSet(QStringLiteral("quiet"));
    o.animate = parser.isSet(QStringLiteral("animate"));
    if (seed >= 0)
        o.seed = quint32(seed);
    return o;
}
