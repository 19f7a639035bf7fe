#pragma once

// The trace that --trace FILE asks for: the traffic log's lines, every one of them, from
// start-up on, each written and flushed as it happens, so that a trace attached to a fault
// report holds everything up to the fault. FILE is appended to, so that the trace of a run
// that went wrong survives the next start; each run begins with a line naming the program and
// the date. "-" writes to the standard error stream.
//
// A trace that was asked for must not go missing without a word: a file that cannot be opened
// or written at start is the caller's to report (open() says why), and a write that fails
// later ends the trace with one message on the standard error stream.

#include "app/TrafficEvent.h"

#include <QFile>
#include <QObject>
#include <QString>

class SwitcherLink;

class TraceFile : public QObject {
    Q_OBJECT

  public:
    explicit TraceFile(QObject *parent = nullptr);
    ~TraceFile() override;

    // Opens path ("-": the standard error stream) and writes the first line. False, with the
    // reason in error(), when that fails.
    bool open(const QString &path);
    QString error() const { return m_error; }

    // Writes link's traffic from now on.
    void watch(SwitcherLink &link);

  private:
    bool writeLine(const QString &line);
    void write(const TrafficEvent &event);

    QString m_path;
    QFile m_file;
    QString m_error;
    QList<QMetaObject::Connection> m_connections;
};
