#pragma once

// The TCP link to the switcher.
//
// The panel is a TCP client of the switcher. ConnectSwitcher starts an attempt; the socket's
// connected event marks the link open ("&Disconnect", bConnected). When the switcher closes
// the connection, the socket is closed but the panel keeps regarding the link as open until
// the user disconnects, and the next Connect starts a fresh attempt. Failures are silent
// apart from the one message box for a port that cannot be connected to at all; each keeps
// a fixed reason (TCPComm::LastFailure).

#include <QString>
#include <QtGlobal>

class QTcpSocket;

namespace TCPComm {

inline constexpr char kErrConnect[] = "Error Connecting";
inline constexpr char kErrSend[] = "Error Sending";
inline constexpr char kErrLink[] = "Error On Link";

inline const QString kCaptionConnect = QStringLiteral("&Connect");
inline const QString kCaptionDisconnect = QStringLiteral("&Disconnect");

// Ports a connection can be made to; anything else cannot even be attempted.
inline constexpr qint32 kMinPort = 1;
inline constexpr qint32 kMaxPort = 65535;

// Outgoing bytes the socket may hold while the switcher does not read them. Messages sent
// beyond this are dropped (silently, like any other send failure), so that a switcher that
// stops reading cannot make the panel queue without limit; normal traffic never comes near.
inline constexpr qint64 kMaxQueuedSendBytes = 1024 * 1024;

// Binds the link to the main window's socket and its events; installs the send hook.
// nullptr detaches it again.
void AttachSocket(QTcpSocket *socket);

void ConnectSwitcher();
void DisconnectSwitcher();

// The socket's events, connected to it by AttachSocket.
void scktServer_Connect(); // the connection is made
void scktServer_Read();    // bytes are waiting (also run again while sBuffer is full)
void scktServer_Close();   // the switcher or the network ended the connection

// Bytes the link has moved into sBuffer since the last ConnectSwitcher.
qint64 BytesReceived();

} // namespace TCPComm
