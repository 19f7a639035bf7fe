#pragma once

// The settings file Slider.ini beside the executable.

#include <QString>

namespace DiskWork {

// Full path of Slider.ini in the executable's directory.
QString SettingsPath();

// Fill the settings of the program state from the file / store them into it.
void ReadSettings();
void WriteSettings();

// The same against another file (tests, tools).
void ReadSettings(const QString &path);
void WriteSettings(const QString &path);

} // namespace DiskWork
