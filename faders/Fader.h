#pragma once

// One fader: a vertical slider whose position is the negated gain value. Assistive technology
// sees it as a slider in decibels (-100 for Off up to +24) rather than the raw position, and a
// value it sets comes back as gainRequested, to be applied as the user's own movement.

#include <QSlider>
#include <QtGlobal>

class Fader : public QSlider {
    Q_OBJECT

  public:
    explicit Fader(QWidget *parent = nullptr);

    // Gain value of the position shown.
    qint16 gain() const;

  signals:
    // The gain value nearest to a value set through the accessibility interface.
    void gainRequested(qint16 gain);
};
