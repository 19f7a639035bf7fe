#pragma once

#include <QDialog>

class frmMain;

// The modal Setup dialog: gain type, channels, switcher address and port.
class frmSetup : public QDialog {
    Q_OBJECT

  public:
    explicit frmSetup(frmMain *owner);

  private:
    frmMain *m_main;
};
