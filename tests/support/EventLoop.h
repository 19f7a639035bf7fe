#pragma once

// Waiting on a real event loop. QTest's waits sleep between rounds, which starves the 1 ms
// decode timer and lets a flood pile up where the panel would normally take it in.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QIODevice>
#include <QTimer>
#include <functional>

namespace TestSupport {

// Bounded waits, generous enough for a sanitizer build on a busy machine.
constexpr int kWaitMs = 5000;

// Runs the event loop until done() holds or timeoutMs has passed, calling watch() (if given)
// every millisecond. Returns done().
inline bool spinUntil(const std::function<bool()> &done, int timeoutMs = kWaitMs,
                      const std::function<void()> &watch = {}) {
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (watch)
            watch();
        if (done() || clock.hasExpired(timeoutMs))
            loop.quit();
    });
    poll.start(1);
    if (!done())
        loop.exec();
    return done();
}

// What a device reads until at least count bytes have come or timeoutMs has passed.
inline QByteArray ReadAtLeast(QIODevice &device, qsizetype count, int timeoutMs) {
    QByteArray got;
    spinUntil([&] { return (got += device.readAll()).size() >= count; }, timeoutMs);
    return got;
}

} // namespace TestSupport
