#include "protocol/ReceiveBuffer.h"

#include <algorithm>

namespace {
// Below this much consumed storage the copy of a compaction is not worth doing.
constexpr qsizetype kCompactMinimum = 64 * 1024;
} // namespace

void ReceiveBuffer::append(const QByteArray &bytes) {
    m_data.append(bytes);
}

void ReceiveBuffer::append(const char *data, qsizetype count) {
    m_data.append(data, count);
}

void ReceiveBuffer::clear() {
    m_data.clear();
    m_head = 0;
    m_scan = 0;
}

qsizetype ReceiveBuffer::firstEom() const {
    m_scan = std::max(m_scan, m_head);
    const qsizetype found = m_data.indexOf(kEom, m_scan);
    if (found < 0) {
        m_scan = m_data.size();
        return 0;
    }
    m_scan = found;
    return found - m_head + 1;
}

QByteArray ReceiveBuffer::take(qsizetype count) {
    count = std::clamp<qsizetype>(count, 0, size());
    QByteArray out = m_data.mid(m_head, count);
    m_head += count;
    compactIfWorthIt();
    return out;
}

void ReceiveBuffer::drop(qsizetype count) {
    m_head += std::clamp<qsizetype>(count, 0, size());
    compactIfWorthIt();
}

void ReceiveBuffer::compactIfWorthIt() {
    if (m_head == m_data.size()) {
        m_data.clear();
        m_scan = 0;
        m_head = 0;
        return;
    }
    if (m_head >= kCompactMinimum && m_head > m_data.size() / 2) {
        m_data.remove(0, m_head);
        m_scan = std::max<qsizetype>(0, m_scan - m_head);
        m_head = 0;
    }
}
