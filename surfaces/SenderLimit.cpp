#include "surfaces/SenderLimit.h"

#include "surfaces/AllowList.h"

#include <algorithm>

namespace Osc {
namespace {

double Refilled(double tokens, qint64 since, qint64 now) {
    // A clock that stepped back refills nothing (and takes nothing).
    const qint64 elapsed = std::max<qint64>(0, now - since);
    return std::min(SenderLimit::kBurst,
                    tokens + double(elapsed) * SenderLimit::kPerSecond / 1000.0);
}

} // namespace

void SenderLimit::makeRoom(qint64 now) {
    for (auto it = m_buckets.begin(); it != m_buckets.end();) {
        if (Refilled(it->tokens, it->at, now) >= kBurst)
            it = m_buckets.erase(it);
        else
            ++it;
    }
    if (m_buckets.size() < kMaxSenders)
        return;
    auto oldest = std::min_element(m_buckets.begin(), m_buckets.end(),
                                   [](const Bucket &a, const Bucket &b) { return a.at < b.at; });
    m_buckets.erase(oldest);
}

bool SenderLimit::admit(const QHostAddress &sender, qint64 now) {
    const QHostAddress key = Unmapped(sender);
    auto it = m_buckets.find(key);
    if (it == m_buckets.end()) {
        if (m_buckets.size() >= kMaxSenders)
            makeRoom(now);
        it = m_buckets.insert(key, Bucket{kBurst, now});
    }
    it->tokens = Refilled(it->tokens, it->at, now);
    it->at = std::max(it->at, now);
    if (it->tokens < 1.0)
        return false;
    it->tokens -= 1.0;
    return true;
}

} // namespace Osc
