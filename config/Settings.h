#pragma once

// The six settings that bind the panel to a switcher: what the settings file holds, what the
// Setup dialog edits and what the rest of the program reads. A plain value.

#include "protocol/WireFormat.h"

#include <QString>
#include <QtGlobal>
#include <array>

// Gain type codes: also the kind byte of set-gain commands and gain reports.
inline constexpr qint16 kTypeInput = WireFormat::kKindInput;
inline constexpr qint16 kTypeOutput = WireFormat::kKindOutput;
inline constexpr qint16 kTypeDsp = WireFormat::kKindCrosspoint;

struct Settings {
    // Start-up values, in force until the settings file replaces them.
    static inline const QString kDefaultIPAddress = QStringLiteral("127.0.0.1");
    static constexpr qint32 kDefaultIPPort = 1250;
    static constexpr std::array<qint16, 2> kDefaultChan{0, 1};
    static constexpr qint16 kDefaultType = kTypeInput;

    qint16 iType = kDefaultType;
    std::array<qint16, 2> iChan = kDefaultChan; // 0-based channel of fader 0 and fader 1
    qint16 iOutChan = 0;                        // 0-based output channel for DSP gains
    QString sIPAddress = kDefaultIPAddress;
    qint32 lIPPort = kDefaultIPPort;

    bool operator==(const Settings &) const = default;
};
