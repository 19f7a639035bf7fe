#pragma once

// A token bucket per sending address, so that one surface (or anything else) flooding the port
// loses its own datagrams, cheaply and before they are parsed, while other senders pass.
//
// Each sender may send a burst of kBurst datagrams and then kPerSecond a second: a surface
// sweeping both faders and a few buttons sends a few hundred a second, and a fast one (or a
// script) up to 1,000 a second must lose nothing, so that its last value is the one that
// stands (docs/PERFORMANCE.md, OSC). A flood is cut to this share. Senders are told
// apart by address only, as a flood from many ports of one machine is still one machine.
// At most kMaxSenders are tracked; past that the ones idle long enough to be full again are
// forgotten first (they lose nothing by it), then the longest-idle.
//
// No clock is read here: the time now comes with each call, in milliseconds.

#include <QHash>
#include <QHostAddress>
#include <QtGlobal>

namespace Osc {

class SenderLimit {
  public:
    static constexpr double kPerSecond = 2000.0;
    static constexpr double kBurst = 250.0;
    static constexpr int kMaxSenders = 1024;

    // Whether a datagram from this sender may be taken now; spends a token when so.
    bool admit(const QHostAddress &sender, qint64 now);

    int trackedSenders() const { return int(m_buckets.size()); }
    void clear() { m_buckets.clear(); }

  private:
    struct Bucket {
        double tokens = kBurst;
        qint64 at = 0; // when tokens was last brought up to date
    };
    void makeRoom(qint64 now);

    QHash<QHostAddress, Bucket> m_buckets;
};

} // namespace Osc
