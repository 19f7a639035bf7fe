#include "surfaces/MidiScene.h"

#include <QRegularExpression>

namespace Midi {

SceneParse ParseSceneBinding(const QString &text) {
    // Three words, then the name: everything after the blanks that follow the third word.
    static const QRegularExpression form(
        QStringLiteral("^\\s*(\\S+\\s+\\S+\\s+\\S+)(?:\\s+(.*\\S))?\\s*$"),
        QRegularExpression::DotMatchesEverythingOption);
    const auto match = form.match(text);
    const ButtonParse button = ParseButtonBinding(match.hasMatch() ? match.captured(1) : text);
    if (const auto *error = std::get_if<BindingError>(&button))
        return *error;
    const QString scene = match.captured(2);
    if (scene.isEmpty())
        return BindingError{QStringLiteral("scene name missing"), false};
    return SceneBinding{std::get<ButtonBinding>(button), scene};
}

QString ToText(const SceneBinding &binding) {
    return ToText(binding.button) + QLatin1Char(' ') + binding.scene;
}

} // namespace Midi
