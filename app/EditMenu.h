#pragma once

// Undo and Redo in the Edit menu: their texts ("Undo Move Fader 1") and enabled state follow
// the fader controller's history; the steps themselves are the controller's.

#include <QObject>

class FaderController;
class QAction;
class QMenu;

class EditMenu : public QObject {
    Q_OBJECT

  public:
    EditMenu(FaderController &faders, QMenu *menu);

    QAction *undoAction() const { return m_undo; }
    QAction *redoAction() const { return m_redo; }

  private:
    void follow();

    FaderController &m_faders;
    QAction *m_undo;
    QAction *m_redo;
};
