#include "app/TraceFile.h"

#include "app/ProgramInfo.h"

#include <QDate>
#include <QFileInfo>
#include <cstdio>

TraceFile::TraceFile(QObject *parent) : QObject(parent) {}

TraceFile::~TraceFile() {
    Untap(m_connections);
}

bool TraceFile::open(const QString &path) {
    m_path = path;
    bool opened = false;
    if (path == QStringLiteral("-")) {
        opened = m_file.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    } else {
        // A regular file is appended to; a device or a pipe (/dev/stderr, a FIFO) is only
        // written, since it cannot seek to an end.
        m_file.setFileName(path);
        const QFileInfo info(path);
        // Unbuffered: each line goes to the system as it is written, and a failure carries
        // the system's reason.
        opened = m_file.open(QIODevice::Unbuffered | (!info.exists() || info.isFile()
                                                          ? QIODevice::WriteOnly | QIODevice::Append
                                                          : QIODevice::WriteOnly));
    }
    if (!opened) {
        m_error = m_file.errorString();
        return false;
    }
    return writeLine(
        FormatLine(TrafficEvent::Note(QStringLiteral("%1 %2, trace started %3")
                                          .arg(ProgramInfo::kName, ProgramInfo::kVersion,
                                               QDate::currentDate().toString(Qt::ISODate)))));
}

void TraceFile::watch(SwitcherLink &link) {
    if (m_file.isOpen())
        m_connections = TapTraffic(link, this, [this](TrafficEvent &&event) { write(event); });
}

bool TraceFile::writeLine(const QString &line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    // A short write (the disk filling up mid-line) is followed up, so that the failure comes
    // with its reason.
    for (qsizetype done = 0; done < bytes.size();) {
        const qint64 written = m_file.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0) {
            m_error = m_file.errorString();
            return false;
        }
        done += written;
    }
    if (m_file.flush())
        return true;
    m_error = m_file.errorString();
    return false;
}

void TraceFile::write(const TrafficEvent &event) {
    if (writeLine(FormatLine(event)))
        return;
    // Said once, and the trace ends: the panel goes on without it.
    Untap(m_connections);
    m_file.close();
    const QString message = QStringLiteral("%1: the trace to %2 stopped: %3\n")
                                .arg(ProgramInfo::kName, m_path, m_error);
    std::fputs(message.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}
