#pragma once

// Form geometry is kept in twips, the unit the layout was drawn in. At 96 dpi a pixel is 15
// twips; Qt scales device-independent pixels on high-dpi screens by itself.
namespace Twips {

inline constexpr int kPerPixel = 15;

constexpr int px(int twips) {
    return (twips + kPerPixel / 2) / kPerPixel;
}

} // namespace Twips
