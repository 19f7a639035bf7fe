#pragma once

// The program's command line. Started without arguments it behaves exactly as it always has.
//
//   --help, -h          the usage, on the standard output
//   --version, -v       the program name and version
//   --settings FILE     use FILE as the settings file (created on exit if missing), so that
//                       one panel per switcher can run side by side
//   --trace FILE        write every message to and from the switcher to FILE ("-": the
//                       standard error stream), one line each, flushed line by line
//
// Qt's own options (-platform, -style, ...) are taken as QApplication takes them. Parsed
// before any window system is touched, so that --help and a wrong option need no display.

#include <QString>
#include <QStringList>

struct CommandLine {
    enum class Action { Run, Exit };

    Action action = Action::Run;
    int exitCode = 0;     // with Exit
    QString output;       // with Exit: for the standard output (help, version)
    QString error;        // with Exit: for the standard error stream (a wrong option)
    QString settingsFile; // absolute; empty: the default place
    QString traceFile;    // "-" for the standard error stream; empty: no trace

    // args as main receives them, program name first.
    static CommandLine Parse(const QStringList &args);

    // The window's caption: "Gain Change", or "Gain Change - NAME" for --settings NAME.ini.
    QString windowCaption() const;
};
