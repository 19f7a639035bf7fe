#pragma once

// A MIDI controller for the JACK tests, made with python3-rtmidi: its output port "ctl:out"
// sends the hex messages written to its stdin (blank-separated, one line at a time), and each
// message its input port "ctlfb:in" receives comes back on stdout as one hex line.

#include "support/EventLoop.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

namespace TestSupport {

inline QString Python() {
    const QString system = QStringLiteral("/usr/bin/python3");
    return QFileInfo::exists(system) ? system : QStandardPaths::findExecutable("python3");
}

// Why a JACK MIDI test cannot run on this machine, or nothing when it can.
inline QString JackMidiUnavailable() {
    if (QFileInfo::exists("/dev/snd/seq"))
        return QStringLiteral(
            "this machine has an ALSA sequencer, which the panel would use instead of JACK");
    if (QStandardPaths::findExecutable(QStringLiteral("jackd")).isEmpty())
        return QStringLiteral("jackd is not installed (Debian jackd2)");
    if (QProcess::execute(Python(), {QStringLiteral("-c"), QStringLiteral("import rtmidi")}) != 0)
        return QStringLiteral("python3-rtmidi is not installed");
    return {};
}

// Starts the controller on the running JACK server; true once its ports are up.
inline bool StartMidiController(QProcess &controller) {
    static const char script[] = R"(
import sys, rtmidi
out = rtmidi.MidiOut(rtmidi.API_UNIX_JACK, name="ctl")
out.open_virtual_port("out")
fb = rtmidi.MidiIn(rtmidi.API_UNIX_JACK, name="ctlfb")
fb.open_virtual_port("in")
fb.set_callback(lambda event, data: print(bytes(event[0]).hex(), flush=True))
print("ready", flush=True)
for line in sys.stdin:
    for message in line.split():
        out.send_message(list(bytes.fromhex(message)))
)";
    controller.start(Python(), {QStringLiteral("-c"), QString::fromLatin1(script)});
    return controller.waitForStarted(2000) &&
           spinUntil([&] { return controller.canReadLine(); }, 3000) &&
           controller.readLine().trimmed() == "ready";
}

} // namespace TestSupport
