#pragma once

// The scenes of one scene file, as the panel edits them: every edit is written at once, and
// kept only when the write succeeded, so the list shown is always the file's.
//
// A file that exists but cannot be read (broken, foreign, of a later version, unreadable)
// locks the store: it offers no scenes and refuses every edit with the reason, so that the
// user's file is never replaced by one that lost what it held. Loading again (after the user
// repaired or moved the file) lifts the lock.

#include "faders/Scene.h"

#include <QList>
#include <QString>

class SceneStore {
  public:
    explicit SceneStore(const QString &path);

    QString path() const { return m_path; }
    const QList<Scene> &scenes() const { return m_scenes; }
    // Why the file is not written to; empty while edits are possible.
    QString lockReason() const { return m_lockReason; }

    // (Re)reads the file: the scenes, or the failure that locked the store.
    SceneFile::ReadResult load();

    // Each edit returns ok, or the reason nothing changed.
    // A new scene; with replace, one of the same name is replaced in its place.
    SceneFile::WriteResult store(const Scene &scene, bool replace = false);
    SceneFile::WriteResult rename(const QString &from, const QString &to);
    SceneFile::WriteResult remove(const QString &name);
    // The scenes of an exported file, each added under a name of its own ("Show (2)" when
    // "Show" is taken). A file that cannot be read adds nothing.
    SceneFile::WriteResult importFrom(const QString &file);
    // One scene into a file of its own, replacing that file.
    SceneFile::WriteResult exportTo(const QString &name, const QString &file) const;

  private:
    SceneFile::WriteResult commit(const QList<Scene> &scenes);

    QString m_path;
    QList<Scene> m_scenes;
    QString m_lockReason;
};
