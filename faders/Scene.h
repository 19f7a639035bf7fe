#pragma once

// Scenes: the gains the switcher last reported, stored under a name to be recalled later, and
// the file that keeps them.
//
// The file is JSON, beside the settings file in use ("Slider.ini" keeps its scenes in
// "Slider.scenes.json"); an exported scene is a file of the same form holding one scene:
//
//   {
//     "format": "dual-slider-scenes",
//     "version": 1,
//     "scenes": [
//       { "name": "Show", "type": 1, "outChan": 1, "wholeSwitcher": false,
//         "gains": [ { "channel": 3, "gain": 964 }, { "channel": 4, "gain": 964 } ] }
//     ]
//   }
//
// Channels and outChan are counted from 1, as on screen; gains are the switcher's values
// (0.1 dB units, 1024 = 0 dB), 0..16383 as a report may carry them. type is 1 (input),
// 3 (output) or 10 (DSP). Keys other than these are ignored, so a later version may add some.
//
// A file is taken whole or not at all: one bad entry refuses the file with a reason that
// names it, and a store that could not read its file never writes over it.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QtGlobal>

// A channel (0-based) and a gain value.
using ChannelGain = QPair<qint16, qint16>;

struct Scene {
    QString name;
    qint16 type = 1;            // gain type the gains were stored with
    qint16 outChan = 0;         // 0-based output channel (DSP gains)
    bool wholeSwitcher = false; // every gain reported, not only the faders' channels
    QList<ChannelGain> gains;   // 0-based channel and gain, in channel order, no channel twice

    bool operator==(const Scene &) const = default;
};

namespace SceneFile {

inline constexpr char kFormatTag[] = "dual-slider-scenes";
inline constexpr int kVersion = 1;
// A whole-switcher scene of 1025 channels takes about 30 KiB; this is room for hundreds.
inline constexpr qint64 kMaxFileBytes = 32 * 1024 * 1024;
inline constexpr int kMaxNameLength = 100;

enum class Failure {
    None,
    Unreadable, // a folder, no permission, an I/O error, larger than kMaxFileBytes
    NotJson,    // not a JSON document
    Foreign,    // JSON, but not a scene file (no or another format tag, no version)
    Newer,      // a scene file of a later format version
    BadEntry,   // a scene file with an entry this version cannot take
};

struct ReadResult {
    QList<Scene> scenes;
    Failure failure = Failure::None;
    QString reason; // one sentence for the user; empty with Failure::None

    bool ok() const { return failure == Failure::None; }
};

struct WriteResult {
    bool ok = true;
    QString reason;
};

// The scene file that goes with a settings file: same folder, same base name.
QString PathBeside(const QString &settingsPath);

// Why a name cannot name a scene (empty, blank at either end, control characters, longer than
// kMaxNameLength); empty when it can.
QString NameProblem(const QString &name);

// The file's bytes for scenes, and the scenes of a file's bytes.
QByteArray Encode(const QList<Scene> &scenes);
ReadResult Decode(const QByteArray &bytes);

// The scenes in the file at path; a missing file holds none and is no failure.
ReadResult Read(const QString &path);

// Replaces the file at path with scenes in one step (a temporary file renamed over it), so
// that it holds either the old scenes or the new ones. Scenes that would not read back (a
// bad name, channel, output channel or gain) are refused and the file is left as it was.
WriteResult Write(const QString &path, const QList<Scene> &scenes);

// Where a scene named name stands in scenes; -1 when none does.
qsizetype IndexOf(const QList<Scene> &scenes, const QString &name);

// name when no scene is called so, otherwise the first free "name (2)", "name (3)", ...
QString UniqueName(const QList<Scene> &scenes, const QString &name);

} // namespace SceneFile
