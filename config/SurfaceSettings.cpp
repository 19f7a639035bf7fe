#include "config/SurfaceSettings.h"

#include "config/IniDocument.h"

#include <QByteArray>
#include <array>
#include <optional>
#include <utility>

namespace DiskWork {
namespace {

const char *const kSection = "SURFACES";
const char *const kKeyEnabled = "OSC Enabled";
const char *const kKeyPort = "OSC Port";
const char *const kKeyAddress = "OSC Address";
const char *const kKeyAllowed = "OSC Allowed";

// The text keys, in the order they are written.
using TextField = QString SurfaceSettings::*;
const std::array<std::pair<const char *, TextField>, 9> kMidiKeys{{
    {"MIDI Input", &SurfaceSettings::midiInput},
    {"MIDI Output", &SurfaceSettings::midiOutput},
    {"MIDI Fader 1", &SurfaceSettings::midiFader1},
    {"MIDI Fader 2", &SurfaceSettings::midiFader2},
    {"MIDI Zero 1", &SurfaceSettings::midiZero1},
    {"MIDI Zero 2", &SurfaceSettings::midiZero2},
    {"MIDI Stereo 1", &SurfaceSettings::midiStereo1},
    {"MIDI Stereo 2", &SurfaceSettings::midiStereo2},
    {"MIDI Lock", &SurfaceSettings::midiLock},
}};

QByteArray SceneKey(std::size_t n) {
    return "MIDI Scene " + QByteArray::number(qulonglong(n + 1));
}

// The key's text, or none when the key is absent.
std::optional<QString> ValueOf(const IniDocument &doc, const char *key) {
    const char *value = doc.ini.GetValue(kSection, key, nullptr);
    if (!value)
        return std::nullopt;
    return QString::fromUtf8(value).trimmed();
}

// Plain decimal digits only: no sign, blanks, exponent or trailing text.
std::optional<quint32> Digits(const QString &text) {
    if (text.isEmpty() || text.size() > 9)
        return std::nullopt;
    for (const QChar c : text)
        if (c < u'0' || c > u'9')
            return std::nullopt;
    return text.toUInt();
}

QString Problem(const char *key, const QString &value, const QString &rule,
                const QString &fallback) {
    return QStringLiteral("%1: \"%2\" is not %3; using %4")
        .arg(QString::fromLatin1(key), value, rule, fallback);
}

// The text as it may stand on one INI line (no line breaks, NULs or other control characters
// that would split it or cut it short).
QByteArray LineText(const QString &text) {
    QString clean;
    clean.reserve(text.size());
    for (const QChar c : text)
        if (c.unicode() >= 0x20 && c.unicode() != 0x7F)
            clean.append(c);
    return clean.trimmed().toUtf8();
}

} // namespace

SurfaceSettingsRead ReadSurfaceSettings(const QString &path) {
    SurfaceSettingsRead read;
    SurfaceSettings &s = read.settings;
    IniDocument doc;
    const IniLoad load = LoadIni(path, doc);
    if (load == IniLoad::Missing)
        return read;
    if (load != IniLoad::Loaded) {
        read.problems << QStringLiteral("The settings file could not be read; using the defaults");
        return read;
    }

    if (const auto enabled = ValueOf(doc, kKeyEnabled); enabled && !enabled->isEmpty()) {
        if (*enabled == u"0" || *enabled == u"1")
            s.oscEnabled = *enabled == u"1";
        else
            read.problems << Problem(kKeyEnabled, *enabled, QStringLiteral("0 or 1"),
                                     QStringLiteral("0"));
    }
    if (const auto port = ValueOf(doc, kKeyPort); port && !port->isEmpty()) {
        const auto number = Digits(*port);
        if (number && *number >= 1 && *number <= 65535)
            s.oscPort = quint16(*number);
        else
            read.problems << Problem(kKeyPort, *port, QStringLiteral("a port (1 to 65535)"),
                                     QString::number(SurfaceSettings::kDefaultOscPort));
    }
    if (const auto address = ValueOf(doc, kKeyAddress); address && !address->isEmpty())
        s.oscAddress = *address;
    if (const auto allowed = ValueOf(doc, kKeyAllowed))
        s.oscAllowed = *allowed;
    for (const auto &[key, field] : kMidiKeys)
        if (const auto value = ValueOf(doc, key))
            s.*field = *value;
    for (std::size_t n = 0; n < s.midiScenes.size(); ++n)
        if (const auto value = ValueOf(doc, SceneKey(n).constData()))
            s.midiScenes[n] = *value;
    return read;
}

namespace {

bool Store(const QString &path, const SurfaceSettings &settings, bool osc) {
    IniDocument doc;
    if (LoadIni(path, doc) == IniLoad::Unusable)
        return false;
    // As for the other section: binary or oversized content is replaced by a fresh file.
    bool stored = true;
    const auto put = [&](const char *key, const QByteArray &value) {
        stored = doc.ini.SetValue(kSection, key, value.constData()) >= 0 && stored;
    };
    if (osc) {
        put(kKeyEnabled, settings.oscEnabled ? "1" : "0");
        put(kKeyPort, QByteArray::number(settings.oscPort));
        put(kKeyAddress, LineText(settings.oscAddress));
        put(kKeyAllowed, LineText(settings.oscAllowed));
    }
    for (const auto &[key, field] : kMidiKeys)
        put(key, LineText(settings.*field));
    // Eight blank scene lines would only clutter a file that binds no scene.
    for (std::size_t n = 0; n < settings.midiScenes.size(); ++n) {
        const QByteArray key = SceneKey(n);
        const QByteArray text = LineText(settings.midiScenes[n]);
        if (!text.isEmpty())
            put(key.constData(), text);
        else
            doc.ini.Delete(kSection, key.constData());
    }
    // Nothing is saved unless every key could be stored, so the file never holds half a section.
    return stored && SaveIni(path, doc);
}

} // namespace

bool WriteSurfaceSettings(const QString &path, const SurfaceSettings &settings) {
    return Store(path, settings, true);
}

bool WriteMidiSurfaceSettings(const QString &path, const SurfaceSettings &settings) {
    return Store(path, settings, false);
}

} // namespace DiskWork

QString *SurfaceSettings::midiLine(const QString &key) {
    for (const auto &[name, field] : DiskWork::kMidiKeys)
        if (key == QLatin1String(name))
            return &(this->*field);
    return nullptr;
}
