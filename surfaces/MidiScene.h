#pragma once

// A MIDI button that recalls a scene, as the settings file keeps it:
//
//   MIDI Scene 1=note C N <scene name>     (keys MIDI Scene 1 .. MIDI Scene 8)
//   MIDI Scene 2=cc C N <scene name>
//
// The first three words are a button binding (see MidiBinding.h); the rest of the line, blanks
// inside it kept and blanks around it dropped, is the name of the scene to recall. A line
// without a name does not parse.

#include "surfaces/MidiBinding.h"

#include <QString>
#include <variant>

namespace Midi {

inline constexpr int kSceneKeys = 8;

struct SceneBinding {
    ButtonBinding button;
    QString scene;
    friend bool operator==(const SceneBinding &, const SceneBinding &) = default;
};

using SceneParse = std::variant<SceneBinding, BindingError>;

SceneParse ParseSceneBinding(const QString &text);
QString ToText(const SceneBinding &binding);

} // namespace Midi
