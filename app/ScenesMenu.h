#pragma once

// The Scenes menu: store the gains the switcher reported under a name (the faders' channels,
// or the whole switcher), recall, rename, delete, import and export, over the scene file beside
// the settings file in use.
//
// A recall sends only what differs from what the switcher reported. The faders' channels go
// through the fader controller (so their ceilings hold, a fade can carry them, and the recall
// is one undo step); every other channel goes out paced, as the faders would send it, with a
// progress dialog that can cancel when there are many.

#include "faders/Pacer.h"
#include "faders/SceneStore.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>
#include <optional>

class FaderController;
class FaderView;
class QMenu;
class QProgressDialog;
class QWidget;
class SwitcherLink;

class ScenesMenu : public QObject {
    Q_OBJECT

  public:
    // Fills menu; window parents the dialogs and hears what a recall did (its accessible
    // description). Everything passed must outlive this.
    ScenesMenu(FaderController &faders, FaderView &view, SwitcherLink &link, QMenu *menu,
               QWidget *window);

    // (Re)reads the scene file beside the settings file at settingsPath. A file that cannot
    // be read is named in a message box and left as it is; the store refuses edits.
    void load(const QString &settingsPath);
    const SceneStore &store() const { return *m_store; }
    bool recalling() const { return m_pacer.isRunning(); }

    // What the menu's commands do once their questions are answered; each returns why it did
    // nothing, empty when it did what was asked.
    QString storeScene(const QString &name, bool wholeSwitcher, bool replace = false);
    QString renameScene(const QString &from, const QString &to);
    QString deleteScene(const QString &name);
    QString importFile(const QString &file);
    QString exportScene(const QString &name, const QString &file);
    QString recall(const QString &name, std::optional<double> seconds = std::nullopt);

  public slots:
    // A control surface asks for a scene by name, with a fade time or none. What goes wrong
    // is said as for the menu.
    void recallByName(const QString &name, std::optional<double> seconds);
    // The link went down: a paced recall stops (what is left would be dropped anyway).
    void cancelRecall();

  signals:
    void scenesChanged();

  private:
    void rebuildRecallMenu();
    void askStore(bool wholeSwitcher);
    void askRecallWithFade();
    void askRename();
    void askDelete();
    void askImport();
    void askExport();
    std::optional<QString> askWhich(const QString &title, const QString &label);
    void tell(const QString &problem);
    void announce(const QString &text);
    void paced(int done, int total);
    void pacedEnd(bool cancelled);

    FaderController &m_faders;
    FaderView &m_view;
    SwitcherLink &m_link;
    QWidget *m_window;
    QMenu *m_recallMenu;
    std::unique_ptr<SceneStore> m_store;
    QString m_lastDir;
    Pacer m_pacer;
    Scene m_pacing; // the scene whose other channels are going out
    QPointer<QProgressDialog> m_progress;
};
