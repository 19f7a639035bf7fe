#pragma once

// The protocol code's only ways out of itself: to the link and to the main window. The
// window and the TCP link fill these in when they are created; tests fill them with fakes,
// so that the decoders run without a window or a socket. An empty hook does nothing.

#include <QByteArray>
#include <QString>
#include <functional>

namespace TCPComm {

struct Seams {
    std::function<void(const QByteArray &)> send; // writes a whole message to the switcher
    std::function<void()> updateGain;             // frmMain::UpdateGain
    std::function<bool()> gainTimerActive;        // is tmrGain counting?
    std::function<void()> restartGainTimer;       // disable and enable tmrGain, same interval
    std::function<void(int)> showCount;           // txtCount(k) := iMsgCount(k)
    std::function<void()> startDecodeTimer;       // set tmrDecode running
    std::function<void()> stopDecodeTimer;
    std::function<void(const QString &)> setConnectCaption; // mnuConnect's text
    std::function<void()> reportConnectFailure;             // the "Unable to connect" message box
};

Seams &seams();

inline void SendToSwitcher(const QByteArray &message) {
    if (seams().send)
        seams().send(message);
}

} // namespace TCPComm
