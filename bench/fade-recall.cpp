// Fades and recall on a real main window (offscreen), timed from outside by the commands the
// panel writes:
//
//   fade-recall fade [--flood MEGABYTES]   a 10 s fade from Off to +24 dB of fader 1 (a command
//        at every 20 ms step): the largest gap between two commands beyond the step, and when
//        the last one went out against the 10 s asked. With --flood the peer sends that many
//        MB of junk and gain reports meanwhile, and Help > Traffic Log is open.
//   fade-recall recall SIM   a whole-switcher recall of 1025 inputs against the simulator at
//        path SIM: its duration and the most bytes written in any 10 ms.
//
// Prints one line of figures.

#include "FloodPeer.h"
#include "Offscreen.h"
#include "app/ScenesMenu.h"
#include "app/frmMain.h"
#include "faders/FaderController.h"
#include "transport/SwitcherLink.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

using namespace BenchFlood;

namespace {

constexpr qint64 kFadeMs = 10000;

int fade(const QStringList &args) {
    const qsizetype at = args.indexOf(QStringLiteral("--flood"));
    const int megabytes = at >= 0 ? args.value(at + 1).toInt() : 0;
    qint64 reports = 0;
    Peer peer;
    if (!peer.listen())
        return 1;
    peer.send(megabytes > 0 ? Flood(qsizetype{megabytes} * 1024 * 1024, reports) : QByteArray());

    QTemporaryDir dir;
    auto *window = new frmMain(dir.filePath(QStringLiteral("bench.ini")));
    window->link().setTarget(QStringLiteral("127.0.0.1"), peer.port);
    window->show();
    if (megabytes > 0)
        window->findChild<QAction *>(QStringLiteral("mnuTrafficLog"))->trigger();

    QElapsedTimer clock;
    QList<qint64> sent;
    QObject::connect(&window->link(), &SwitcherLink::messageSent, [&](const QByteArray &m) {
        if (m.startsWith('\xE3') && clock.isValid())
            sent.append(clock.elapsed());
    });
    QObject::connect(&window->link(), &SwitcherLink::connected, [&] {
        // Off is what a channel never reported reads; the flood may report it otherwise.
        clock.start();
        window->faders().fadeTo(0, 1264, kFadeMs, true);
    });
    QObject::connect(&window->faders(), &FaderController::fadeEnded,
                     [] { QTimer::singleShot(200, [] { QCoreApplication::exit(0); }); });
    window->link().ConnectSwitcher();
    QApplication::exec();
    qint64 worst = 0;
    for (qsizetype k = 1; k < sent.size(); ++k)
        worst = std::max(worst, sent[k] - sent[k - 1] - 20);
    std::printf(
        "fade 10 s%s: %lld commands, largest step lateness %lld ms, last command at %lld "
        "ms (asked %lld ms)\n",
        megabytes > 0
            ? qPrintable(QStringLiteral(", traffic log open under a %1 MB flood").arg(megabytes))
            : ", quiet",
        static_cast<long long>(sent.size()), static_cast<long long>(worst),
        static_cast<long long>(sent.isEmpty() ? -1 : sent.last()), static_cast<long long>(kFadeMs));
    window->link().DisconnectSwitcher();
    delete window;
    return 0;
}

int recall(const QString &simPath) {
    QProcess sim;
    sim.start(simPath, {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--inputs"),
                        QStringLiteral("1025"), QStringLiteral("--quiet")});
    QString out;
    static const QRegularExpression listening(
        QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    while (!listening.match(out).hasMatch() && sim.waitForReadyRead(5000))
        out += QString::fromUtf8(sim.readAllStandardOutput());
    const quint16 port = listening.match(out).captured(1).toUShort();
    if (port == 0)
        return 1;

    QTemporaryDir dir;
    auto *window = new frmMain(dir.filePath(QStringLiteral("bench.ini")));
    window->link().setTarget(QStringLiteral("127.0.0.1"), port);
    window->show();
    QElapsedTimer clock;
    QList<QPair<qint64, int>> sent;
    QObject::connect(&window->link(), &SwitcherLink::messageSent, [&](const QByteArray &m) {
        if (m.startsWith('\xE3') && clock.isValid())
            sent.append({clock.elapsed(), int(m.size())});
    });
    ScenesMenu &scenes = window->scenes();
    scenes.load(dir.filePath(QStringLiteral("bench.ini")));
    qint64 tookMs = -1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!clock.isValid() && window->link().reportedGain(1, 1024, 0) != 0) {
            scenes.storeScene(QStringLiteral("All"), true);
            Scene all = scenes.store().scenes().value(0);
            for (auto &gain : all.gains)
                gain.second = gain.second == 700 ? 701 : 700;
            SceneFile::Write(scenes.store().path(), {all});
            scenes.load(dir.filePath(QStringLiteral("bench.ini")));
            clock.start();
            scenes.recall(QStringLiteral("All"));
        } else if (clock.isValid() && !scenes.recalling() && tookMs < 0) {
            tookMs = clock.elapsed();
            QCoreApplication::exit(0);
        }
    });
    poll.start(1);
    window->link().ConnectSwitcher();
    QApplication::exec();
    int most = 0;
    for (qsizetype a = 0, b = 0, bytes = 0; b < sent.size(); ++b) {
        bytes += sent[b].second;
        while (sent[b].first - sent[a].first >= 10)
            bytes -= sent[a++].second;
        most = std::max(most, int(bytes));
    }
    std::printf("whole-switcher recall: %lld set-gain commands in %lld ms, at most %d bytes "
                "written in any 10 ms\n",
                static_cast<long long>(sent.size()), static_cast<long long>(tookMs), most);
    window->link().DisconnectSwitcher();
    delete window;
    sim.terminate();
    sim.waitForFinished();
    return 0;
}

} // namespace

int main(int argc, char *argv[]) {
    Offscreen::Use();
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.value(1) == QLatin1String("fade"))
        return fade(args);
    if (args.value(1) == QLatin1String("recall") && args.size() > 2)
        return recall(args.value(2));
    std::fprintf(stderr, "usage: fade-recall fade [--flood MEGABYTES] | recall SIM\n");
    return 2;
}
