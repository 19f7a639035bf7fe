#include "faders/SceneCapture.h"

#include "protocol/Channels.h"

#include <QList>
#include <algorithm>

namespace SceneCapture {

Scene Capture(const QString &name, const Settings &settings, std::array<bool, 2> stereo,
              bool wholeSwitcher, const RecallPlan::ReportedGain &reported) {
    QList<int> channels;
    if (wholeSwitcher) {
        for (int channel = 0; channel <= kMaxChannel; ++channel)
            channels.append(channel);
    } else {
        for (std::size_t fader = 0; fader < settings.iChan.size(); ++fader) {
            channels.append(settings.iChan[fader]);
            // A DSP fader's Stereo repeats its one crosspoint: no second channel.
            if (stereo[fader] && settings.iType != kTypeDsp)
                channels.append(settings.iChan[fader] + 1);
        }
        std::sort(channels.begin(), channels.end());
        channels.erase(std::unique(channels.begin(), channels.end()), channels.end());
    }
    // The output channel matters to DSP gains alone; for the others one from a hand-edited
    // settings file must not keep the scene from being saved.
    const qint16 outChan = settings.iType == kTypeDsp ? settings.iOutChan : qint16(0);
    Scene scene{name, settings.iType, outChan, wholeSwitcher, {}};
    for (const int channel : channels) {
        if (channel < 0 || channel > kMaxChannel)
            continue;
        if (const auto gain = reported(settings.iType, qint16(channel), outChan))
            scene.gains.append({qint16(channel), *gain});
    }
    return scene;
}

} // namespace SceneCapture
