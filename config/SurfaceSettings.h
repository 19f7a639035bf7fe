#pragma once

// The control-surface settings: section "SURFACES" of the settings file.
//
//   OSC Enabled   0 or 1 (default 0: no port is opened unless asked for)
//   OSC Port      1..65535 (default 9000, the port OSC surface apps commonly send to)
//   OSC Address   the address to listen on (default 127.0.0.1: this machine only)
//   OSC Allowed   addresses or networks that may send, comma-separated; empty: anyone who can
//                 reach the port
//   MIDI Input, MIDI Output, MIDI Fader 1, MIDI Fader 2, MIDI Zero 1, MIDI Zero 2,
//   MIDI Stereo 1, MIDI Stereo 2, MIDI Lock, MIDI Scene 1 .. MIDI Scene 8: kept as text here,
//                 read by the MIDI side (a scene key is written only while it holds something)
//
// A missing file, section or key reads as its default. A value that is not what its key takes
// reads as the default too and is named in the problems, for a window to show. The address and
// the allowed list are text here; the listener checks them when it starts.

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <array>

struct SurfaceSettings {
    static constexpr quint16 kDefaultOscPort = 9000;
    static inline const QString kDefaultOscAddress = QStringLiteral("127.0.0.1");

    bool oscEnabled = false;
    quint16 oscPort = kDefaultOscPort;
    QString oscAddress = kDefaultOscAddress;
    QString oscAllowed;

    QString midiInput;
    QString midiOutput;
    QString midiFader1;
    QString midiFader2;
    QString midiZero1;
    QString midiZero2;
    QString midiStereo1;
    QString midiStereo2;
    QString midiLock;
    std::array<QString, 8> midiScenes;

    bool operator==(const SurfaceSettings &) const = default;

    // The raw line of a MIDI key ("MIDI Fader 1", ...; not the scene keys), or none for any
    // other key.
    QString *midiLine(const QString &key);
};

namespace DiskWork {

struct SurfaceSettingsRead {
    SurfaceSettings settings;
    QStringList problems; // one line per value that read as its default instead, and so on
};

// The section from the file at path. A file that cannot be read as text gives the defaults and
// a problem saying so; a missing file gives the defaults and no problem.
SurfaceSettingsRead ReadSurfaceSettings(const QString &path);

// Stores the section's keys into the file at path, keeping every other section, key and comment;
// false when the file could not be written (it is then as it was).
bool WriteSurfaceSettings(const QString &path, const SurfaceSettings &settings);

// The same for the MIDI keys alone (the MIDI window's changes): the OSC keys stay as the file
// has them, even where they do not read as valid.
bool WriteMidiSurfaceSettings(const QString &path, const SurfaceSettings &settings);

} // namespace DiskWork
