#pragma once

// The state that the whole panel shares. Every part reads and writes these directly, on the
// GUI thread only; nothing here is locked.

#include "protocol/ReceiveBuffer.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <array>

namespace Variables {

// Gain tables, maps and history are indexed by channel 0..1024.
inline constexpr int kTableSize = 1025;
inline constexpr int kMaxChannel = kTableSize - 1;
inline constexpr int kHistorySize = 1025;
inline constexpr int kCounterCount = 10;
inline constexpr int kMapSlots = 64;
inline constexpr int kMapSources = 1024;

// Gain type codes: also the kind byte of set-gain commands and gain reports.
inline constexpr qint16 kTypeInput = 1;
inline constexpr qint16 kTypeOutput = 3;
inline constexpr qint16 kTypeDsp = 10;

// Start-up values of the settings, in force until the settings file replaces them.
inline const QString kDefaultIPAddress = QStringLiteral("127.0.0.1");
inline constexpr qint32 kDefaultIPPort = 1250;
inline constexpr std::array<qint16, 2> kDefaultChan{0, 1};
inline constexpr qint16 kDefaultType = kTypeInput;

// One decoded entry of a gain report. In udtInGain and udtOutGain only the last two fields
// are used: iChannel holds the kind-0 (input) or kind-2 (output) value, iSource the kind-1
// or kind-3 value, which is the one the faders show.
struct GainEntry {
    quint8 bKind = 0;
    qint16 iValue = 0;
    qint16 iChannel = 0;
    qint16 iSource = 0;
};

// Crosspoint map of one output: which sources feed it and at what gain.
struct CrosspointMap {
    QByteArray sMap;   // 1024 characters '0'/'1'; empty until a map names this output
    quint8 bInfo = 0;  // uninterpreted byte of the map block
    quint8 bCount = 0; // source entries the last map gave, 0..255; only 64 have slots
    std::array<qint16, kMapSlots> iSources{}; // 1-based source channels, 0 = not kept
    std::array<qint16, kMapSlots> iGains{};
};

// Settings (the settings file and the Setup dialog change them).
inline QString sIPAddress = kDefaultIPAddress;
inline qint32 lIPPort = kDefaultIPPort;
inline std::array<qint16, 2> iChan = kDefaultChan; // 0-based channel of fader 0 and 1
inline qint16 iOutChan = 0;                        // 0-based output channel for DSP gains
inline qint16 iType = kDefaultType;

// Link and processing state.
inline bool bConnected = false; // stays true after the switcher closes until we disconnect
inline ReceiveBuffer sBuffer;
inline bool bUpdating = false; // set while UpdateGain moves the faders

// Counters panel and the history of crosspoint gain entries.
inline std::array<qint16, kCounterCount> iMsgCount{};
inline qint16 iHistoryCount = 0;
inline std::array<GainEntry, kHistorySize> udtHistory{};

// Tables that mirror the switcher.
inline std::array<GainEntry, kTableSize> udtInGain{};
inline std::array<GainEntry, kTableSize> udtOutGain{};
inline std::array<CrosspointMap, kTableSize> udtXpt{};

// Puts the start-up values into the settings.
void SetDefaultSettings();

// Back to the state of a fresh program start: settings, link state, buffer, counters and
// tables. Used by start-up code paths and by tests that need a clean slate.
void ResetAll();

} // namespace Variables
