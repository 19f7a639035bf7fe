#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <limits>
#include <sys/types.h>
#include <unistd.h>

namespace {

const QByteArray kRaise = "raise\n";
const QByteArray kAcknowledged = "ok\n";
constexpr int kRetryMs = 50;           // between attempts to reach a panel still starting up
constexpr int kClientTimeoutMs = 5000; // a caller that says nothing is hung up on

bool ProcessIsGone(qint64 pid) {
    // A number no process can have (from a damaged lock file) names none.
    if (pid > std::numeric_limits<pid_t>::max())
        return true;
    return pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

} // namespace

QString SingleInstance::CanonicalPath(const QString &settingsPath) {
    const QFileInfo info(settingsPath);
    if (const QString canonical = info.canonicalFilePath(); !canonical.isEmpty())
        return canonical;
    const QString dir = QFileInfo(info.absolutePath()).canonicalFilePath();
    return QDir(dir.isEmpty() ? QDir::cleanPath(info.absolutePath()) : dir)
        .filePath(info.fileName());
}

SingleInstance::SingleInstance(const QString &settingsPath, const QString &runtimeDir,
                               QObject *parent)
    : QObject(parent) {
    QString dir = runtimeDir;
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    const QByteArray identity =
        QByteArray::number(qulonglong(::getuid())) + '\n' + CanonicalPath(settingsPath).toUtf8();
    // 64 bits of the hash: a short socket path (they are limited to about 100 bytes).
    const QString key = QString::fromLatin1(
        QCryptographicHash::hash(identity, QCryptographicHash::Sha256).toHex().left(16));
    const QString base = QDir(dir).filePath(QStringLiteral("dual-slider-") + key);
    m_lockPath = base + QStringLiteral(".lock");
    m_serverName = base + QStringLiteral(".socket");
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server.nextPendingConnection())
            answer(socket);
    });
}

SingleInstance::~SingleInstance() = default;

SingleInstance::Claim SingleInstance::claim(int answerTimeoutMs) {
    if (m_lock && m_lock->isLocked())
        return Claim::First;
    if (takeLock()) {
        listen();
        return Claim::First;
    }
    if (m_lock->error() != QLockFile::LockFailedError)
        return Claim::Failed;
    return askHolder(answerTimeoutMs) ? Claim::Running : Claim::NoAnswer;
}

bool SingleInstance::takeLock() {
    m_lock = std::make_unique<QLockFile>(m_lockPath);
    // Never by age: a panel runs for days, and its lock is as fresh as its process.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0))
        return true;
    if (m_lock->error() == QLockFile::LockFailedError) {
        // Left by a panel that died (on this machine): its process is gone.
        qint64 pid = 0;
        QString host;
        QString application;
        if (m_lock->getLockInfo(&pid, &host, &application) &&
            (host.isEmpty() || host == QSysInfo::machineHostName()) && ProcessIsGone(pid) &&
            m_lock->removeStaleLockFile() && m_lock->tryLock(0))
            return true;
    }
    switch (m_lock->error()) {
    case QLockFile::LockFailedError:
        m_error = QStringLiteral("another panel uses this settings file");
        break;
    case QLockFile::PermissionError:
        m_error = QStringLiteral("cannot create the lock %1: permission denied").arg(m_lockPath);
        break;
    default:
        m_error = QStringLiteral("cannot create the lock %1").arg(m_lockPath);
        break;
    }
    return false;
}

void SingleInstance::listen() {
    // We hold the lock: a socket file still there was left by a panel that died.
    QLocalServer::removeServer(m_serverName);
    if (!m_server.listen(m_serverName))
        m_error =
            QStringLiteral("later panels cannot reach this one: %1").arg(m_server.errorString());
}

void SingleInstance::answer(QLocalSocket *socket) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kClientTimeoutMs, socket, [socket] { socket->abort(); });
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() > kRaise.size())
                socket->abort();
            return;
        }
        const QByteArray request = socket->readLine(kRaise.size() + 1);
        if (request == kRaise) {
            socket->write(kAcknowledged);
            socket->flush();
            emit raiseRequested();
        }
        socket->disconnectFromServer();
    });
}

bool SingleInstance::askHolder(int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    // The holder may still be starting (locked, not yet listening): try again until the time
    // is up.
    while (clock.elapsed() < timeoutMs) {
        QLocalSocket socket;
        QEventLoop loop;
        bool done = false;
        QByteArray reply;
        const auto finish = [&] {
            done = true;
            loop.quit();
        };
        connect(&socket, &QLocalSocket::connected, &loop, [&] { socket.write(kRaise); });
        connect(&socket, &QLocalSocket::readyRead, &loop, [&] {
            reply += socket.readAll();
            if (reply.contains('\n') || reply.size() > kAcknowledged.size())
                finish();
        });
        connect(&socket, &QLocalSocket::errorOccurred, &loop, finish);
        connect(&socket, &QLocalSocket::disconnected, &loop, finish);
        QTimer::singleShot(std::max<qint64>(1, timeoutMs - clock.elapsed()), &loop, finish);
        socket.connectToServer(m_serverName);
        if (!done)
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        if (socket.isOpen())
            reply += socket.readAll();
        if (reply.startsWith(kAcknowledged))
            return true;
        if (socket.state() == QLocalSocket::ConnectedState)
            break; // reached, but it did not answer in time
        QEventLoop pause;
        QTimer::singleShot(kRetryMs, &pause, &QEventLoop::quit);
        pause.exec(QEventLoop::ExcludeUserInputEvents);
    }
    m_error = QStringLiteral("another process holds %1 but does not answer").arg(m_lockPath);
    return false;
}
