#pragma once

// The panel's own window in this process against the switcher simulator as a separate process,
// both as they ship: started as the program starts (a settings file that points at the
// simulator, Form_Load, show), and what the user sees once the switcher's answer is in.

#include "app/frmMain.h"
#include "faders/GainScale.h"
#include "support/Controls.h"
#include "support/EventLoop.h"
#include "support/SettingsFile.h"
#include "support/SimProcess.h"
#include "transport/SwitcherLink.h"

#include <QLabel>
#include <QSlider>
#include <QTimer>
#include <QtTest>
#include <memory>

namespace TestSupport {

struct SimPanel {
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<frmMain> form;

    // The simulator alone; false, saying why, when it did not come up.
    bool startSim(const QStringList &options = {}) {
        sim = std::make_unique<SimProcess>();
        if (sim->start(options))
            return true;
        qWarning("switcher-sim: %s", qPrintable(sim->error()));
        return false;
    }

    // The simulator, then the panel from the settings file at path: the [CONFIGURATION] that
    // points at the simulator, then `sections`. Not waiting for the connection.
    bool start(const QByteArray &sections, const QStringList &simOptions = {},
               const QString &path = frmMain::DefaultSettingsPath()) {
        if (!startSim(simOptions))
            return false;
        writeFile(path, "[CONFIGURATION]\nIP Address=127.0.0.1\nIP Port=" +
                            QByteArray::number(sim->port()) + "\n" + sections);
        form = std::make_unique<frmMain>(path);
        form->Form_Load();
        form->show();
        return true;
    }

    bool connected() {
        return spinUntil([this] { return form->link().bConnected(); });
    }

    const SwitcherTables &tables() const { return form->link().tables(); }
    QSlider *fader(int i) const { return Find<QSlider>(form.get(), "sliGain", i); }
    QString caption(int i) const { return Find<QLabel>(form.get(), "lblGain", i)->text(); }

    // No refresh pending and nothing left to decode: what the faders show is final.
    bool settled() const {
        return !Find<QTimer>(form.get(), "tmrGain")->isActive() && form->link().sBuffer().isEmpty();
    }

    // Both faders at these gains, with their captions, and nothing pending. (The captions'
    // words for each gain are the fader tests' to check.)
    bool shows(int gain0, int gain1) const {
        return settled() && fader(0)->value() == -gain0 && fader(1)->value() == -gain1 &&
               caption(0) == GainScale::GainCaption(qint16(gain0)) &&
               caption(1) == GainScale::GainCaption(qint16(gain1));
    }

    // The simulator's trace holds text within the time given.
    bool traced(const QString &text, int timeoutMs = kWaitMs) {
        return spinUntil([&] { return sim->trace().contains(text); }, timeoutMs);
    }

    // The panel goes, then the simulator, whose trace a failed test shows.
    void reset() {
        form.reset();
        if (sim && QTest::currentTestFailed())
            qInfo().noquote() << "switcher-sim trace:\n" << sim->trace();
        sim.reset();
    }
};

} // namespace TestSupport
