#include "faders/DbEditor.h"

#include "faders/FadePlan.h"
#include "protocol/GainText.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QToolTip>

namespace {

const QLatin1String kDbSuffix("db");
// A frame in the colour of an error, around the editor only; the text stays readable.
const QLatin1String kRejectedStyle("QLineEdit { border: 2px solid #c00000; }");

QString description() {
    return QStringLiteral("Type a gain in ") + DbEditor::Hint() +
           QStringLiteral(", and a fade time if wanted (-6 3s). Enter applies, Escape cancels.");
}

} // namespace

DbEditor::DbEditor(QWidget *returnTo, QWidget *parent) : QLineEdit(parent), m_returnTo(returnTo) {
    setAlignment(Qt::AlignCenter);
    setPlaceholderText(QStringLiteral("dB"));
    setAccessibleDescription(description());
    // A new attempt is judged afresh.
    connect(this, &QLineEdit::textEdited, this, [this] { showHint(false); });
    hide();
}

QString DbEditor::Hint() {
    return QStringLiteral("dB, e.g. -6") + QLocale().decimalPoint() + QStringLiteral("5, or off");
}

void DbEditor::open(qint16 gain) {
    QString text = GainText::DbText(gain);
    if (text.endsWith(kDbSuffix))
        text.chop(kDbSuffix.size());
    setText(text);
    showHint(false);
    m_open = true;
    show();
    raise();
    setFocus(Qt::OtherFocusReason);
    selectAll();
}

void DbEditor::keyPressEvent(QKeyEvent *event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // A held Enter that opened the editor must not take the gain it was opened with.
        if (!event->isAutoRepeat())
            take();
        event->accept();
        return;
    case Qt::Key_Escape:
        finish(true);
        event->accept();
        return;
    default:
        QLineEdit::keyPressEvent(event);
    }
}

void DbEditor::focusOutEvent(QFocusEvent *event) {
    QLineEdit::focusOutEvent(event);
    // A popup (the editor's context menu, a menu opened meanwhile) is not leaving it.
    if (m_open && event->reason() != Qt::PopupFocusReason)
        finish(false);
}

void DbEditor::take() {
    const auto typed = FadeEntry::ParseTypedFade(text(), QLocale());
    if (!typed) {
        showHint(true);
        selectAll();
        return;
    }
    finish(true);
    if (typed->durationMs)
        emit fadeAccepted(typed->gain, *typed->durationMs);
    else
        emit accepted(typed->gain);
}

// The focus goes back before the editor hides, or hiding would pass it on to the next control.
void DbEditor::finish(bool giveFocusBack) {
    m_open = false;
    if (giveFocusBack && m_returnTo)
        m_returnTo->setFocus(Qt::OtherFocusReason);
    showHint(false);
    hide();
}

void DbEditor::showHint(bool shown) {
    const QString hint = QStringLiteral("Not a gain: type ") + Hint();
    if (shown != m_hintShown) {
        m_hintShown = shown;
        setToolTip(shown ? hint : QString());
        setStyleSheet(shown ? QString(kRejectedStyle) : QString());
        setAccessibleDescription(shown ? hint : description());
    }
    // Shown again at each rejected Enter, in case it faded meanwhile.
    if (shown)
        QToolTip::showText(mapToGlobal(QPoint(0, height())), hint, this);
    else if (QToolTip::text() == hint)
        QToolTip::hideText();
}
