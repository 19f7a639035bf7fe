#pragma once

// Which settings file a run uses, decided once at start-up.
//
// A copy of the program run from a folder it may write to (the build tree, a folder it was
// unpacked to) keeps Slider.ini beside its executable, as it always has: portable use, and
// every stored file keeps working. An installed program, and one whose folder cannot be
// written, keeps its settings in the user's own configuration folder instead; until that file
// exists, it starts from a Slider.ini beside the executable (read only), else from the first
// one in the system's configuration folders, else from the start-up values. Nothing is ever
// written beside an installed or read-only executable, nor into a system folder.

#include <QString>
#include <QStringList>
#include <functional>

namespace SettingsLocation {

struct Place {
    QString path;     // the file read at start-up and written at Setup's OK and at exit
    QString readFrom; // the file start-up reads: path, or a file to start from while path
                      // does not exist yet; empty when there is none (start-up values)
};

// What the decision looks at. The defaults describe this program on this machine; tests
// give their own.
struct Search {
    QString programDir;     // the folder of the executable
    bool installed = false; // the executable is an installed copy (see IsInstalledCopy)
    QString userDir;        // the per-user configuration folder of the program
    QStringList systemDirs; // the system-wide configuration folders, in order of preference
    // Whether a folder can take a new file. Decided by trying, which also holds for root,
    // for whom permission bits mean little.
    std::function<bool(const QString &folder)> canWrite;

    // This program on this machine; desktopId names its desktop entry.
    static Search ForThisProgram(const QString &desktopId);
};

// A folder can take a file when a file can be created in it (and is removed again at once).
bool FolderTakesFiles(const QString &folder);

// An installed copy sits in a "bin" folder beside the "share" folder that holds its desktop
// entry, as `cmake --install` and the package put it.
bool IsInstalledCopy(const QString &programDir, const QString &desktopId);

Place Choose(const Search &search);

} // namespace SettingsLocation
