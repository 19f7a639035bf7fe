#pragma once

// Fake window and link for the protocol tests: every hook records what the protocol asked
// of it, with the time since install() for the sends.

#include "app/Variables.h"
#include "protocol/Failure.h"
#include "protocol/Seams.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>

namespace ProtocolFakes {

// "E3 00 FF" -> the three bytes.
inline QByteArray Hex(const char *text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

struct Recorder {
    QList<QByteArray> sent;
    QList<qint64> sentAtMs;
    QList<int> shown; // counter indexes passed to showCount
    int updates = 0;
    int restarts = 0;
    int decodeStarts = 0;
    int decodeStops = 0;
    bool gainTimerRunning = false;
    QElapsedTimer clock;

    // Fresh program state, fresh hooks pointing at this recorder.
    void install() {
        *this = Recorder{};
        Variables::ResetAll();
        TCPComm::ClearLastFailure();
        clock.start();
        TCPComm::Seams &s = TCPComm::seams();
        s = TCPComm::Seams{};
        s.send = [this](const QByteArray &m) {
            sent.append(m);
            sentAtMs.append(clock.elapsed());
        };
        s.updateGain = [this] { ++updates; };
        s.gainTimerActive = [this] { return gainTimerRunning; };
        s.restartGainTimer = [this] { ++restarts; };
        s.showCount = [this](int k) { shown.append(k); };
        s.startDecodeTimer = [this] { ++decodeStarts; };
        s.stopDecodeTimer = [this] { ++decodeStops; };
    }
};

} // namespace ProtocolFakes
