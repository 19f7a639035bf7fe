#pragma once

// The switcher simulator as the user runs it: a separate process on a free loopback port,
// stopped again when the object goes. Its trace is collected so that a failing test can
// show what the switcher saw and sent.

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QtGlobal>
#include <algorithm>
#include <csignal>
#include <sys/prctl.h>
#include <sys/types.h>

namespace TestSupport {

class SimProcess {
  public:
    ~SimProcess() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Starts `[wrapper] switcher-sim --port 0 [extra]` and reads the chosen port from its
    // "listening on" line. Returns false (with the reason in error()) if it does not get that
    // far within timeoutMs. A wrapper (such as `ip netns exec NAME`) must become the simulator.
    bool start(const QStringList &extra = {}, int timeoutMs = 5000,
               const QStringList &wrapper = {}) {
        const QStringList command = wrapper +
                                    QStringList{QStringLiteral(DS_SIM_PATH),
                                                QStringLiteral("--port"), QStringLiteral("0")} +
                                    extra;
        m_process.setProgram(command.front());
        m_process.setArguments(command.mid(1));
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        // A test that crashes or is killed runs no destructor; the simulator must not outlive
        // it and keep listening.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_process.start();
        const QDeadlineTimer deadline(timeoutMs);
        if (!m_process.waitForStarted(timeoutMs))
            return fail(QStringLiteral("not started: ") + m_process.errorString());
        static const QRegularExpression listening(QStringLiteral("^listening on [0-9.]+:(\\d+)$"),
                                                  QRegularExpression::MultilineOption);
        while (!deadline.hasExpired()) {
            collect();
            const auto match = listening.match(m_output);
            if (match.hasMatch()) {
                m_port = match.captured(1).toUShort();
                return m_port != 0 || fail(QStringLiteral("port 0 announced"));
            }
            if (m_process.state() == QProcess::NotRunning)
                return fail(QStringLiteral("exited: ") + m_process.readAllStandardError());
            m_process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
        }
        return fail(QStringLiteral("no \"listening on\" line"));
    }

    quint16 port() const { return m_port; }

    // Sends a signal, as a script would (SIGUSR1 reboots the simulator).
    bool signal(int sig) {
        return m_process.state() == QProcess::Running &&
               ::kill(pid_t(m_process.processId()), sig) == 0;
    }
    QString error() const { return m_error; }
    bool running() const { return m_process.state() == QProcess::Running; }

    // Everything the simulator printed so far.
    QString trace() {
        collect();
        return m_output;
    }

    // Stops it the way a user does (SIGTERM) and reports whether it ended cleanly.
    bool stop(int timeoutMs = 5000) {
        if (m_process.state() == QProcess::NotRunning)
            return false;
        m_process.terminate();
        if (!m_process.waitForFinished(timeoutMs))
            return false;
        collect();
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }

  private:
    void collect() { m_output += QString::fromUtf8(m_process.readAllStandardOutput()); }
    bool fail(const QString &why) {
        m_error = why;
        return false;
    }

    QProcess m_process;
    QString m_output;
    QString m_error;
    quint16 m_port = 0;
};

} // namespace TestSupport
