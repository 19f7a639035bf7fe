#pragma once

// Fake window and link for the protocol tests: every hook records what the protocol asked
// of it, with the time since install() for the sends.

#include "app/Variables.h"
#include "protocol/ByteManipulation.h"
#include "protocol/Failure.h"
#include "protocol/Seams.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QTest>

namespace ProtocolFakes {

// "E3 00 FF" -> the three bytes.
inline QByteArray Hex(const char *text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// Each value as a 14-bit field, low group first.
inline QByteArray Fields(const QList<int> &values) {
    QByteArray d;
    for (int v : values)
        ByteManipulation::Append14(d, v);
    return d;
}

// Status byte, the data exactly as given (bytes above 7F included), checksum and EOM.
inline QByteArray Frame(const char *status, const QByteArray &data) {
    QByteArray m = Hex(status) + data;
    m.append(static_cast<char>(ByteManipulation::CalcChecksum(m)));
    return m + Hex("FF");
}

// The worked examples: a gain report setting input 5 to 1000, and a crosspoint map of
// output 64 listing sources 65 and 66 (held 1-based) at gains 1000 and 500.
inline const QByteArray kReport5 = Hex("E3 00 01 01 00 05 00 68 07 76 FF");
inline const QByteArray kMapExample =
    Hex("F6 00 01 00 40 00 02 00 00 40 00 68 07 41 00 74 03 2A FF");

// The panel set up to follow the map example's output on a DSP switcher.
inline void FollowMapExample() {
    Variables::iType = Variables::kTypeDsp;
    Variables::iOutChan = 64;
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

    // The decode stopped with this reason, and neither refreshed nor restarted tmrGain.
    void expectFailedWithoutRefresh(const char *reason) const {
        QCOMPARE(TCPComm::LastFailure(), QString(reason));
        QCOMPARE(updates + restarts, 0);
    }
};

} // namespace ProtocolFakes
