#include "app/TrafficEvent.h"

#include "protocol/MessageMeaning.h"
#include "transport/SwitcherLink.h"

#include <QObject>
#include <cstdio>
#include <limits>

using MessageMeaning::Direction;

QString LocalTimeText(qint64 at) {
    // Finding the local time of a moment costs far more than a line; the offset from UTC is
    // therefore looked up once per minute of the moments formatted (offsets change only at
    // whole minutes). All on the GUI thread.
    constexpr qint64 kMinute = 60 * 1000;
    constexpr qint64 kDay = 24 * 60 * kMinute;
    static qint64 cachedMinute = std::numeric_limits<qint64>::min();
    static qint64 offset = 0;
    const qint64 minute = at >= 0 ? at / kMinute : (at - kMinute + 1) / kMinute;
    if (minute != cachedMinute) {
        cachedMinute = minute;
        offset = qint64{QDateTime::fromMSecsSinceEpoch(at).offsetFromUtc()} * 1000;
    }
    const qint64 ms = ((at + offset) % kDay + kDay) % kDay;
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", int(ms / 3600000),
                  int(ms / kMinute % 60), int(ms / 1000 % 60), int(ms % 1000));
    return QString::fromLatin1(text);
}

QString FormatLine(const TrafficEvent &event) {
    QString line = LocalTimeText(event.at);
    switch (event.kind) {
    case TrafficEvent::Kind::Sent:
        line +=
            QStringLiteral(" tx ") + MessageMeaning::Describe(event.bytes, Direction::ToSwitcher);
        break;
    case TrafficEvent::Kind::Received:
        line +=
            QStringLiteral(" rx ") + MessageMeaning::Describe(event.bytes, Direction::FromSwitcher);
        break;
    case TrafficEvent::Kind::Junk:
        line += QStringLiteral(" rx ") + MessageMeaning::DescribeJunk(event.count);
        break;
    case TrafficEvent::Kind::Note:
        return line + QStringLiteral(" -- ") + event.note;
    }
    return line + QStringLiteral(" | ") + MessageMeaning::Hex(event.bytes, event.count);
}

QList<QMetaObject::Connection> TapTraffic(SwitcherLink &link, QObject *context,
                                          std::function<void(TrafficEvent &&)> sink) {
    using Kind = TrafficEvent::Kind;
    const auto now = [] { return TrafficEvent::Now(); };
    return {
        QObject::connect(&link, &SwitcherLink::messageSent, context,
                         [=](const QByteArray &m) {
                             sink({Kind::Sent, now(), m, 0, {}});
                         }),
        QObject::connect(&link, &SwitcherLink::messageReceived, context,
                         [=](const QByteArray &m) {
                             sink({Kind::Received, now(), m, 0, {}});
                         }),
        QObject::connect(&link, &SwitcherLink::junkReceived, context,
                         [=](qsizetype count, const QByteArray &sample) {
                             sink({Kind::Junk, now(), sample, count, {}});
                         }),
        QObject::connect(
            &link, &SwitcherLink::connected, context,
            [=, &link] {
                const LinkStatus status = link.status();
                sink(TrafficEvent::Note(
                    QStringLiteral("connected to %1:%2").arg(status.address).arg(status.port)));
            }),
        QObject::connect(&link, &SwitcherLink::connectionLost, context,
                         [=] { sink(TrafficEvent::Note(QStringLiteral("connection lost"))); }),
        QObject::connect(&link, &SwitcherLink::connectedChanged, context,
                         [=](bool connected) {
                             if (!connected)
                                 sink(TrafficEvent::Note(QStringLiteral("disconnected")));
                         }),
    };
}

void Untap(QList<QMetaObject::Connection> &connections) {
    for (const QMetaObject::Connection &c : std::as_const(connections))
        QObject::disconnect(c);
    connections.clear();
}
