#pragma once

#include "config/Settings.h"
#include "config/SettingsLocation.h"
#include "config/SurfaceSettings.h"

#include <QMainWindow>
#include <QString>
#include <array>

class CeilingMenu;
class EditMenu;
class FaderController;
class ScenesMenu;
class FaderView;
class LinkIndicator;
class OscSurface;
class MidiSurface;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class SwitcherLink;
class frmAbout;
class frmSurfaces;
class frmTraffic;

// The one window of the panel: the fader panel, Clear and the counters panel below it, the
// menus and the link indicator. It holds the settings in force, owns the link to the switcher
// and wires the two together; its controls are its own.
class frmMain : public QMainWindow {
    Q_OBJECT

  public:
    static constexpr int kCounters = 10;

    // The settings file of this run: written by Setup's OK and at exit, and read by Form_Load
    // (or, while it does not exist yet, the file it starts from).
    explicit frmMain(const SettingsLocation::Place &settings, QWidget *parent = nullptr);
    // One settings file for both, by default Slider.ini beside the executable.
    explicit frmMain(const QString &settingsPath = DefaultSettingsPath(),
                     QWidget *parent = nullptr);
    ~frmMain() override;

    static QString DefaultSettingsPath();

    // Start-up: defaults, faders at 0 dB, settings file, captions, connection, boxes.
    void Form_Load();

    // Refreshes both faders and gain captions from the reported gains.
    void UpdateGain();
    // Writes a byte string out of the serial port when it is open.
    void TcptoSerial(const QByteArray &sSendString);

    const Settings &settings() const { return m_settings; }
    QString settingsPath() const { return m_place.path; }
    // "Bad File" after the last read or write of the settings file failed, else empty. Kept
    // as the reason, never shown.
    QString settingsFailure() const { return m_settingsFailure; }
    SwitcherLink &link() { return *m_link; }
    // The OSC control surface: listening from start-up when [SURFACES] enables it.
    OscSurface &osc() { return *m_osc; }
    // The MIDI controller surface: runs from start-up when the settings name a port.
    MidiSurface &midi() { return *m_midi; }
    FaderController &faders() { return *m_faders; }
    ScenesMenu &scenes() { return *m_scenes; }
    CeilingMenu &ceilings() { return *m_ceilings; }
    // Brings the window to the front: a second panel was started on this settings file.
    void comeForward();

    // Closes the window for a termination signal: a settings file that cannot be written is
    // then reported on the standard error stream, since nobody may be there to answer a box.
    void closeForSignal();

    // What Setup's OK confirmed: reconnects when the address or port changed, brings the
    // window in line and saves the settings file.
    void ApplySetup(const Settings &chosen);

  protected:
    // Shutdown (Form_Unload): close the serial port, disconnect, write the settings.
    void closeEvent(QCloseEvent *event) override;

  private:
    void buildCounters(QWidget *panel);
    void buildMenus();
    void wireLink();
    // The one place the program's settings change: the window, the faders and the link's
    // target follow them.
    void useSettings(const Settings &settings);
    void readSettingsFile(const Settings &start);
    void writeSettingsFile();
    void showCount(int k);
    void showConnectFailure();
    void readSurfaceSettings();
    QString writeOscSettings(const SurfaceSettings &osc);

    // Handlers.
    void cmdClear_Click();
    void mnuConnect_Click();
    void mnuSetup_Click();
    void mnuAbout_Click();
    void mnuTrafficLog_Click();
    void mnuSurfaces_Click();

    const SettingsLocation::Place m_place;
    Settings m_settings;
    QString m_settingsFailure;
    QString m_readProblem; // why the settings file could not be read, for the About box
    bool m_closingForSignal = false;
    SwitcherLink *m_link;
    FaderView *m_faderView = nullptr;
    FaderController *m_faders = nullptr;
    OscSurface *m_osc = nullptr;
    MidiSurface *m_midi = nullptr;

    QPushButton *cmdClear = nullptr;
    std::array<QLineEdit *, kCounters> txtCount{};
    std::array<QLabel *, kCounters> lblMessage{};

    QMenu *mnuFile = nullptr;
    QAction *mnuSetup = nullptr;
    QAction *mnuConnect = nullptr;
    QAction *mnuSurfaces = nullptr;
    QAction *mnuExit = nullptr;
    QMenu *mnuEdit = nullptr;
    QMenu *mnuScenes = nullptr;
    EditMenu *m_edit = nullptr;
    CeilingMenu *m_ceilings = nullptr;
    ScenesMenu *m_scenes = nullptr;
    QMenu *mnuHelp = nullptr;
    QAction *mnuAbout = nullptr;
    QAction *mnuTrafficLog = nullptr;
    LinkIndicator *m_indicator = nullptr;
    frmAbout *aboutBox = nullptr;
    frmTraffic *trafficLog = nullptr;
    frmSurfaces *surfacesWindow = nullptr;

    bool m_unloaded = false;
};
