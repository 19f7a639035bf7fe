#include "transport/TcpLink.h"

// Placeholder until the link lands.
namespace TCPComm {
void AttachSocket(QTcpSocket *) {}
void ConnectSwitcher() {}
void DisconnectSwitcher() {}
} // namespace TCPComm
