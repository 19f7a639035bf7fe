#include "app/PanelStyle.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStyleOption>
#include <QWidget>

namespace {

// Two chevrons pointing the way the menus overflow, in the palette's text colour.
QIcon Chevrons(bool horizontal, const QColor &colour) {
    QIcon icon;
    for (const int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(colour, size / 10.0));
        const qreal s = size;
        QPainterPath path;
        for (const qreal at : {0.3, 0.55}) {
            path.moveTo(at * s, 0.3 * s);
            path.lineTo((at + 0.15) * s, 0.5 * s);
            path.lineTo(at * s, 0.7 * s);
        }
        if (!horizontal)
            path = QTransform(0, 1, 1, 0, 0, 0).map(path); // mirrored across the diagonal
        painter.drawPath(path);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

void PanelStyle::Install() {
    QApplication::setStyle(new PanelStyle(QApplication::style()->name()));
}

PanelStyle::PanelStyle(const QString &baseStyle) : QProxyStyle(baseStyle) {}

QIcon PanelStyle::standardIcon(StandardPixmap which, const QStyleOption *option,
                               const QWidget *widget) const {
    if (which == SP_ToolBarHorizontalExtensionButton ||
        which == SP_ToolBarVerticalExtensionButton) {
        const QPalette palette = option   ? option->palette
                                 : widget ? widget->palette()
                                          : QApplication::palette();
        return Chevrons(which == SP_ToolBarHorizontalExtensionButton,
                        palette.color(QPalette::ButtonText));
    }
    return QProxyStyle::standardIcon(which, option, widget);
}
