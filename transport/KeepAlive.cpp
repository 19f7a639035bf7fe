#include "transport/KeepAlive.h"

#include <QAbstractSocket>
#include <QVariant>

#if defined(Q_OS_WIN)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace KeepAlive {

namespace {

#if defined(Q_OS_WIN)
using Native = SOCKET;
#else
using Native = int;
#endif

bool SetTcpOption([[maybe_unused]] Native fd, [[maybe_unused]] int option,
                  [[maybe_unused]] int value) {
#if defined(Q_OS_WIN)
    const DWORD v = DWORD(value);
    return ::setsockopt(fd, IPPROTO_TCP, option, reinterpret_cast<const char *>(&v), sizeof v) == 0;
#else
    return ::setsockopt(fd, IPPROTO_TCP, option, &value, sizeof value) == 0;
#endif
}

} // namespace

bool Enable(QAbstractSocket &socket) {
    if (socket.socketDescriptor() == -1)
        return false;
    socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    [[maybe_unused]] const auto fd = static_cast<Native>(socket.socketDescriptor());
    bool ok = true;
    // The option names differ by platform; each is set where the platform has it.
#if defined(TCP_KEEPIDLE)
    ok = SetTcpOption(fd, TCP_KEEPIDLE, int(kIdle.count())) && ok;
#elif defined(TCP_KEEPALIVE) // macOS names the idle time so
    ok = SetTcpOption(fd, TCP_KEEPALIVE, int(kIdle.count())) && ok;
#endif
#if defined(TCP_KEEPINTVL)
    ok = SetTcpOption(fd, TCP_KEEPINTVL, int(kInterval.count())) && ok;
#endif
#if defined(TCP_KEEPCNT)
    ok = SetTcpOption(fd, TCP_KEEPCNT, kProbes) && ok;
#endif
#if defined(TCP_USER_TIMEOUT)
    ok = SetTcpOption(fd, TCP_USER_TIMEOUT, int(kUserTimeout.count())) && ok;
#elif defined(TCP_MAXRT) // Windows, in seconds
    ok =
        SetTcpOption(fd, TCP_MAXRT,
                     int(std::chrono::duration_cast<std::chrono::seconds>(kUserTimeout).count())) &&
        ok;
#endif
    return ok;
}

} // namespace KeepAlive
