#pragma once

// The serial port link: wired to the same receive buffer, never opened by the panel itself.
// Whoever opens the port gets the receive path (append, serial-side decode, decode timer)
// and TcptoSerial; shutdown closes it again.

#include <QByteArray>

class QSerialPort;

namespace SerialLink {

inline constexpr char kErrSerial[] = "Error On Serial Port";

// Binds the link to the main window's port and its events; nullptr detaches it again.
void AttachPort(QSerialPort *port);

// Closes the port if it is open (shutdown).
void CloseIfOpen();

// Writes the bytes to the port when it is open; otherwise does nothing.
void TcptoSerial(const QByteArray &sSendString);

// The port's receive event: takes in what arrived, decodes a gain report at the front at
// once and leaves the rest to the decode timer. Also run again while sBuffer is full.
void MSComm1_OnComm();

} // namespace SerialLink
