#pragma once

// What the panel knows of the switcher: the tables that mirror its gains and crosspoint maps,
// and the counts of the counters panel. Only the decoders write them; the faders read them.

#include "protocol/Channels.h"

#include <QByteArray>
#include <QtGlobal>
#include <array>

// Gain tables, maps and history are indexed by channel 0..1024 (kTableSize).
inline constexpr int kHistorySize = 1025;
inline constexpr int kCounterCount = 10;
inline constexpr int kMapSlots = 64;
inline constexpr int kMapSources = 1024;

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

struct SwitcherTables {
    std::array<GainEntry, kTableSize> udtInGain{};
    std::array<GainEntry, kTableSize> udtOutGain{};
    std::array<CrosspointMap, kTableSize> udtXpt{};

    // Counters panel: crosspoint gain reports counted per watched crosspoint, and the history
    // of every crosspoint gain entry received (until it is full).
    std::array<qint16, kCounterCount> iMsgCount{};
    qint16 iHistoryCount = 0;
    std::array<GainEntry, kHistorySize> udtHistory{};

    // The Clear button: every counter back to 0 and the history emptied.
    void ClearCounters() {
        iMsgCount.fill(0);
        iHistoryCount = 0;
    }
};
