#pragma once

// The small editor in which the user types a fader's gain in dB. It opens over the fader's
// gain caption with the gain shown selected; Enter takes a gain (accepted), Escape or leaving
// it cancels. Text that is no gain keeps it open with a hint, and nothing is taken.

#include <QLineEdit>
#include <QPointer>
#include <QtGlobal>

class DbEditor : public QLineEdit {
    Q_OBJECT

  public:
    // The editor is hidden until opened; Enter and Escape give the focus back to returnTo.
    DbEditor(QWidget *returnTo, QWidget *parent);

    // Shows it with the dB text of gain, all selected, and gives it the focus.
    void open(qint16 gain);
    bool isOpen() const { return m_open; }
    // True while the red frame and the tooltip say that the text is no gain.
    bool showsHint() const { return m_hintShown; }

    // What a gain looks like, with the user's decimal separator: "dB, e.g. -6.5, or off".
    static QString Hint();

  signals:
    // Enter on a gain: the fader is to move there. The editor has closed.
    void accepted(qint16 gain);
    // Enter on a gain with a fade time after it ("-6 3s"): the fader is to fade there.
    void fadeAccepted(qint16 gain, qint64 durationMs);

  protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

  private:
    void take();
    // Closes without taking anything.
    void finish(bool giveFocusBack);
    void showHint(bool shown);

    QPointer<QWidget> m_returnTo;
    bool m_open = false;
    bool m_hintShown = false;
};
