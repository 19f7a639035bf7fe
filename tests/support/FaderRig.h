#pragma once

// The faders with a real link: the view, its controller and a SwitcherLink connected to a local
// QTcpServer that plays the switcher. What the faders send is what the link wrote to the
// socket; what the switcher reported is prepared in the link's tables.

#include "faders/FaderController.h"
#include "faders/FaderView.h"
#include "support/Controls.h"
#include "support/EventLoop.h"
#include "transport/SwitcherLink.h"

#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

namespace TestSupport {

struct FaderRig {
    QTcpServer server;
    SwitcherLink link;
    QPointer<QTcpSocket> peer;
    std::unique_ptr<FaderView> view;
    std::unique_ptr<FaderController> controller;
    QList<QByteArray> sent;

    // A connected link and fresh faders whose start-up refresh is stopped (it would race the
    // tests). False when the link did not come up.
    bool start() {
        if (!server.isListening() && !server.listen(QHostAddress::LocalHost))
            return false;
        if (!link.bConnected()) {
            link.setTarget(QStringLiteral("127.0.0.1"), server.serverPort());
            link.ConnectSwitcher();
            if (!spinUntil([this] { return server.hasPendingConnections(); }, 2000))
                return false;
            peer = server.nextPendingConnection();
            QObject::connect(&link, &SwitcherLink::messageSent,
                             [this](const QByteArray &m) { sent << m; });
            if (!spinUntil([this] { return link.bConnected(); }, 2000))
                return false;
        }
        link.tables() = SwitcherTables{};
        controller.reset();
        view = std::make_unique<FaderView>();
        controller = std::make_unique<FaderController>(link, *view);
        tmrGain()->stop();
        sent.clear();
        return true;
    }

    QTimer *tmrGain() { return Find<QTimer>(controller.get(), "tmrGain"); }
    void reportInput(int channel, int gain) {
        link.tables().udtInGain[static_cast<std::size_t>(channel)].iSource = qint16(gain);
    }
};

} // namespace TestSupport
