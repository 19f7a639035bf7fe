#include "config/SettingsLocation.h"

#include "config/DiskWork.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace SettingsLocation {

bool FolderTakesFiles(const QString &folder) {
    if (!QFileInfo(folder).isDir())
        return false;
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".write-probe-XXXXXX")));
    return probe.open(); // removed again when probe goes
}

bool IsInstalledCopy(const QString &programDir, const QString &desktopId) {
    const QDir bin(programDir);
    if (bin.dirName() != QLatin1String("bin"))
        return false;
    return QFileInfo::exists(bin.filePath(QStringLiteral("../share/applications/") + desktopId +
                                          QStringLiteral(".desktop")));
}

Search Search::ForThisProgram(const QString &desktopId) {
    Search search;
    search.programDir = QCoreApplication::applicationDirPath();
    search.installed = IsInstalledCopy(search.programDir, desktopId);
    QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::AppConfigLocation);
    search.userDir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    dirs.removeAll(search.userDir);
    search.systemDirs = dirs;
    search.canWrite = FolderTakesFiles;
    return search;
}

Place Choose(const Search &search) {
    // The file is saved by replacing it with a new one, so what counts is whether its folder
    // takes files, whether or not the file itself could be written in place.
    const QString beside = DiskWork::SettingsPathIn(search.programDir);
    if (!search.installed && search.canWrite && search.canWrite(search.programDir))
        return {beside, beside};

    const QString own = DiskWork::SettingsPathIn(search.userDir);
    if (QFileInfo::exists(own))
        return {own, own};
    if (QFileInfo::exists(beside))
        return {own, beside};
    for (const QString &dir : search.systemDirs) {
        const QString shared = DiskWork::SettingsPathIn(dir);
        if (QFileInfo::exists(shared))
            return {own, shared};
    }
    return {own, QString()};
}

} // namespace SettingsLocation
