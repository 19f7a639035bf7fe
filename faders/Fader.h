#pragma once

// One fader: a vertical slider whose position is the negated gain value. Assistive technology
// sees it as a slider in decibels (-100 for Off up to +24) rather than the raw position, and a
// value it sets comes back as gainRequested, to be applied as the user's own movement.

#include <QSlider>
#include <QtGlobal>
#include <optional>

class Fader : public QSlider {
    Q_OBJECT

  public:
    explicit Fader(QWidget *parent = nullptr);

    // Gain value of the position shown.
    qint16 gain() const;

    // A mark across the track at the ceiling's gain; none: no mark.
    void setCeiling(std::optional<qint16> ceiling);
    std::optional<qint16> ceiling() const { return m_ceiling; }

  signals:
    // The gain value nearest to a value set through the accessibility interface.
    void gainRequested(qint16 gain);

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    std::optional<qint16> m_ceiling;
};
