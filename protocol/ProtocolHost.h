#pragma once

// The decoders' only way out of the protocol code: whoever owns the link implements this, so
// that the decoders run the same against the real link and against a test's recorder.

#include "protocol/StoredGains.h"

#include <QByteArray>

namespace FrameCutter {
struct Front;
}

class ProtocolHost {
  public:
    // Writes a whole message to the switcher in one write; a failure is the host's to note.
    virtual void SendToSwitcher(const QByteArray &message) = 0;

    // A routine ended silently on a fault; reason is one of the fixed texts of Failure.h.
    virtual void noteFailure(const char *reason) = 0;

    // A gain report was decoded and stored to its end: what the tables took.
    virtual void gainsApplied(const StoredGains &stored) = 0;
    // The crosspoint maps of outputs first..last were replaced.
    virtual void crosspointMapDecoded(int first, int last) = 0;
    // Counter k of the counters panel was counted up.
    virtual void counterIncremented(int k) = 0;

    // What a dispatcher step took off the front of the receive buffer, before anything acts on
    // it: one junk byte or one-byte message (message empty), or a whole cut message.
    virtual void frontCut(const FrameCutter::Front &front, const QByteArray &message) = 0;

  protected:
    ~ProtocolHost() = default;
};
