#pragma once

// The two fader groups and the Lock Faders box: what the user moves, and what shows the gains
// the switcher reported. Moving a fader builds its set-gain command and asks for it to be sent
// (sendRequested); tmrGain brings both faders back to the reported gains a moment after the
// last movement or report.

#include "config/Settings.h"
#include "protocol/SwitcherTables.h"

#include <QWidget>
#include <array>

class DbEditor;
class Fader;
class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;
class QTimer;

class FaderPanel : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kFaders = 2;

    // Interval of tmrGain at start-up (the first refresh), after a movement (longer with Lock
    // Faders, whose two commands the switcher confirms one after the other) and after it fired.
    static constexpr int kStartRefreshMs = 50;
    static constexpr int kRefreshMs = 100;
    static constexpr int kLockedRefreshMs = 200;
    static constexpr int kAfterRefreshMs = 10;

    // The panel reads the reported gains from tables, which must outlive it.
    explicit FaderPanel(const SwitcherTables &tables, QWidget *parent = nullptr);

    // The gain type, channels and output channel the faders follow from now on.
    void setSettings(const Settings &settings);
    // "Ch. n" captions from the configured channels.
    void ShowChannelCaptions();
    // Shows Lock Faders and both Stereo boxes for input and output gains, hides them for DSP
    // gains (they keep their state, and their effect, while hidden).
    void ShowStereoAndLock();
    // Both faders at 0 dB with their captions, as start-up puts them.
    void ShowZeroDb();

    // Refreshes both faders and gain captions from the reported gains.
    void UpdateGain();
    // After a decoder stored a report: refresh at once when tmrGain is idle, otherwise restart
    // it, so that the refresh waits until the user has stopped moving a fader.
    void gainsReported();
    // The same after crosspoint maps, when the faders follow one of the outputs stored.
    void crosspointMapsStored(int first, int last);
    // Enables tmrGain (Setup's OK): a refresh soon, unless one is already counting down.
    void refreshSoon();

    // True while UpdateGain moves the faders: the handlers then send nothing.
    bool updating() const { return bUpdating; }

    // Opens the editor for typing the gain of fader index over its gain caption (a double-click
    // on the caption, Enter on the fader).
    void OpenGainEntry(int index);
    // Moves fader index to a gain value as the user would (a typed gain, or a value set by
    // assistive technology): the fader handler decides what is sent.
    void ApplyGain(int index, qint16 gain);

    // Handlers.
    void sliGain_Scroll(int index);
    void sliGain_KeyUp(int index, int keyCode, int shift);
    void cmdZerodb_Click(int index);
    void chkStereo_Click(int index);
    void tmrGain_Timer();

  signals:
    void sendRequested(const QByteArray &message);

  protected:
    // A double-click on a gain caption opens its editor.
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void buildFaderGroup(int index);
    void setupFader(int index);
    void ShowGainCaption(int index, qint16 gain);
    void showFaderDescription(int index);
    void sendSetGain(int index, qint16 gain, int entries);

    const SwitcherTables &m_tables;
    Settings m_settings;
    bool bUpdating = false;

    std::array<QFrame *, kFaders> frmSlider{};
    std::array<QLabel *, kFaders> lblChan{};
    std::array<QLabel *, kFaders> lblGain{};
    std::array<Fader *, kFaders> sliGain{};
    std::array<DbEditor *, kFaders> txtGainEntry{};
    std::array<QPushButton *, kFaders> cmdZerodb{};
    std::array<QCheckBox *, kFaders> chkStereo{};
    QCheckBox *chkLock;
    QTimer *tmrGain;
};
