// Cases on a real main window (offscreen): UpdateGain, and a backlog sent by a local switcher
// and drained by the real link and tmrDecode ticks, timing each tick to find how long it holds
// the event loop.

#include "BenchMessages.h"
#include "app/frmMain.h"
#include "transport/SwitcherLink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <ctime>

namespace {

// Lets the window's start-up timers run out (tmrGain fires after 50 ms, tmrDecode stops at
// its first tick), so that a case starts from an idle window.
void Settle(frmMain &w) {
    QEventLoop loop;
    QTimer::singleShot(100, &loop, &QEventLoop::quit);
    loop.exec();
    for (const char *timer : {"tmrGain", "tmrDecode"})
        if (w.findChild<QTimer *>(timer)->isActive())
            qWarning("the window's timers did not settle");
}

struct Window {
    frmMain w;
    Window() {
        w.show();
        Settle(w);
    }
};

void BM_UpdateGain(benchmark::State &state) {
    Window window;
    auto &entry = window.w.link().tables().udtInGain[std::size_t(window.w.settings().iChan[0])];
    for (auto _ : state) {
        // A different gain each time, so the slider and caption really change.
        entry.iSource = entry.iSource == 1000 ? 1100 : 1000;
        window.w.UpdateGain();
    }
}
BENCHMARK(BM_UpdateGain);

// CPU time of this thread: unlike the wall clock it does not count the time the scheduler
// gave to other processes of a busy machine in the middle of a tick.
qint64 ThreadCpuNs() {
#if defined(CLOCK_THREAD_CPUTIME_ID)
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
#else
    return 0; // no per-thread CPU clock here: the CPU column reads 0
#endif
}

// Routes tmrDecode's ticks through a stopwatch; the tick itself is the window's own.
class TickMeter {
  public:
    explicit TickMeter(frmMain &w)
        : m_link(w.link()), m_timer(m_link.findChild<QTimer *>("tmrDecode")) {
        QObject::disconnect(m_timer, &QTimer::timeout, &m_link, &SwitcherLink::tmrDecode_Timer);
        m_connection = QObject::connect(m_timer, &QTimer::timeout, &m_link, [this] {
            QElapsedTimer held;
            held.start();
            const qint64 cpuBefore = ThreadCpuNs();
            m_link.tmrDecode_Timer();
            m_longestNs = std::max(m_longestNs, held.nsecsElapsed());
            m_longestCpuNs = std::max(m_longestCpuNs, ThreadCpuNs() - cpuBefore);
            ++m_ticks;
            if (done() && !m_timer->isActive())
                m_loop.quit();
        });
    }
    ~TickMeter() {
        QObject::disconnect(m_connection);
        QObject::connect(m_timer, &QTimer::timeout, &m_link, &SwitcherLink::tmrDecode_Timer);
    }
    TickMeter(const TickMeter &) = delete;
    TickMeter &operator=(const TickMeter &) = delete;

    // Returns once the link has taken in `bytes` in all and drained them (false after a
    // minute without getting there).
    bool drain(qint64 bytes) {
        m_until = bytes;
        QTimer::singleShot(60000, &m_loop, &QEventLoop::quit);
        m_loop.exec();
        return done();
    }
    bool done() const { return m_link.bytesReceived() >= m_until && m_link.sBuffer().isEmpty(); }
    qint64 longestNs() const { return m_longestNs; }
    qint64 longestCpuNs() const { return m_longestCpuNs; }
    int ticks() const { return m_ticks; }

  private:
    SwitcherLink &m_link;
    QTimer *m_timer;
    QMetaObject::Connection m_connection;
    QEventLoop m_loop;
    qint64 m_until = 0;
    qint64 m_longestNs = 0;
    qint64 m_longestCpuNs = 0;
    int m_ticks = 0;
};

void Drain(benchmark::State &state, const QByteArray &backlog) {
    Window window;
    QTcpServer switcher;
    SwitcherLink &link = window.w.link();
    switcher.listen(QHostAddress::LocalHost);
    link.setTarget(QStringLiteral("127.0.0.1"), switcher.serverPort());
    link.ConnectSwitcher();
    QTcpSocket *peer =
        switcher.waitForNewConnection(5000) ? switcher.nextPendingConnection() : nullptr;
    QElapsedTimer connecting;
    connecting.start();
    while (peer && !link.bConnected() && !connecting.hasExpired(5000))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    if (!peer || !link.bConnected()) {
        state.SkipWithError("the panel did not connect to the local switcher");
        return;
    }
    for (auto _ : state) {
        TickMeter meter(window.w);
        QElapsedTimer wall;
        wall.start();
        peer->write(backlog);
        if (!meter.drain(link.bytesReceived() + backlog.size())) {
            state.SkipWithError("the backlog did not drain within a minute");
            return;
        }
        state.SetIterationTime(double(wall.nsecsElapsed()) / 1e9);
        state.counters["longest_tick_us"] = double(meter.longestNs()) / 1e3;
        state.counters["longest_tick_cpu_us"] = double(meter.longestCpuNs()) / 1e3;
        state.counters["ticks"] = meter.ticks();
    }
    state.SetBytesProcessed(state.iterations() * backlog.size());
}

void BM_DrainGainReports(benchmark::State &state) {
    const auto count = state.range(0);
    QByteArray backlog;
    for (qint64 k = 0; k < count; ++k)
        backlog.append(
            BenchMessages::GainReport(WireFormat::kKindInput, int(k % 1024), {int(24 + k % 1240)}));
    Drain(state, backlog);
}
BENCHMARK(BM_DrainGainReports)
    ->ArgName("reports")
    ->Arg(10000)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Line noise: data bytes only, which the dispatcher drops one per step.
void BM_DrainJunk(benchmark::State &state) {
    const auto bytes = state.range(0);
    QByteArray backlog(bytes, '\0');
    quint32 seed = 12345;
    for (auto &c : backlog) {
        seed = seed * 1664525u + 1013904223u;
        c = char((seed >> 24) & WireFormat::kDataMask);
    }
    Drain(state, backlog);
}
BENCHMARK(BM_DrainJunk)
    ->ArgName("bytes")
    ->Arg(4 << 20)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
