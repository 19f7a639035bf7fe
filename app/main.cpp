#include "app/frmMain.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dual Slider"));
    QApplication::setApplicationVersion(QStringLiteral("1.02"));

    frmMain window;
    window.Form_Load();
    window.show();
    return QApplication::exec();
}
