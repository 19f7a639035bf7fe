// switcher-sim: plays the audio switcher for the Dual Slider panel over TCP.

#include "tools/switcher-sim/SimOptions.h"
#include "tools/switcher-sim/SimServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <csignal>
#include <cstdio>

#if defined(Q_OS_UNIX)
#include <QSocketNotifier>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#if defined(Q_OS_UNIX)
int g_signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: pass the signal's number to the event loop, which acts
// on it.
void onSignal(int number) {
    const char c = char(number);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}
#endif

void printLine(const QString &line) {
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("switcher-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.02"));

    QCommandLineParser parser;
    addSimOptions(parser);
    QString error;
    const std::optional<SimOptions> options = parseSimOptions(parser, app.arguments(), error);
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!options) {
        std::fprintf(stderr, "switcher-sim: %s\nTry --help.\n", qPrintable(error));
        return 2;
    }

    SimServer server(*options);
    if (!options->quiet)
        server.trace = printLine;

#if defined(Q_OS_UNIX)
    // SIGTERM and SIGINT end it cleanly (elsewhere Ctrl+C just ends the process).
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) {
        std::perror("switcher-sim: socketpair");
        return 1;
    }
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&server, &options] {
        char c = 0;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &c, 1);
#ifdef SIGUSR1
        if (c == SIGUSR1) {
            server.reboot(std::chrono::milliseconds(options->downForMs));
            return;
        }
#endif
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#ifdef SIGUSR1
    // Reboots at a moment a test or soak script chooses.
    sigaction(SIGUSR1, &action, nullptr);
#endif
#endif

    if (!server.listen(error)) {
        std::fprintf(stderr, "switcher-sim: cannot listen on %s:%u: %s\n",
                     qPrintable(options->bind.toString()), unsigned(options->port),
                     qPrintable(error));
        return 1;
    }
    // Scripts wait for this line, so it is printed even with --quiet.
    printLine(
        QStringLiteral("listening on %1:%2").arg(server.address().toString()).arg(server.port()));
    const int rc = app.exec();
    if (!options->quiet)
        printLine(QStringLiteral("stopped"));
    return rc;
}
