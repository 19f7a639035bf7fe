#pragma once

// The bench programs run on the offscreen platform unless told otherwise, without its warning
// about every fixed-size window it is asked to show: that noise would bury the results.
// Call before the QApplication is made.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace Offscreen {

inline void QuietHandler(QtMsgType type, const QMessageLogContext &context,
                         const QString &message) {
    if (!message.contains(QLatin1String("propagateSizeHints")))
        qt_message_output(type, context, message);
}

inline void Use() {
    qInstallMessageHandler(QuietHandler);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

} // namespace Offscreen
