#include "surfaces/OscSubscribers.h"

#include <algorithm>
#include <limits>

namespace Osc {

void OscSubscribers::lapse(qint64 now) {
    std::erase_if(m_entries, [now](const Entry &entry) {
        return now - entry.subscriber.renewedAt >= kLapseMs;
    });
}

qint64 OscSubscribers::dueAt(const Slot &slot) {
    return slot.sentAt ? *slot.sentAt + kMinIntervalMs : std::numeric_limits<qint64>::min();
}

bool OscSubscribers::subscribe(const QHostAddress &address, quint16 port, qint64 now) {
    lapse(now);
    auto it = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry &entry) {
        return entry.subscriber.port == port && entry.subscriber.address == address;
    });
    if (it == m_entries.end()) {
        if (int(m_entries.size()) >= kMaxSubscribers)
            return false;
        m_entries.push_back({{address, port, now}, {}});
        it = std::prev(m_entries.end());
    }
    it->subscriber.renewedAt = now;
    for (const auto &[oscAddress, datagram] : m_current)
        it->byAddress[oscAddress].pending = datagram;
    return true;
}

void OscSubscribers::publish(const QByteArray &oscAddress, const QByteArray &datagram, qint64 now) {
    lapse(now);
    QByteArray &current = m_current[oscAddress];
    if (current == datagram)
        return;
    current = datagram;
    for (Entry &entry : m_entries)
        entry.byAddress[oscAddress].pending = datagram;
}

std::vector<Outgoing> OscSubscribers::take(qint64 now) {
    lapse(now);
    std::vector<Outgoing> out;
    for (Entry &entry : m_entries) {
        for (auto &[oscAddress, slot] : entry.byAddress) {
            if (!slot.pending || dueAt(slot) > now)
                continue;
            out.push_back({entry.subscriber.address, entry.subscriber.port, *slot.pending});
            slot.pending.reset();
            slot.sentAt = now;
        }
    }
    return out;
}

std::optional<qint64> OscSubscribers::nextDue(qint64 now) {
    lapse(now);
    std::optional<qint64> due;
    for (const Entry &entry : m_entries)
        for (const auto &[oscAddress, slot] : entry.byAddress)
            if (slot.pending)
                due = std::min(due.value_or(std::numeric_limits<qint64>::max()),
                               std::max(dueAt(slot), now));
    return due;
}

std::vector<Subscriber> OscSubscribers::live(qint64 now) {
    lapse(now);
    std::vector<Subscriber> out;
    out.reserve(m_entries.size());
    for (const Entry &entry : m_entries)
        out.push_back(entry.subscriber);
    return out;
}

void OscSubscribers::unsubscribeAll() {
    m_entries.clear();
}

} // namespace Osc
