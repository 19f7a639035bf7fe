#include "faders/Scene.h"

#include "config/Settings.h"
#include "protocol/Channels.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSaveFile>
#include <QSet>
#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>

namespace SceneFile {
namespace {

constexpr int kMaxGain = 16383; // the largest value a 14-bit data field carries

const QString kFormat = QStringLiteral("format");
const QString kVersionKey = QStringLiteral("version");
const QString kScenes = QStringLiteral("scenes");
const QString kName = QStringLiteral("name");
const QString kType = QStringLiteral("type");
const QString kOutChan = QStringLiteral("outChan");
const QString kWhole = QStringLiteral("wholeSwitcher");
const QString kGains = QStringLiteral("gains");
const QString kChannel = QStringLiteral("channel");
const QString kGain = QStringLiteral("gain");

// A JSON number that is a whole number from lo to hi.
std::optional<int> WholeNumber(const QJsonValue &value, int lo, int hi) {
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || number != std::floor(number) || number < lo || number > hi)
        return std::nullopt;
    return static_cast<int>(number);
}

ReadResult Failed(Failure failure, const QString &reason) {
    ReadResult result;
    result.failure = failure;
    result.reason = reason;
    return result;
}

// How an entry is named in a reason: its place, and its name once that is known.
QString Where(qsizetype index, const QString &name = {}) {
    QString where = QStringLiteral("scene %1").arg(index + 1);
    if (!name.isEmpty())
        where += QStringLiteral(" (\"%1\")").arg(name);
    return where;
}

// One scene of the file, or the reason it cannot be taken.
std::optional<Scene> SceneOf(const QJsonValue &value, qsizetype index, QString &reason) {
    if (!value.isObject()) {
        reason = Where(index) + QStringLiteral(" is not an object");
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    Scene scene;
    scene.name = object.value(kName).toString();
    if (const QString problem = NameProblem(scene.name); !problem.isEmpty()) {
        reason = Where(index) + QStringLiteral(": ") + problem;
        return std::nullopt;
    }
    const QString where = Where(index, scene.name);
    const auto type = WholeNumber(object.value(kType), 0, 127);
    if (!type || (*type != kTypeInput && *type != kTypeOutput && *type != kTypeDsp)) {
        reason = where + QStringLiteral(": the gain type is not 1, 3 or 10");
        return std::nullopt;
    }
    scene.type = qint16(*type);
    const auto outChan = WholeNumber(object.value(kOutChan), 1, kTableSize);
    if (!outChan) {
        reason = where + QStringLiteral(": the output channel is not from 1 to %1").arg(kTableSize);
        return std::nullopt;
    }
    scene.outChan = qint16(*outChan - 1);
    const QJsonValue whole = object.value(kWhole);
    if (!whole.isBool()) {
        reason = where + QStringLiteral(": \"wholeSwitcher\" is not true or false");
        return std::nullopt;
    }
    scene.wholeSwitcher = whole.toBool();
    const QJsonValue gains = object.value(kGains);
    if (!gains.isArray() || gains.toArray().size() > kTableSize) {
        reason =
            where + QStringLiteral(": \"gains\" is not a list of at most %1 gains").arg(kTableSize);
        return std::nullopt;
    }
    QSet<qint16> seen;
    for (const QJsonValue entry : gains.toArray()) {
        const QJsonObject pair = entry.toObject();
        const auto channel = WholeNumber(pair.value(kChannel), 1, kTableSize);
        const auto gain = WholeNumber(pair.value(kGain), 0, kMaxGain);
        if (!entry.isObject() || !channel || !gain) {
            reason = where + QStringLiteral(": gain %1 is not a channel from 1 to %2 with a "
                                            "gain from 0 to %3")
                                 .arg(scene.gains.size() + 1)
                                 .arg(kTableSize)
                                 .arg(kMaxGain);
            return std::nullopt;
        }
        if (seen.contains(qint16(*channel - 1))) {
            reason = where + QStringLiteral(": channel %1 appears twice").arg(*channel);
            return std::nullopt;
        }
        seen.insert(qint16(*channel - 1));
        scene.gains.append({qint16(*channel - 1), qint16(*gain)});
    }
    std::sort(scene.gains.begin(), scene.gains.end());
    return scene;
}

QString DescribeFailure(const QString &path, const QString &reason) {
    return QStringLiteral("%1: %2.").arg(QDir::toNativeSeparators(path), reason);
}

} // namespace

QString PathBeside(const QString &settingsPath) {
    const QFileInfo info(settingsPath);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".scenes.json"));
}

QString NameProblem(const QString &name) {
    if (name.trimmed().isEmpty())
        return QStringLiteral("a scene needs a name");
    if (name.trimmed() != name)
        return QStringLiteral("a scene name cannot begin or end with a blank");
    if (name.size() > kMaxNameLength)
        return QStringLiteral("a scene name is at most %1 characters long").arg(kMaxNameLength);
    for (const QChar c : name)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line ||
            c.category() == QChar::Separator_Paragraph)
            return QStringLiteral("a scene name cannot hold control characters or line breaks");
    return {};
}

QByteArray Encode(const QList<Scene> &scenes) {
    QJsonArray list;
    for (const Scene &scene : scenes) {
        QJsonArray gains;
        for (const auto &[channel, gain] : scene.gains)
            gains.append(QJsonObject{{kChannel, channel + 1}, {kGain, gain}});
        list.append(QJsonObject{{kName, scene.name},
                                {kType, scene.type},
                                {kOutChan, scene.outChan + 1},
                                {kWhole, scene.wholeSwitcher},
                                {kGains, gains}});
    }
    const QJsonObject root{
        {kFormat, QString::fromLatin1(kFormatTag)}, {kVersionKey, kVersion}, {kScenes, list}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

ReadResult Decode(const QByteArray &bytes) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return Failed(Failure::NotJson, QStringLiteral("not a scene file: the JSON is broken at "
                                                       "byte %1 (%2)")
                                            .arg(error.offset)
                                            .arg(error.errorString()));
    const QJsonObject root = doc.object();
    const QJsonValue version = root.value(kVersionKey);
    if (!doc.isObject() || root.value(kFormat).toString() != QLatin1String(kFormatTag) ||
        !WholeNumber(version, 1, INT_MAX))
        return Failed(Failure::Foreign, QStringLiteral("not a scene file of this program"));
    if (version.toInt() > kVersion)
        return Failed(Failure::Newer,
                      QStringLiteral("the scenes were saved by a later version of this "
                                     "program (scene format %1; this version reads format %2)")
                          .arg(version.toInt())
                          .arg(kVersion));
    const QJsonValue list = root.value(kScenes);
    if (!list.isArray())
        return Failed(Failure::BadEntry, QStringLiteral("the file has no list of scenes"));
    ReadResult result;
    qsizetype index = 0;
    for (const QJsonValue value : list.toArray()) {
        QString reason;
        const std::optional<Scene> scene = SceneOf(value, index, reason);
        if (!scene)
            return Failed(Failure::BadEntry, reason);
        if (IndexOf(result.scenes, scene->name) >= 0)
            return Failed(Failure::BadEntry,
                          Where(index, scene->name) + QStringLiteral(": the name is taken twice"));
        result.scenes.append(*scene);
        ++index;
    }
    return result;
}

ReadResult Read(const QString &path) {
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    // A folder, a pipe or a device is never a scene file; reading a pipe could block.
    if (!info.isFile())
        return Failed(Failure::Unreadable, DescribeFailure(path, QStringLiteral("not a file")));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Failed(Failure::Unreadable, DescribeFailure(path, file.errorString()));
    const QByteArray bytes = file.read(kMaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return Failed(Failure::Unreadable, DescribeFailure(path, file.errorString()));
    if (bytes.size() > kMaxFileBytes)
        return Failed(Failure::Unreadable,
                      DescribeFailure(path, QStringLiteral("larger than %1 MiB, not a scene file")
                                                .arg(kMaxFileBytes / (1024 * 1024))));
    ReadResult result = Decode(bytes);
    if (!result.ok())
        result.reason = DescribeFailure(path, result.reason);
    return result;
}

WriteResult Write(const QString &path, const QList<Scene> &scenes) {
    const QByteArray bytes = Encode(scenes);
    // A file that would not read back (an output channel from a hand-edited settings file, a
    // name from elsewhere) would lock every scene away at the next start: refused here.
    if (const ReadResult check = Decode(bytes); !check.ok())
        return {false, DescribeFailure(path, QStringLiteral("not saved, ") + check.reason)};
    // Unbuffered, so that a short write (disk full) shows in write()'s count instead of being
    // lost in the final flush and committed as a truncated file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return {false, DescribeFailure(path, file.errorString())};
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return {false, DescribeFailure(path, reason)};
    }
    if (!file.commit())
        return {false, DescribeFailure(path, file.errorString())};
    return {};
}

qsizetype IndexOf(const QList<Scene> &scenes, const QString &name) {
    for (qsizetype i = 0; i < scenes.size(); ++i)
        if (scenes[i].name == name)
            return i;
    return -1;
}

QString UniqueName(const QList<Scene> &scenes, const QString &name) {
    QString candidate = name;
    for (int n = 2; IndexOf(scenes, candidate) >= 0; ++n) {
        // The number is kept whole and the name shortened, so the result stays a valid name.
        const QString suffix = QStringLiteral(" (%1)").arg(n);
        candidate = name.left(kMaxNameLength - suffix.size()).trimmed() + suffix;
    }
    return candidate;
}

} // namespace SceneFile
