#pragma once

#include <QDialog>
#include <QtGlobal>
#include <array>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class frmMain;

// The modal Setup dialog: gain type, the channel of each fader, the output channel and the
// switcher's address and port. Created for one opening and discarded when it closes; nothing
// outside it changes until OK.
class frmSetup : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kChanRows = 3; // fader 0, fader 1, output channel

    explicit frmSetup(frmMain *owner);

    // Controls, public so that tests can drive them by the names the program uses.
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

    // Handlers.
    void Form_Load();
    void opt_Click(qint16 type); // relabels the channel rows for a gain type
    void cmdOk_Click();
    void cmdCancel_Click();

  private:
    void buildControls();
    void setChanCaption(int row, const QString &caption);

    frmMain *m_main;
};
