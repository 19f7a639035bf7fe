#include "config/frmSetup.h"

#include "app/frmMain.h"

// Placeholder until the dialog lands.
frmSetup::frmSetup(frmMain *owner) : QDialog(owner), m_main(owner) {
    setWindowTitle(QStringLiteral("Setup"));
}
