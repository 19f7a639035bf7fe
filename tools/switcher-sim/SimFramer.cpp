#include "tools/switcher-sim/SimFramer.h"

#include "tools/switcher-sim/SimWire.h"

using namespace SimWire;

void SimFramer::flushStray(QList<Frame> &out) {
    if (!m_stray.isEmpty()) {
        out.append({Frame::Kind::Stray, m_stray});
        m_stray.clear();
    }
}

QList<SimFramer::Frame> SimFramer::push(const QByteArray &bytes) {
    QList<Frame> out;
    for (const char c : bytes) {
        const auto b = static_cast<quint8>(c);
        if (!m_current.isEmpty()) {
            if (b == kEom) {
                m_current.append(c);
                out.append({Frame::Kind::Message, m_current});
                m_current.clear();
                continue;
            }
            // The panel's greeting reply carries 0x96 right after 0x81; every other byte
            // with bit 7 set inside a message means the message lost its end.
            const bool replyByte = m_current.size() == 1 &&
                                   static_cast<quint8>(m_current[0]) == kGreeting &&
                                   b == kGreetingReplyByte;
            if (!isStatus(b) || replyByte) {
                m_current.append(c);
                if (m_current.size() >= kMaxMessage) {
                    out.append({Frame::Kind::Broken, m_current});
                    m_current.clear();
                }
                continue;
            }
            out.append({Frame::Kind::Broken, m_current});
            m_current.clear();
            // and b starts the next message below
        }
        if (!isStatus(b) || b == kEom) {
            m_stray.append(c);
            continue;
        }
        flushStray(out);
        if (isOneByteMessage(b))
            out.append({Frame::Kind::Message, QByteArray(1, c)});
        else
            m_current.append(c);
    }
    flushStray(out);
    return out;
}
