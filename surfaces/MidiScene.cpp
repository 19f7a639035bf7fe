#include "surfaces/MidiScene.h"

namespace Midi {

SceneParse ParseSceneBinding(const QString &text) {
    // Three words, then the name: everything after the blanks that follow the third word. A
    // plain scan, not a pattern: every start reads the scene keys, mostly empty.
    qsizetype end = 0;
    for (int word = 0; word < 3; ++word) {
        while (end < text.size() && text.at(end).isSpace())
            ++end;
        while (end < text.size() && !text.at(end).isSpace())
            ++end;
    }
    const ButtonParse button = ParseButtonBinding(text.left(end));
    if (const auto *error = std::get_if<BindingError>(&button))
        return *error;
    const QString scene = text.mid(end).trimmed();
    if (scene.isEmpty())
        return BindingError{QStringLiteral("scene name missing"), false};
    return SceneBinding{std::get<ButtonBinding>(button), scene};
}

QString ToText(const SceneBinding &binding) {
    return ToText(binding.button) + QLatin1Char(' ') + binding.scene;
}

} // namespace Midi
