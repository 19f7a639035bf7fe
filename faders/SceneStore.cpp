#include "faders/SceneStore.h"

SceneStore::SceneStore(const QString &path) : m_path(path) {}

SceneFile::ReadResult SceneStore::load() {
    SceneFile::ReadResult read = SceneFile::Read(m_path);
    m_scenes = read.scenes;
    m_lockReason = read.ok() ? QString()
                             : read.reason + QStringLiteral(" The scenes are not saved until "
                                                            "the file is repaired or moved.");
    return read;
}

SceneFile::WriteResult SceneStore::commit(const QList<Scene> &scenes) {
    if (!m_lockReason.isEmpty())
        return {false, m_lockReason};
    SceneFile::WriteResult written = SceneFile::Write(m_path, scenes);
    if (written.ok)
        m_scenes = scenes;
    return written;
}

SceneFile::WriteResult SceneStore::store(const Scene &scene, bool replace) {
    if (const QString problem = SceneFile::NameProblem(scene.name); !problem.isEmpty())
        return {false, problem};
    QList<Scene> scenes = m_scenes;
    const qsizetype at = SceneFile::IndexOf(scenes, scene.name);
    if (at >= 0 && !replace)
        return {false, QStringLiteral("a scene named \"%1\" exists").arg(scene.name)};
    if (at >= 0)
        scenes[at] = scene;
    else
        scenes.append(scene);
    return commit(scenes);
}

SceneFile::WriteResult SceneStore::rename(const QString &from, const QString &to) {
    const qsizetype at = SceneFile::IndexOf(m_scenes, from);
    if (at < 0)
        return {false, QStringLiteral("there is no scene named \"%1\"").arg(from)};
    if (from == to)
        return {};
    if (const QString problem = SceneFile::NameProblem(to); !problem.isEmpty())
        return {false, problem};
    if (SceneFile::IndexOf(m_scenes, to) >= 0)
        return {false, QStringLiteral("a scene named \"%1\" exists").arg(to)};
    QList<Scene> scenes = m_scenes;
    scenes[at].name = to;
    return commit(scenes);
}

SceneFile::WriteResult SceneStore::remove(const QString &name) {
    const qsizetype at = SceneFile::IndexOf(m_scenes, name);
    if (at < 0)
        return {false, QStringLiteral("there is no scene named \"%1\"").arg(name)};
    QList<Scene> scenes = m_scenes;
    scenes.removeAt(at);
    return commit(scenes);
}

SceneFile::WriteResult SceneStore::importFrom(const QString &file) {
    const SceneFile::ReadResult read = SceneFile::Read(file);
    if (!read.ok())
        return {false, read.reason};
    if (read.scenes.isEmpty())
        return {false, QStringLiteral("%1 holds no scene").arg(file)};
    QList<Scene> scenes = m_scenes;
    for (Scene scene : read.scenes) {
        scene.name = SceneFile::UniqueName(scenes, scene.name);
        scenes.append(scene);
    }
    return commit(scenes);
}

SceneFile::WriteResult SceneStore::exportTo(const QString &name, const QString &file) const {
    const qsizetype at = SceneFile::IndexOf(m_scenes, name);
    if (at < 0)
        return {false, QStringLiteral("there is no scene named \"%1\"").arg(name)};
    return SceneFile::Write(file, {m_scenes[at]});
}
