#pragma once

// Well-formed switcher messages for the benchmarks, framed by the panel's own builder.

#include "protocol/ByteManipulation.h"
#include "protocol/WireFormat.h"

#include <QByteArray>
#include <utility>
#include <vector>

namespace BenchMessages {

// Gain report of kind 0..3: gains of channels first, first + 1, ...
inline QByteArray GainReport(int kind, int first, const std::vector<int> &gains) {
    using namespace ByteManipulation;
    QByteArray data(1, '\0');
    data.append(char(kind));
    Append14(data, int(gains.size()));
    Append14(data, first);
    for (const int g : gains)
        Append14(data, g);
    return BuildMessage(WireFormat::kGainReport, data);
}

// Kind-10 report for one output: (gain, source) pairs, sources 0-based.
inline QByteArray CrosspointReport(int output, const std::vector<std::pair<int, int>> &entries) {
    using namespace ByteManipulation;
    QByteArray data(1, '\0');
    data.append(char(WireFormat::kKindCrosspoint));
    Append14(data, int(entries.size()));
    Append14(data, output);
    for (const auto &[gain, source] : entries) {
        Append14(data, gain);
        Append14(data, source);
    }
    return BuildMessage(WireFormat::kGainReport, data);
}

// Crosspoint map of outputs first .. first + outputs - 1, each fed by sources 0-based
// firstSource .. firstSource + sources - 1, all at gain.
inline QByteArray CrosspointMap(int first, int outputs, int firstSource, int sources, int gain) {
    using namespace ByteManipulation;
    QByteArray data(1, '\0');
    Append14(data, outputs);
    Append14(data, first);
    for (int o = 0; o < outputs; ++o) {
        Append14(data, sources);
        data.append('\0'); // info byte
        for (int s = 0; s < sources; ++s) {
            Append14(data, firstSource + s);
            Append14(data, gain);
        }
    }
    return BuildMessage(WireFormat::kCrosspointMap, data);
}

} // namespace BenchMessages
