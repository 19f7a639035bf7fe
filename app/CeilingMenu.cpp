#include "app/CeilingMenu.h"

#include "app/ProgramInfo.h"
#include "faders/FaderController.h"
#include "faders/FaderView.h"
#include "protocol/GainText.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>

namespace {

QString actionText(int i, std::optional<qint16> ceiling) {
    QString text = QStringLiteral("Ceiling of Fader &%1...").arg(i + 1);
    if (ceiling)
        text += QStringLiteral(" (") + GainText::DbText(*ceiling) + QLatin1Char(')');
    return text;
}

void warn(QWidget *window, const QString &name, const QString &text) {
    auto *box = new QMessageBox(QMessageBox::Warning, ProgramInfo::kDisplayName, text,
                                QMessageBox::Ok, window);
    box->setObjectName(name);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

} // namespace

CeilingMenu::CeilingMenu(FaderController &faders, FaderView &view, QMenu *menu, QWidget *window)
    : QObject(window), m_faders(faders), m_window(window) {
    for (int i = 0; i < 2; ++i) {
        m_actions[i] = menu->addAction(actionText(i, std::nullopt));
        m_actions[i]->setObjectName(QStringLiteral("mnuCeiling%1").arg(i));
        connect(m_actions[i], &QAction::triggered, this, [this, i] { ask(i); });
    }
    connect(&view, &FaderView::contextMenuRequested, this, &CeilingMenu::showMenu);
}

QStringList CeilingMenu::load(const QString &readFrom, const QString &path) {
    m_path = path;
    const DiskWork::LimitsRead read =
        readFrom.isEmpty() ? DiskWork::LimitsRead{} : DiskWork::ReadLimits(readFrom);
    for (int i = 0; i < 2; ++i) {
        m_faders.setCeiling(i, read.limits.ceiling[static_cast<std::size_t>(i)]);
        m_actions[static_cast<std::size_t>(i)]->setText(
            actionText(i, read.limits.ceiling[static_cast<std::size_t>(i)]));
    }
    return read.problems;
}

QString CeilingMenu::apply(int i, std::optional<qint16> ceiling) {
    if (i < 0 || i > 1)
        return {};
    m_faders.setCeiling(i, ceiling);
    m_actions[static_cast<std::size_t>(i)]->setText(actionText(i, ceiling));
    Limits limits;
    for (int k = 0; k < 2; ++k)
        limits.ceiling[static_cast<std::size_t>(k)] = m_faders.ceiling(k);
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    if (m_path.isEmpty() || DiskWork::WriteLimits(m_path, limits))
        return {};
    return QStringLiteral("The ceiling holds for now, but it could not be saved to %1.")
        .arg(QDir::toNativeSeparators(m_path));
}

void CeilingMenu::ask(int i) {
    const auto now = m_faders.ceiling(i);
    QString text = now ? DiskWork::CeilingText(*now) : QString();
    for (;;) {
        bool ok = false;
        text = QInputDialog::getText(
            m_window, QStringLiteral("Ceiling of Fader %1").arg(i + 1),
            QStringLiteral("Highest gain of Fader %1 in dB (-100 to +24, Off; empty for none):")
                .arg(i + 1),
            QLineEdit::Normal, text, &ok);
        if (!ok)
            return;
        const QString trimmed = text.trimmed();
        if (trimmed.isEmpty() || trimmed.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0) {
            text.clear();
            break;
        }
        if (DiskWork::CeilingOfText(trimmed))
            break;
        QMessageBox::warning(m_window, ProgramInfo::kDisplayName,
                             QStringLiteral("\"%1\" is no gain: type dB from -100 to +24 with at "
                                            "most one decimal, for example -6 or -6.5, or Off.")
                                 .arg(trimmed));
    }
    const QString problem =
        apply(i, text.isEmpty() ? std::nullopt : DiskWork::CeilingOfText(text.trimmed()));
    if (!problem.isEmpty())
        warn(m_window, QStringLiteral("ceilingSaveFailure"), problem);
}

void CeilingMenu::showMenu(int i, const QPoint &globalPos) {
    QMenu menu(m_window);
    menu.setObjectName(QStringLiteral("ceilingMenu"));
    QAction *set = menu.addAction(QStringLiteral("Set &Ceiling..."));
    QAction *clear = menu.addAction(QStringLiteral("&Remove Ceiling"));
    clear->setEnabled(m_faders.ceiling(i).has_value());
    QAction *chosen = menu.exec(globalPos);
    if (chosen == set)
        ask(i);
    else if (chosen == clear) {
        const QString problem = apply(i, std::nullopt);
        if (!problem.isEmpty())
            warn(m_window, QStringLiteral("ceilingSaveFailure"), problem);
    }
}
