#pragma once

// The link's state at a glance: a menu of its own at the end of the menu bar whose title is
// the state in a symbol and a word (never colour alone), so that screen readers reach it like
// any menu. Opened, it lists the facts (address and port, how long the link has been up or how
// its attempts fare, bytes in and out, the last failure) and, while connecting, offers to retry
// now or to stop. Hovering it shows the same facts as a tooltip.

#include "transport/SwitcherLink.h"

#include <QMap>
#include <QMenu>

class QMenuBar;

class LinkIndicator : public QMenu {
    Q_OBJECT

  public:
    LinkIndicator(SwitcherLink &link, QMenuBar *bar);

    // "● Live", "◐ Connecting", "○ Offline".
    static QString Title(LinkState state);
    // The facts, one per line.
    static QStringList Facts(const LinkStatus &status);

    // A line another part of the panel adds to the facts under its own key ("osc": "OSC: port
    // 9000 is in use"); an empty text removes it.
    void setExtraFact(const QString &key, const QString &text);

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void showState();
    void announceTitle();
    void fillFacts();
    QStringList allFacts() const;

    SwitcherLink &m_link;
    QMenuBar *m_bar;
    QList<QAction *> m_facts;
    QMap<QString, QString> m_extraFacts;
    QAction *m_separator;
    QAction *m_retryNow;
    QAction *m_stopRetrying;
};
