#pragma once

// A panel asked to end by the system (SIGTERM at logout or shutdown, SIGINT from a terminal,
// SIGHUP when its terminal goes) closes its window as if the user had, so that it disconnects
// and saves its settings like any other exit. Where there are no such signals, nothing happens.

#include <functional>

class QWidget;

// Catches the signals from here on; one that comes before the window exists waits for it.
void CatchTermination();

// Runs close, which closes window, when a caught signal comes (CatchTermination must have run
// first); window owns the watch.
void CloseOnSignal(QWidget *window, const std::function<void()> &close);
