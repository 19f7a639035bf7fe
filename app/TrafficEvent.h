#pragma once

// What went over the link, one event at a time, as the traffic log and the trace see it, and
// the one line each event becomes:
//
//   08:25:35.876 tx set input 1 gain 1054 (+3db) | E3 02 01 01 00 00 00 1E 08 2A FF
//   08:25:35.877 rx junk, 3 bytes | 01 02 03
//   08:25:36.002 -- connection lost
//
// The local time, then "tx" for a message to the switcher, "rx" for one from it, "--" for an
// event of the link or the log itself; the meaning; the bytes in hex.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMetaObject>
#include <QString>
#include <functional>

class QObject;
class SwitcherLink;

struct TrafficEvent {
    enum class Kind : quint8 { Sent, Received, Junk, Note };

    Kind kind = Kind::Note;
    qint64 at = 0;    // when: milliseconds since the epoch (UTC), cheap to take per message
    QByteArray bytes; // the message; for Junk the first bytes of the run
    qint64 count = 0; // Junk: the length of the run
    QString note;     // Note: the words

    static qint64 Now() { return QDateTime::currentMSecsSinceEpoch(); }
    static TrafficEvent Note(const QString &words, qint64 at = Now()) {
        return {Kind::Note, at, {}, 0, words};
    }
};

// The event's line, without a line end.
QString FormatLine(const TrafficEvent &event);

// "08:25:35.876": the local time of a moment in milliseconds since the epoch.
QString LocalTimeText(qint64 at);

// Hands every event of link to sink as it happens: messages sent and received, runs of junk,
// and the link coming up, being lost and being closed. Only raw bytes are taken; nothing is
// formatted. The connections are returned so that the tap can end (Untap); while none is
// left, the link collects nothing for it.
QList<QMetaObject::Connection> TapTraffic(SwitcherLink &link, QObject *context,
                                          std::function<void(TrafficEvent &&)> sink);
void Untap(QList<QMetaObject::Connection> &connections);
