#pragma once

// Cuts the byte stream from one panel into messages. Bytes may arrive in any pieces; a
// message is handed out once its last byte is in. Nothing is ever lost silently: stray
// bytes and broken messages come out as frames of their own, so the trace can show them.

#include <QByteArray>
#include <QList>

class SimFramer {
  public:
    struct Frame {
        enum class Kind {
            Message, // one byte (F1 F3 F4 F5) or status byte through EOM
            Stray,   // data bytes or an EOM outside any message
            Broken,  // a message cut short by the next status byte, or grown too long
        };
        Kind kind;
        QByteArray bytes;
    };

    // Longer than any message a panel sends; a message that grows beyond it has lost its
    // EOM and is dropped, so one bad panel cannot make the switcher hoard memory.
    static constexpr qsizetype kMaxMessage = 4096;

    // Feeds bytes in and returns every frame completed by them, in order. A run of stray
    // bytes at the end of the input is returned at once rather than held back.
    QList<Frame> push(const QByteArray &bytes);

    // Bytes of an unfinished message held back for the next push.
    qsizetype pending() const { return m_current.size(); }

  private:
    void flushStray(QList<Frame> &out);
    QByteArray m_current; // the message being assembled, status byte first
    QByteArray m_stray;
};
