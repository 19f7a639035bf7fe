#pragma once

// Writes, reads or removes the Slider.ini that the program reads beside its executable.

#include "app/frmMain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

namespace TestSupport {

inline void writeSettingsFile(const QByteArray &contents) {
    QFile file(frmMain::DefaultSettingsPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(file.fileName()));
    file.write(contents);
}

// Removes whatever stands there: a file, a link (never its target) or a folder.
inline void removeSettingsFile() {
    const QFileInfo there(frmMain::DefaultSettingsPath());
    if (there.isDir() && !there.isSymLink())
        QDir(there.filePath()).removeRecursively();
    else
        QFile::remove(there.filePath());
}

inline QByteArray readSettingsFile() {
    QFile file(frmMain::DefaultSettingsPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace TestSupport
