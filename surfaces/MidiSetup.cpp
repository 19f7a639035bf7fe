#include "surfaces/MidiSetup.h"

namespace Midi {

namespace {

const QString kInputKey = QStringLiteral("MIDI Input");
const QString kOutputKey = QStringLiteral("MIDI Output");

QString NumberedKey(const char *name, int index) {
    return QStringLiteral("MIDI %1 %2").arg(QLatin1String(name)).arg(index + 1);
}

const QString kLockKey = QStringLiteral("MIDI Lock");

template <typename Binding, typename Parse>
std::optional<Binding> Read(const QString &key, const QString &text, Parse parse,
                            MidiSetup &setup) {
    const auto parsed = parse(text);
    if (const auto *error = std::get_if<BindingError>(&parsed)) {
        if (!error->blank) {
            setup.problems.append(
                QStringLiteral("%1=%2: %3").arg(key, text.trimmed(), error->reason));
            setup.unparsed.insert(key, text);
        }
        return std::nullopt;
    }
    return std::get<Binding>(parsed);
}

template <typename Binding>
QPair<QString, QString> Entry(const MidiSetup &setup, const QString &key,
                              const std::optional<Binding> &binding) {
    return {key, binding ? ToText(*binding) : setup.unparsed.value(key)};
}

} // namespace

MidiSetup ReadMidiSetup(const std::function<QString(const QString &key)> &value) {
    MidiSetup setup;
    setup.input = value(kInputKey).trimmed();
    setup.output = value(kOutputKey).trimmed();
    const auto fader = [&](const QString &key) {
        return Read<FaderBinding>(key, value(key), ParseFaderBinding, setup);
    };
    const auto button = [&](const QString &key) {
        return Read<ButtonBinding>(key, value(key), ParseButtonBinding, setup);
    };
    for (int i = 0; i < 2; ++i)
        setup.faders[i] = fader(NumberedKey("Fader", i));
    for (int i = 0; i < 2; ++i)
        setup.zero[i] = button(NumberedKey("Zero", i));
    for (int i = 0; i < 2; ++i)
        setup.stereo[i] = button(NumberedKey("Stereo", i));
    setup.lock = button(kLockKey);
    return setup;
}

QList<QPair<QString, QString>> MidiSetupEntries(const MidiSetup &setup) {
    QList<QPair<QString, QString>> entries{{kInputKey, setup.input}, {kOutputKey, setup.output}};
    for (int i = 0; i < 2; ++i)
        entries.append(Entry(setup, NumberedKey("Fader", i), setup.faders[i]));
    for (int i = 0; i < 2; ++i)
        entries.append(Entry(setup, NumberedKey("Zero", i), setup.zero[i]));
    for (int i = 0; i < 2; ++i)
        entries.append(Entry(setup, NumberedKey("Stereo", i), setup.stereo[i]));
    entries.append(Entry(setup, kLockKey, setup.lock));
    return entries;
}

} // namespace Midi
