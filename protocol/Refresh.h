#pragma once

#include "protocol/Seams.h"

namespace TCPComm {

// After a decoder stored a report: refresh the faders at once when tmrGain is idle,
// otherwise restart tmrGain so that the refresh waits until the user has stopped moving a
// fader (the timer then refreshes).
inline void RefreshFaders() {
    Seams &hooks = seams();
    const bool timerRunning = hooks.gainTimerActive && hooks.gainTimerActive();
    if (!timerRunning) {
        if (hooks.updateGain)
            hooks.updateGain();
    } else if (hooks.restartGainTimer) {
        hooks.restartGainTimer();
    }
}

} // namespace TCPComm
