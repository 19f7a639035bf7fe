#pragma once

// The rules of the two faders: what a movement sends, Stereo and Lock Faders, and the fall-back
// to what the switcher reported (tmrGain, UpdateGain). It speaks to the link in gains only
// (GainLink) and to the widgets through FaderView; the window feeds it the link's reports.
//
// Every way of moving a fader (a hand on the fader or its keys, 0db, a typed gain, assistive
// technology, and anything added later) ends in the same handler, sliGain_Scroll, so that each
// obeys the same rules: nothing is sent when the gain is the one reported, Stereo sends a pair,
// Lock Faders moves the other fader too, and tmrGain brings both back to the reported gains a
// moment after the last movement.

#include "config/Settings.h"
#include "protocol/StoredGains.h"

#include <QObject>
#include <QtGlobal>

class FaderView;
class GainLink;
class QTimer;

class FaderController : public QObject {
    Q_OBJECT

  public:
    static constexpr int kFaders = 2;

    // Interval of tmrGain at start-up (the first refresh), after a movement (longer with Lock
    // Faders, whose two commands the switcher confirms one after the other) and after it fired.
    static constexpr int kStartRefreshMs = 50;
    static constexpr int kRefreshMs = 100;
    static constexpr int kLockedRefreshMs = 200;
    static constexpr int kAfterRefreshMs = 10;

    // link and view must outlive the controller.
    FaderController(GainLink &link, FaderView &view, QObject *parent = nullptr);

    // The gain type, channels and output channel the faders follow from now on.
    void setSettings(const Settings &settings);
    const Settings &settings() const { return m_settings; }
    // "Ch. n" captions from the configured channels.
    void ShowChannelCaptions();
    // Shows Lock Faders and both Stereo boxes for input and output gains, hides them for DSP
    // gains (they keep their state, and their effect, while hidden).
    void ShowStereoAndLock();
    // Both faders at 0 dB with their captions, as start-up puts them.
    void ShowZeroDb();

    // Moves fader i to gain as the user would: the thumb goes there and the handler decides
    // what is sent. The one way in for every source of movement that is not the fader itself.
    void moveAsUser(int i, qint16 gain);
    // Stereo on fader i and Lock Faders, as a click on their boxes would set them (Lock Faders
    // stays off while either Stereo box is checked).
    void setStereo(int i, bool on);
    void setLock(bool on);

    // What the switcher last reported for fader i's channel under the present gain type.
    qint16 reportedGain(int i) const;

    // Refreshes both faders and gain captions from the reported gains.
    void UpdateGain();
    // After the link stored a report: refresh at once when tmrGain is idle, otherwise restart
    // it, so that the refresh waits until the user has stopped moving a fader.
    void gainsStored(const StoredGains &stored);
    // The same after crosspoint maps, when the faders follow one of the outputs stored.
    void crosspointMapsStored(int first, int last);
    // Enables tmrGain (Setup's OK): a refresh soon, unless one is already counting down.
    void refreshSoon();

    // True while UpdateGain moves the faders: the handlers then send nothing.
    bool updating() const { return bUpdating; }

    // Handlers. sliGain_Scroll takes the gain the user put fader i's thumb at.
    void sliGain_Scroll(int i, qint16 gain);
    void sliGain_KeyUp(int i, int key);
    void cmdZerodb_Click(int i);
    void chkStereo_Click(int i);
    void tmrGain_Timer();

  private:
    void requestGain(int i, qint16 gain, int entries);

    GainLink &m_link;
    FaderView &m_view;
    Settings m_settings;
    bool bUpdating = false;
    QTimer *tmrGain;
};
