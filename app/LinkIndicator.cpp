#include "app/LinkIndicator.h"

#include <QAccessible>
#include <QEvent>
#include <QHelpEvent>
#include <QMenuBar>
#include <QToolTip>

namespace {

QString Duration(qint64 ms) {
    const qint64 s = ms / 1000;
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
    return QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s / 60 % 60);
}

} // namespace

LinkIndicator::LinkIndicator(SwitcherLink &link, QMenuBar *bar)
    : QMenu(bar), m_link(link), m_bar(bar) {
    setObjectName(QStringLiteral("mnuLink"));
    setAccessibleDescription(QStringLiteral("State of the link to the switcher"));
    menuAction()->setObjectName(QStringLiteral("mnuLinkState"));
    bar->addMenu(this);

    m_retryNow = new QAction(QStringLiteral("&Retry Now"), this);
    m_retryNow->setObjectName(QStringLiteral("mnuRetryNow"));
    connect(m_retryNow, &QAction::triggered, &m_link, &SwitcherLink::ConnectSwitcher);
    m_stopRetrying = new QAction(QStringLiteral("&Stop Retrying"), this);
    m_stopRetrying->setObjectName(QStringLiteral("mnuStopRetrying"));
    connect(m_stopRetrying, &QAction::triggered, &m_link, &SwitcherLink::DisconnectSwitcher);
    m_separator = addSeparator();
    addAction(m_retryNow);
    addAction(m_stopRetrying);

    connect(this, &QMenu::aboutToShow, this, &LinkIndicator::fillFacts);
    connect(&m_link, &SwitcherLink::stateChanged, this, &LinkIndicator::showState);
    bar->installEventFilter(this);
    showState();
    fillFacts();
}

QString LinkIndicator::Title(LinkState state) {
    switch (state) {
    case LinkState::Live:
        return QStringLiteral("\u25CF Live");
    case LinkState::Connecting:
        return QStringLiteral("\u25D0 Connecting");
    case LinkState::Offline:
        break;
    }
    return QStringLiteral("\u25CB Offline");
}

QStringList LinkIndicator::Facts(const LinkStatus &status) {
    QStringList facts{QStringLiteral("Switcher %1, port %2").arg(status.address).arg(status.port)};
    switch (status.state) {
    case LinkState::Live:
        facts << QStringLiteral("Up for %1").arg(Duration(status.upForMs));
        break;
    case LinkState::Connecting:
        facts << QStringLiteral("%1 failed attempt(s)").arg(status.failedAttempts);
        facts << (status.nextAttemptInMs < 0
                      ? QStringLiteral("Attempt under way")
                      : QStringLiteral("Next attempt in %1").arg(Duration(status.nextAttemptInMs)));
        break;
    case LinkState::Offline:
        facts << QStringLiteral("Not connecting");
        break;
    }
    facts << QStringLiteral("Bytes in %1, out %2").arg(status.bytesIn).arg(status.bytesOut);
    if (!status.lastFailure.isEmpty())
        facts << QStringLiteral("Last failure: %1").arg(status.lastFailure);
    return facts;
}

void LinkIndicator::showState() {
    const LinkState state = m_link.state();
    setTitle(Title(state));
    setAccessibleName(Title(state));
    announceTitle();
    const bool connecting = state == LinkState::Connecting;
    m_retryNow->setEnabled(connecting);
    m_stopRetrying->setEnabled(connecting);
}

// The title is the name screen readers give the menu in the bar; Qt does not tell them when
// it changes, so that is done here.
void LinkIndicator::announceTitle() {
    if (!QAccessible::isActive())
        return;
    QAccessibleInterface *bar = QAccessible::queryAccessibleInterface(m_bar);
    for (int k = 0; bar && k < bar->childCount(); ++k) {
        QAccessibleInterface *item = bar->child(k);
        if (item && item->object() == menuAction()) {
            QAccessibleEvent event(item, QAccessible::NameChanged);
            QAccessible::updateAccessibility(&event);
        }
    }
}

// The facts change by the second; they are read when shown rather than kept up to date, so
// that an idle panel has no timer running for them.
void LinkIndicator::fillFacts() {
    qDeleteAll(std::exchange(m_facts, {}));
    for (const QString &fact : allFacts()) {
        auto *line = new QAction(fact, this);
        line->setEnabled(false);
        insertAction(m_separator, line);
        m_facts << line;
    }
}

QStringList LinkIndicator::allFacts() const {
    return Facts(m_link.status()) + m_extraFacts.values();
}

void LinkIndicator::setExtraFact(const QString &key, const QString &text) {
    if (text.isEmpty())
        m_extraFacts.remove(key);
    else
        m_extraFacts.insert(key, text);
    if (isVisible())
        fillFacts();
}

bool LinkIndicator::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_bar && event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        if (m_bar->actionAt(help->pos()) == menuAction()) {
            QToolTip::showText(help->globalPos(), allFacts().join(u'\n'), m_bar);
            return true;
        }
    }
    return QMenu::eventFilter(watched, event);
}
