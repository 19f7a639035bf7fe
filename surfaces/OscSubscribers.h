#pragma once

// The surfaces that asked for feedback, and what each is owed. A subscription lasts
// kLapseMs from its last renewal. Feedback is coalesced per subscriber and per OSC address:
// at most one message per kMinIntervalMs for each address, the latest value replacing any
// still waiting, so a fader swept fast reaches a surface as a steady stream that ends on the
// final value. Every subscription (a renewal too) is owed the current value of every address.
//
// No clock is read here: every call takes the time now, in milliseconds of a monotonic clock.
// The owner sends what take() hands out and, while nextDue() names a time, arms one timer
// for it; with nothing pending it needs no timer at all.

#include <QByteArray>
#include <QHostAddress>
#include <QtGlobal>
#include <map>
#include <optional>
#include <vector>

namespace Osc {

struct Subscriber {
    QHostAddress address;
    quint16 port = 0;
    qint64 renewedAt = 0; // ms
};

struct Outgoing {
    QHostAddress address;
    quint16 port = 0;
    QByteArray datagram;
};

class OscSubscribers {
  public:
    static constexpr qint64 kLapseMs = 30'000;
    static constexpr qint64 kMinIntervalMs = 20; // 50 messages a second per address
    static constexpr int kMaxSubscribers = 16;

    // Adds or renews the subscriber at (address, port) and owes it every current value. False
    // when it is new and kMaxSubscribers live subscribers are already there.
    bool subscribe(const QHostAddress &address, quint16 port, qint64 now);

    // Records the latest message for an OSC address and owes it to every live subscriber. A
    // message equal to the current one for its address changes nothing.
    void publish(const QByteArray &oscAddress, const QByteArray &datagram, qint64 now);

    // What may be sent now; each address of each subscriber is then quiet for kMinIntervalMs.
    std::vector<Outgoing> take(qint64 now);

    // When the earliest message still waiting may go; none when nothing waits.
    std::optional<qint64> nextDue(qint64 now);

    // The live subscribers, oldest subscription first.
    std::vector<Subscriber> live(qint64 now);

    // Forgets every subscriber; the current values stay for the next ones.
    void unsubscribeAll();

  private:
    struct Slot {
        std::optional<qint64> sentAt;
        std::optional<QByteArray> pending;
    };
    struct Entry {
        Subscriber subscriber;
        std::map<QByteArray, Slot> byAddress; // by OSC address
    };

    void lapse(qint64 now);
    static qint64 dueAt(const Slot &slot);

    std::vector<Entry> m_entries;
    std::map<QByteArray, QByteArray> m_current; // by OSC address
};

} // namespace Osc
