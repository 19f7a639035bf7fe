#include "app/TrafficLog.h"

#include "protocol/MessageMeaning.h"

#include <QTimer>
#include <utility>

namespace {

QString Messages(qint64 n) {
    return MessageMeaning::Count(n) +
           (n == 1 ? QStringLiteral(" message") : QStringLiteral(" messages"));
}

} // namespace

TrafficLog::TrafficLog(QObject *parent) : QObject(parent), m_timer(new QTimer(this)) {
    m_timer->setObjectName(QStringLiteral("tmrTraffic"));
    m_timer->setSingleShot(true);
    m_timer->setInterval(kBatchInterval);
    connect(m_timer, &QTimer::timeout, this, &TrafficLog::showWaiting);
}

TrafficLog::~TrafficLog() {
    Untap(m_connections);
}

void TrafficLog::watch(SwitcherLink &link) {
    if (watching())
        return;
    if (m_unwatchedAt >= 0 && !m_lines.isEmpty())
        add(TrafficEvent::Note(QStringLiteral("messages since %1 not shown (the log was closed)")
                                   .arg(LocalTimeText(m_unwatchedAt))));
    m_connections = TapTraffic(link, this, [this](TrafficEvent &&event) { add(std::move(event)); });
}

void TrafficLog::unwatch() {
    if (!watching())
        return;
    Untap(m_connections);
    m_unwatchedAt = TrafficEvent::Now();
    showWaiting();
}

void TrafficLog::add(TrafficEvent event) {
    if (m_paused) {
        // Counted only; the count is shown with the next batch's timing, not per event.
        ++m_skippedWhilePaused;
        startTimer();
        return;
    }
    if (std::cmp_greater_equal(m_waiting.size(), kBatchLines)) {
        m_lastSkipped = m_waiting.front().at;
        m_waiting.pop_front();
        ++m_skippedWaiting;
        ++m_skippedForLoad;
    }
    m_waiting.push_back(std::move(event));
    startTimer();
}

void TrafficLog::startTimer() {
    if (!m_timer->isActive())
        m_timer->start();
}

void TrafficLog::showWaiting() {
    m_timer->stop();
    if (m_paused) {
        if (m_pausedShown != m_skippedWhilePaused) {
            m_pausedShown = m_skippedWhilePaused;
            emit countsChanged();
        }
        return;
    }
    if (m_waiting.empty() && m_skippedWaiting == 0)
        return;
    QStringList batch;
    batch.reserve(static_cast<qsizetype>(m_waiting.size()) + 1);
    if (m_skippedWaiting > 0) {
        batch << format(TrafficEvent::Note(Messages(std::exchange(m_skippedWaiting, 0)) +
                                               QStringLiteral(" not shown (too many to show)"),
                                           m_lastSkipped));
    }
    for (const TrafficEvent &event : m_waiting)
        batch << format(event);
    m_waiting.clear();
    append(std::move(batch));
}

void TrafficLog::setPaused(bool paused) {
    if (paused == m_paused)
        return;
    if (paused) {
        showWaiting();
        m_paused = true;
    } else {
        m_paused = false;
        m_pausedShown = 0;
        if (const qint64 skipped = std::exchange(m_skippedWhilePaused, 0))
            append({format(TrafficEvent::Note(Messages(skipped) +
                                              QStringLiteral(" not shown while paused")))});
    }
    emit countsChanged();
}

void TrafficLog::clear() {
    m_timer->stop();
    m_waiting.clear();
    m_skippedWaiting = 0;
    m_skippedWhilePaused = 0;
    m_pausedShown = 0;
    m_lines.clear();
    m_dropped = 0;
    emit cleared();
    emit countsChanged();
}

void TrafficLog::append(QStringList batch) {
    m_lines += batch;
    const qsizetype excess = m_lines.size() - kMaxLines;
    if (excess > 0) {
        m_lines.remove(0, excess);
        m_dropped += excess;
    }
    emit linesAdded(batch);
}

QString TrafficLog::format(const TrafficEvent &event) {
    ++m_formatted;
    return FormatLine(event);
}
