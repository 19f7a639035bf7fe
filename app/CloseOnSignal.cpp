#include "app/CloseOnSignal.h"

#include <QWidget>

#if defined(Q_OS_UNIX)
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A signal handler may do almost nothing; it only wakes the event loop through this pair,
// which then closes the window in the ordinary way.
int g_wake[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_wake[1], &byte, 1);
}

} // namespace

void CatchTermination() {
    if (g_wake[0] != -1 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_wake) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

void CloseOnSignal(QWidget *window, const std::function<void()> &close) {
    if (g_wake[0] == -1)
        return;
    auto *notifier = new QSocketNotifier(g_wake[0], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [close] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_wake[0], &byte, 1);
        close();
    });
}

#else

void CatchTermination() {}
void CloseOnSignal(QWidget *, const std::function<void()> &) {}

#endif
