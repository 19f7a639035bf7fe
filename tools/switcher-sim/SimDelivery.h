#pragma once

// How the switcher's messages reach one panel: at once and whole, or with the faults asked
// for on the command line (a delay before each report, messages in small pieces, stray
// data bytes between messages).

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>
#include <functional>

class QRandomGenerator;
class QTcpSocket;

namespace SimDelivery {

struct Faults {
    int latencyMs = 0; // before each report or map
    bool split = false;
    bool junk = false;
};

// Bounds of the injected faults.
inline constexpr int kMaxPieceBytes = 4;
inline constexpr int kMaxPieceGapMs = 15;
inline constexpr int kMaxJunkBytes = 4;

struct Piece {
    int delayMs = 0; // after the previous piece
    QByteArray bytes;
    bool junk = false;
    bool endsMessage = false; // the last piece of the message
};

// The pieces one message goes out in. Junk is 1..4 random data bytes (0x00..0x7F) placed in
// front of the message, never inside it: a noisy line between messages, which the panel
// drops byte by byte. Concatenating the pieces without the junk gives the message back.
QList<Piece> plan(const QByteArray &message, bool report, const Faults &faults,
                  QRandomGenerator &rng);

// Per-connection sender that keeps the order of messages whatever their delays.
class Outbox : public QObject {
    Q_OBJECT
  public:
    Outbox(QTcpSocket *socket, const Faults &faults, QRandomGenerator *rng,
           QObject *parent = nullptr);

    // Queues a message; without faults it is written at once.
    void send(const QByteArray &message, bool report);

    // Called as each message has been written in full, and for each junk piece.
    std::function<void(const QByteArray &bytes, bool junk)> written;

  private:
    void pump();
    struct Entry {
        qint64 due;
        Piece piece;
        QByteArray message;
    };
    QTcpSocket *m_socket;
    Faults m_faults;
    QRandomGenerator *m_rng;
    QList<Entry> m_queue;
    qint64 m_lastDue = 0;
    QElapsedTimer m_clock;
    QTimer m_timer;
};

} // namespace SimDelivery
