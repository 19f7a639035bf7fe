#include "transport/SerialLink.h"

#include "app/Variables.h"
#include "protocol/Failure.h"
#include "protocol/Seams.h"
#include "protocol/SerialDecoder.h"
#include "transport/LinkInput.h"

#include <QList>
#include <QPointer>
#include <QSerialPort>
#include <QTimer>

namespace SerialLink {

namespace {

struct Link {
    QPointer<QSerialPort> port;
    QPointer<QTimer> readRetry; // single-shot, owned by the port
    QList<QMetaObject::Connection> connections;
};

Link &link() {
    static Link instance;
    return instance;
}

// Errors are noted and otherwise silent. A port that fails to read (its device gone, or the
// far end hung up, which some drivers report as a read error on every poll) is closed, since
// nothing more can come from it and it would only keep reporting. Closed once the port has
// finished its own handling of the error.
void OnPortError(QSerialPort::SerialPortError error) {
    QSerialPort *port = link().port;
    if (error == QSerialPort::NoError || !port)
        return;
    TCPComm::NoteFailure(kErrSerial);
    if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError)
        QMetaObject::invokeMethod(port, &CloseIfOpen, Qt::QueuedConnection);
}

} // namespace

void AttachPort(QSerialPort *port) {
    Link &l = link();
    for (const auto &connection : std::as_const(l.connections))
        QObject::disconnect(connection);
    l.connections.clear();
    delete l.readRetry; // null when it went with its port
    l.port = port;
    if (!port)
        return;

    QTimer *retry = LinkInput::PrepareDevice(*port);
    l.readRetry = retry;

    l.connections = {
        QObject::connect(port, &QSerialPort::readyRead, port, &MSComm1_OnComm),
        QObject::connect(port, &QSerialPort::errorOccurred, port, &OnPortError),
        QObject::connect(retry, &QTimer::timeout, port, &MSComm1_OnComm),
    };
}

void CloseIfOpen() {
    Link &l = link();
    if (l.readRetry)
        l.readRetry->stop();
    if (l.port && l.port->isOpen())
        l.port->close();
}

void TcptoSerial(const QByteArray &sSendString) {
    QSerialPort *port = link().port;
    if (!port || !port->isOpen() || !port->isWritable())
        return;
    port->write(sSendString);
    port->flush();
}

void MSComm1_OnComm() {
    Link &l = link();
    QSerialPort *port = l.port;
    if (!port || !port->isOpen())
        return;
    LinkInput::TakeIntoBuffer(*port);

    TCPComm::DecodeMessage();
    if (!Variables::sBuffer.isEmpty() && TCPComm::seams().startDecodeTimer)
        TCPComm::seams().startDecodeTimer();

    // With sBuffer full the rest waits in the port until the decode timer has made room.
    if (l.port && l.port->isOpen() && l.port->bytesAvailable() > 0 && l.readRetry)
        l.readRetry->start();
}

} // namespace SerialLink
