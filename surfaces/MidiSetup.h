#pragma once

// The MIDI entries of the settings file's [SURFACES] section, read into bindings and written
// back in canonical form:
//
//   MIDI Input=ctl:out                   port names as the MIDI system lists them (empty: none)
//   MIDI Output=ctl:in
//   MIDI Fader 1=pitchbend 1 motor       MIDI Fader 2=...
//   MIDI Zero 1=note 1 60                MIDI Zero 2, MIDI Stereo 1, MIDI Stereo 2, MIDI Lock
//
// A line that does not parse counts as missing; its problem names the line and the reason, for
// the window to show. A blank value is simply unbound. Such a line is not lost when the settings
// are saved: it is written back as it was until its control is bound or unbound anew.

#include "surfaces/MidiBinding.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <optional>

namespace Midi {

inline constexpr char kSurfacesSection[] = "SURFACES";

struct MidiSetup {
    QString input;
    QString output;
    std::array<std::optional<FaderBinding>, 2> faders;
    std::array<std::optional<ButtonBinding>, 2> zero;
    std::array<std::optional<ButtonBinding>, 2> stereo;
    std::optional<ButtonBinding> lock;
    // "MIDI Fader 1=cc 17 7: channel 17 is not 1-16", in the order of the keys above.
    QStringList problems;
    // Key -> text of each line that did not parse. Remove a key's entry when the operator binds
    // or unbinds its control.
    QHash<QString, QString> unparsed;
};

// Reads the entries through `value`, which gives a key's text (empty when the key is missing).
MidiSetup ReadMidiSetup(const std::function<QString(const QString &key)> &value);

// Every key with the text to write for it, in the order above: the canonical line of a binding,
// the kept text of a line that did not parse, or empty.
QList<QPair<QString, QString>> MidiSetupEntries(const MidiSetup &setup);

} // namespace Midi
