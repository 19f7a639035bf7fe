#pragma once

// A panel against a local QTcpServer that plays the switcher, for tests that need the real
// link: either started as the program starts it (settings file, Form_Load, show), or a bare
// window whose link the test opens itself.

#include "app/frmMain.h"
#include "support/EventLoop.h"
#include "support/SettingsFile.h"
#include "transport/SwitcherLink.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

namespace TestSupport {

struct PanelPeer {
    QTcpServer server;
    std::unique_ptr<frmMain> window;
    QPointer<QTcpSocket> peer; // the switcher's end of the link, owned by server

    SwitcherLink &link() { return window->link(); }

    bool listen() { return server.isListening() || server.listen(QHostAddress::LocalHost); }

    // A fresh window, not yet loaded or connected, with the address and port of the listener.
    bool open() {
        if (!listen())
            return false;
        window = std::make_unique<frmMain>();
        link().setTarget(QStringLiteral("127.0.0.1"), server.serverPort());
        return true;
    }

    // The program's start-up pointed at the listener by the settings file; false when the
    // panel did not connect.
    bool start() {
        if (!listen())
            return false;
        writeSettingsFile("[CONFIGURATION]\nIP Address=127.0.0.1\nIP Port=" +
                          QByteArray::number(server.serverPort()) + "\n");
        window = std::make_unique<frmMain>();
        window->Form_Load();
        window->show();
        return accept();
    }

    // Waits (two seconds at most) for the panel's connection at the switcher, which becomes
    // peer, and for the panel's connected event.
    bool accept() {
        if (!spinUntil([this] { return server.hasPendingConnections(); }, 2000))
            return false;
        peer = server.nextPendingConnection();
        return spinUntil([this] { return link().bConnected(); }, 2000);
    }

    bool connectPanel() {
        link().ConnectSwitcher();
        return accept();
    }

    // Writes from the switcher's end and waits until the panel has taken the bytes in.
    bool send(const QByteArray &bytes, int timeoutMs = 2000) {
        const qint64 expected = link().bytesReceived() + bytes.size();
        peer->write(bytes);
        return spinUntil([this, expected] { return link().bytesReceived() == expected; },
                         timeoutMs);
    }

    // What the switcher's end reads until at least count bytes have come (or two seconds).
    QByteArray receive(qsizetype count) { return ReadAtLeast(*peer, count, 2000); }

    // Closes the window (which saves the settings) and every connection; keeps listening.
    void reset() {
        window.reset();
        delete peer;
        while (QTcpSocket *stale = server.nextPendingConnection())
            delete stale;
        removeSettingsFile();
    }

    ~PanelPeer() { reset(); }
};

} // namespace TestSupport
