#include "tools/switcher-sim/SimWire.h"

#include <QString>

namespace SimWire {

quint8 checksum(const QByteArray &statusAndData) {
    quint8 sum = 0;
    for (qsizetype i = 1; i < statusAndData.size(); ++i)
        sum = (sum + static_cast<quint8>(statusAndData[i])) & kDataMask;
    return sum;
}

void append14(QByteArray &data, int value) {
    Q_ASSERT(value >= 0 && value <= kMax14);
    data.append(static_cast<char>(value & kDataMask));
    data.append(static_cast<char>((value >> 7) & kDataMask));
}

QByteArray frame(quint8 status, const QByteArray &data) {
    QByteArray message;
    message.reserve(data.size() + 3);
    message.append(static_cast<char>(status));
    message.append(data);
    message.append(static_cast<char>(checksum(message)));
    message.append(static_cast<char>(kEom));
    return message;
}

QString hex(const QByteArray &bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

} // namespace SimWire
