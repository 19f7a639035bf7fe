#pragma once

// Finding a window's controls by the names the program gives them.

#include "faders/ControlName.h"

#include <QObject>
#include <QString>
#include <QtGlobal>

namespace TestSupport {

template <typename T> T *Find(const QObject *root, const QString &name) {
    auto *found = root->findChild<T *>(name);
    if (!found)
        qFatal("no %s named %s", T::staticMetaObject.className(), qPrintable(name));
    return found;
}

// Element `index` of a control array.
template <typename T> T *Find(const QObject *root, const char *name, int index) {
    return Find<T>(root, ControlName(name, index));
}

} // namespace TestSupport

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

namespace TestSupport {

// Answers every "Unable to connect" message box the moment it shows, and keeps what each one
// said: title, text and number of buttons.
class BoxDismisser {
  public:
    BoxDismisser() {
        QObject::connect(&m_poll, &QTimer::timeout, [this] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(w);
                if (!box || !box->isVisible() || box->objectName() != "connectFailure")
                    continue;
                m_shown << box->windowTitle() + '|' + box->text() + '|' +
                               QString::number(box->buttons().size());
                box->button(QMessageBox::Ok)->click();
            }
        });
        m_poll.start(10);
    }
    const QStringList &shown() const { return m_shown; }

  private:
    QTimer m_poll;
    QStringList m_shown;
};

} // namespace TestSupport
