#pragma once

#include "config/Settings.h"
#include <QDialog>

#include <QtGlobal>
#include <array>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The modal Setup dialog: gain type, the channel of each fader, the output channel and the
// switcher's address and port. Created for one opening from the settings in force and
// discarded when it closes. It changes nothing outside itself: after OK, chosen() holds the
// settings the user confirmed, for the main window to apply.
class frmSetup : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kChanRows = 3; // fader 0, fader 1, output channel

    explicit frmSetup(const Settings &current, QWidget *parent = nullptr);

    // The settings after OK: the ones in force at opening, with what the user confirmed.
    const Settings &chosen() const { return m_settings; }

  private:
    void Form_Load();
    void opt_Click(qint16 type); // relabels the channel rows for a gain type
    void cmdOk_Click();
    void cmdCancel_Click();
    void buildControls();
    void setChanCaption(int row, const QString &caption);

    Settings m_settings;

    std::array<QLabel *, kChanRows> lblChan{};
    std::array<QLineEdit *, kChanRows> txtChan{};
    QGroupBox *frmType = nullptr;
    QRadioButton *optInput = nullptr;
    QRadioButton *optOutput = nullptr;
    QRadioButton *OptDSP = nullptr;
    QPushButton *cmdOk = nullptr;
    QPushButton *cmdCancel = nullptr;
    QLabel *lblIPPort = nullptr;
    QLineEdit *txtIPPort = nullptr;
    QLineEdit *txtIPAddr = nullptr;
    QLabel *lblAddress = nullptr;
};
