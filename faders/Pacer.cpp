#include "faders/Pacer.h"

#include <algorithm>

Pacer::Pacer(Send send, int itemsPerTick, QObject *parent)
    : QObject(parent), m_send(std::move(send)), m_itemsPerTick(std::max(1, itemsPerTick)) {
    // Restarted after each go, so that the pause after it is never shortened.
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Pacer::sendSome);
}

void Pacer::start(const QList<ChannelGain> &items) {
    cancel();
    ++m_run;
    if (items.isEmpty()) {
        emit progress(0, 0);
        emit finished(false);
        return;
    }
    m_items = items;
    m_done = 0;
    sendSome();
}

void Pacer::cancel() {
    if (!isRunning())
        return;
    ++m_run;
    m_timer.stop();
    m_items.clear();
    m_done = 0;
    emit finished(true);
}

void Pacer::sendSome() {
    // The callback and the progress handlers may cancel (a lost link) or start another run:
    // whatever this run still meant to do is then dropped.
    const quint64 run = m_run;
    const QList<ChannelGain> items = m_items;
    const qsizetype end = std::min(items.size(), m_done + m_itemsPerTick);
    while (m_done < end) {
        m_send(items[m_done++]);
        if (m_run != run)
            return;
    }
    emit progress(int(m_done), int(items.size()));
    if (m_run != run)
        return;
    if (m_done < items.size()) {
        m_timer.start(kTickMs);
        return;
    }
    m_items.clear();
    m_done = 0;
    emit finished(false);
}
