#include "app/Variables.h"

namespace Variables {

void SetDefaultSettings() {
    sIPAddress = kDefaultIPAddress;
    lIPPort = kDefaultIPPort;
    iChan = kDefaultChan;
    iType = kDefaultType;
}

void ResetAll() {
    SetDefaultSettings();
    iOutChan = 0;
    bConnected = false;
    sBuffer.clear();
    bUpdating = false;
    iMsgCount.fill(0);
    iHistoryCount = 0;
    udtHistory.fill(GainEntry{});
    udtInGain.fill(GainEntry{});
    udtOutGain.fill(GainEntry{});
    udtXpt.fill(CrosspointMap{});
}

} // namespace Variables
