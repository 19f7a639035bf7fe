#pragma once

// The link as the faders see it: they ask for gains and read back what the switcher reported,
// in gain values and channels, never in bytes or tables. What the switcher reports reaches them
// through the link's signals (gainsStored, crosspointMapsStored, connected).

#include "protocol/GainRequest.h"

#include <QtGlobal>

class GainLink {
  public:
    // The gain the switcher last reported for channel under gain type (for DSP gains, of
    // source channel on output outChan); 0 when it never did.
    virtual qint16 reportedGain(int type, int channel, int outChan) const = 0;
    // Sends the request at once; one that cannot be encoded, or that finds the link down, is
    // dropped (and a dropped send noted as the link's last failure).
    virtual void request(const GainRequest &request) = 0;

  protected:
    ~GainLink() = default;
};
