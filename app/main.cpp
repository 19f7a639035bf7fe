#include "app/CloseOnSignal.h"
#include "app/CommandLine.h"
#include "app/PanelStyle.h"
#include "app/ProgramInfo.h"
#include "app/SingleInstance.h"
#include "app/TraceFile.h"
#include "app/frmMain.h"
#include "config/SettingsLocation.h"

#include <QApplication>
#include <QIcon>
#include <QImageReader>
#include <QPixmap>
#include <cstdio>

namespace {

// The program's own icon, in the sizes it was drawn for. Read as the PNG files they are, and as
// nothing else: otherwise Qt loads every image format plugin it finds to ask whether it reads
// them better, about 2 ms of every start.
QIcon ProgramIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        QImageReader png(
            QStringLiteral(":/icons/%1x%1/%2.png").arg(size).arg(ProgramInfo::kDesktopId), "png");
        png.setAutoDetectImageFormat(false);
        icon.addPixmap(QPixmap::fromImage(png.read()));
    }
    return icon;
}

void Print(std::FILE *stream, const QString &text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
}

} // namespace

int main(int argc, char *argv[]) {
    CatchTermination();
    QCoreApplication::setApplicationName(ProgramInfo::kName);
    QCoreApplication::setApplicationVersion(ProgramInfo::kVersion);

    // The command line is read before any window system is touched: --help, --version and a
    // wrong option need no display.
    CommandLine cli;
    {
        const QCoreApplication parsing(argc, argv);
        cli = CommandLine::Parse(QCoreApplication::arguments());
    }
    if (cli.action == CommandLine::Action::Exit) {
        Print(stdout, cli.output);
        Print(stderr, cli.error);
        return cli.exitCode;
    }
    // A trace that was asked for and cannot be written stops the start, before any window.
    TraceFile trace;
    if (!cli.traceFile.isEmpty() && !trace.open(cli.traceFile)) {
        Print(stderr, QStringLiteral("%1: cannot write the trace to %2: %3\n")
                          .arg(ProgramInfo::kName, cli.traceFile, trace.error()));
        return 1;
    }

    QApplication app(argc, argv);
    PanelStyle::Install();
    QGuiApplication::setDesktopFileName(ProgramInfo::kDesktopId);
    QApplication::setWindowIcon(ProgramIcon());

    const SettingsLocation::Place place =
        cli.settingsFile.isEmpty()
            ? SettingsLocation::Choose(
                  SettingsLocation::Search::ForThisProgram(ProgramInfo::kDesktopId))
            : SettingsLocation::Place{cli.settingsFile, cli.settingsFile};
    // One panel per settings file: a second one brings the first to the front and leaves.
    SingleInstance single(place.path);
    switch (single.claim()) {
    case SingleInstance::Claim::First:
        break;
    case SingleInstance::Claim::Running:
        return 0;
    case SingleInstance::Claim::NoAnswer:
        Print(stderr, QStringLiteral("%1: another panel is running on %2 and does not answer; "
                                     "not starting a second one.\n")
                          .arg(ProgramInfo::kName, place.path));
        return 1;
    case SingleInstance::Claim::Failed:
        // Nowhere to keep the lock (no runtime folder): run, as before there was one.
        Print(stderr, QStringLiteral("%1: cannot guard %2 against a second panel: %3\n")
                          .arg(ProgramInfo::kName, place.path, single.error()));
        break;
    }
    frmMain window(place);
    QObject::connect(&single, &SingleInstance::raiseRequested, &window, &frmMain::comeForward);
    window.setWindowTitle(cli.windowCaption());
    CloseOnSignal(&window, [&window] { window.closeForSignal(); });
    // Before Form_Load, which starts the first connection.
    trace.watch(window.link());
    window.Form_Load();
    window.show();
    return QApplication::exec();
}
