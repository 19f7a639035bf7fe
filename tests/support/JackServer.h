#pragma once

// A private JACK server (dummy back end, no sound card) for the MIDI tests.
//
// JACK keeps a registry of at most eight servers in /dev/shm, and only reclaims the entry of a
// dead server when a new one starts under the same name. So each test uses a fixed name of its
// own, never a fresh one per run, and the registry left by servers that died without
// unregistering (a killed run) is cleared while no JACK server is running at all. CTest keeps
// the suites that start a server from running at the same time (RESOURCE_LOCK jack).

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

namespace TestSupport {

// True while any process on the machine is a JACK server.
inline bool AnyJackServer() {
    const QDir proc(QStringLiteral("/proc"));
    for (const QString &pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(proc.filePath(pid + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed().startsWith("jackd"))
            return true;
    }
    return false;
}

// Removes what dead JACK servers left in /dev/shm, when no server is alive to need it.
inline void ClearStaleJackState() {
    if (AnyJackServer())
        return;
    QDir shm(QStringLiteral("/dev/shm"));
    for (const QString &name :
         shm.entryList({QStringLiteral("jack*")}, QDir::AllEntries | QDir::System | QDir::Hidden)) {
        const QString path = shm.filePath(name);
        if (QFileInfo(path).isDir())
            QDir(path).removeRecursively();
        else
            QFile::remove(path);
    }
}

// Starts `jackd -n name -d dummy` with the clients of this process pointed at it; false when
// it could not be started.
inline bool StartJackServer(QProcess &server, const QByteArray &name, int period = 256) {
    const QString jackd = QStandardPaths::findExecutable(QStringLiteral("jackd"));
    if (jackd.isEmpty())
        return false;
    ClearStaleJackState();
    qputenv("JACK_DEFAULT_SERVER", name);
    server.start(jackd, {"-n", QString::fromLatin1(name), "-d", "dummy", "-r", "48000", "-p",
                         QString::number(period)});
    return server.waitForStarted(2000);
}

// Stops the server so that it unregisters (a kill would leave its entry behind).
inline void StopJackServer(QProcess &server) {
    if (server.state() == QProcess::NotRunning)
        return;
    server.terminate();
    if (!server.waitForFinished(3000)) {
        server.kill();
        server.waitForFinished(1000);
    }
}

} // namespace TestSupport
