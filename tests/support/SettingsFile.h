#pragma once

// Writes, reads or removes the Slider.ini that the program reads beside its executable; what a
// fresh file holds, and the six settings as one line.

#include "app/frmMain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

namespace TestSupport {

// What a save of the start-up values puts into a fresh file.
inline const QByteArray kFreshFile = "[CONFIGURATION]\nType=1\nChan 1=1\nChan 2=2\nOut Chan=1\n"
                                     "IP Address=127.0.0.1\nIP Port=1250\n";

// The six settings as "type chan0 chan1 outChan address port", so a mismatch shows them all.
inline QString SettingsText(const Settings &settings) {
    const auto &[iType, iChan, iOutChan, sIPAddress, lIPPort] = settings;
    return QStringLiteral("%1 %2 %3 %4 %5 %6")
        .arg(QString::number(iType), QString::number(iChan[0]), QString::number(iChan[1]),
             QString::number(iOutChan), sIPAddress, QString::number(lIPPort));
}

// A file's bytes; none when it cannot be read.
inline QByteArray FileBytes(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces a file's bytes; a file that cannot be written ends the test run.
inline void writeFile(const QString &path, const QByteArray &contents) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(path));
}

inline void writeSettingsFile(const QByteArray &contents) {
    writeFile(frmMain::DefaultSettingsPath(), contents);
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
    return FileBytes(frmMain::DefaultSettingsPath());
}

} // namespace TestSupport
