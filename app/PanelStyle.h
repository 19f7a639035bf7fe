#pragma once

// The panel's style: the desktop's own, with one difference that only start-up notices.
//
// Every menu bar asks its style for the overflow arrow, and Qt's styles read that arrow from
// image files without saying which format they are in, which makes Qt load and ask every image
// format plugin it can find (JPEG, GIF, icons...): about 2 ms of every start, for an arrow the
// panel never shows, since its window is as wide as its menus. Here the arrow is drawn instead.

#include <QProxyStyle>

class PanelStyle : public QProxyStyle {
    Q_OBJECT

  public:
    // Makes it the application's style, over the one the application would use otherwise (the
    // desktop's, or the one -style names).
    static void Install();

    explicit PanelStyle(const QString &baseStyle);

    QIcon standardIcon(StandardPixmap which, const QStyleOption *option = nullptr,
                       const QWidget *widget = nullptr) const override;
};
