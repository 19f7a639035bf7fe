#pragma once

// A panel started as the program starts it (settings file, Form_Load, show) against a local
// QTcpServer that plays the switcher, for tests that need the real link.

#include "app/frmMain.h"
#include "support/SettingsFile.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <memory>

namespace TestSupport {

struct PanelPeer {
    QTcpServer server;
    std::unique_ptr<frmMain> window;
    QTcpSocket *peer = nullptr; // the switcher's end of the link, owned by server

    // Listens, starts the panel pointed at the listener and waits for its connection.
    // Returns false when the panel did not connect within two seconds.
    bool start() {
        if (!server.listen(QHostAddress::LocalHost))
            return false;
        writeSettingsFile("[CONFIGURATION]\nIP Address=127.0.0.1\nIP Port=" +
                          QByteArray::number(server.serverPort()) + "\n");
        window = std::make_unique<frmMain>();
        window->Form_Load();
        window->show();
        if (!QTest::qWaitFor([this] { return server.hasPendingConnections(); }, 2000))
            return false;
        peer = server.nextPendingConnection();
        return QTest::qWaitFor([this] { return Variables::bConnected; }, 2000);
    }

    ~PanelPeer() {
        window.reset();
        removeSettingsFile();
    }
};

} // namespace TestSupport
