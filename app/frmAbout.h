#pragma once

#include <QDialog>

class QGroupBox;
class QLabel;
class QPushButton;

// Names the product, its version and its maker. Hidden, never destroyed, by its button.
class frmAbout : public QDialog {
    Q_OBJECT

  public:
    // Adds why the settings file could not be read at start-up to the settings line; empty:
    // the file was read (or did not exist yet).
    void setSettingsProblem(const QString &problem);
    // settingsPath: the settings file in use, named on one line of its own.
    explicit frmAbout(const QString &settingsPath, QWidget *parent = nullptr);

    // Text shown in the version box each time the box becomes active.
    static QString versionText();

  protected:
    void showEvent(QShowEvent *event) override;

  private:
    void Form_Activate();

    QLabel *lblTamrictitle = nullptr;
    QLabel *Image1 = nullptr;
    QGroupBox *frmVersionInfo = nullptr;
    QLabel *lblVersionInfo = nullptr;
    QLabel *lblTamricaddress = nullptr;
    QLabel *lblTamricaddress2 = nullptr;
    QLabel *lblSettingsFile = nullptr;
    QPushButton *cmdAboutquit = nullptr;
};
