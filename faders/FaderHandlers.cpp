#include "app/frmMain.h"

// Placeholder until the fader behaviour lands.
void frmMain::setupFaders() {}
void frmMain::sliGain_Scroll(int) {}
void frmMain::sliGain_KeyUp(int, int, int) {}
void frmMain::cmdZerodb_Click(int) {}
void frmMain::chkStereo_Click(int) {}
void frmMain::tmrGain_Timer() {}
void frmMain::UpdateGain() {}
