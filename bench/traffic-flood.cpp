// The traffic log under a flood: a real main window (offscreen) with Help > Traffic Log open,
// against a local peer on a thread of its own that sends MEGABYTES of junk and gain reports as
// fast as loopback takes them, then one ping. A 5 ms heartbeat timer on the GUI thread records
// the longest gap between its ticks: how long a key press or a click would have waited.
//
//   traffic-flood [--closed] [MEGABYTES]     (default 50; --closed: the log window stays shut)
//
// Prints one line of figures and a PASS/FAIL line against the goal: the longest gap under
// kGoalMs, the log within its bound and its last line the answer to the final ping.

#include "app/TrafficLog.h"
#include "app/frmMain.h"
#include "transport/SwitcherLink.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr qint64 kGoalMs = 200;
constexpr int kHeartbeatMs = 5;
constexpr int kGiveUpMs = 300000;

// The offscreen platform warns about every fixed-size window it is asked to show.
void QuietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    if (!message.contains(QLatin1String("propagateSizeHints")))
        qt_message_output(type, context, message);
}

QByteArray Frame(QByteArray data) {
    int sum = 0;
    for (int i = 1; i < data.size(); ++i)
        sum = (sum + static_cast<quint8>(data.at(i))) & 0x7F;
    data.append(static_cast<char>(sum));
    data.append('\xFF');
    return data;
}

// Runs of 1 to 64 data bytes, each followed by a kind-1 gain report of one of 128 inputs at a
// gain between Off and +24 dB; a fixed seed, so every run sends the same bytes.
QByteArray Flood(qsizetype size, qint64 &reports) {
    QRandomGenerator random(20240607);
    QByteArray flood;
    flood.reserve(size + 128);
    while (flood.size() < size) {
        const int junk = 1 + int(random.bounded(64));
        for (int i = 0; i < junk; ++i)
            flood.append(static_cast<char>(random.bounded(0x80)));
        const int channel = int(random.bounded(128));
        const int gain = 24 + int(random.bounded(1241));
        flood.append(Frame(QByteArray("\xE3\x00\x01\x01\x00", 5) + char(channel & 0x7F) +
                           char(channel >> 7) + char(gain & 0x7F) + char(gain >> 7)));
        ++reports;
    }
    return flood.append('\xF5');
}

// The switcher's end: accepts one connection, writes everything, then reads until the panel
// closes. Plain blocking sockets on a thread of its own, so that the GUI thread only runs the
// panel.
struct Peer {
    int listener = -1;
    quint16 port = 0;
    std::thread thread;

    bool listen() {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
            ::listen(listener, 1) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return false;
        port = ntohs(address.sin_port);
        return true;
    }

    void send(const QByteArray &bytes) {
        thread = std::thread([this, bytes] {
            const int s = ::accept(listener, nullptr, nullptr);
            for (qsizetype done = 0; s >= 0 && done < bytes.size();) {
                const ssize_t n = ::write(s, bytes.constData() + done, size_t(bytes.size() - done));
                if (n <= 0)
                    break;
                done += n;
            }
            char sink[4096];
            while (s >= 0 && ::read(s, sink, sizeof sink) > 0) {
            }
            if (s >= 0)
                ::close(s);
        });
    }

    ~Peer() {
        if (thread.joinable())
            thread.join();
        if (listener >= 0)
            ::close(listener);
    }
};

} // namespace

int main(int argc, char *argv[]) {
    qInstallMessageHandler(QuietHandler);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    const bool open = !args.contains(QStringLiteral("--closed"));
    int megabytes = 50;
    for (const QString &arg : args.mid(1))
        if (arg.toInt() > 0)
            megabytes = arg.toInt();

    qint64 reports = 0;
    const QByteArray flood = Flood(qsizetype{megabytes} * 1024 * 1024, reports);
    Peer peer;
    if (!peer.listen()) {
        std::printf("FAIL traffic flood: cannot listen\n");
        return 1;
    }
    peer.send(flood);

    auto *window = new frmMain;
    window->link().setTarget(QStringLiteral("127.0.0.1"), peer.port);
    window->show();
    TrafficLog *log = nullptr;
    if (open) {
        window->findChild<QAction *>(QStringLiteral("mnuTrafficLog"))->trigger();
        log = window->findChild<TrafficLog *>(QStringLiteral("trafficLog"));
    }

    QElapsedTimer sinceTick;
    QElapsedTimer wall;
    qint64 longestGapMs = 0;
    int ticks = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        longestGapMs = std::max(longestGapMs, sinceTick.restart());
        ++ticks;
    });

    // Done when the final ping's answer has been sent (and, with the window open, shown).
    bool done = false;
    QObject::connect(&window->link(), &SwitcherLink::connected, [&] {
        wall.start();
        sinceTick.start();
        heartbeat.start(kHeartbeatMs);
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const bool answered = window->link().status().bytesOut > 0;
        const bool shown = !log || (!log->lines().isEmpty() &&
                                    log->lines().back().endsWith(QLatin1String("tx pong | F4")));
        if ((answered && shown) || (wall.isValid() && wall.hasExpired(kGiveUpMs))) {
            done = answered && shown;
            QCoreApplication::exit(0);
        }
    });
    poll.start(10);
    window->link().ConnectSwitcher();
    QApplication::exec();
    const qint64 wallMs = wall.elapsed();
    heartbeat.stop();

    const qsizetype lines = log ? log->lines().size() : 0;
    std::printf("traffic flood, log window %s: %d MB (%lld gain reports and as many junk runs) "
                "in %lld ms; longest heartbeat gap %lld ms over %d ticks; log: %lld lines "
                "formatted, %lld messages skipped as too many to show, %lld lines kept\n",
                open ? "open" : "closed", megabytes, static_cast<long long>(reports),
                static_cast<long long>(wallMs), static_cast<long long>(longestGapMs), ticks,
                static_cast<long long>(log ? log->formattedLines() : 0),
                static_cast<long long>(log ? log->skippedForLoad() : 0),
                static_cast<long long>(lines));
    const bool pass = done && longestGapMs < kGoalMs && lines <= TrafficLog::kMaxLines;
    std::printf("%s traffic flood (log window %s): longest gap %lld ms (goal < %lld ms)%s\n",
                pass ? "PASS" : "FAIL", open ? "open" : "closed",
                static_cast<long long>(longestGapMs), static_cast<long long>(kGoalMs),
                done ? "" : ", the flood did not end in time");
    window->link().DisconnectSwitcher();
    delete window;
    return pass ? 0 : 1;
}
