#pragma once

// The "OSC" page of the Control Surfaces window: OSC on or off, the address and port to listen
// on and the senders allowed, Apply; then what the listener does: its state ("Listening on
// 127.0.0.1:9000", the reason it cannot, or "Off"), the live subscribers, what arrived last and
// what was dropped, counted by reason. Every control is reached by the keyboard and named by its
// visible label; the state and the counts are text a screen reader reads.
//
// Apply starts, stops or rebinds the listener at once and writes the [SURFACES] section of the
// settings file in use (through `save`, which keeps every other key and section).

#include "config/SurfaceSettings.h"

#include <QWidget>
#include <functional>

class OscSurface;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;

class OscPage : public QWidget {
    Q_OBJECT

  public:
    // save writes the OSC settings to the settings file in use; it returns an empty text or why
    // they could not be saved.
    using Save = std::function<QString(const SurfaceSettings &osc)>;

    OscPage(OscSurface &surface, Save save, QWidget *parent = nullptr);

    // What the fields say, when they make sense; otherwise the problem is shown and none.
    void apply();

  protected:
    void showEvent(QShowEvent *event) override;

  private:
    void loadFields();
    void refreshSoon();
    void refresh();

    OscSurface &m_surface;
    Save m_save;
    QCheckBox *chkEnabled;
    QLineEdit *txtAddress;
    QLineEdit *txtPort;
    QLineEdit *txtAllowed;
    QPushButton *cmdApply;
    QLabel *lblProblem;
    QLineEdit *txtState;
    QLineEdit *txtLast;
    QListWidget *lstSubscribers;
    QListWidget *lstDrops;
    QTimer *m_refresh; // single-shot: at most ten refreshes a second while traffic comes
};
