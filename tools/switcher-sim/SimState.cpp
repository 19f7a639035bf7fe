#include "tools/switcher-sim/SimState.h"

#include "tools/switcher-sim/SimWire.h"

#include <algorithm>

using SimCodec::Crosspoint;
using SimCodec::Message;
using namespace SimWire;

namespace {

// Varied gains, so that every fader of a panel with default settings shows something
// other than its start-up 0 dB: 0, -6, +3, -10, +10, -20 dB, Off, -2.4 dB.
constexpr int kPattern[] = {1024, 964, 1054, 924, 1124, 824, kGainOff, 1000};
constexpr int kPatternSize = int(std::size(kPattern));
// Outputs start elsewhere in the pattern than inputs (output 1 at -10 dB).
constexpr int kOutputPatternOffset = 3;

struct Route {
    int output, source, gain;
};
// Output 1 mixes inputs 1 and 2 (a DSP panel's default view); outputs 65 and 66 take
// inputs 65..68, the crosspoints the panel counts. 0-based here.
constexpr Route kRoutes[] = {
    {0, 0, 1024},  {0, 1, 964},   {1, 0, 964},   {1, 1, 1024},  {64, 64, 1024}, {64, 65, 994},
    {64, 66, 964}, {64, 67, 924}, {65, 64, 924}, {65, 65, 964}, {65, 66, 994},  {65, 67, 1024},
};

int clampGain(int g) {
    return std::clamp(g, kGainOff, kGainMax);
}

} // namespace

SimState::SimState(int inputs, int outputs)
    : m_inputs(std::clamp(inputs, 1, kMaxChannels)),
      m_outputs(std::clamp(outputs, 1, kMaxChannels)), m_inSecond(m_inputs, kGainZeroDb),
      m_in(m_inputs), m_outSecond(m_outputs, kGainZeroDb), m_out(m_outputs), m_xpt(m_outputs) {
    for (int c = 0; c < m_inputs; ++c)
        m_in[c] = kPattern[c % kPatternSize];
    for (int c = 0; c < m_outputs; ++c)
        m_out[c] = kPattern[(c + kOutputPatternOffset) % kPatternSize];
    for (const Route &r : kRoutes) {
        if (r.output < m_outputs && r.source < m_inputs)
            m_xpt[r.output].append({r.source, r.gain});
    }
}

QList<int> &SimState::table(int kind) {
    return const_cast<QList<int> &>(std::as_const(*this).table(kind));
}

const QList<int> &SimState::table(int kind) const {
    switch (kind) {
    case kKindInputSecond:
        return m_inSecond;
    case kKindInput:
        return m_in;
    case kKindOutputSecond:
        return m_outSecond;
    default:
        return m_out;
    }
}

int SimState::gain(int kind, int channel) const {
    return table(kind).at(channel);
}

SimState::Result SimState::apply(const Message &command) {
    Result r;
    const int kind = command.kind;
    const int first = command.first;
    if (command.values.isEmpty() && command.crosspoints.isEmpty()) {
        r.reason = QStringLiteral("no entries");
        return r;
    }
    if (kind == kKindCrosspoint) {
        if (first >= m_outputs) {
            r.reason = QStringLiteral("output %1 does not exist (%2 outputs)")
                           .arg(first + 1)
                           .arg(m_outputs);
            return r;
        }
        QList<Crosspoint> &fed = m_xpt[first];
        for (const Crosspoint &c : command.crosspoints) {
            const bool routed = std::any_of(fed.cbegin(), fed.cend(), [&](const Crosspoint &x) {
                return x.source == c.source;
            });
            if (!routed) {
                r.reason = QStringLiteral("input %1 does not feed output %2")
                               .arg(c.source + 1)
                               .arg(first + 1);
                return r;
            }
        }
        QList<Crosspoint> confirmed;
        for (const Crosspoint &c : command.crosspoints) {
            const int g = clampGain(c.gain);
            r.clamped |= g != c.gain;
            for (Crosspoint &x : fed) {
                if (x.source == c.source)
                    x.gain = g;
            }
            confirmed.append({c.source, g});
        }
        r.applied = true;
        r.report = SimCodec::crosspointReport(first, confirmed);
        return r;
    }
    if (kind < kKindInputSecond || kind > kKindOutput) {
        r.reason = QStringLiteral("unknown gain kind %1").arg(kind);
        return r;
    }
    const bool input = kind == kKindInputSecond || kind == kKindInput;
    const int count = input ? m_inputs : m_outputs;
    const qsizetype last = qsizetype(first) + command.values.size() - 1;
    if (last >= count) {
        r.reason = QStringLiteral("%1 %2 does not exist (%3 %1s)")
                       .arg(input ? QStringLiteral("input") : QStringLiteral("output"))
                       .arg(last + 1)
                       .arg(count);
        return r;
    }
    QList<int> &gains = table(kind);
    QList<int> confirmed;
    for (qsizetype k = 0; k < command.values.size(); ++k) {
        const int g = clampGain(command.values[k]);
        r.clamped |= g != command.values[k];
        gains[first + k] = g;
        confirmed.append(g);
    }
    r.applied = true;
    r.report = SimCodec::gainReport(kind, first, confirmed);
    return r;
}

QList<Message> SimState::dump() const {
    QList<Message> out;
    for (int kind : {kKindInputSecond, kKindInput, kKindOutputSecond, kKindOutput}) {
        const QList<int> &gains = table(kind);
        for (qsizetype first = 0; first < gains.size(); first += kGainsPerReport)
            out.append(SimCodec::gainReport(kind, int(first), gains.mid(first, kGainsPerReport)));
    }
    for (int first = 0; first < m_outputs; first += kOutputsPerMap) {
        QList<SimCodec::MapBlock> blocks;
        for (int o = first; o < std::min(first + kOutputsPerMap, m_outputs); ++o)
            blocks.append({0, m_xpt[o]});
        out.append(SimCodec::crosspointMap(first, blocks));
    }
    for (int o = 0; o < m_outputs; ++o) {
        if (!m_xpt[o].isEmpty())
            out.append(SimCodec::crosspointReport(o, m_xpt[o]));
    }
    return out;
}
