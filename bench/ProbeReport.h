#pragma once

// What the start-up probes print: "<event> <wall-clock ns> <VmRSS kB>", one line per event.
// The launcher takes its own wall-clock time just before starting the process and subtracts.

#include <QEvent>
#include <QFile>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <functional>

namespace ProbeReport {

// The wall clock in ns, comparable across processes (the launcher reads the same clock).
inline long long WallNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

inline long ResidentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

inline void Print(const char *event) {
    std::printf("%s %lld %ld\n", event, WallNs(), ResidentKb());
    std::fflush(stdout);
}

// Calls done once, right after the window's first paint has been handed to the platform.
class FirstFrame : public QObject {
  public:
    FirstFrame(QWidget *window, std::function<void()> done)
        : QObject(window), m_done(std::move(done)) {
        window->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Paint && m_done) {
            watched->removeEventFilter(this);
            // Back in the event loop the frame has been painted and flushed.
            QTimer::singleShot(0, this, [f = std::move(m_done)] { f(); });
            m_done = nullptr;
        }
        return false;
    }

  private:
    std::function<void()> m_done;
};

} // namespace ProbeReport
