// The traffic log under a flood: a real main window (offscreen) with Help > Traffic Log open,
// against a local peer on a thread of its own that sends MEGABYTES of junk and gain reports as
// fast as loopback takes them, then one ping. A 5 ms heartbeat timer on the GUI thread records
// the longest gap between its ticks: how long a key press or a click would have waited.
//
//   traffic-flood [--closed] [MEGABYTES]     (default 50; --closed: the log window stays shut)
//
// Prints one line of figures and a PASS/FAIL line against the goal: the longest gap under
// kGoalMs, the log within its bound and its last line the answer to the final ping.

#include "FloodPeer.h"
#include "Offscreen.h"
#include "app/TrafficLog.h"
#include "app/frmMain.h"
#include "transport/SwitcherLink.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace {

constexpr qint64 kGoalMs = 200;
constexpr int kHeartbeatMs = 5;
constexpr int kGiveUpMs = 300000;

} // namespace

using namespace BenchFlood;

int main(int argc, char *argv[]) {
    Offscreen::Use();
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
