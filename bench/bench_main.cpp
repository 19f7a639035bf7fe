// Google Benchmark's main, with a QApplication on the offscreen platform for the cases that
// need a real main window.

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {

// The offscreen platform warns about every fixed-size window it is asked to show; that noise
// would bury the results.
void QuietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    if (message.contains(QLatin1String("propagateSizeHints")))
        return;
    qt_message_output(type, context, message);
}

} // namespace

int main(int argc, char *argv[]) {
    qInstallMessageHandler(QuietHandler);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dual Slider"));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
