#include "app/OscPage.h"

#include "surfaces/AllowList.h"
#include "surfaces/OscSurface.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <variant>

namespace {

constexpr int kRefreshMs = 100;

// The label as a screen reader should say it: no mnemonic, no colon.
QString Spoken(const QString &label) {
    QString text = label;
    text.remove(u'&');
    if (text.endsWith(u':'))
        text.chop(1);
    return text;
}

QLineEdit *ReadOnlyLine(const QString &name, QWidget *parent) {
    auto *line = new QLineEdit(parent);
    line->setObjectName(name);
    line->setReadOnly(true);
    return line;
}

// Replaces the lines only when they changed, so that a screen reader's place in the list stays.
void SetLines(QListWidget *list, const QStringList &lines) {
    QStringList shown;
    for (int k = 0; k < list->count(); ++k)
        shown << list->item(k)->text();
    if (shown == lines)
        return;
    list->clear();
    list->addItems(lines);
}

} // namespace

OscPage::OscPage(OscSurface &surface, Save save, QWidget *parent)
    : QWidget(parent), m_surface(surface), m_save(std::move(save)) {
    setObjectName(QStringLiteral("oscPage"));
    auto *form = new QFormLayout;

    chkEnabled = new QCheckBox(QStringLiteral("&Listen for OSC"), this);
    chkEnabled->setObjectName(QStringLiteral("chkOscEnabled"));
    chkEnabled->setAccessibleName(QStringLiteral("Listen for OSC"));
    form->addRow(chkEnabled);

    auto addField = [&](const QString &label, const QString &name, QLineEdit *&edit) {
        edit = new QLineEdit(this);
        edit->setObjectName(name);
        edit->setAccessibleName(Spoken(label));
        auto *caption = new QLabel(label, this);
        caption->setBuddy(edit);
        form->addRow(caption, edit);
    };
    addField(QStringLiteral("&Address:"), QStringLiteral("txtOscAddress"), txtAddress);
    txtAddress->setAccessibleDescription(
        QStringLiteral("The address to listen on; 127.0.0.1 is this machine only"));
    addField(QStringLiteral("&Port:"), QStringLiteral("txtOscPort"), txtPort);
    txtPort->setValidator(new QIntValidator(1, 65535, txtPort));
    addField(QStringLiteral("Allowed &senders:"), QStringLiteral("txtOscAllowed"), txtAllowed);
    txtAllowed->setPlaceholderText(QStringLiteral("anyone who can reach the port"));
    txtAllowed->setAccessibleDescription(
        QStringLiteral("Addresses or networks, comma-separated; empty allows every sender"));

    cmdApply = new QPushButton(QStringLiteral("Appl&y"), this);
    cmdApply->setObjectName(QStringLiteral("cmdOscApply"));
    cmdApply->setAccessibleName(QStringLiteral("Apply"));
    connect(cmdApply, &QPushButton::clicked, this, &OscPage::apply);
    // Enter in any field applies, as the button would.
    for (QLineEdit *edit : {txtAddress, txtPort, txtAllowed})
        connect(edit, &QLineEdit::returnPressed, this, &OscPage::apply);
    lblProblem = new QLabel(this);
    lblProblem->setObjectName(QStringLiteral("lblOscProblem"));
    lblProblem->setWordWrap(true);
    lblProblem->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    lblProblem->hide(); // shown only with something to say: an empty stop for Tab says nothing
    auto *applyRow = new QHBoxLayout;
    applyRow->addWidget(cmdApply);
    applyRow->addWidget(lblProblem, 1);
    form->addRow(applyRow);

    auto addReadOnly = [&](const QString &label, QWidget *widget) {
        widget->setAccessibleName(Spoken(label));
        auto *caption = new QLabel(label, this);
        caption->setBuddy(widget);
        form->addRow(caption, widget);
    };
    txtState = ReadOnlyLine(QStringLiteral("txtOscState"), this);
    addReadOnly(QStringLiteral("S&tate:"), txtState);
    txtLast = ReadOnlyLine(QStringLiteral("txtOscLast"), this);
    addReadOnly(QStringLiteral("Last arri&ved:"), txtLast);
    lstSubscribers = new QListWidget(this);
    lstSubscribers->setObjectName(QStringLiteral("lstOscSubscribers"));
    lstSubscribers->setMaximumHeight(80);
    addReadOnly(QStringLiteral("S&ubscribers:"), lstSubscribers);
    lstDrops = new QListWidget(this);
    lstDrops->setObjectName(QStringLiteral("lstOscDrops"));
    addReadOnly(QStringLiteral("&Dropped:"), lstDrops);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);

    m_refresh = new QTimer(this);
    m_refresh->setObjectName(QStringLiteral("oscPageRefresh"));
    m_refresh->setSingleShot(true);
    m_refresh->setInterval(kRefreshMs);
    connect(m_refresh, &QTimer::timeout, this, &OscPage::refresh);
    connect(&m_surface, &OscSurface::statusChanged, this, &OscPage::refreshSoon);
    connect(&m_surface, &OscSurface::stateChanged, this, &OscPage::refresh);

    loadFields();
    refresh();
}

void OscPage::loadFields() {
    const SurfaceSettings &s = m_surface.settings();
    chkEnabled->setChecked(s.oscEnabled);
    txtAddress->setText(s.oscAddress);
    txtPort->setText(QString::number(s.oscPort));
    txtAllowed->setText(s.oscAllowed);
}

void OscPage::apply() {
    SurfaceSettings chosen = m_surface.settings();
    chosen.oscEnabled = chkEnabled->isChecked();
    chosen.oscAddress = txtAddress->text().trimmed();
    chosen.oscAllowed = txtAllowed->text().trimmed();
    bool ok = false;
    const uint port = txtPort->text().trimmed().toUInt(&ok);
    QString problem;
    if (!ok || port < 1 || port > 65535)
        problem = QStringLiteral("The port must be a number from 1 to 65535.");
    else if (!Osc::ParseAddressLiteral(chosen.oscAddress))
        problem = QStringLiteral("The address must be an IP address, such as 127.0.0.1.");
    else if (const auto allowed = Osc::ParseAllowList(chosen.oscAllowed);
             const auto *bad = std::get_if<Osc::BadAllowEntry>(&allowed))
        problem =
            QStringLiteral("Allowed senders: \"%1\" is not an address or network.").arg(bad->entry);
    if (!problem.isEmpty()) {
        lblProblem->setText(problem);
        lblProblem->setAccessibleName(problem);
        lblProblem->show();
        return;
    }
    chosen.oscPort = quint16(port);
    m_surface.apply(chosen);
    const QString failure = m_save ? m_save(chosen) : QString();
    lblProblem->setText(failure);
    lblProblem->setAccessibleName(failure);
    lblProblem->setVisible(!failure.isEmpty());
    refresh();
}

void OscPage::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    refresh(); // subscriptions lapse by their time, with nobody told
}

void OscPage::refreshSoon() {
    if (isVisible() && !m_refresh->isActive())
        m_refresh->start();
}

void OscPage::refresh() {
    m_refresh->stop();
    txtState->setText(m_surface.stateText());
    txtState->setCursorPosition(0);
    txtLast->setText(m_surface.lastArrival().isEmpty() ? QStringLiteral("Nothing yet")
                                                       : m_surface.lastArrival());
    txtLast->setCursorPosition(0);

    QStringList subscribers;
    for (const Osc::Subscriber &s : m_surface.server().subscribers())
        subscribers << (s.address.protocol() == QAbstractSocket::IPv6Protocol
                            ? u'[' + s.address.toString() + u']'
                            : s.address.toString()) +
                           u':' + QString::number(s.port);
    if (subscribers.isEmpty())
        subscribers << QStringLiteral("None");
    SetLines(lstSubscribers, subscribers);

    QStringList drops;
    for (int r = 0; r < Osc::kDropReasonCount; ++r)
        if (const quint64 n = m_surface.server().dropCount(Osc::DropReason(r)))
            drops << QStringLiteral("%1: %2").arg(Osc::DropReasonText(Osc::DropReason(r))).arg(n);
    for (int r = 0; r < OscSurface::kSurfaceDropCount; ++r)
        if (const quint64 n = m_surface.surfaceDropCount(OscSurface::SurfaceDrop(r)))
            drops << QStringLiteral("%1: %2")
                         .arg(OscSurface::SurfaceDropText(OscSurface::SurfaceDrop(r)))
                         .arg(n);
    if (drops.isEmpty())
        drops << QStringLiteral("None");
    SetLines(lstDrops, drops);
}
