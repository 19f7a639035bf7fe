#pragma once

// The OSC listener: one UDP socket on the GUI thread that takes control messages from
// surfaces and sends feedback to the ones that subscribed.
//
// Datagrams are read in slices of at most kSliceDatagrams or kSliceMs, whichever ends first;
// whatever is still waiting then is read after the event loop has had its turn, so a flood
// never starves the windows. Each datagram passes, in order: the allow list, the sender's rate
// limit, the size bound and the parser; what fails is counted under its reason and dropped.
// Subscriptions are handled here; every other command is emitted with its sender.
//
// Nothing runs while nothing happens: no timer is armed while no datagram waits and no feedback
// is pending; subscriptions lapse lazily, by their time, whenever they are next looked at.

#include "surfaces/AllowList.h"
#include "surfaces/OscCommand.h"
#include "surfaces/OscFeedback.h"
#include "surfaces/OscSubscribers.h"
#include "surfaces/SenderLimit.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <array>
#include <vector>

class QUdpSocket;

namespace Osc {

class OscServer : public QObject {
    Q_OBJECT

  public:
    static constexpr int kSliceDatagrams = 256;
    static constexpr qint64 kSliceMs = 5;
    static constexpr int kReceiveBufferBytes = 1024 * 1024;

    explicit OscServer(QObject *parent = nullptr);
    ~OscServer() override;

    // Listens on address and port (0: any free port, see port()), taking datagrams only from
    // senders the list allows. An empty text when listening, otherwise why not (the port is
    // taken, the address is not this machine's, ...); a listener already running is stopped
    // first either way.
    QString start(const QHostAddress &address, quint16 port, const AllowList &allowed);
    // Stops listening and forgets the subscribers. The counts stay for the window.
    void stop();
    bool isListening() const;
    quint16 port() const; // the bound port; 0 when not listening

    // Feedback: the latest reported state, sent to every live subscriber (at once, or when the
    // address's quiet interval ends) and to every new one.
    void publishGain(int fader, qint16 gain);
    void publishCaption(int fader, const QString &caption);
    void publishLink(LinkWord link);

    // For a window.
    quint64 dropCount(DropReason reason) const { return m_drops[std::size_t(reason)]; }
    quint64 commandCount() const { return m_commands; }
    QString lastArrival() const { return m_lastArrival; }
    std::vector<Subscriber> subscribers() const;

  signals:
    void commandReceived(const Osc::Command &command, const QHostAddress &sender, quint16 port);
    // The counts, the last arrival or the subscribers changed (at most once per slice).
    void statusChanged();

  private:
    void readSlice();
    void takeDatagram();
    void handle(const Command &command, const QHostAddress &sender, quint16 port);
    void drop(DropReason reason, const QHostAddress &sender, quint16 port,
              const QByteArray &oscAddress = {});
    void publish(const QByteArray &oscAddress, const QByteArray &datagram);
    void sendDue();
    qint64 now() const { return m_clock.elapsed(); }

    QPointer<QUdpSocket> m_socket;
    AllowList m_allowed;
    SenderLimit m_limit;
    mutable OscSubscribers m_subscribers;
    QElapsedTimer m_clock;
    QTimer m_nextSlice;   // zero-interval, single-shot: the rest of a flood
    QTimer m_feedbackDue; // single-shot, armed only while feedback waits
    std::array<quint64, kDropReasonCount> m_drops{};
    quint64 m_commands = 0;
    QString m_lastArrival;
    bool m_statusChanged = false;
    std::vector<char> m_buffer;
};

} // namespace Osc
