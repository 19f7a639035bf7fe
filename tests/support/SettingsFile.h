#pragma once

// Writes, reads or removes the Slider.ini that the program reads beside its executable.

#include "config/DiskWork.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

namespace TestSupport {

inline void writeSettingsFile(const QByteArray &contents) {
    QFile file(DiskWork::SettingsPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(file.fileName()));
    file.write(contents);
}

// Removes whatever stands there: a file, a link (never its target) or a folder.
inline void removeSettingsFile() {
    const QFileInfo there(DiskWork::SettingsPath());
    if (there.isDir() && !there.isSymLink())
        QDir(there.filePath()).removeRecursively();
    else
        QFile::remove(there.filePath());
}

inline QByteArray readSettingsFile() {
    QFile file(DiskWork::SettingsPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace TestSupport
