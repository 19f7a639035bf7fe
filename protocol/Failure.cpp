#include "protocol/Failure.h"

namespace TCPComm {

namespace {
QString &lastFailure() {
    static QString reason;
    return reason;
}
} // namespace

QString LastFailure() {
    return lastFailure();
}

void ClearLastFailure() {
    lastFailure().clear();
}

void NoteFailure(const char *reason) {
    lastFailure() = QString::fromLatin1(reason);
}

} // namespace TCPComm
