#pragma once

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class SwitcherLink;
class TrafficLog;

// The traffic log window (Help > Traffic Log): every message to and from the switcher as it
// happens, one line each, with Pause, Clear, Copy and Save. Not modal; closing only hides it.
//
// The log takes in traffic only while the window is open, so that a closed window costs the
// link nothing and formats nothing; minimising it does not count as closing.
class frmTraffic : public QWidget {
    Q_OBJECT

  public:
    frmTraffic(SwitcherLink &link, QWidget *parent = nullptr);

    // Writes every line to path in one step (the file is whole or untouched); a failure is
    // shown with its reason, as the user asked for the file.
    void saveTo(const QString &path);

  protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

  private:
    void showLines(const QStringList &lines);
    void showCounts();

    void cmdPause_Toggled(bool paused);
    void cmdClear_Click();
    void cmdCopy_Click();
    void cmdSave_Click();
    // Writes the lines to path; a failure is shown with its reason.

    SwitcherLink &m_link;
    TrafficLog *m_log;
    QString m_saveFolder; // where the last save went

    QPlainTextEdit *txtTraffic = nullptr;
    QLabel *lblTrafficStatus = nullptr;
    QPushButton *cmdPause = nullptr;
    QPushButton *cmdTrafficClear = nullptr;
    QPushButton *cmdCopy = nullptr;
    QPushButton *cmdSave = nullptr;
};
