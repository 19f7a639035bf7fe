#pragma once

// The "Control Surfaces" window (File > Control Surfaces): one page for each kind of surface
// (OSC, MIDI), each made by the code that owns that surface. Not modal: an operator keeps it
// open beside the faders to see that a tablet or a controller is heard.

#include <QDialog>

class QTabWidget;

class frmSurfaces : public QDialog {
    Q_OBJECT

  public:
    explicit frmSurfaces(QWidget *parent = nullptr);

    // Adds a page under its title ("OSC", "MIDI"); the window takes it over.
    void addPage(QWidget *page, const QString &title);

  private:
    QTabWidget *m_pages;
};
