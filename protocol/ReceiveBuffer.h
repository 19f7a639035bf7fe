#pragma once

#include <QByteArray>

// The one receive buffer that both links fill and the decoders consume.
//
// Bytes are appended at the back and removed only from the front. Removing from the front
// only advances an offset, and the search for the first end-of-message byte resumes where
// the previous search stopped, so every operation costs the same however much is queued
// behind the front message. The storage is compacted once the consumed part outweighs the
// rest.
class ReceiveBuffer {
  public:
    static constexpr char kEom = static_cast<char>(0xFF);

    void append(const QByteArray &bytes);
    void append(const char *data, qsizetype count);
    void clear();

    bool isEmpty() const { return size() == 0; }
    qsizetype size() const { return m_data.size() - m_head; }
    unsigned char front() const { return static_cast<unsigned char>(m_data.at(m_head)); }
    unsigned char at(qsizetype index) const {
        return static_cast<unsigned char>(m_data.at(m_head + index));
    }

    // 1-based position of the first EOM (0xFF) in the buffer, 0 when there is none.
    qsizetype firstEom() const;

    // Removes the first count bytes and returns them.
    QByteArray take(qsizetype count);
    void drop(qsizetype count = 1);

    // A copy of what the buffer holds, front first.
    QByteArray bytes() const { return m_data.mid(m_head); }

  private:
    void compactIfWorthIt();

    QByteArray m_data;
    qsizetype m_head = 0;
    // Absolute index in m_data: either the first EOM at or after m_head, or the point up to
    // which the buffer is known to hold no EOM. A cache of the search, hence mutable.
    mutable qsizetype m_scan = 0;
};
