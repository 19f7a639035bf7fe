#pragma once

// Sends a list of (channel, gain) items through a callback at a bounded rate, so that a
// recall of a whole switcher floods neither the link nor the switcher.
//
// The bound: at most itemsPerTick items in one go, and the next go no sooner than kTickMs
// after the previous one ended (a late timer never makes up for lost time). With the default
// of 4 items and one-entry set-gain commands of 11 bytes (13 for a DSP gain), that is at most
// 44 bytes (52) per 10 ms, about 400 commands a second: a recall of all 1025 inputs takes
// about 2.6 s. No timer runs while nothing is being sent.

#include "faders/Scene.h"

#include <QList>
#include <QObject>
#include <QTimer>
#include <functional>

class Pacer : public QObject {
    Q_OBJECT

  public:
    static constexpr int kTickMs = 10;
    static constexpr int kDefaultItemsPerTick = 4;

    using Send = std::function<void(const ChannelGain &item)>;

    explicit Pacer(Send send, int itemsPerTick = kDefaultItemsPerTick, QObject *parent = nullptr);

    // Starts sending items, the first go at once (before start returns). A run still going is
    // cancelled first (finished(true)). An empty list finishes at once (progress(0, 0),
    // finished(false)).
    void start(const QList<ChannelGain> &items);
    // Stops before the next go; the items not yet sent are dropped. Nothing when idle.
    void cancel();
    bool isRunning() const { return !m_items.isEmpty(); }

  signals:
    void progress(int done, int total);
    void finished(bool cancelled);

  private:
    void sendSome();

    Send m_send;
    int m_itemsPerTick;
    QList<ChannelGain> m_items;
    qsizetype m_done = 0;
    quint64 m_run = 0; // which run a go belongs to
    QTimer m_timer;
};
