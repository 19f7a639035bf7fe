#include "config/DiskWork.h"

#include <QCoreApplication>

// Placeholder until the settings file lands.
namespace DiskWork {
QString SettingsPath() { return QCoreApplication::applicationDirPath() + "/Slider.ini"; }
void ReadSettings() { ReadSettings(SettingsPath()); }
void WriteSettings() { WriteSettings(SettingsPath()); }
void ReadSettings(const QString &) {}
void WriteSettings(const QString &) {}
} // namespace DiskWork
