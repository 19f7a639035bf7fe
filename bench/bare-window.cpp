// Baseline for the start-up and memory figures: a Qt Widgets window holding one slider and
// nothing else (or, with --with-text, one slider and one caption). Prints "app" once QApplication
// exists, "shown" after its first frame and "settled" a second later, then quits.

#include "ProbeReport.h"

#include <QApplication>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>
#include <cstring>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    ProbeReport::Print("app");
    // --with-text adds one caption: the first text a Qt window lays out sets up the font
    // database, which a window of sliders alone never does.
    const bool withText = argc > 1 && std::strcmp(argv[1], "--with-text") == 0;
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare"));
    auto *layout = new QVBoxLayout(&window);
    auto *slider = new QSlider(Qt::Vertical, &window);
    slider->setRange(-1264, -24);
    layout->addWidget(slider);
    if (withText)
        layout->addWidget(new QLabel(QStringLiteral("Gain (0db)"), &window));
    new ProbeReport::FirstFrame(&window, [] {
        ProbeReport::Print("shown");
        QTimer::singleShot(1000, [] {
            ProbeReport::Print("settled");
            QCoreApplication::quit();
        });
    });
    window.show();
    return QApplication::exec();
}
