#pragma once

// One panel per settings file. The first panel on a file holds a lock for it and listens on a
// local socket; a second panel started on the same file finds the lock taken, asks the first
// to bring its window to the front, and leaves once the first has acknowledged. Panels on
// different files run side by side.
//
// The lock and the socket live in the user's runtime folder (private to the user, local even
// when the settings are on a network share, emptied at boot), named from a hash of the user
// id and the settings file's canonical path, so that every way of naming one file meets one
// lock. A lock left behind by a panel that died is taken over: its process is gone.

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class SingleInstance : public QObject {
    Q_OBJECT

  public:
    enum class Claim {
        First,    // this panel holds the file; raiseRequested() tells of later starts
        Running,  // another panel holds it and has been asked to come to the front: exit 0
        NoAnswer, // another live process holds it but did not acknowledge in time
        Failed,   // the lock could not be made at all (see error()): run unguarded or stop
    };

    // runtimeDir: where the lock and the socket go; empty for the user's runtime folder.
    explicit SingleInstance(const QString &settingsPath, const QString &runtimeDir = {},
                            QObject *parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock, or asks its holder to come to the front. While asking, events are
    // processed in a local loop for up to answerTimeoutMs.
    Claim claim(int answerTimeoutMs = 3000);

    QString lockPath() const { return m_lockPath; }
    QString serverName() const { return m_serverName; }
    QString error() const { return m_error; }

    // The settings file as one name, whether it exists yet or not: symbolic links and "."
    // and ".." resolved as far as the path exists.
    static QString CanonicalPath(const QString &settingsPath);

  signals:
    // A panel started on this settings file: bring the window to the front.
    void raiseRequested();

  private:
    bool takeLock();
    bool askHolder(int timeoutMs);
    void listen();
    void answer(class QLocalSocket *socket);

    QString m_lockPath;
    QString m_serverName;
    QString m_error;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
};
