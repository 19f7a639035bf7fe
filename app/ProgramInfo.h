#pragma once

// Who the program is: its names, its version and the id its desktop entry and metadata carry.

#include <QString>

namespace ProgramInfo {

// The name users see: message box titles.
inline const QString kDisplayName = QStringLiteral("Dual Slider");
// The program's own name: its executable, its configuration folder, --version.
inline const QString kName = QStringLiteral("dual-slider");
inline const QString kVersion = QStringLiteral(DS_VERSION); // the project version in CMake
// The desktop entry, icon and AppStream metadata are named after this id.
inline const QString kDesktopId = QStringLiteral("org.dualslider.DualSlider");

} // namespace ProgramInfo
