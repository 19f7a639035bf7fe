#include "app/frmMain.h"

#include "app/CeilingMenu.h"
#include "app/EditMenu.h"
#include "app/LinkIndicator.h"
#include "app/MidiPage.h"
#include "app/OscPage.h"
#include "app/ProgramInfo.h"
#include "app/ScenesMenu.h"
#include "app/frmAbout.h"
#include "app/frmSetup.h"
#include "app/frmSurfaces.h"
#include "app/frmTraffic.h"
#include "config/DiskWork.h"
#include "faders/ControlName.h"
#include "faders/FaderController.h"
#include "faders/FaderView.h"
#include "faders/Twips.h"
#include "surfaces/MidiSurface.h"
#include "surfaces/OscSurface.h"
#include "transport/SwitcherLink.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>
#include <cstdio>

using Twips::px;

namespace {

// Geometry of the form, in twips as it was drawn.
constexpr int kClientWidth = 3135;
constexpr int kClientHeight = 9420;
constexpr int kLockRowTop = 5820;
constexpr int kCountersTop = 6300;
constexpr int kCounterRowHeight = 600;

const char *const kCounterCaptions[frmMain::kCounters] = {
    "65->65", "66->65", "67->65", "68->65", "65->66", "66->66", "67->66", "68->66", "In ", "Out"};

// What each counter counts, for screen readers (its caption names it).
QString counterDescription(int k, const QString &caption) {
    if (k == frmMain::kCounters - 2)
        return QStringLiteral("Crosspoint gain entries into 65 or 66 from other sources");
    if (k == frmMain::kCounters - 1)
        return QStringLiteral("Crosspoint gain entries for other destinations");
    const QStringList ends = caption.split(QStringLiteral("->"));
    return QStringLiteral("Crosspoint gain entries from source %1 to destination %2")
        .arg(ends.value(0), ends.value(1));
}

const QString kCaptionConnect = QStringLiteral("&Connect");
const QString kCaptionDisconnect = QStringLiteral("&Disconnect");

} // namespace

frmMain::frmMain(const QString &settingsPath, QWidget *parent)
    : frmMain(SettingsLocation::Place{settingsPath, settingsPath}, parent) {}

frmMain::frmMain(const SettingsLocation::Place &settings, QWidget *parent)
    : QMainWindow(parent), m_place(settings), m_link(new SwitcherLink(this)) {
    setWindowTitle(QStringLiteral("Gain Change"));
    setObjectName(QStringLiteral("frmMain"));

    auto *client = new QWidget(this);
    client->setFixedSize(px(kClientWidth), px(kClientHeight));
    setCentralWidget(client);

    // The fader panel first: Clear shares the Lock Faders row and must lie above it.
    m_faderView = new FaderView(client);
    m_faders = new FaderController(*m_link, *m_faderView, this);
    m_midi = new MidiSurface(*m_faders, *m_faderView, *m_link, this);

    cmdClear = new QPushButton(QStringLiteral("Clear"), client);
    cmdClear->setObjectName(QStringLiteral("cmdClear"));
    cmdClear->setAccessibleName(QStringLiteral("Clear counters"));
    cmdClear->setGeometry(px(1920), px(kLockRowTop - 30), px(1095), px(390));
    connect(cmdClear, &QPushButton::clicked, this, &frmMain::cmdClear_Click);

    buildCounters(client);
    buildMenus();
    wireLink();

    // Off until the settings file says otherwise: no socket, no timer.
    m_osc = new OscSurface(*m_faders, *m_link, this);
    m_osc->setObjectName(QStringLiteral("oscSurface"));
    connect(m_osc, &OscSurface::stateChanged, this,
            [this] { m_indicator->setExtraFact(QStringLiteral("osc"), m_osc->problem()); });
    connect(m_osc, &OscSurface::sceneRecallRequested, m_scenes, &ScenesMenu::recallByName);
    useSettings(m_settings);

    // Four menus and the link indicator are wider than the drawn form: the window is as wide
    // as the menu bar with the indicator's longest title, so that nothing folds away into the
    // bar's overflow and the width does not change with the link's state. The client area
    // keeps its drawn size, at the left.
    const QString shown = m_indicator->title();
    int menusWidth = 0;
    for (const LinkState state : {LinkState::Live, LinkState::Connecting, LinkState::Offline}) {
        m_indicator->setTitle(LinkIndicator::Title(state));
        menusWidth = std::max(menusWidth, menuBar()->sizeHint().width());
    }
    m_indicator->setTitle(shown);
    const QSize hint = sizeHint();
    setFixedSize(std::max(hint.width(), menusWidth), hint.height());
}

frmMain::~frmMain() = default;

QString frmMain::DefaultSettingsPath() {
    return DiskWork::SettingsPathIn(QCoreApplication::applicationDirPath());
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

        // The boxes only display counts: read-only, so a stray keystroke cannot fake one. Each is
        // named by its caption; its text, the count, is its value.
        txtCount[k] = new QLineEdit(QStringLiteral("0"), panel);
        txtCount[k]->setObjectName(ControlName("txtCount", k));
        txtCount[k]->setAccessibleName(caption.trimmed());
        txtCount[k]->setAccessibleDescription(counterDescription(k, caption));
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
    mnuSurfaces = mnuFile->addAction(QStringLiteral("Control S&urfaces..."));
    mnuSurfaces->setObjectName(QStringLiteral("mnuSurfaces"));
    mnuFile->addSeparator()->setObjectName(QStringLiteral("mnuSep"));
    mnuConnect = mnuFile->addAction(kCaptionConnect);
    mnuConnect->setObjectName(QStringLiteral("mnuConnect"));
    mnuFile->addSeparator()->setObjectName(QStringLiteral("mnuSep2"));
    mnuExit = mnuFile->addAction(QStringLiteral("E&xit"));
    mnuExit->setObjectName(QStringLiteral("mnuExit"));
    mnuEdit = menuBar()->addMenu(QStringLiteral("&Edit"));
    mnuEdit->setObjectName(QStringLiteral("mnuEdit"));
    m_edit = new EditMenu(*m_faders, mnuEdit);
    mnuEdit->addSeparator();
    m_ceilings = new CeilingMenu(*m_faders, *m_faderView, mnuEdit, this);
    mnuScenes = menuBar()->addMenu(QStringLiteral("S&cenes"));
    mnuScenes->setObjectName(QStringLiteral("mnuScenes"));
    m_scenes = new ScenesMenu(*m_faders, *m_faderView, *m_link, mnuScenes, this);
    // A surface's scene button recalls by name, as the Scenes menu would.
    connect(m_midi, &MidiSurface::sceneRecallRequested, m_scenes, &ScenesMenu::recallByName);
    mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    mnuAbout = mnuHelp->addAction(QStringLiteral("&About"));
    mnuAbout->setObjectName(QStringLiteral("mnuAbout"));
    mnuTrafficLog = mnuHelp->addAction(QStringLiteral("Traffic &Log"));
    mnuTrafficLog->setObjectName(QStringLiteral("mnuTrafficLog"));
    m_indicator = new LinkIndicator(*m_link, menuBar());

    connect(mnuSetup, &QAction::triggered, this, &frmMain::mnuSetup_Click);
    connect(mnuConnect, &QAction::triggered, this, &frmMain::mnuConnect_Click);
    connect(mnuExit, &QAction::triggered, this, &QWidget::close);
    connect(mnuAbout, &QAction::triggered, this, &frmMain::mnuAbout_Click);
    connect(mnuTrafficLog, &QAction::triggered, this, &frmMain::mnuTrafficLog_Click);
    connect(mnuSurfaces, &QAction::triggered, this, &frmMain::mnuSurfaces_Click);
}

void frmMain::wireLink() {
    connect(m_link, &SwitcherLink::gainsStored, m_faders, &FaderController::gainsStored);
    connect(m_link, &SwitcherLink::crosspointMapsStored, m_faders,
            &FaderController::crosspointMapsStored);
    connect(m_link, &SwitcherLink::counterChanged, this, &frmMain::showCount);
    connect(m_link, &SwitcherLink::connectedChanged, this, [this](bool connected) {
        mnuConnect->setText(connected ? kCaptionDisconnect : kCaptionConnect);
    });
    connect(m_link, &SwitcherLink::connectFailed, this, &frmMain::showConnectFailure);
    // What counts as reported starts again with each connection; fades end with it.
    connect(m_link, &SwitcherLink::connected, m_faders, &FaderController::linkUp);
    connect(m_link, &SwitcherLink::connectionLost, m_faders, &FaderController::linkDown);
    connect(m_link, &SwitcherLink::connectedChanged, m_faders, [this](bool connected) {
        if (!connected)
            m_faders->linkDown();
    });
}

void frmMain::useSettings(const Settings &settings) {
    m_settings = settings;
    m_faders->setSettings(settings);
    m_link->setTarget(settings.sIPAddress, settings.lIPPort);
}

void frmMain::Form_Load() {
    m_link->tables().iMsgCount.fill(0);
    Settings settings; // the start-up values
    useSettings(settings);
    m_faders->ShowZeroDb();
    readSettingsFile(settings);
    m_midi->load(m_place.readFrom, m_place.path);
    m_ceilings->load(m_place.readFrom, m_place.path);
    m_scenes->load(m_place.path);
    m_faders->ShowChannelCaptions();
    m_link->ConnectSwitcher();
    readSurfaceSettings();
    m_faders->ShowStereoAndLock();
}

void frmMain::UpdateGain() {
    m_faders->UpdateGain();
}

void frmMain::TcptoSerial(const QByteArray &sSendString) {
    m_link->TcptoSerial(sSendString);
}

void frmMain::showCount(int k) {
    if (k >= 0 && k < kCounters)
        txtCount[k]->setText(QString::number(m_link->tables().iMsgCount[k]));
}

void frmMain::showConnectFailure() {
    QMessageBox box(QMessageBox::Warning, ProgramInfo::kDisplayName,
                    QStringLiteral("Unable to connect to remote host"), QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("connectFailure"));
    box.exec();
}

void frmMain::cmdClear_Click() {
    m_link->tables().ClearCounters();
    for (int k = 0; k < kCounters; ++k)
        showCount(k);
}

void frmMain::mnuConnect_Click() {
    if (m_link->bConnected())
        m_link->DisconnectSwitcher();
    else
        m_link->ConnectSwitcher();
}

void frmMain::mnuSetup_Click() {
    frmSetup dialog(m_settings, this);
    if (dialog.exec() == QDialog::Accepted)
        ApplySetup(dialog.chosen());
}

void frmMain::ApplySetup(const Settings &chosen) {
    const bool moved =
        chosen.sIPAddress != m_settings.sIPAddress || chosen.lIPPort != m_settings.lIPPort;
    if (moved)
        m_link->DisconnectSwitcher();
    useSettings(chosen);
    if (moved)
        m_link->ConnectSwitcher();
    m_faders->ShowChannelCaptions();
    m_faders->refreshSoon();
    m_faders->ShowStereoAndLock();
    writeSettingsFile();
}

// Without a file to read, the start-up values stay.
void frmMain::readSettingsFile(const Settings &start) {
    if (m_place.readFrom.isEmpty())
        return;
    const DiskWork::ReadResult read = DiskWork::ReadSettings(m_place.readFrom, start);
    m_settingsFailure = read.ok ? QString() : QString::fromLatin1(DiskWork::kBadFile);
    m_readProblem = read.reason;
    useSettings(read.settings);
}

// The [SURFACES] section: OSC listens from here on when it is enabled, window open or not.
void frmMain::readSurfaceSettings() {
    if (m_place.readFrom.isEmpty())
        return;
    m_osc->apply(DiskWork::ReadSurfaceSettings(m_place.readFrom).settings);
}

// The OSC keys into the settings file in use; the MIDI keys as the file has them now (the MIDI
// side may have written them meanwhile), every other section and comment kept.
QString frmMain::writeOscSettings(const SurfaceSettings &osc) {
    QDir().mkpath(QFileInfo(m_place.path).absolutePath());
    SurfaceSettings stored = QFileInfo::exists(m_place.path)
                                 ? DiskWork::ReadSurfaceSettings(m_place.path).settings
                                 : osc;
    stored.oscEnabled = osc.oscEnabled;
    stored.oscPort = osc.oscPort;
    stored.oscAddress = osc.oscAddress;
    stored.oscAllowed = osc.oscAllowed;
    if (DiskWork::WriteSurfaceSettings(m_place.path, stored))
        return {};
    return QStringLiteral("The settings could not be saved to %1.")
        .arg(QDir::toNativeSeparators(m_place.path));
}

// Settings that could not be saved would be lost without a word: one message box names the file
// and the reason, and the program goes on as it was (and at exit still ends). The folder of a
// file of the user's own (its configuration folder, or one named on the command line) is made
// when missing.
void frmMain::writeSettingsFile() {
    QDir().mkpath(QFileInfo(m_place.path).absolutePath());
    QString reason;
    const bool written = DiskWork::WriteSettings(m_place.path, m_settings, &reason);
    m_settingsFailure = written ? QString() : QString::fromLatin1(DiskWork::kBadFile);
    if (written)
        return;
    const QString text = QStringLiteral("The settings could not be saved to %1: %2.")
                             .arg(QDir::toNativeSeparators(m_place.path), reason);
    if (m_closingForSignal) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(ProgramInfo::kName), qPrintable(text));
        return;
    }
    QMessageBox box(QMessageBox::Warning, ProgramInfo::kDisplayName, text, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("settingsSaveFailure"));
    box.exec();
}

void frmMain::comeForward() {
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void frmMain::closeForSignal() {
    m_closingForSignal = true;
    close();
}

void frmMain::mnuAbout_Click() {
    // Made on first use (its icon loads image plugins that start-up need not wait for),
    // then only hidden and shown again.
    if (!aboutBox)
        aboutBox = new frmAbout(m_place.path, this);
    aboutBox->setSettingsProblem(m_readProblem);
    aboutBox->exec();
}

void frmMain::mnuTrafficLog_Click() {
    // Made on first use and kept, hidden, when closed: its lines are still there next time.
    if (!trafficLog)
        trafficLog = new frmTraffic(*m_link, this);
    trafficLog->show();
    trafficLog->raise();
    trafficLog->activateWindow();
}

void frmMain::mnuSurfaces_Click() {
    // Made on first use and kept: what each surface shows keeps counting while it is closed.
    if (!surfacesWindow) {
        surfacesWindow = new frmSurfaces(this);
        surfacesWindow->addPage(
            new OscPage(*m_osc,
                        [this](const SurfaceSettings &osc) { return writeOscSettings(osc); }),
            QStringLiteral("OSC"));
        surfacesWindow->addPage(new MidiPage(*m_midi), QStringLiteral("MIDI"));
    }
    surfacesWindow->show();
    surfacesWindow->raise();
    surfacesWindow->activateWindow();
}

void frmMain::closeEvent(QCloseEvent *event) {
    if (!m_unloaded) {
        m_unloaded = true;
        m_link->CloseSerialIfOpen();
        m_link->DisconnectSwitcher();
        writeSettingsFile();
    }
    event->accept();
}
