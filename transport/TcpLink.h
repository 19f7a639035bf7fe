#pragma once

// The TCP link to the switcher.

class QTcpSocket;

namespace TCPComm {

// Binds the link to the main window's socket and its events; installs the send hook.
void AttachSocket(QTcpSocket *socket);

void ConnectSwitcher();
void DisconnectSwitcher();

} // namespace TCPComm
