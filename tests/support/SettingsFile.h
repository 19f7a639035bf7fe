#pragma once

// Writes or removes the Slider.ini that the program reads beside its executable.

#include "config/DiskWork.h"

#include <QFile>
#include <QString>

namespace TestSupport {

inline void writeSettingsFile(const QByteArray &contents) {
    QFile file(DiskWork::SettingsPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(file.fileName()));
    file.write(contents);
}

inline void removeSettingsFile() {
    QFile::remove(DiskWork::SettingsPath());
}

inline QByteArray readSettingsFile() {
    QFile file(DiskWork::SettingsPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace TestSupport
