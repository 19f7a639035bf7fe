// MIDI message to set-gain command: a controller (python3-rtmidi) on a private JACK server
// (dummy back end) sends pitch bend to fader 1 at a steady rate; the panel (a real frmMain,
// offscreen, its settings file binding the port) moves the fader and writes the set-gain
// command to the switcher simulator. The time from the controller's send call to the link's
// write of the command is taken on CLOCK_MONOTONIC, which both processes share. (The idle cost
// of a bound port is measured on a panel process of its own, by scripts/lib/midi_idle.sh: here
// the helper processes' pipes would wake this one.)
//
//   midi-latency SIM_PATH [seconds=10] [rate=1000] [jack period=64]

#include "app/frmMain.h"
#include "surfaces/MidiControl.h"
#include "surfaces/MidiSurface.h"
#include "transport/SwitcherLink.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <unistd.h>
#include <vector>

namespace {

const char kController[] = R"(
import sys, time, rtmidi
rate, seconds = int(sys.argv[1]), int(sys.argv[2])
out = rtmidi.MidiOut(rtmidi.API_UNIX_JACK, name="ctl")
out.open_virtual_port("out")
print("ready", flush=True)
sys.stdin.readline()
# Fader 1 swept up and down one gain step (0.1 dB) at a time: every message a new gain.
values, g, step = [], 24, 1
for _ in range(rate * seconds):
    values.append(round((g - 24) * 16383 / 1240))
    if not 24 <= g + step <= 1264:
        step = -step
    g += step
sent, period, start = [], 1e9 / rate, time.monotonic_ns()
for k, v in enumerate(values):
    deadline = start + k * period
    while True:
        left = deadline - time.monotonic_ns()
        if left <= 0:
            break
        time.sleep(left / 1e9 if left > 200000 else 0)
    t = time.monotonic_ns()
    out.send_message([0xE0, v & 0x7F, v >> 7])
    sent.append((t, v))
print("\n".join("%d %d" % s for s in sent), flush=True)
print("done", flush=True)
)";

qint64 Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool SpinUntil(const std::function<bool()> &done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && !clock.hasExpired(timeoutMs))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return done();
}

void Run(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: midi-latency SIM_PATH [seconds] [rate] [period]\n");
        return 2;
    }
    const int seconds = args.value(2, QStringLiteral("10")).toInt();
    const int rate = args.value(3, QStringLiteral("1000")).toInt();
    const QString period = args.value(4, QStringLiteral("64"));
    // A fixed name: JACK reclaims a dead server's registry entry only for a server of the same
    // name, and has room for eight.
    const QByteArray server = "ds-bench-midi";
    qputenv("JACK_DEFAULT_SERVER", server);

    QProcess jack, sim, controller;
    const auto stopAll = [&] {
        for (QProcess *p : {&controller, &sim, &jack}) {
            p->terminate();
            if (!p->waitForFinished(3000))
                p->kill();
        }
    };
    jack.start(QStringLiteral("jackd"),
               {"-n", QString::fromLatin1(server), "-d", "dummy", "-r", "48000", "-p", period});
    sim.start(args.at(1), {"--port", "0", "--quiet", "--ping-interval", "0"});
    static const QRegularExpression listening(
        QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    QString simOut;
    SpinUntil([&] { return listening.match(simOut += sim.readAllStandardOutput()).hasMatch(); },
              5000);
    const QString port = listening.match(simOut).captured(1);
    bool ready = false;
    for (int attempt = 0; attempt < 20 && !ready; ++attempt) {
        controller.start(QStringLiteral("/usr/bin/python3"),
                         {"-c", QString::fromLatin1(kController), QString::number(rate),
                          QString::number(seconds)});
        ready = SpinUntil([&] { return controller.canReadLine(); }, 3000) &&
                controller.readLine().trimmed() == "ready";
        if (!ready) {
            controller.kill();
            controller.waitForFinished();
            Run(250); // the server is still starting
        }
    }
    if (port.isEmpty() || !ready) {
        std::fprintf(stderr, "FAIL: could not start jackd, switcher-sim or the controller\n");
        stopAll();
        return 1;
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Slider.ini"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("[CONFIGURATION]\nIP Address=127.0.0.1\nIP Port=" + port.toLatin1() +
               "\n[SURFACES]\nMIDI Input=ctl:out\nMIDI Fader 1=pitchbend 1 jump\n");
    file.close();
    frmMain form(path);
    form.Form_Load();
    form.show();
    if (!SpinUntil(
            [&] { return form.link().tables().iMsgCount[9] == 4 && form.midi().inputOpen(); },
            5000)) {
        std::fprintf(stderr, "FAIL: the panel did not connect or open the port\n");
        stopAll();
        return 1;
    }

    struct Written {
        qint64 ns;
        int gain;
    };
    std::vector<Written> written;
    written.reserve(size_t(rate * seconds) + 16);
    QObject::connect(&form.link(), &SwitcherLink::messageSent, [&](const QByteArray &m) {
        if (m.size() >= 11 && quint8(m[0]) == 0xE3 && m[1] == 2 && m[2] == 1)
            written.push_back({Now(), (quint8(m[7]) & 0x7F) | ((quint8(m[8]) & 0x7F) << 7)});
    });
    controller.write("go\n");
    QByteArray report;
    SpinUntil(
        [&] {
            report += controller.readAll();
            return report.endsWith("done\n");
        },
        (seconds + 30) * 1000);
    Run(500);

    std::vector<double> latencies;
    size_t next = 0, missed = 0;
    int lastGain = -1;
    for (const QByteArray &line : report.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 2)
            continue;
        const qint64 t = fields[0].toLongLong();
        const int gain = Midi::GainOfTravel(fields[1].toInt(), Midi::kMax14);
        lastGain = gain;
        size_t j = next;
        while (j < written.size() && j < next + 64 &&
               !(written[j].gain == gain && written[j].ns >= t))
            ++j;
        if (j < written.size() && written[j].gain == gain && written[j].ns >= t) {
            latencies.push_back(double(written[j].ns - t) / 1e6);
            next = j + 1;
        } else {
            ++missed;
        }
    }
    const qint16 ended = form.link().tables().udtInGain[0].iSource;
    std::printf("MIDI -> set-gain, %d msg/s for %d s, JACK period %s frames at 48 kHz\n", rate,
                seconds, qPrintable(period));
    std::printf("  messages %zu, commands written %zu, matched %zu, unmatched %zu\n",
                latencies.size() + missed, written.size(), latencies.size(), missed);
    std::printf("  latency ms: min %.3f  median %.3f  p99 %.3f  max %.3f\n",
                Percentile(latencies, 0), Percentile(latencies, 0.5), Percentile(latencies, 0.99),
                Percentile(latencies, 1));
    std::printf("  switcher ends on %d, last value sent %d: %s\n", ended, lastGain,
                ended == lastGain ? "PASS" : "FAIL");
    std::printf("  %s p99 < 5 ms\n", Percentile(latencies, 0.99) < 5 ? "PASS" : "FAIL");

    form.close();
    stopAll();
    return 0;
}
