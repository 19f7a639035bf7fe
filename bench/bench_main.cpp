// Google Benchmark's main, with a QApplication on the offscreen platform for the cases that
// need a real main window.

#include "Offscreen.h"
#include <QApplication>
#include <benchmark/benchmark.h>

int main(int argc, char *argv[]) {
    Offscreen::Use();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dual Slider"));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
