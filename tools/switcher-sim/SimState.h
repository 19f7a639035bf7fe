#pragma once

// The switcher's truth: two gains per input (kinds 0 and 1), two per output (kinds 2 and
// 3), and per output the sources that feed it with their gains. Set-gain commands change it;
// the panels only ever see it through the reports built here.

#include "tools/switcher-sim/SimCodec.h"

#include <QList>
#include <QString>

class SimState {
  public:
    // Channel numbers a panel can hold (0..1024).
    static constexpr int kMaxChannels = 1025;
    // A panel keeps at most 64 sources per output; a map with more is dropped whole.
    static constexpr int kMaxSourcesPerOutput = 64;
    // Sizes of the messages of a state dump.
    static constexpr int kGainsPerReport = 32;
    static constexpr int kOutputsPerMap = 16;
    static constexpr int kDefaultInputs = 128;
    static constexpr int kDefaultOutputs = 128;

    // inputs and outputs in 1..kMaxChannels. Fills the demo state (see README).
    SimState(int inputs = kDefaultInputs, int outputs = kDefaultOutputs);

    int inputs() const { return m_inputs; }
    int outputs() const { return m_outputs; }
    // kinds 0..3; channel must be in range.
    int gain(int kind, int channel) const;
    const QList<SimCodec::Crosspoint> &crosspoints(int output) const { return m_xpt[output]; }

    struct Result {
        bool applied = false;
        bool clamped = false;     // some value was pulled into 24..1264
        QString reason;           // why it was rejected
        SimCodec::Message report; // the confirming report, same layout as the command
    };
    // Applies a set-gain command (a decoded Gain message) all or nothing. Gain values are
    // clamped to Off (24) .. +24 dB (1264); a channel, output or source out of range, a
    // source that does not feed the output, or an unknown kind rejects the whole command.
    Result apply(const SimCodec::Message &command);

    // The answer to an information request: gain reports of kinds 0, 1, 2, 3, then the
    // crosspoint maps of every output, then one kind-10 report per output with sources.
    QList<SimCodec::Message> dump() const;

  private:
    QList<int> &table(int kind);
    const QList<int> &table(int kind) const;
    int m_inputs;
    int m_outputs;
    QList<int> m_inSecond, m_in, m_outSecond, m_out; // kinds 0, 1, 2, 3
    QList<QList<SimCodec::Crosspoint>> m_xpt;
};
