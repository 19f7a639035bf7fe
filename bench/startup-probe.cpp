// The panel's start-up exactly as its main() runs it, with probes around it: prints "app",
// "constructed" and "loaded" after each start-up stage, "shown"
// after the first frame, "connected" when the link is up, and "dumped" once the switcher's
// answer to the information request has been decoded (sBuffer empty and the link quiet for a
// second). Quits after "dumped", or with "timeout" after 20 s.

#include "ProbeReport.h"
#include "app/PanelStyle.h"
#include "app/frmMain.h"
#include "transport/SwitcherLink.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTcpSocket>

namespace {
constexpr int kQuietMs = 1000;
constexpr int kPollMs = 100;
constexpr int kGiveUpMs = 20000;
} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dual Slider"));
    QApplication::setApplicationVersion(QStringLiteral("1.02"));
    PanelStyle::Install();
    ProbeReport::Print("app");

    frmMain window;
    ProbeReport::Print("constructed");
    QElapsedTimer sinceData;
    bool shown = false;
    QObject::connect(&window.link(), &SwitcherLink::connected,
                     [] { ProbeReport::Print("connected"); });
    QObject::connect(window.findChild<QTcpSocket *>(QStringLiteral("scktServer")),
                     &QTcpSocket::readyRead, [&] { sinceData.start(); });
    new ProbeReport::FirstFrame(&window, [&] {
        ProbeReport::Print("shown");
        shown = true;
    });

    window.Form_Load();
    ProbeReport::Print("loaded");
    window.show();

    QTimer poll;
    QElapsedTimer running;
    running.start();
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (shown && sinceData.isValid() && sinceData.elapsed() >= kQuietMs &&
            window.link().sBuffer().isEmpty()) {
            ProbeReport::Print("dumped");
            QCoreApplication::exit(0);
        } else if (running.elapsed() > kGiveUpMs) {
            ProbeReport::Print("timeout");
            QCoreApplication::exit(1);
        }
    });
    poll.start(kPollMs);
    return QApplication::exec();
}
