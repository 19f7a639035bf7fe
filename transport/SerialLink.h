#pragma once

// The serial port link: wired to the same receive buffer, never opened by the panel itself.

#include <QByteArray>

class QSerialPort;

namespace SerialLink {

void AttachPort(QSerialPort *port);

// Closes the port if it is open (shutdown).
void CloseIfOpen();

// Writes the bytes to the port when it is open; otherwise does nothing.
void TcptoSerial(const QByteArray &sSendString);

} // namespace SerialLink
