#pragma once

// The two fader groups and the Lock Faders box as the user sees them: frames, channel and gain
// captions, the faders, the gain editors, 0db and Stereo. The view shows what it is told and
// reports what the user does through its signals; every rule about what a movement sends, and
// when the faders fall back to the reported gains, belongs to FaderController.

#include <QWidget>
#include <array>
#include <optional>

class DbEditor;
class Fader;
class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;

class FaderView : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kFaders = 2;

    explicit FaderView(QWidget *parent = nullptr);

    // Thumb and gain caption of fader i on gain (a gain the fader cannot show puts the thumb at
    // the nearest end; the caption says it as it is). Not a user step: nothing is reported.
    void showGain(int i, qint16 gain);
    // Only the gain caption (and the fader's name with it): the thumb stays where the user put
    // it, or where showThumb put it.
    void showCaption(int i, qint16 gain);
    void showThumb(int i, qint16 gain);
    // Puts the thumb at gain even in the middle of a user step (a drag goes on from there).
    void holdThumb(int i, qint16 gain);
    // The ceiling's mark on fader i's track; none: no mark.
    void showCeiling(int i, std::optional<qint16> ceiling);
    // Gain value of the thumb's settled position.
    qint16 thumbGain(int i) const;

    // "Ch. n" over fader i.
    void showChannel(int i, qint16 channel);
    // Shows or hides Lock Faders and both Stereo boxes (they keep their state while hidden).
    void showStereoAndLock(bool visible);

    bool stereo(int i) const;
    void setStereo(int i, bool on);
    bool locked() const;
    void setLock(bool checked, bool enabled);

    void focusFader(int i);
    // Opens the editor for typing the gain of fader i over its gain caption.
    void openGainEntry(int i);

  signals:
    // A user step of fader i (drag, track click, wheel, arrow or page key): the gain of the
    // position the thumb is going to, reported before the fader's value follows it.
    void stepped(int i, qint16 gain);
    // A key let go on fader i (the real release of a held key only), as a Qt key.
    void keyReleased(int i, int key);
    // A gain for fader i typed into its editor, or set through assistive technology.
    void gainEntered(int i, qint16 gain);
    void zeroClicked(int i);
    void stereoClicked(int i);
    void lockClicked(bool checked);

  protected:
    // Home and End on a fader, Enter on a fader, key releases, a double-click on a caption.
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void buildFaderGroup(int index);
    void setupFader(int index);
    void showFaderDescription(int index);
    bool faderKey(int i, QEvent *event);

    std::array<QFrame *, kFaders> frmSlider{};
    std::array<QLabel *, kFaders> lblChan{};
    std::array<QLabel *, kFaders> lblGain{};
    std::array<Fader *, kFaders> sliGain{};
    std::array<DbEditor *, kFaders> txtGainEntry{};
    std::array<QPushButton *, kFaders> cmdZerodb{};
    std::array<QCheckBox *, kFaders> chkStereo{};
    QCheckBox *chkLock;
    bool m_holding = false; // holdThumb is moving a thumb: not a step of the user's
};
