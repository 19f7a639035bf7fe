#pragma once

#include <QMainWindow>
#include <array>

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSerialPort;
class QSlider;
class QTcpSocket;
class QTimer;
class frmAbout;

// The one window of the panel: two fader groups, Lock Faders and Clear, and the counters
// panel. The controls are public so that the fader, link and setup code (and tests) can
// reach them by the names the rest of the program uses.
class frmMain : public QMainWindow {
    Q_OBJECT

  public:
    static constexpr int kFaders = 2;
    static constexpr int kCounters = 10;

    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    // Start-up: defaults, faders at 0 dB, settings file, captions, connection, boxes.
    void Form_Load();

    // Refreshes both faders and gain captions from the reported gains.
    void UpdateGain();
    // Writes a byte string out of the serial port when it is open.
    void TcptoSerial(const QByteArray &sSendString);

    // Shows Lock Faders and both Stereo boxes for input and output gains, hides them for
    // DSP gains (they keep their state while hidden).
    void ShowStereoAndLock();
    // "Ch. n" captions from the configured channels.
    void ShowChannelCaptions();

    // Fader group controls, index = fader (0 left, 1 right).
    std::array<QFrame *, kFaders> frmSlider{};
    std::array<QLabel *, kFaders> lblChan{};
    std::array<QLabel *, kFaders> lblGain{};
    std::array<QSlider *, kFaders> sliGain{};
    std::array<QPushButton *, kFaders> cmdZerodb{};
    std::array<QCheckBox *, kFaders> chkStereo{};
    QCheckBox *chkLock = nullptr;
    QPushButton *cmdClear = nullptr;

    // Counters panel.
    std::array<QLineEdit *, kCounters> txtCount{};
    std::array<QLabel *, kCounters> lblMessage{};

    QTimer *tmrGain = nullptr;
    QTimer *tmrDecode = nullptr;

    QMenu *mnuFile = nullptr;
    QAction *mnuSetup = nullptr;
    QAction *mnuConnect = nullptr;
    QAction *mnuExit = nullptr;
    QMenu *mnuHelp = nullptr;
    QAction *mnuAbout = nullptr;

    QTcpSocket *scktServer = nullptr;
    QSerialPort *MSComm1 = nullptr;
    frmAbout *aboutBox = nullptr;

    // Handlers.
    void sliGain_Scroll(int index);
    void sliGain_KeyUp(int index, int keyCode, int shift);
    void cmdZerodb_Click(int index);
    void chkStereo_Click(int index);
    void tmrGain_Timer();
    void tmrDecode_Timer();
    void cmdClear_Click();
    void mnuConnect_Click();
    void mnuSetup_Click();
    void mnuAbout_Click();

  protected:
    // Shutdown (Form_Unload): close the serial port, disconnect, write the settings.
    void closeEvent(QCloseEvent *event) override;

  private:
    void buildFaderGroup(int index);
    void buildCounters(QWidget *panel);
    void buildMenus();
    // Fader ranges, notifications and key hooks; lives with the fader behaviour.
    void setupFaders();
    // Points the protocol and link hooks at this window.
    void installSeams();

    bool m_unloaded = false;
};
