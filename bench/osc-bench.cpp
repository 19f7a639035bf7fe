// The OSC surface under load: a real main window (offscreen) started from a settings file with
// OSC enabled on 127.0.0.1, against the switcher simulator as a separate process.
//
//   osc-bench SIM [--seconds 10] [--rate 1000] [--flood-seconds 3] [--flood-pps 100000]
//
// Steady: a sender on a thread of its own sends /dual-slider/fader/1/gain at --rate messages a
// second for --seconds; each message's send time is kept by its gain, and the panel's
// SwitcherLink::messageSent (the set-gain bytes written to the socket) is timed against it.
// Prints median, p99 and max, and whether the switcher ends on the last value sent.
//
// Flood: one sender (127.0.0.1) sends fader 2 gains as fast as it can, up to --flood-pps, for
// --flood-seconds, while a legitimate surface on 127.0.0.2 sends fader 1 gains 50 times a
// second; a 5 ms heartbeat timer on the GUI thread records its longest gap. The legitimate
// sender's last value must be the switcher's afterwards.

#include "Offscreen.h"
#include "app/frmMain.h"
#include "faders/FaderController.h"
#include "surfaces/OscSurface.h"
#include "transport/SwitcherLink.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>
#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

qint64 NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// "/dual-slider/fader/N/gain" with one float argument (dB), as an OSC datagram.
std::vector<char> GainDatagram(int fader, float db) {
    std::string address = "/dual-slider/fader/" + std::to_string(fader) + "/gain";
    std::vector<char> d(address.begin(), address.end());
    do
        d.push_back('\0');
    while (d.size() % 4);
    for (char c : {',', 'f', '\0', '\0'})
        d.push_back(c);
    quint32 bits;
    std::memcpy(&bits, &db, 4);
    bits = htonl(bits);
    const char *b = reinterpret_cast<const char *>(&bits);
    d.insert(d.end(), b, b + 4);
    return d;
}

float Db(int gain) {
    return float(gain - 1024) / 10.0f;
}

struct Sender {
    int fd = -1;
    sockaddr_in to{};
    explicit Sender(const char *from, quint16 port) {
        fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &local.sin_addr);
        ::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    }
    ~Sender() { ::close(fd); }
    bool send(const std::vector<char> &d) {
        return ::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr *>(&to),
                        sizeof to) == ssize_t(d.size());
    }
};

void SleepUntil(timespec &at, long stepNs) {
    at.tv_nsec += stepNs;
    while (at.tv_nsec >= 1000000000L) {
        at.tv_nsec -= 1000000000L;
        ++at.tv_sec;
    }
    ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
}

// Gains the steady sender cycles through: -50 dB .. +19.9 dB, 0.1 dB apart.
constexpr int kLowGain = 524;
constexpr int kGainCount = 700;

qint64 Percentile(std::vector<qint64> v, double p) {
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size() - 1) + 0.5))];
}

// Runs the event loop until done() or the time is up.
bool SpinUntil(const std::function<bool()> &done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.hasExpired(ms))
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
    return true;
}

void Spin(int ms) {
    SpinUntil([] { return false; }, ms);
}

} // namespace

int main(int argc, char *argv[]) {
    Offscreen::Use();
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    auto option = [&](const char *name, double fallback) {
        const int k = int(args.indexOf(QString::fromLatin1(name)));
        return k > 0 && k + 1 < args.size() ? args[k + 1].toDouble() : fallback;
    };
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: osc-bench SIM [--seconds S] [--rate R] [--flood-seconds S] "
                             "[--flood-pps N]\n");
        return 2;
    }
    const double seconds = option("--seconds", 10);
    const double rate = option("--rate", 1000);
    const double floodSeconds = option("--flood-seconds", 3);
    const double floodPps = option("--flood-pps", 100000);

    QProcess sim;
    sim.start(args[1], {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--quiet"),
                        QStringLiteral("--ping-interval"), QStringLiteral("0")});
    QByteArray simOut;
    static const QRegularExpression listening(QStringLiteral("listening on [\\d.]+:(\\d+)"));
    if (!SpinUntil(
            [&] {
                sim.waitForReadyRead(10);
                return listening.match(QString::fromLatin1(simOut += sim.readAllStandardOutput()))
                    .hasMatch();
            },
            5000)) {
        std::printf("FAIL osc bench: switcher-sim did not start\n");
        return 1;
    }
    const int simPort = listening.match(QString::fromLatin1(simOut)).captured(1).toInt();
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    const quint16 oscPort = probe.localPort();
    probe.close();

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Slider.ini"));
    {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write("[CONFIGURATION]\nType=1\nChan 1=1\nChan 2=2\nOut Chan=1\nIP Address=127.0.0.1\n"
                "IP Port=" +
                QByteArray::number(simPort) +
                "\n[SURFACES]\nOSC Enabled=1\nOSC Port=" + QByteArray::number(oscPort) + "\n");
    }
    auto *window = new frmMain(path);
    window->show();
    window->Form_Load();
    SwitcherLink &link = window->link();
    auto *faders = window->findChild<FaderController *>();
    if (!window->osc().isListening() ||
        !SpinUntil(
            [&] { return faders->reportedSinceConnect(0) && faders->reportedSinceConnect(1); },
            10000)) {
        std::printf("FAIL osc bench: %s; link %d\n", qPrintable(window->osc().stateText()),
                    int(link.bConnected()));
        return 1;
    }
    Spin(500);

    // --- Steady sender -------------------------------------------------------------------
    std::array<std::atomic<qint64>, kGainCount> sentAt{};
    std::vector<qint64> latencies;
    latencies.reserve(std::size_t(seconds * rate) + 16);
    qint64 sets = 0, unmatched = 0;
    auto gainOf = [](const QByteArray &m, int &input) {
        // E3 spare kind count 00 channel(lo hi) gain(lo hi) checksum FF
        if (m.size() != 11 || quint8(m[0]) != 0xE3 || m[1] != 0x02)
            return -1;
        input = int(quint8(m[5])) + 1;
        return int(quint8(m[7])) | int(quint8(m[8])) << 7;
    };
    bool measuring = true;
    QObject::connect(&link, &SwitcherLink::messageSent, [&](const QByteArray &m) {
        const qint64 now = NowNs();
        int input = 0;
        const int gain = gainOf(m, input);
        if (gain < 0 || input != 1 || !measuring)
            return;
        ++sets;
        const int k = gain - kLowGain;
        const qint64 at = k >= 0 && k < kGainCount ? sentAt[std::size_t(k)].load() : 0;
        if (at == 0) {
            ++unmatched;
            return;
        }
        latencies.push_back(now - at);
    });

    QElapsedTimer sinceTick;
    qint64 longestGapMs = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&heartbeat, &QTimer::timeout,
                     [&] { longestGapMs = std::max(longestGapMs, sinceTick.restart()); });

    const long total = long(seconds * rate);
    std::atomic<bool> steadyDone = false;
    std::atomic<int> lastSteady = 0;
    qint64 sendFailures = 0;
    std::thread steady([&] {
        Sender s("127.0.0.1", oscPort);
        timespec at{};
        ::clock_gettime(CLOCK_MONOTONIC, &at);
        const long step = long(1e9 / rate);
        for (long k = 0; k < total; ++k) {
            const int gain = kLowGain + int(k % kGainCount);
            const auto d = GainDatagram(1, Db(gain));
            sentAt[std::size_t(gain - kLowGain)].store(NowNs());
            if (!s.send(d))
                ++sendFailures;
            lastSteady = gain;
            SleepUntil(at, step);
        }
        steadyDone = true;
    });
    sinceTick.start();
    heartbeat.start(5);
    SpinUntil([&] { return steadyDone.load(); }, int(seconds * 1000) + 10000);
    steady.join();
    Spin(600); // the last command confirmed and the refresh done
    measuring = false;
    const qint64 steadyGap = longestGapMs;
    const qint16 reportedAfterSteady = faders->reportedGain(0);
    const auto &server = window->osc().server();
    const quint64 rateLimited = server.dropCount(Osc::DropReason::RateLimited);
    const bool steadyLastWins = reportedAfterSteady == lastSteady.load();
    const qint64 med = Percentile(latencies, 0.5), p99 = Percentile(latencies, 0.99),
                 mx = Percentile(latencies, 1.0);
    std::printf("steady: %ld OSC messages at %.0f/s for %.0f s; %lld set-gain commands written "
                "(%lld not matched to a message); OSC message -> set-gain bytes written: median "
                "%.3f ms, p99 %.3f ms, max %.3f ms; rate-limited %llu; longest GUI gap %lld ms; "
                "switcher ends on %d, last sent %d\n",
                total, rate, seconds, static_cast<long long>(sets),
                static_cast<long long>(unmatched), double(med) / 1e6, double(p99) / 1e6,
                double(mx) / 1e6, static_cast<unsigned long long>(rateLimited),
                static_cast<long long>(steadyGap), int(reportedAfterSteady), lastSteady.load());
    const bool steadyPass = p99 >= 0 && p99 < 5'000'000 && steadyLastWins && rateLimited == 0;
    std::printf("%s OSC steady: p99 %.3f ms (goal < 5 ms), switcher on the last value: %s\n",
                steadyPass ? "PASS" : "FAIL", double(p99) / 1e6, steadyLastWins ? "yes" : "no");

    // --- Hostile flood ----------------------------------------------------------------------
    std::atomic<bool> floodDone = false;
    std::atomic<long> floodSent = 0;
    std::atomic<int> lastLegit = 0;
    const qint64 limitedBefore = qint64(server.dropCount(Osc::DropReason::RateLimited));
    std::thread flood([&] {
        Sender s("127.0.0.1", oscPort);
        const auto d = GainDatagram(2, -20.0f);
        const auto d2 = GainDatagram(2, -21.0f);
        const qint64 end = NowNs() + qint64(floodSeconds * 1e9);
        const double perNs = floodPps / 1e9;
        const qint64 start = NowNs();
        long n = 0;
        for (qint64 now = start; now < end; now = NowNs()) {
            // Never ahead of the rate asked for; as fast as the kernel takes them otherwise.
            if (double(n) > double(now - start) * perNs)
                continue;
            s.send(n & 1 ? d : d2);
            ++n;
        }
        floodSent = n;
        floodDone = true;
    });
    std::thread legit([&] {
        Sender s("127.0.0.2", oscPort);
        timespec at{};
        ::clock_gettime(CLOCK_MONOTONIC, &at);
        for (int k = 0; !floodDone; ++k) {
            const int gain = 900 + (k % 200);
            s.send(GainDatagram(1, Db(gain)));
            lastLegit = gain;
            SleepUntil(at, 20'000'000);
        }
        // One more after the flood, as a surface would keep sending.
        s.send(GainDatagram(1, Db(777)));
        lastLegit = 777;
    });
    longestGapMs = 0;
    sinceTick.restart();
    SpinUntil([&] { return floodDone.load(); }, int(floodSeconds * 1000) + 10000);
    flood.join();
    legit.join();
    Spin(800);
    heartbeat.stop();
    const qint64 floodGap = longestGapMs;
    const bool legitWins = faders->reportedGain(0) == lastLegit.load();
    const qint64 limited = qint64(server.dropCount(Osc::DropReason::RateLimited)) - limitedBefore;
    std::printf("flood: %ld datagrams from 127.0.0.1 in %.1f s (%.0f/s) while 127.0.0.2 sent 50/s; "
                "rate-limited at the panel %lld (the rest lost in the kernel's receive buffer); "
                "longest GUI heartbeat gap %lld ms; switcher ends on %d, legitimate last %d\n",
                floodSent.load(), floodSeconds, double(floodSent.load()) / floodSeconds,
                static_cast<long long>(limited), static_cast<long long>(floodGap),
                int(faders->reportedGain(0)), lastLegit.load());
    // The flood must have been one: at least 100,000 datagrams a second (or what was asked).
    const bool floodPass = floodGap < 200 && legitWins &&
                           double(floodSent.load()) / floodSeconds >= std::min(floodPps, 1e5);
    std::printf("%s OSC flood: longest gap %lld ms (goal < 200 ms), legitimate last value wins: "
                "%s, rate %.0f/s (asked %.0f/s)\n",
                floodPass ? "PASS" : "FAIL", static_cast<long long>(floodGap),
                legitWins ? "yes" : "no", double(floodSent.load()) / floodSeconds, floodPps);

    link.DisconnectSwitcher();
    delete window;
    sim.terminate();
    sim.waitForFinished(3000);
    return steadyPass && floodPass ? 0 : 1;
}
