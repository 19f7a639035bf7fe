#include "app/frmMain.h"

#include "app/ControlName.h"
#include "app/Twips.h"
#include "app/Variables.h"
#include "app/frmAbout.h"
#include "config/DiskWork.h"
#include "config/frmSetup.h"
#include "faders/GainScale.h"
#include "protocol/Dispatcher.h"
#include "protocol/Seams.h"
#include "transport/SerialLink.h"
#include "transport/TcpLink.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSerialPort>
#include <QSlider>
#include <QTcpSocket>
#include <QTimer>

using Twips::px;

namespace {

// Geometry of the form, in twips as it was drawn.
constexpr int kClientWidth = 3135;
constexpr int kClientHeight = 9420;
constexpr int kFrameWidth = 1335;
constexpr int kFrameHeight = 5655;
constexpr int kFrameTop = 60;
constexpr int kFrameLeft[frmMain::kFaders] = {120, 1680};
constexpr int kSliderWidth = 630;
constexpr int kSliderHeight = 3975;
constexpr int kLockRowTop = 5820;
constexpr int kCountersTop = 6300;
constexpr int kCounterRowHeight = 600;

// Start-up interval of tmrGain: the first refresh shows the reported gains 50 ms after the
// window opens. tmrDecode ticks every millisecond while bytes wait.
constexpr int kGainTimerStartMs = 50;
constexpr int kDecodeTimerMs = 1;

const char *const kCounterCaptions[frmMain::kCounters] = {
    "65->65", "66->65", "67->65", "68->65", "65->66", "66->66", "67->66", "68->66", "In ", "Out"};

} // namespace

frmMain::frmMain(QWidget *parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Gain Change"));
    setObjectName(QStringLiteral("frmMain"));

    auto *client = new QWidget(this);
    client->setFixedSize(px(kClientWidth), px(kClientHeight));
    setCentralWidget(client);

    for (int i = 0; i < kFaders; ++i)
        buildFaderGroup(i);

    chkLock = new QCheckBox(QStringLiteral("Lock Faders"), client);
    chkLock->setObjectName(QStringLiteral("chkLock"));
    chkLock->setAccessibleName(QStringLiteral("Lock Faders"));
    chkLock->setGeometry(px(120), px(kLockRowTop), px(1500), px(330));

    cmdClear = new QPushButton(QStringLiteral("Clear"), client);
    cmdClear->setObjectName(QStringLiteral("cmdClear"));
    cmdClear->setAccessibleName(QStringLiteral("Clear counters"));
    cmdClear->setGeometry(px(1920), px(kLockRowTop - 30), px(1095), px(390));
    connect(cmdClear, &QPushButton::clicked, this, &frmMain::cmdClear_Click);

    buildCounters(client);
    buildMenus();

    tmrGain = new QTimer(this);
    tmrGain->setObjectName(QStringLiteral("tmrGain"));
    connect(tmrGain, &QTimer::timeout, this, &frmMain::tmrGain_Timer);
    tmrDecode = new QTimer(this);
    tmrDecode->setObjectName(QStringLiteral("tmrDecode"));
    tmrDecode->setTimerType(Qt::PreciseTimer);
    connect(tmrDecode, &QTimer::timeout, this, &frmMain::tmrDecode_Timer);

    scktServer = new QTcpSocket(this);
    scktServer->setObjectName(QStringLiteral("scktServer"));
    MSComm1 = new QSerialPort(this);
    MSComm1->setObjectName(QStringLiteral("MSComm1"));
    MSComm1->setBaudRate(QSerialPort::Baud57600);

    setupFaders();
    installSeams();
    TCPComm::AttachSocket(scktServer);
    SerialLink::AttachPort(MSComm1);

    layout()->setSizeConstraint(QLayout::SetFixedSize);

    // Both timers run from the moment the window exists.
    tmrGain->start(kGainTimerStartMs);
    tmrDecode->start(kDecodeTimerMs);
}

frmMain::~frmMain() {
    // The hooks point at this window; nothing may call them once it is gone.
    TCPComm::seams() = TCPComm::Seams{};
    TCPComm::AttachSocket(nullptr);
    SerialLink::AttachPort(nullptr);
}

void frmMain::buildFaderGroup(int i) {
    const int fader = i + 1; // as the user counts
    auto *frame = new QFrame(centralWidget());
    frame->setObjectName(ControlName("frmSlider", i));
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Sunken);
    frame->setGeometry(px(kFrameLeft[i]), px(kFrameTop), px(kFrameWidth), px(kFrameHeight));
    frmSlider[i] = frame;

    const int inner = px(kFrameWidth);
    lblChan[i] = new QLabel(QStringLiteral("Ch. 1"), frame);
    lblChan[i]->setObjectName(ControlName("lblChan", i));
    lblChan[i]->setAccessibleName(QStringLiteral("Fader %1 channel").arg(fader));
    lblChan[i]->setAlignment(Qt::AlignCenter);
    lblChan[i]->setGeometry(2, px(90), inner - 4, px(255));

    lblGain[i] = new QLabel(QStringLiteral("Gain (0db)"), frame);
    lblGain[i]->setObjectName(ControlName("lblGain", i));
    lblGain[i]->setAccessibleName(QStringLiteral("Fader %1 gain").arg(fader));
    lblGain[i]->setAlignment(Qt::AlignCenter);
    // "Gain (-99.9db)" has to fit the narrow frame.
    Twips::UseDrawnFontSize(lblGain[i]);
    lblGain[i]->setGeometry(2, px(390), inner - 4, px(255));

    sliGain[i] = new QSlider(Qt::Vertical, frame);
    sliGain[i]->setObjectName(ControlName("sliGain", i));
    sliGain[i]->setAccessibleName(QStringLiteral("Fader %1").arg(fader));
    sliGain[i]->setGeometry((inner - px(kSliderWidth)) / 2, px(720), px(kSliderWidth),
                            px(kSliderHeight));

    cmdZerodb[i] = new QPushButton(QStringLiteral("0db"), frame);
    cmdZerodb[i]->setObjectName(ControlName("cmdZerodb", i));
    cmdZerodb[i]->setAccessibleName(QStringLiteral("Fader %1 to 0 dB").arg(fader));
    cmdZerodb[i]->setGeometry(px(180), px(4800), px(975), px(360));
    connect(cmdZerodb[i], &QPushButton::clicked, this, [this, i] { cmdZerodb_Click(i); });

    chkStereo[i] = new QCheckBox(QStringLiteral("Stereo"), frame);
    chkStereo[i]->setObjectName(ControlName("chkStereo", i));
    chkStereo[i]->setAccessibleName(QStringLiteral("Fader %1 stereo").arg(fader));
    chkStereo[i]->setGeometry(px(180), px(5220), px(1095), px(330));
    connect(chkStereo[i], &QCheckBox::clicked, this, [this, i] { chkStereo_Click(i); });
}

void frmMain::buildCounters(QWidget *panel) {
    constexpr int kCellWidth = kClientWidth / 2;
    constexpr int kLabelWidth = 780;
    constexpr int kBoxWidth = 600;
    for (int k = 0; k < kCounters; ++k) {
        const int left = (k % 2) * kCellWidth + 120;
        const int top = kCountersTop + (k / 2) * kCounterRowHeight;
        const QString caption = QString::fromLatin1(kCounterCaptions[k]);

        lblMessage[k] = new QLabel(caption, panel);
        lblMessage[k]->setObjectName(ControlName("lblMessage", k));
        lblMessage[k]->setGeometry(px(left), px(top), px(kLabelWidth), px(375));
        lblMessage[k]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

        // The boxes only display counts: read-only, so a stray keystroke cannot fake one.
        txtCount[k] = new QLineEdit(QStringLiteral("0"), panel);
        txtCount[k]->setObjectName(ControlName("txtCount", k));
        txtCount[k]->setAccessibleName(QStringLiteral("Count ") + caption.trimmed());
        txtCount[k]->setReadOnly(true);
        txtCount[k]->setGeometry(px(left + kLabelWidth + 60), px(top), px(kBoxWidth), px(375));
        lblMessage[k]->setBuddy(txtCount[k]);
    }
}

void frmMain::buildMenus() {
    mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuSetup = mnuFile->addAction(QStringLiteral("&Setup"));
    mnuSetup->setObjectName(QStringLiteral("mnuSetup"));
    mnuFile->addSeparator()->setObjectName(QStringLiteral("mnuSep"));
    mnuConnect = mnuFile->addAction(QStringLiteral("&Connect"));
    mnuConnect->setObjectName(QStringLiteral("mnuConnect"));
    mnuFile->addSeparator()->setObjectName(QStringLiteral("mnuSep2"));
    mnuExit = mnuFile->addAction(QStringLiteral("E&xit"));
    mnuExit->setObjectName(QStringLiteral("mnuExit"));
    mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    mnuAbout = mnuHelp->addAction(QStringLiteral("&About"));
    mnuAbout->setObjectName(QStringLiteral("mnuAbout"));

    connect(mnuSetup, &QAction::triggered, this, &frmMain::mnuSetup_Click);
    connect(mnuConnect, &QAction::triggered, this, &frmMain::mnuConnect_Click);
    connect(mnuExit, &QAction::triggered, this, &QWidget::close);
    connect(mnuAbout, &QAction::triggered, this, &frmMain::mnuAbout_Click);
}

void frmMain::installSeams() {
    auto &hooks = TCPComm::seams();
    hooks.updateGain = [this] { UpdateGain(); };
    hooks.gainTimerActive = [this] { return tmrGain->isActive(); };
    hooks.restartGainTimer = [this] { tmrGain->start(); };
    hooks.showCount = [this](int k) {
        if (k >= 0 && k < kCounters)
            txtCount[k]->setText(QString::number(Variables::iMsgCount[k]));
    };
    // Setting a running timer running leaves its interval alone: restarting it on every data
    // event would keep a fast stream from ever letting the timer tick.
    hooks.startDecodeTimer = [this] {
        if (!tmrDecode->isActive())
            tmrDecode->start();
    };
    hooks.stopDecodeTimer = [this] { tmrDecode->stop(); };
    hooks.setConnectCaption = [this](const QString &caption) { mnuConnect->setText(caption); };
    hooks.reportConnectFailure = [this] {
        QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(),
                        QStringLiteral("Unable to connect to remote host"), QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("connectFailure"));
        box.exec();
    };
}

void frmMain::Form_Load() {
    using namespace Variables;
    iMsgCount.fill(0);
    SetDefaultSettings();
    for (int i = 0; i < kFaders; ++i) {
        sliGain[i]->setValue(GainScale::kZeroDbPosition);
        lblGain[i]->setText(GainScale::GainCaption(GainScale::kZeroDbGain));
    }
    DiskWork::ReadSettings();
    ShowChannelCaptions();
    TCPComm::ConnectSwitcher();
    ShowStereoAndLock();
}

void frmMain::ShowChannelCaptions() {
    for (int i = 0; i < kFaders; ++i)
        lblChan[i]->setText(GainScale::ChanCaption(Variables::iChan[i]));
}

void frmMain::ShowStereoAndLock() {
    const bool visible = Variables::iType != Variables::kTypeDsp;
    chkLock->setVisible(visible);
    for (auto *box : chkStereo)
        box->setVisible(visible);
}

void frmMain::cmdClear_Click() {
    using namespace Variables;
    iMsgCount.fill(0);
    iHistoryCount = 0;
    for (int k = 0; k < kCounters; ++k)
        txtCount[k]->setText(QString::number(iMsgCount[k]));
}

void frmMain::mnuConnect_Click() {
    if (Variables::bConnected)
        TCPComm::DisconnectSwitcher();
    else
        TCPComm::ConnectSwitcher();
}

void frmMain::mnuSetup_Click() {
    frmSetup dialog(this);
    dialog.exec();
}

void frmMain::mnuAbout_Click() {
    // Made on first use (its icon loads image plugins that start-up need not wait for),
    // then only hidden and shown again.
    if (!aboutBox)
        aboutBox = new frmAbout(this);
    aboutBox->exec();
}

void frmMain::tmrDecode_Timer() {
    TCPComm::DecodeTick();
}

void frmMain::TcptoSerial(const QByteArray &sSendString) {
    SerialLink::TcptoSerial(sSendString);
}

void frmMain::closeEvent(QCloseEvent *event) {
    if (!m_unloaded) {
        m_unloaded = true;
        SerialLink::CloseIfOpen();
        TCPComm::DisconnectSwitcher();
        DiskWork::WriteSettings();
    }
    event->accept();
}
