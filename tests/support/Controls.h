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
#include <functional>

namespace TestSupport {

// The top-level window of type T named name, if it shows.
template <typename T> T *ShownWindow(const QString &name) {
    for (QWidget *w : QApplication::topLevelWidgets()) {
        auto *window = qobject_cast<T *>(w);
        if (window && window->isVisible() && window->objectName() == name)
            return window;
    }
    return nullptr;
}

// Runs action (which opens a modal window and waits for it), answering the window of type T
// named name once, as soon as it shows.
template <typename T>
void Answering(const QString &name, const std::function<void(T *)> &answer,
               const std::function<void()> &action) {
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (T *window = ShownWindow<T>(name)) {
            poll.stop();
            answer(window);
        }
    });
    poll.start(10);
    action();
}

// Answers every message box of that name the moment it shows ("Unable to connect" unless
// told otherwise), and keeps what each one said: title, text and number of buttons.
class BoxDismisser {
  public:
    explicit BoxDismisser(const QString &name = QStringLiteral("connectFailure")) {
        QObject::connect(&m_poll, &QTimer::timeout, [this, name] {
            if (QMessageBox *box = ShownWindow<QMessageBox>(name)) {
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
