#include "transport/SerialLink.h"

// Placeholder until the serial link lands.
namespace SerialLink {
void AttachPort(QSerialPort *) {}
void CloseIfOpen() {}
void TcptoSerial(const QByteArray &) {}
} // namespace SerialLink
