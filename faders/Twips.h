#pragma once

#include <QFont>
#include <QWidget>

// Form geometry is kept in twips, the unit the layout was drawn in. At 96 dpi a pixel is 15
// twips; Qt scales device-independent pixels on high-dpi screens by itself.
namespace Twips {

inline constexpr int kPerPixel = 15;

constexpr int px(int twips) {
    return (twips + kPerPixel / 2) / kPerPixel;
}

// The forms were drawn for a small system font, in which every caption fitted its control.
// Today's desktop fonts run wider; a notch smaller keeps the longest captions whole.
inline constexpr qreal kDrawnFontScale = 0.9;

inline void UseDrawnFontSize(QWidget *widget) {
    QFont font = widget->font();
    font.setPointSizeF(font.pointSizeF() * kDrawnFontScale);
    widget->setFont(font);
}

} // namespace Twips
