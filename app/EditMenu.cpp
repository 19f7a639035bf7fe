#include "app/EditMenu.h"

#include "faders/FaderController.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>

EditMenu::EditMenu(FaderController &faders, QMenu *menu)
    : QObject(menu), m_faders(faders), m_undo(menu->addAction(QStringLiteral("&Undo"))),
      m_redo(menu->addAction(QStringLiteral("&Redo"))) {
    m_undo->setObjectName(QStringLiteral("mnuUndo"));
    m_redo->setObjectName(QStringLiteral("mnuRedo"));
    m_undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    m_redo->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    connect(m_undo, &QAction::triggered, &faders, &FaderController::undo);
    connect(m_redo, &QAction::triggered, &faders, &FaderController::redo);
    connect(&faders, &FaderController::historyChanged, this, &EditMenu::follow);
    follow();
}

// The step's label goes into the text; '&' in it (a scene's name) is shown, not an access key.
void EditMenu::follow() {
    const auto escaped = [](QString label) { return label.replace(QLatin1Char('&'), "&&"); };
    m_undo->setEnabled(m_faders.canUndo());
    m_redo->setEnabled(m_faders.canRedo());
    m_undo->setText(m_faders.canUndo() ? QStringLiteral("&Undo ") + escaped(m_faders.undoLabel())
                                       : QStringLiteral("&Undo"));
    m_redo->setText(m_faders.canRedo() ? QStringLiteral("&Redo ") + escaped(m_faders.redoLabel())
                                       : QStringLiteral("&Redo"));
}
