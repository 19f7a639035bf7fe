#pragma once

// The faders' ceilings as the operator sets them: from each fader's context menu (right click,
// the Menu key) and from the Edit menu, kept in the settings file in use ([LIMITS]). Holding
// moves at a ceiling is the fader controller's; this owns asking for one and storing it.

#include "config/Limits.h"

#include <QObject>
#include <QString>
#include <array>
#include <optional>

class FaderController;
class FaderView;
class QAction;
class QMenu;
class QWidget;

class CeilingMenu : public QObject {
    Q_OBJECT

  public:
    // Adds "Ceiling of Fader 1..." and "Ceiling of Fader 2..." to menu; window parents the
    // dialogs. The controller and view must outlive this.
    CeilingMenu(FaderController &faders, FaderView &view, QMenu *menu, QWidget *window);

    // The ceilings of the settings file at readFrom, from now on written to path. A value
    // the file cannot give (a typo) is no ceiling; the problems are returned.
    QStringList load(const QString &readFrom, const QString &path);

    // Sets or clears fader i's ceiling and stores both in the settings file. On a file that
    // cannot be written the ceiling still holds for this run, and the reason is returned.
    QString apply(int i, std::optional<qint16> ceiling);

    // Asks for fader i's ceiling in dB (empty or "none": no ceiling).
    void ask(int i);

  private:
    void showMenu(int i, const QPoint &globalPos);

    FaderController &m_faders;
    QWidget *m_window;
    QString m_path;
    std::array<QAction *, 2> m_actions{};
};
