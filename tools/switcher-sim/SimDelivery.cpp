#include "tools/switcher-sim/SimDelivery.h"

#include "tools/switcher-sim/SimWire.h"

#include <QRandomGenerator>
#include <QTcpSocket>
#include <algorithm>

namespace SimDelivery {

QList<Piece> plan(const QByteArray &message, bool report, const Faults &faults,
                  QRandomGenerator &rng) {
    QList<Piece> pieces;
    if (faults.junk) {
        QByteArray junk;
        const int n = rng.bounded(1, kMaxJunkBytes + 1);
        for (int i = 0; i < n; ++i)
            junk.append(static_cast<char>(rng.bounded(int(SimWire::kDataMask) + 1)));
        pieces.append({0, junk, true, false});
    }
    if (faults.split) {
        for (qsizetype pos = 0; pos < message.size();) {
            const qsizetype len =
                std::min<qsizetype>(rng.bounded(1, kMaxPieceBytes + 1), message.size() - pos);
            pieces.append({rng.bounded(kMaxPieceGapMs + 1), message.mid(pos, len), false, false});
            pos += len;
        }
    } else {
        pieces.append({0, message, false, false});
    }
    pieces.last().endsMessage = true;
    if (report)
        pieces.first().delayMs += faults.latencyMs;
    return pieces;
}

Outbox::Outbox(QTcpSocket *socket, const Faults &faults, QRandomGenerator *rng, QObject *parent)
    : QObject(parent), m_socket(socket), m_faults(faults), m_rng(rng) {
    m_clock.start();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Outbox::pump);
}

void Outbox::send(const QByteArray &message, bool report) {
    const QList<Piece> pieces = plan(message, report, m_faults, *m_rng);
    // A delay counts from now, but never lets a message overtake the one before it.
    qint64 due = std::max(m_clock.elapsed() + pieces.first().delayMs, m_lastDue);
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            due += pieces[i].delayMs;
        m_queue.append({due, pieces[i], pieces[i].endsMessage ? message : QByteArray()});
    }
    m_lastDue = due;
    pump();
}

void Outbox::pump() {
    const qint64 now = m_clock.elapsed();
    while (!m_queue.isEmpty() && m_queue.first().due <= now) {
        const Entry entry = m_queue.takeFirst();
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            continue; // the panel has gone; what it would have got goes nowhere
        m_socket->write(entry.piece.bytes);
        if (m_faults.split)
            m_socket->flush(); // each piece its own segment, as far as the OS lets it
        if (written && entry.piece.junk)
            written(entry.piece.bytes, true);
        else if (written && entry.piece.endsMessage)
            written(entry.message, false);
    }
    if (!m_queue.isEmpty())
        m_timer.start(int(m_queue.first().due - now));
}

} // namespace SimDelivery
