#pragma once

// The traffic log's lines: the last kMaxLines lines of what went over the link, and how many
// older ones were dropped to keep to that.
//
// Events are taken in as they happen without formatting (raw bytes, which are shared, not
// copied) and shown in batches, at most kBatchLines every kBatchInterval, by a timer that runs
// only while events wait. A flood faster than that keeps only the latest kBatchLines events
// waiting; the older ones are skipped and one line says how many. So the cost on the GUI
// thread stays bounded however fast the switcher sends, and the log always shows the latest
// traffic.
//
// While paused nothing is added; the events that arrive are counted, and one line says how
// many once the log resumes.

#include "app/TrafficEvent.h"

#include <QObject>
#include <QStringList>
#include <chrono>
#include <deque>

class QTimer;
class SwitcherLink;

class TrafficLog : public QObject {
    Q_OBJECT

  public:
    static constexpr qsizetype kMaxLines = 10000;
    static constexpr qsizetype kBatchLines = 250;
    static constexpr std::chrono::milliseconds kBatchInterval{50};

    explicit TrafficLog(QObject *parent = nullptr);
    ~TrafficLog() override;

    // Takes in link's traffic from now on, until unwatch(). Watching again after a pause in
    // watching notes the gap.
    void watch(SwitcherLink &link);
    // Shows what still waits and lets go of the link, which then collects nothing for the log.
    void unwatch();
    bool watching() const { return !m_connections.isEmpty(); }

    // One event, as it happens: it waits for the next batch.
    void add(TrafficEvent event);
    // Formats and adds one batch of what waits; the timer's work.
    void showWaiting();

    void setPaused(bool paused);
    bool paused() const { return m_paused; }
    // Empties the log and forgets what waits and what was dropped or skipped.
    void clear();

    const QStringList &lines() const { return m_lines; }
    // Older lines dropped to keep to kMaxLines, since the last clear().
    qint64 droppedLines() const { return m_dropped; }
    // Events that arrived during the current pause.
    qint64 skippedWhilePaused() const { return m_skippedWhilePaused; }
    // Events skipped for coming too fast to show, since the log was made.
    qint64 skippedForLoad() const { return m_skippedForLoad; }
    // Lines formatted since the log was made: what the log has cost.
    qint64 formattedLines() const { return m_formatted; }

  signals:
    // Lines added at the end; older lines beyond kMaxLines have gone from the front.
    void linesAdded(const QStringList &lines);
    void cleared();
    // droppedLines, skippedWhilePaused or paused changed.
    void countsChanged();

  private:
    void append(QStringList batch);
    QString format(const TrafficEvent &event);
    void startTimer();

    QList<QMetaObject::Connection> m_connections;
    QTimer *m_timer;
    std::deque<TrafficEvent> m_waiting;
    qint64 m_skippedWaiting = 0; // skipped since the last batch, for being too many
    qint64 m_lastSkipped = 0;    // when the latest skipped event happened
    qint64 m_unwatchedAt = -1;   // when the log last stopped watching
    bool m_paused = false;
    qint64 m_skippedWhilePaused = 0;
    qint64 m_pausedShown = 0; // the paused count as countsChanged last told it
    QStringList m_lines;
    qint64 m_dropped = 0;
    qint64 m_skippedForLoad = 0;
    qint64 m_formatted = 0;
};
